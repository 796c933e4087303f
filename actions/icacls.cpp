#include "actions/icacls.h"

#include <cstring>
#include <string>

#include "actions/targetpath.h"
#include "process/quietcmd.h"
#include "runtime/wcalog.h"

namespace {

HRESULT BuildCommandLine(const char* path, const char* switches, std::string* commandLine) {
  if (std::strchr(path, '"')) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it contains a quotation mark", path);
    return E_INVALIDARG;
  }
  const size_t length = std::strlen(path);
  size_t trailingBackslashes = 0;
  while (trailingBackslashes < length && path[length - 1 - trailingBackslashes] == '\\') ++trailingBackslashes;

  commandLine->assign("icacls \"");
  commandLine->append(path, length);
  commandLine->append(trailingBackslashes, '\\');
  commandLine->append("\" ");
  commandLine->append(switches);
  return S_OK;
}

}  // namespace

HRESULT GrantUsersFullControl(const char* path, const char* switches) {
  HRESULT result = RefuseUnsafeTarget(path);
  if (FAILED(result)) return result;

  std::string commandLine;
  result = BuildCommandLine(path, switches, &commandLine);
  if (FAILED(result)) return result;

  result = execQuietCmdLine(commandLine.c_str(), kIcaclsTimeoutMilliseconds);
  if (FAILED(result)) LogErrorLine(result, "execQuietCmdLine() failed");
  return result;
}
