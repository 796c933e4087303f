// RemoveManufacturerFolder: removes the manufacturer folder when it exists
// and is empty, after granting the Users group full control on it.
#include "actions/exports.h"

#include "actions/frame.h"
#include "actions/icacls.h"
#include "runtime/wcalog.h"
#include "targetguard/fsquery.h"

namespace {

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
  result = GrantUsersFullControl(folderPath, GrantScope::kFolderOnly);
  if (FAILED(result)) return result;

  FsAnswer removed = {};
  result = QueryNarrowPath(folderPath, FsRemove, &removed);
  if (FAILED(result)) return result;
  LogLine(kLogStandard, "remove result=%d  errorCode=%08x", removed.flag ? 1 : 0, static_cast<unsigned>(removed.error));
  if (!removed.flag && removed.error) {
    LogErrorLine(E_FAIL, "std::filesystem::remove failed with code 0x%08x", static_cast<unsigned>(removed.error));
    return E_FAIL;
  }
  return S_OK;
}

const ActionDefinition kAction{"RemoveManufacturerFolder", "Failed to initialize", 1024, removeManufacturerFolder};

}  // namespace

extern "C" UINT WINAPI RemoveManufacturerFolder(MSIHANDLE session) { return RunAction(session, kAction); }
