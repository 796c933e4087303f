#include "actions/icacls.h"

#include <cstring>

#include "runtime/wcalog.h"

HRESULT BuildIcaclsCommandLine(const char* path, const char* switches, std::string* commandLine) {
  if (std::strchr(path, '"')) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it contains a quotation mark", path);
    return E_INVALIDARG;
  }
  size_t length = std::strlen(path);
  size_t trailingBackslashes = 0;
  while (trailingBackslashes < length && path[length - 1 - trailingBackslashes] == '\\') ++trailingBackslashes;

  commandLine->assign("icacls \"");
  commandLine->append(path, length);
  commandLine->append(trailingBackslashes, '\\');
  commandLine->append("\" ");
  commandLine->append(switches);
  return S_OK;
}
