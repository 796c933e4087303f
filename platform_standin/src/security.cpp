// Owners of file-system objects and the calls that read them: the security
// descriptor of an open file (only its owner is stood in for) and the
// comparison of SIDs.
#include <aclapi.h>
#include <sddl.h>
#include <standin.h>
#include <sys/stat.h>

#include <cstring>
#include <map>

#include "kernel.h"
#include "parts.h"

namespace standin {
namespace {

std::map<std::pair<uint64_t, uint64_t>, Owner> owners;  // (device, inode) of the entry -> owner

// The sub-authorities below the NT authority (S-1-5-...) of each owner.
std::vector<DWORD> SubAuthoritiesOf(Owner owner) {
  switch (owner) {
    case Owner::kAdministrators:
      return {32, 544};
    case Owner::kSystem:
      return {18};
    case Owner::kTrustedInstaller:
      return {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
    default:
      return {21, 1004336348, 1177238915, 682003330, 1001};  // the installing user
  }
}

SIZE_T SidBytes(const SID* sid) { return 8 + sizeof(DWORD) * sid->SubAuthorityCount; }

}  // namespace

void ResetSecurity() { owners.clear(); }

void SetOwner(const std::string& windowsPath, Owner owner) {
  const std::optional<std::string> host = HostPath(windowsPath);
  struct stat status;
  if (!host || lstat(host->c_str(), &status) != 0) return;
  owners[{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)}] = owner;
}

Owner OwnerOf(uint64_t device, uint64_t inode, bool link) {
  auto found = owners.find({device, inode});
  if (found != owners.end()) return found->second;
  return link ? Owner::kInstallingUser : Owner::kAdministrators;
}

}  // namespace standin

using namespace standin;

extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                        PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                        PSECURITY_DESCRIPTOR* descriptor) {
  const Call call("GetSecurityInfo");
  if (auto error = call.Failure()) return *error;
  // Only the owner of a file is stood in for.
  if (type != SE_FILE_OBJECT || information != OWNER_SECURITY_INFORMATION || !owner || group || dacl || sacl ||
      !descriptor) {
    return ERROR_INVALID_PARAMETER;
  }
  auto file = FindHandle(handle, KernelObject::kFile);
  if (!file) return ERROR_INVALID_HANDLE;
  if (!(file->access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
  const Owner who = OwnerOf(file->device, file->inode, file->attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (who == Owner::kUnreadable) return ERROR_ACCESS_DENIED;
  const std::vector<DWORD> subAuthorities = SubAuthoritiesOf(who);
  auto* sid = static_cast<SID*>(SystemBlock(8 + sizeof(DWORD) * subAuthorities.size()));
  if (!sid) return ERROR_NOT_ENOUGH_MEMORY;
  sid->Revision = 1;
  sid->SubAuthorityCount = static_cast<BYTE>(subAuthorities.size());
  sid->IdentifierAuthority.Value[5] = 5;  // the NT authority
  std::memcpy(sid->SubAuthority, subAuthorities.data(), sizeof(DWORD) * subAuthorities.size());
  *owner = sid;
  *descriptor = sid;
  return ERROR_SUCCESS;
}

extern "C" BOOL WINAPI EqualSid(PSID first, PSID second) {
  const Call call("EqualSid");
  const auto* a = static_cast<const SID*>(first);
  const auto* b = static_cast<const SID*>(second);
  SetLastError(ERROR_SUCCESS);
  return a && b && SidBytes(a) == SidBytes(b) && std::memcmp(a, b, SidBytes(a)) == 0;
}

// "S-1-<authority>-<sub-authority>..." with up to 15 sub-authorities, all
// decimal, as the string form of a SID is written.
extern "C" BOOL WINAPI ConvertStringSidToSidW(LPCWSTR text, PSID* sid) {
  const Call call("ConvertStringSidToSidW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  std::vector<uint64_t> numbers;
  const std::wstring whole = text ? text : L"";
  bool valid = whole.size() > 2 && (whole[0] == L'S' || whole[0] == L's') && whole[1] == L'-';
  for (size_t at = 2; valid && at <= whole.size();) {
    size_t end = at;
    uint64_t number = 0;
    while (end < whole.size() && whole[end] >= L'0' && whole[end] <= L'9' && number <= 0xFFFFFFFFFFFFull) {
      number = number * 10 + static_cast<uint64_t>(whole[end++] - L'0');
    }
    valid = end > at && (end == whole.size() || whole[end] == L'-');
    numbers.push_back(number);
    at = end + 1;
  }
  valid = valid && numbers.size() >= 3 && numbers.size() <= 17 && numbers[0] == 1;
  for (size_t i = 2; valid && i < numbers.size(); ++i) valid = numbers[i] <= 0xFFFFFFFFull;
  if (!valid || !sid) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  const size_t subAuthorities = numbers.size() - 2;
  auto* made = static_cast<SID*>(SystemBlock(8 + sizeof(DWORD) * subAuthorities));
  if (!made) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  made->Revision = 1;
  made->SubAuthorityCount = static_cast<BYTE>(subAuthorities);
  for (int i = 0; i < 6; ++i) made->IdentifierAuthority.Value[5 - i] = static_cast<BYTE>(numbers[1] >> (8 * i));
  for (size_t i = 0; i < subAuthorities; ++i) made->SubAuthority[i] = static_cast<DWORD>(numbers[i + 2]);
  *sid = made;
  return TRUE;
}
