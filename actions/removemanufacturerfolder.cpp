// RemoveManufacturerFolder: removes the manufacturer folder when it exists
// and is empty, after granting the Users group full control on it.
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

HRESULT removeManufacturerFolder(MSIHANDLE, const char* folderPath) {
  LogLine(kLogStandard, "folderPath = %s", folderPath);

  // Each query gets its own wide copy of the path.
  HeapWideString existsPath;
  HRESULT result = WidePathFromNarrow(folderPath, &existsPath);
  if (FAILED(result)) return result;
  const FsAnswer exists = FsExists(existsPath.Get());
  LogLine(kLogStandard, "isExist=%d  errorCode=%08x", exists.flag ? 1 : 0, static_cast<unsigned>(exists.error));
  if (!exists.flag) {
    // A failed query counts as absent here: there is nothing to remove.
    LogLine(kLogStandard, "manufacturer folder does not exist");
    return S_OK;
  }

  HeapWideString emptyPath;
  result = WidePathFromNarrow(folderPath, &emptyPath);
  if (FAILED(result)) return result;
  const FsAnswer empty = FsIsEmpty(emptyPath.Get());
  LogLine(kLogStandard, "isEmpty=%d  errorCode=%08x", empty.flag ? 1 : 0, static_cast<unsigned>(empty.error));
  if (!empty.flag) {
    LogLine(kLogStandard, "manufacturer folder not empty");
    return S_OK;
  }

  // The grant and the removal are meant for the package's own folder; a drive
  // root or a system folder is refused before either happens.
  result = RefuseUnsafeTarget(folderPath);
  if (FAILED(result)) return result;

  std::string commandLine;
  result = BuildIcaclsCommandLine(folderPath, kGrantUsersOnFolder, &commandLine);
  if (FAILED(result)) return result;

  result = execQuietCmdLine(commandLine.c_str(), kToolTimeoutMilliseconds);
  if (FAILED(result)) {
    // The folder stays: it is removed only after the grant has succeeded.
    LogErrorLine(result, "execQuietCmdLine() failed");
    return result;
  }

  HeapWideString removePath;
  result = WidePathFromNarrow(folderPath, &removePath);
  if (FAILED(result)) return result;
  const FsAnswer removed = FsRemove(removePath.Get());
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
