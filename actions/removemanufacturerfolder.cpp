// RemoveManufacturerFolder: removes the manufacturer folder when it exists
// and is empty, after granting the Users group full control on it.
#include "actions/exports.h"

#include "actions/deletion.h"
#include "actions/frame.h"
#include "actions/usersgrant.h"
#include "runtime/wcalog.h"
#include "targetguard/fsquery.h"
#include "targetguard/targetguard.h"
#include "targetguard/treewalk.h"

namespace {

// The grant and the removal on one handle of the folder: an entry a user
// adds meanwhile is neither granted on (nothing propagates) nor removed (the
// folder is then not empty).
class GrantThenRemove : public TreeVisitor {
 public:
  HRESULT Visit(const WalkedObject& folder) override {
    const HRESULT result = UsersGrant().On(folder);
    if (FAILED(result)) return result;
    error_ = DeleteOnClose(folder);
    removed_ = !error_;
    return S_OK;
  }

  // Not reached at all when the folder went meanwhile: (false, 0).
  bool Removed() const { return removed_; }
  DWORD Error() const { return error_; }

 private:
  bool removed_ = false;
  DWORD error_ = 0;
};

HRESULT removeManufacturerFolder(MSIHANDLE, const char* folderPath) {
  LogLine(kLogStandard, "folderPath = %s", folderPath);

  FsAnswer exists = {};
  HRESULT result = QueryExistence(folderPath, &exists);
  if (FAILED(result)) return result;
  if (!exists.flag) {
    // A failed query counts as absent here: there is nothing to remove.
    LogLine(kLogStandard, "manufacturer folder does not exist");
    return S_OK;
  }

  FsAnswer empty = {};
  result = QueryNarrowPath(folderPath, FsIsEmpty, &empty);
  if (FAILED(result)) return result;
  LogLine(kLogStandard, "isEmpty=%d  errorCode=%08x", empty.flag ? 1 : 0, static_cast<unsigned>(empty.error));
  if (!empty.flag) {
    LogLine(kLogStandard, "manufacturer folder not empty");
    return S_OK;
  }

  // The grant and the removal are meant for the package's own folder: a drive
  // root or a system folder is refused before either happens, and the folder
  // is removed only after the grant has succeeded.
  GuardedTarget target;
  result = RefuseUnsafeTarget(folderPath, &target);
  if (FAILED(result)) return result;
  GrantThenRemove folder;
  result = WalkTree(folderPath, target, kGrantAccess | kDeleteAccess, Reach::kTargetOnly, &folder);
  if (FAILED(result)) {
    LogErrorLine(result, "Failed to grant the Users group full control on '%s'", folderPath);
    return result;
  }
  LogLine(kLogStandard, "remove result=%d  errorCode=%08x", folder.Removed() ? 1 : 0,
          static_cast<unsigned>(folder.Error()));
  if (!folder.Removed() && folder.Error()) {
    LogErrorLine(E_FAIL, "std::filesystem::remove failed with code 0x%08x", static_cast<unsigned>(folder.Error()));
    return E_FAIL;
  }
  return S_OK;
}

const ActionDefinition kAction{"RemoveManufacturerFolder", "Failed to initialize", 1024, removeManufacturerFolder};

}  // namespace

extern "C" UINT WINAPI RemoveManufacturerFolder(MSIHANDLE session) { return RunAction(session, kAction); }
