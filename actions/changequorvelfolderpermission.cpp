// ChangeQuorvelFolderPermission: grants the built-in Users group full control
// on an existing folder tree (or file), object by object on their handles.
#include "actions/exports.h"

#include "actions/frame.h"
#include "actions/usersgrant.h"
#include "runtime/wcalog.h"
#include "targetguard/fsquery.h"

namespace {

HRESULT changeQuorvelFolderPermission(MSIHANDLE, const char* folderPath) {
  LogLine(kLogStandard, "folderPath = %s", folderPath);

  FsAnswer exists = {};
  HRESULT result = QueryExistence(folderPath, &exists);
  if (FAILED(result)) return result;
  if (exists.error) {
    LogErrorLine(E_FAIL, "std::filesystem::exists failed with code 0x%08x", static_cast<unsigned>(exists.error));
    return E_FAIL;
  }
  if (!exists.flag) return S_OK;

  // A recursive grant on a drive root or a system folder would open it to
  // every user; only now that there is something to grant on is it refused.
  return GrantUsersFullControlOnTree(folderPath);
}

const ActionDefinition kAction{"ChangeQuorvelFolderPermission", "Failed to initialize", 1024,
                               changeQuorvelFolderPermission};

}  // namespace

extern "C" UINT WINAPI ChangeQuorvelFolderPermission(MSIHANDLE session) { return RunAction(session, kAction); }
