#include "actions/usersgrant.h"

#include <cstddef>
#include <cstring>

#include "runtime/memutil.h"
#include "runtime/result.h"
#include "runtime/wcalog.h"
#include "targetguard/targetguard.h"
#include "targetguard/wellknownsids.h"

namespace {

constexpr WORD kGrantEntryBytes = static_cast<WORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart) + sizeof usersSid);
// The largest ACL there is, its size a multiple of four.
constexpr DWORD kLargestAcl = 0xFFFC;
constexpr SIZE_T kFirstReadBytes = 1024;

const ACE_HEADER* EntryAt(const ACL* dacl, DWORD offset) {
  return reinterpret_cast<const ACE_HEADER*>(reinterpret_cast<const BYTE*>(dacl) + offset);
}

bool GrantsUsers(const ACE_HEADER* entry, BYTE inheritance) {
  if (entry->AceType != ACCESS_ALLOWED_ACE_TYPE || entry->AceFlags != inheritance ||
      entry->AceSize < kGrantEntryBytes) {
    return false;
  }
  const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(entry);
  return EqualSid(const_cast<DWORD*>(&allowed->SidStart), &usersSid) != FALSE;
}

// The DACL with the grant in it: a full-control entry of the Users group
// with `inheritance`, after the explicit entries and before the inherited
// ones (the order Windows keeps), or that group's explicit entry with the
// same inheritance widened to full control. False in `*changed` when the
// DACL grants it already.
HRESULT AddGrant(const ACL* dacl, BYTE inheritance, HeapArray<ULONGLONG>* granted, bool* changed) {
  DWORD insertAt = dacl->AclSize;
  DWORD widen = 0;
  DWORD offset = sizeof(ACL);
  for (WORD i = 0; i < dacl->AceCount && offset + sizeof(ACE_HEADER) <= dacl->AclSize; ++i) {
    const ACE_HEADER* entry = EntryAt(dacl, offset);
    if ((entry->AceFlags & INHERITED_ACE) && insertAt == dacl->AclSize) insertAt = offset;
    if (!(entry->AceFlags & INHERITED_ACE) && !widen && GrantsUsers(entry, inheritance)) widen = offset;
    offset += entry->AceSize;
  }
  *changed = !widen || (reinterpret_cast<const ACCESS_ALLOWED_ACE*>(EntryAt(dacl, widen))->Mask & FILE_ALL_ACCESS) !=
                           FILE_ALL_ACCESS;
  if (!*changed) return S_OK;

  const DWORD bytes = dacl->AclSize + (widen ? 0 : kGrantEntryBytes);
  if (bytes > kLargestAcl) return ResultFromWin32(ERROR_ALLOTTED_SPACE_EXCEEDED);
  HRESULT result = granted->Resize((bytes + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
  if (FAILED(result)) return result;
  BYTE* out = reinterpret_cast<BYTE*>(granted->Data());
  const BYTE* in = reinterpret_cast<const BYTE*>(dacl);
  if (widen) {
    std::memcpy(out, in, dacl->AclSize);
    reinterpret_cast<ACCESS_ALLOWED_ACE*>(out + widen)->Mask |= FILE_ALL_ACCESS;
    return S_OK;
  }
  std::memcpy(out, in, insertAt);
  ACCESS_ALLOWED_ACE entry = {};
  entry.Header = ACE_HEADER{ACCESS_ALLOWED_ACE_TYPE, inheritance, kGrantEntryBytes};
  entry.Mask = FILE_ALL_ACCESS;
  std::memcpy(out + insertAt, &entry, offsetof(ACCESS_ALLOWED_ACE, SidStart));
  std::memcpy(out + insertAt + offsetof(ACCESS_ALLOWED_ACE, SidStart), &usersSid, sizeof usersSid);
  std::memcpy(out + insertAt + kGrantEntryBytes, in + insertAt, dacl->AclSize - insertAt);
  auto* header = reinterpret_cast<ACL*>(out);
  header->AclSize = static_cast<WORD>(bytes);
  header->AceCount = static_cast<WORD>(dacl->AceCount + 1);
  if (header->AclRevision < ACL_REVISION) header->AclRevision = ACL_REVISION;
  return S_OK;
}

HRESULT FailOn(HRESULT result, const char* step, const WCHAR* path) {
  LogErrorLine(result, "Failed to %s of '%ls'", step, path);
  return result;
}

// Grants on each object the walk reaches, and counts them.
class TreeGrant : public TreeVisitor {
 public:
  HRESULT Visit(const WalkedObject& object) override {
    if (object.kind == ObjectKind::kFile && object.names > 1) {
      LogLine(kLogStandard, "Leaving '%ls' alone: the file has %u names", object.path,
              static_cast<unsigned>(object.names));
      return S_OK;
    }
    const HRESULT result = grant_.On(object);
    if (FAILED(result)) return result;
    switch (object.kind) {
      case ObjectKind::kFolder:
        ++folders_;
        break;
      case ObjectKind::kFile:
        ++files_;
        break;
      case ObjectKind::kLink:
        ++links_;
        LogLine(kLogStandard, "Not following the link '%ls': granted on the link itself", object.path);
        break;
    }
    return S_OK;
  }

  void LogCounts() const {
    LogLine(kLogStandard, "Granted the Users group full control on %u folders, %u files and %u links", folders_, files_,
            links_);
  }

 private:
  UsersGrant grant_;
  unsigned folders_ = 0;
  unsigned files_ = 0;
  unsigned links_ = 0;
};

}  // namespace

HRESULT UsersGrant::On(const WalkedObject& object) {
  // The descriptor as the kernel keeps it, read into the buffer that the
  // objects before this one needed (room for a DACL of some thirty entries
  // at first).
  if (!read_.Count() && FAILED(read_.Resize(kFirstReadBytes / sizeof(ULONGLONG)))) {
    return FailOn(E_OUTOFMEMORY, "allocate the permissions", object.path);
  }
  DWORD needed = 0;
  for (;;) {
    const DWORD room = static_cast<DWORD>(read_.Count() * sizeof(ULONGLONG));
    if (GetKernelObjectSecurity(object.handle, DACL_SECURITY_INFORMATION, read_.Data(), room, &needed)) break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= room) {
      return FailOn(LastErrorResult(), "read the permissions", object.path);
    }
    if (FAILED(read_.Resize((needed + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG)))) {
      return FailOn(E_OUTOFMEMORY, "allocate the permissions", object.path);
    }
  }
  const PSECURITY_DESCRIPTOR descriptor = read_.Data();
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    return FailOn(LastErrorResult(), "read the permissions", object.path);
  }
  if (!present || !dacl) return S_OK;

  const BYTE inheritance =
      (object.attributes & FILE_ATTRIBUTE_DIRECTORY) ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
  bool changed = false;
  HRESULT result = AddGrant(dacl, inheritance, &granted_, &changed);
  if (FAILED(result)) {
    return result == E_OUTOFMEMORY ? FailOn(result, "allocate the permissions", object.path)
                                   : FailOn(result, "add the grant to the permissions", object.path);
  }
  if (!changed) return S_OK;

  // Whether the object inherits, and how its inherited entries came, stays
  // as it was.
  constexpr SECURITY_DESCRIPTOR_CONTROL kKept = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
  SECURITY_DESCRIPTOR absolute;
  if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&absolute, TRUE, reinterpret_cast<PACL>(granted_.Data()), FALSE) ||
      !SetSecurityDescriptorControl(&absolute, kKept, control & kKept) ||
      !SetKernelObjectSecurity(object.handle, DACL_SECURITY_INFORMATION, &absolute)) {
    return FailOn(LastErrorResult(), "set the permissions", object.path);
  }
  return S_OK;
}

HRESULT GrantUsersFullControlOnTree(const char* path) {
  GuardedTarget target;
  HRESULT result = RefuseUnsafeTarget(path, &target);
  if (FAILED(result)) return result;
  TreeGrant grant;
  result = WalkTree(path, target, kGrantAccess, Reach::kWholeTree, &grant);
  if (FAILED(result)) {
    LogErrorLine(result, "Failed to grant the Users group full control on '%s'", path);
    return result;
  }
  grant.LogCounts();
  return S_OK;
}
