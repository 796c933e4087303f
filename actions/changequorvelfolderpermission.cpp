// ChangeQuorvelFolderPermission: grants the built-in Users group full control
// on an existing folder tree (or file) by running icacls hidden.
#include "actions/exports.h"

#include <string>

#include "actions/frame.h"
#include "actions/fsquery.h"
#include "actions/icacls.h"
#include "actions/targetpath.h"
#include "actions/widepath.h"
#include "process/quietcmd.h"
#include "runtime/handles.h"
#include "runtime/wcalog.h"

namespace {

constexpr DWORD kToolTimeoutMilliseconds = 60000;

HRESULT changeQuorvelFolderPermission(MSIHANDLE, const char* folderPath) {
  LogLine(kLogStandard, "folderPath = %s", folderPath);

  HeapWideString widePath;
  HRESULT result = WidePathFromNarrow(folderPath, &widePath);
  if (FAILED(result)) return result;
  const FsAnswer exists = FsExists(widePath.Get());
  LogLine(kLogStandard, "isExist=%d  errorCode=%08x", exists.flag ? 1 : 0, static_cast<unsigned>(exists.error));
  if (exists.error) {
    LogErrorLine(E_FAIL, "std::filesystem::exists failed with code 0x%08x", static_cast<unsigned>(exists.error));
    return E_FAIL;
  }
  if (!exists.flag) return S_OK;

  // A recursive grant on a drive root or a system folder would open it to
  // every user; only now that there is something to grant on is it refused.
  result = RefuseUnsafeTarget(folderPath);
  if (FAILED(result)) return result;

  std::string commandLine;
  result = BuildIcaclsCommandLine(folderPath, kGrantUsersOnTree, &commandLine);
  if (FAILED(result)) return result;

  result = execQuietCmdLine(commandLine.c_str(), kToolTimeoutMilliseconds);
  if (FAILED(result)) {
    LogErrorLine(result, "execQuietCmdLine() failed");
    return result;
  }
  return result;
}

const ActionDefinition kAction{"ChangeQuorvelFolderPermission", "Failed to initialize", 1024,
                               changeQuorvelFolderPermission};

}  // namespace

extern "C" UINT WINAPI ChangeQuorvelFolderPermission(MSIHANDLE session) { return RunAction(session, kAction); }
