#include "targetguard/linkowner.h"

#include <aclapi.h>

#include "runtime/handles.h"

namespace {

// A SID of the NT authority (S-1-5-...), laid out as every SID is.
template <SIZE_T kSubAuthorities>
struct NtAuthoritySid {
  BYTE revision;
  BYTE subAuthorityCount;
  BYTE identifierAuthority[6];
  DWORD subAuthority[kSubAuthorities];
};

NtAuthoritySid<2> administrators = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
NtAuthoritySid<1> localSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {18}};
NtAuthoritySid<6> trustedInstaller = {
    1, 6, {0, 0, 0, 0, 0, 5}, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

}  // namespace

LinkTrust JudgeLink(const WCHAR* path) {
  const FileHandle link(CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (link.Get() == INVALID_HANDLE_VALUE) return LinkTrust::kUntrusted;
  PSID owner = nullptr;
  LocalBlock descriptor;
  if (GetSecurityInfo(link.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      descriptor.Receive()) != ERROR_SUCCESS ||
      !owner) {
    return LinkTrust::kUntrusted;
  }
  const PSID trusted[] = {&administrators, &localSystem, &trustedInstaller};
  for (PSID account : trusted) {
    if (EqualSid(owner, account)) return LinkTrust::kTrusted;
  }
  return LinkTrust::kUntrusted;
}
