#include "targetguard/linkowner.h"

#include <aclapi.h>

#include "runtime/handles.h"
#include "targetguard/wellknownsids.h"

namespace {

constexpr DWORD kWriteExtendedAttributes = 0x0010;
// The specific rights that the generic ones of an entry stand for on a file.
constexpr DWORD kGenericWriteRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | kWriteExtendedAttributes | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kEveryRight = FILE_ALL_ACCESS | WRITE_DAC | WRITE_OWNER | DELETE;

// Rights that retarget a link or re-permission it.
constexpr DWORD kChangesTheLink = FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER;

bool IsTrustedAccount(PSID sid) {
  const PSID trusted[] = {&administratorsSid, &localSystemSid, &trustedInstallerSid};
  for (PSID account : trusted) {
    if (EqualSid(sid, account)) return true;
  }
  return false;
}

// The rights that a DACL grants anyone but the trusted accounts on the
// object itself; a null DACL grants everyone everything. An entry of a kind
// that cannot be read is taken to grant everything.
DWORD RightsOfOthers(const ACL* dacl) {
  if (!dacl) return kEveryRight;
  DWORD rights = 0;
  const BYTE* entry = reinterpret_cast<const BYTE*>(dacl) + sizeof(ACL);
  const BYTE* const end = reinterpret_cast<const BYTE*>(dacl) + dacl->AclSize;
  for (WORD i = 0; i < dacl->AceCount && entry + sizeof(ACCESS_ALLOWED_ACE) <= end; ++i) {
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(entry);
    entry += ace->Header.AceSize;
    if (ace->Header.AceFlags & INHERIT_ONLY_ACE) continue;
    const BYTE type = ace->Header.AceType;
    if (type == ACCESS_DENIED_ACE_TYPE) continue;  // a denial that comes later may grant nothing away
    if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) return kEveryRight;
    if (IsTrustedAccount(const_cast<DWORD*>(&ace->SidStart))) continue;
    DWORD mask = ace->Mask;
    if (mask & GENERIC_ALL) mask |= kEveryRight;
    if (mask & GENERIC_WRITE) mask |= kGenericWriteRights;
    rights |= mask;
  }
  return rights;
}

// Reads the owner of what `object` has open and the rights its DACL gives
// anyone else; false when either cannot be read.
bool ReadOwnerAndOthersRights(HANDLE object, bool* trustedOwner, DWORD* othersRights) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalBlock descriptor;
  if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, descriptor.Receive()) != ERROR_SUCCESS ||
      !owner) {
    return false;
  }
  *trustedOwner = IsTrustedAccount(owner);
  *othersRights = RightsOfOthers(dacl);
  return true;
}

}  // namespace

LinkTrust JudgeLink(const WCHAR* link, const WCHAR* folder) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const FileHandle opened(CreateFileW(link, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (opened.Get() == INVALID_HANDLE_VALUE) return LinkTrust::kUntrusted;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(opened.Get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    return LinkTrust::kUntrusted;
  }
  if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsReparseTagNameSurrogate(tag.ReparseTag)) {
    return LinkTrust::kNotALink;
  }
  bool trustedOwner = false;
  DWORD onLink = 0;
  if (!ReadOwnerAndOthersRights(opened.Get(), &trustedOwner, &onLink) || !trustedOwner || (onLink & kChangesTheLink)) {
    return LinkTrust::kUntrusted;
  }

  // Its folder's owner may give themselves any right there.
  const FileHandle holder(
      CreateFileW(folder, READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  DWORD inFolder = 0;
  if (holder.Get() == INVALID_HANDLE_VALUE || !ReadOwnerAndOthersRights(holder.Get(), &trustedOwner, &inFolder) ||
      !trustedOwner) {
    return LinkTrust::kUntrusted;
  }
  const bool mayRemove = (onLink & DELETE) || (inFolder & FILE_DELETE_CHILD);
  const bool mayAdd = inFolder & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY);
  return mayRemove && mayAdd ? LinkTrust::kUntrusted : LinkTrust::kTrusted;
}
