// Security descriptors of file-system objects (owner and DACL, with the
// entries each object inherits from the folder that holds it), the calls
// that read and set them, and the reparse tags of entries that are no links.
#include <aclapi.h>
#include <sddl.h>
#include <fcntl.h>
#include <standin.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "entries.h"
#include "kernel.h"
#include "parts.h"

namespace standin {

const char* const kSystemSid = "S-1-5-18";
const char* const kAdministratorsSid = "S-1-5-32-544";
const char* const kUsersSid = "S-1-5-32-545";
const char* const kAuthenticatedUsersSid = "S-1-5-11";
const char* const kEveryoneSid = "S-1-1-0";
const char* const kCreatorOwnerSid = "S-1-3-0";
const char* const kTrustedInstallerSid = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

namespace {

using Identity = std::pair<uint64_t, uint64_t>;  // (device, inode) of the entry

// What is kept for an object: whatever was set on it. Without a complete
// DACL its explicit entries come first and the inherited ones are worked
// out from the folder holding it, as when it was made.
struct Record {
  std::optional<std::string> owner;
  bool ownerUnreadable = false;
  std::optional<std::vector<Ace>> aces;
  bool complete = false;  // `aces` is the whole DACL, as a SetKernelObjectSecurity call left it
  bool protectedDacl = false;
  bool autoInherited = false;
  bool nullDacl = false;
};

struct Descriptor {
  std::string owner;
  bool ownerUnreadable = false;
  bool nullDacl = false;
  bool protectedDacl = false;
  bool autoInherited = false;
  std::vector<Ace> dacl;
};

std::map<Identity, Record> records;
std::map<Identity, DWORD> tags;

const char* const kInteractiveSid = "S-1-5-4";

Identity IdentityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

// The path with every link above the entry resolved, the entry itself not.
std::string RealEntryPath(const std::string& hostPath) {
  std::string path = hostPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return path;
  char* folder = realpath(path.substr(0, slash).c_str(), nullptr);
  if (!folder) return path;
  const std::string real = std::string(folder) + path.substr(slash);
  std::free(folder);
  return real;
}

std::vector<Ace> RootDacl() {
  return {
      {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, kFullControl, kSystemSid},
      {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, kFullControl, kAdministratorsSid},
      {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, kReadAndExecute, kUsersSid},
      {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, kModify,
       kAuthenticatedUsersSid},
      {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_SUBDIRECTORY, kAuthenticatedUsersSid},
  };
}

// What a folder's DACL passes on to an object made in it: to a folder what
// it gives folders (and, inherit-only, what it gives files below), to a file
// what it gives files; CREATOR OWNER becomes the new object's owner.
std::vector<Ace> Inherit(const std::vector<Ace>& folderDacl, bool container, const std::string& owner) {
  std::vector<Ace> inherited;
  for (const Ace& ace : folderDacl) {
    const bool toFiles = ace.flags & OBJECT_INHERIT_ACE;
    const bool toFolders = ace.flags & CONTAINER_INHERIT_ACE;
    const bool noPropagation = ace.flags & NO_PROPAGATE_INHERIT_ACE;
    const bool creatorOwner = ace.sid == kCreatorOwnerSid;
    const BYTE inheritable = ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    if (!container) {
      if (toFiles) inherited.push_back({ace.type, INHERITED_ACE, ace.mask, creatorOwner ? owner : ace.sid});
      continue;
    }
    if (toFolders) {
      if (creatorOwner) {
        inherited.push_back({ace.type, INHERITED_ACE, ace.mask, owner});
        if (!noPropagation) {
          inherited.push_back(
              {ace.type, static_cast<BYTE>(INHERITED_ACE | INHERIT_ONLY_ACE | inheritable), ace.mask, ace.sid});
        }
      } else {
        inherited.push_back(
            {ace.type, static_cast<BYTE>(INHERITED_ACE | (noPropagation ? 0 : inheritable)), ace.mask, ace.sid});
      }
    } else if (toFiles && !noPropagation) {
      inherited.push_back({ace.type, INHERITED_ACE | INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE, ace.mask, ace.sid});
    }
  }
  return inherited;
}

std::string OwnerSid(Owner owner) {
  switch (owner) {
    case Owner::kAdministrators:
      return kAdministratorsSid;
    case Owner::kSystem:
      return kSystemSid;
    case Owner::kTrustedInstaller:
      return kTrustedInstallerSid;
    default:
      return kInstallerSid;
  }
}

// The descriptor of the entry at a real host path, the entry itself.
std::optional<Descriptor> DescriptorAt(const std::string& realPath) {
  const std::optional<EntryFacts> facts = FactsOfPath(realPath);
  if (!facts) return std::nullopt;
  const auto found = records.find(IdentityOf(facts->status));
  const Record* record = found == records.end() ? nullptr : &found->second;
  Descriptor descriptor;
  descriptor.owner = record && record->owner ? *record->owner : facts->link ? kInstallerSid : kAdministratorsSid;
  descriptor.ownerUnreadable = record && record->ownerUnreadable;
  if (record && record->nullDacl) {
    descriptor.nullDacl = true;
    return descriptor;
  }
  if (record) {
    descriptor.protectedDacl = record->protectedDacl;
    descriptor.autoInherited = record->autoInherited;
    if (record->aces) descriptor.dacl = *record->aces;
    if (record->complete) return descriptor;
  }
  if (IsSandboxRoot(realPath)) {
    if (!record || !record->aces) descriptor.dacl = RootDacl();
    return descriptor;
  }
  if (descriptor.protectedDacl) return descriptor;
  const std::optional<Descriptor> folder = DescriptorAt(realPath.substr(0, realPath.rfind('/')));
  if (!folder || folder->nullDacl) return descriptor;
  const bool container = S_ISDIR(facts->status.st_mode) || facts->linksToFolder;
  for (Ace& ace : Inherit(folder->dacl, container, descriptor.owner)) descriptor.dacl.push_back(std::move(ace));
  return descriptor;
}

Record* RecordAt(const std::string& windowsPath) {
  const std::optional<std::string> host = HostPath(windowsPath);
  struct stat status;
  if (!host || lstat(RealEntryPath(*host).c_str(), &status) != 0) return nullptr;
  return &records[IdentityOf(status)];
}

// ---- SIDs, ACLs and descriptors in their binary layouts ----

std::vector<BYTE> SidBytes(const std::string& text) {
  std::vector<DWORD> numbers;
  for (size_t at = 2; at < text.size();) {
    const size_t dash = text.find('-', at);
    numbers.push_back(static_cast<DWORD>(std::stoul(text.substr(at, dash - at))));
    at = dash == std::string::npos ? text.size() : dash + 1;
  }
  std::vector<BYTE> sid(8 + sizeof(DWORD) * (numbers.size() - 2));
  sid[0] = static_cast<BYTE>(numbers[0]);
  sid[1] = static_cast<BYTE>(numbers.size() - 2);
  sid[7] = static_cast<BYTE>(numbers[1]);  // authorities below 256, big-endian
  std::memcpy(sid.data() + 8, numbers.data() + 2, sizeof(DWORD) * (numbers.size() - 2));
  return sid;
}

// The SID at `bytes` (at most `room` bytes long) in its string form, or
// nothing when it is not a valid SID.
std::optional<std::string> SidText(const BYTE* bytes, size_t room) {
  if (room < 8 || bytes[0] != 1 || bytes[1] > 15 || room < 8u + sizeof(DWORD) * bytes[1]) return std::nullopt;
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
  std::string text = "S-1-" + std::to_string(authority);
  for (BYTE i = 0; i < bytes[1]; ++i) {
    DWORD sub = 0;
    std::memcpy(&sub, bytes + 8 + sizeof(DWORD) * i, sizeof sub);
    text += "-" + std::to_string(sub);
  }
  return text;
}

std::vector<BYTE> AclBytes(const std::vector<Ace>& aces) {
  std::vector<BYTE> acl(sizeof(ACL));
  for (const Ace& ace : aces) {
    const std::vector<BYTE> sid = SidBytes(ace.sid);
    const ACE_HEADER header = {ace.type, ace.flags, static_cast<WORD>(8 + sid.size())};
    const size_t at = acl.size();
    acl.resize(at + header.AceSize);
    std::memcpy(acl.data() + at, &header, sizeof header);
    std::memcpy(acl.data() + at + 4, &ace.mask, sizeof ace.mask);
    std::memcpy(acl.data() + at + 8, sid.data(), sid.size());
  }
  const ACL header = {ACL_REVISION, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(aces.size()), 0};
  std::memcpy(acl.data(), &header, sizeof header);
  return acl;
}

// The entries of a DACL as a caller laid it out, or nothing when it is not
// a valid ACL.
std::optional<std::vector<Ace>> ParseAcl(const ACL* acl) {
  if ((acl->AclRevision != 2 && acl->AclRevision != 4) || acl->AclSize < sizeof(ACL)) return std::nullopt;
  const auto* bytes = reinterpret_cast<const BYTE*>(acl);
  std::vector<Ace> aces;
  size_t at = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER header;
    if (at + sizeof header > acl->AclSize) return std::nullopt;
    std::memcpy(&header, bytes + at, sizeof header);
    if (header.AceSize < 16 || header.AceSize % 4 != 0 || at + header.AceSize > acl->AclSize ||
        header.AceType > ACCESS_DENIED_ACE_TYPE) {
      return std::nullopt;
    }
    Ace ace;
    ace.type = header.AceType;
    ace.flags = header.AceFlags;
    std::memcpy(&ace.mask, bytes + at + 4, sizeof ace.mask);
    const std::optional<std::string> sid = SidText(bytes + at + 8, header.AceSize - 8u);
    if (!sid) return std::nullopt;
    ace.sid = *sid;
    aces.push_back(std::move(ace));
    at += header.AceSize;
  }
  return aces;
}

// The DACL a descriptor carries, absolute or self-relative: false when the
// descriptor is not valid; a null `*dacl` for a null DACL.
bool DaclOf(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL* control, const ACL** dacl) {
  const auto* absolute = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
  if (!descriptor || absolute->Revision != SECURITY_DESCRIPTOR_REVISION) return false;
  *control = absolute->Control;
  *dacl = nullptr;
  if (!(absolute->Control & SE_DACL_PRESENT)) return true;
  if (absolute->Control & SE_SELF_RELATIVE) {
    const auto* relative = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
    if (relative->Dacl) *dacl = reinterpret_cast<const ACL*>(static_cast<const BYTE*>(descriptor) + relative->Dacl);
  } else {
    *dacl = absolute->Dacl;
  }
  return true;
}

// Keeps what every object directly in a folder has now, before the folder's
// DACL changes: they made their inherited entries when they were made.
void KeepWhatTheFolderHolds(const std::string& realFolder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(realFolder, error)) {
    const std::string path = entry.path().string();
    const std::optional<EntryFacts> facts = FactsOfPath(path);
    const std::optional<Descriptor> now = DescriptorAt(path);
    if (!facts || !now) continue;
    Record& record = records[IdentityOf(facts->status)];
    if (record.complete || record.nullDacl) continue;
    record.aces = now->dacl;
    record.complete = true;
  }
}

// Whether a standard user (`user`, a member of Users, Authenticated Users,
// Everyone and INTERACTIVE) is granted `rights` on an object: as its owner
// they may change its DACL and so grant themselves anything; otherwise its
// entries decide in order, denials first met first.
bool UserIsGranted(const Descriptor& descriptor, const std::string& user, DWORD rights) {
  if (descriptor.owner == user || descriptor.nullDacl) return true;
  const std::string token[] = {user, kUsersSid, kAuthenticatedUsersSid, kEveryoneSid, kInteractiveSid};
  DWORD denied = 0;
  DWORD granted = 0;
  for (const Ace& ace : descriptor.dacl) {
    if ((ace.flags & INHERIT_ONLY_ACE) || std::find(std::begin(token), std::end(token), ace.sid) == std::end(token)) {
      continue;
    }
    DWORD mask = ace.mask;
    if (mask & (GENERIC_ALL | GENERIC_WRITE)) mask |= FILE_ALL_ACCESS;
    if (ace.type == ACCESS_DENIED_ACE_TYPE) denied |= mask & ~granted;
    if (ace.type == ACCESS_ALLOWED_ACE_TYPE) granted |= mask & ~denied;
  }
  return (granted & rights) != 0;
}

// The owner and the DACL (as `information` asks) of what a handle has
// open, in the self-relative layout; the Win32 error when they cannot be
// read.
DWORD ReadDescriptor(HANDLE handle, SECURITY_INFORMATION information, std::vector<BYTE>* bytes) {
  // The owner and the DACL of a file are stood in for.
  const SECURITY_INFORMATION known = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (!information || (information & ~known)) return ERROR_INVALID_PARAMETER;
  auto file = FindHandle(handle, KernelObject::kFile);
  if (!file) return ERROR_INVALID_HANDLE;
  if (!(file->access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
  const std::optional<Descriptor> read = DescriptorAt(HostPathOfDescriptor(file->fd));
  if (!read) return ERROR_FILE_NOT_FOUND;
  const bool withOwner = information & OWNER_SECURITY_INFORMATION;
  const bool withDacl = information & DACL_SECURITY_INFORMATION;
  if (withOwner && read->ownerUnreadable) return ERROR_ACCESS_DENIED;

  const std::vector<BYTE> sid = withOwner ? SidBytes(read->owner) : std::vector<BYTE>();
  const std::vector<BYTE> acl = withDacl && !read->nullDacl ? AclBytes(read->dacl) : std::vector<BYTE>();
  SECURITY_DESCRIPTOR_RELATIVE header = {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE, 0, 0, 0, 0};
  bytes->assign(sizeof header, 0);
  if (withOwner) {
    header.Owner = static_cast<DWORD>(bytes->size());
    bytes->insert(bytes->end(), sid.begin(), sid.end());
  }
  if (withDacl) {
    header.Control |= SE_DACL_PRESENT | (read->protectedDacl ? SE_DACL_PROTECTED : 0) |
                      (read->autoInherited ? SE_DACL_AUTO_INHERITED : 0);
    if (!read->nullDacl) {
      header.Dacl = static_cast<DWORD>(bytes->size());
      bytes->insert(bytes->end(), acl.begin(), acl.end());
    }
  }
  std::memcpy(bytes->data(), &header, sizeof header);
  return ERROR_SUCCESS;
}

}  // namespace

void ResetSecurity() {
  records.clear();
  tags.clear();
}

void SetOwner(const std::string& windowsPath, Owner owner) {
  Record* record = RecordAt(windowsPath);
  if (!record) return;
  record->ownerUnreadable = owner == Owner::kUnreadable;
  if (owner != Owner::kUnreadable) record->owner = OwnerSid(owner);
}

void SetDacl(const std::string& windowsPath, const std::vector<Ace>& explicitEntries, bool protect) {
  Record* record = RecordAt(windowsPath);
  if (!record) return;
  record->aces = explicitEntries;
  record->complete = false;
  record->nullDacl = false;
  record->protectedDacl = protect;
}

void SetNullDacl(const std::string& windowsPath) {
  if (Record* record = RecordAt(windowsPath)) record->nullDacl = true;
}

std::optional<std::vector<Ace>> Dacl(const std::string& windowsPath) {
  const std::optional<std::string> host = HostPath(windowsPath);
  const std::optional<Descriptor> descriptor = host ? DescriptorAt(RealEntryPath(*host)) : std::nullopt;
  if (!descriptor || descriptor->nullDacl) return std::nullopt;
  return descriptor->dacl;
}

bool RetargetLinkAsUser(const std::string& windowsLink, const std::string& windowsTarget) {
  const std::optional<std::string> link = HostPath(windowsLink);
  const std::optional<std::string> target = HostPath(windowsTarget);
  if (!link || !target) return false;
  const std::string real = RealEntryPath(*link);
  const std::optional<Descriptor> descriptor = DescriptorAt(real);
  struct stat status;
  if (!descriptor || lstat(real.c_str(), &status) != 0 || !S_ISLNK(status.st_mode) ||
      !UserIsGranted(*descriptor, kInstallerSid, FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES)) {
    return false;
  }
  // The same link with new reparse data: it keeps its descriptor.
  const Record kept = records[IdentityOf(status)];
  std::error_code error;
  std::filesystem::remove(real, error);
  std::filesystem::create_directory_symlink(*target, real, error);
  if (error || lstat(real.c_str(), &status) != 0) return false;
  records[IdentityOf(status)] = kept;
  return true;
}

bool UserMayChangeLink(const std::string& windowsLink, const std::string& user) {
  const std::optional<std::string> host = HostPath(windowsLink);
  if (!host) return false;
  const std::string real = RealEntryPath(*host);
  const std::optional<Descriptor> link = DescriptorAt(real);
  const std::optional<Descriptor> folder = DescriptorAt(real.substr(0, real.rfind('/')));
  if (!link || !folder) return false;
  if (UserIsGranted(*link, user, FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER)) return true;
  const bool mayRemove = UserIsGranted(*link, user, DELETE) || UserIsGranted(*folder, user, FILE_DELETE_CHILD);
  return mayRemove && UserIsGranted(*folder, user, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY);
}

void SetReparseTag(const std::string& windowsPath, DWORD tag) {
  const std::optional<std::string> host = HostPath(windowsPath);
  struct stat status;
  if (host && lstat(RealEntryPath(*host).c_str(), &status) == 0) tags[IdentityOf(status)] = tag;
}

std::optional<DWORD> StoredReparseTag(uint64_t device, uint64_t inode) {
  const auto found = tags.find({device, inode});
  if (found == tags.end()) return std::nullopt;
  return found->second;
}

void SwapForLink(const std::string& windowsFolder, const std::string& windowsTarget) {
  const std::optional<std::string> folder = HostPath(windowsFolder);
  const std::optional<std::string> target = HostPath(windowsTarget);
  if (!folder || !target) return;
  const std::string real = RealEntryPath(*folder);
  std::error_code error;
  std::filesystem::rename(real, real + ".moved", error);
  std::filesystem::create_directory_symlink(*target, real, error);
}

void LayOutPermissions() {
  const BYTE both = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const Ace system = {ACCESS_ALLOWED_ACE_TYPE, both, kFullControl, kSystemSid};
  const Ace administrators = {ACCESS_ALLOWED_ACE_TYPE, both, kFullControl, kAdministratorsSid};
  const Ace usersRead = {ACCESS_ALLOWED_ACE_TYPE, both, kReadAndExecute, kUsersSid};
  SetDacl("C:\\Users",
          {system, administrators, usersRead, {ACCESS_ALLOWED_ACE_TYPE, both, kReadAndExecute, kEveryoneSid}}, true);
  for (const auto& [profile, user] :
       {std::pair<const char*, const char*>{"C:\\Users\\installer", kInstallerSid}, {"C:\\Users\\ann", kAnnSid}}) {
    SetDacl(profile, {system, administrators, {ACCESS_ALLOWED_ACE_TYPE, both, kFullControl, user}}, true);
    SetOwner(profile, Owner::kSystem);
  }
  // Every user may make folders and files in ProgramData and owns what they
  // make there.
  SetDacl(
      "C:\\ProgramData",
      {system,
       administrators,
       {ACCESS_ALLOWED_ACE_TYPE, both | INHERIT_ONLY_ACE, kFullControl, kCreatorOwnerSid},
       usersRead,
       {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE,
        FILE_WRITE_DATA | FILE_APPEND_DATA | 0x10 /* write extended attributes */ | FILE_WRITE_ATTRIBUTES, kUsersSid}},
      true);
  for (const char* machine : {"C:\\Windows", "C:\\Program Files", "C:\\Program Files (x86)"}) {
    SetDacl(machine,
            {{ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, kFullControl, kTrustedInstallerSid},
             system,
             administrators,
             usersRead},
            true);
    SetOwner(machine, Owner::kTrustedInstaller);
  }
  for (const char* link : {"C:\\Users\\All Users", "C:\\Users\\Default User", "C:\\Documents and Settings"}) {
    SetDacl(link,
            {{ACCESS_ALLOWED_ACE_TYPE, 0, kReadAndExecute, kEveryoneSid},
             {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kSystemSid},
             {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kAdministratorsSid}},
            true);
  }
}

}  // namespace standin

using namespace standin;

extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                        PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                        PSECURITY_DESCRIPTOR* descriptor) {
  const Call call("GetSecurityInfo");
  if (auto error = call.Failure()) return *error;
  if (type != SE_FILE_OBJECT || group || sacl || !descriptor) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bytes;
  const DWORD error = ReadDescriptor(handle, information, &bytes);
  if (error) return error;
  auto* block = static_cast<BYTE*>(SystemBlock(bytes.size()));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  std::memcpy(block, bytes.data(), bytes.size());
  const auto* header = reinterpret_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(block);
  if (owner) *owner = header->Owner ? block + header->Owner : nullptr;
  if (dacl) *dacl = header->Dacl ? reinterpret_cast<PACL>(block + header->Dacl) : nullptr;
  *descriptor = block;
  return ERROR_SUCCESS;
}

extern "C" BOOL WINAPI GetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION information,
                                               PSECURITY_DESCRIPTOR descriptor, DWORD bytes, LPDWORD needed) {
  const Call call("GetKernelObjectSecurity");
  DWORD error = call.Failure().value_or(needed ? 0 : ERROR_INVALID_PARAMETER);
  std::vector<BYTE> read;
  if (!error) error = ReadDescriptor(handle, information, &read);
  if (!error) {
    *needed = static_cast<DWORD>(read.size());
    if (read.size() > bytes || !descriptor) error = ERROR_INSUFFICIENT_BUFFER;
  }
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  std::memcpy(descriptor, read.data(), read.size());
  return TRUE;
}

extern "C" BOOL WINAPI SetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION information,
                                               PSECURITY_DESCRIPTOR descriptor) {
  const Call call("SetKernelObjectSecurity");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  auto file = FindHandle(handle, KernelObject::kFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Only the DACL of a file is stood in for.
  if (information != DACL_SECURITY_INFORMATION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!(file->access & WRITE_DAC)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  const ACL* acl = nullptr;
  if (!DaclOf(descriptor, &control, &acl)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  std::optional<std::vector<Ace>> aces;
  if (acl) {
    aces = ParseAcl(acl);
    if (!aces) {
      SetLastError(ERROR_INVALID_ACL);
      return FALSE;
    }
  }
  const std::string path = HostPathOfDescriptor(file->fd);
  const EntryFacts facts = FactsOfObject(*file);
  if (!facts.link && S_ISDIR(facts.status.st_mode)) KeepWhatTheFolderHolds(path);
  Record& record = records[{file->device, file->inode}];
  record.nullDacl = !aces;
  record.aces = aces;
  record.complete = true;
  record.protectedDacl = control & SE_DACL_PROTECTED;
  record.autoInherited = control & SE_DACL_AUTO_INHERITED;
  return TRUE;
}

extern "C" BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
  const Call call("InitializeSecurityDescriptor");
  if (!descriptor || revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *static_cast<SECURITY_DESCRIPTOR*>(descriptor) =
      SECURITY_DESCRIPTOR{SECURITY_DESCRIPTOR_REVISION, 0, 0, nullptr, nullptr, nullptr, nullptr};
  return TRUE;
}

extern "C" BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                                                 BOOL defaulted) {
  const Call call("SetSecurityDescriptorDacl");
  auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  if (!absolute || absolute->Revision != SECURITY_DESCRIPTOR_REVISION || (absolute->Control & SE_SELF_RELATIVE)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  constexpr SECURITY_DESCRIPTOR_CONTROL kDaclDefaulted = 0x0008;
  absolute->Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~(SE_DACL_PRESENT | kDaclDefaulted));
  if (present) absolute->Control |= SE_DACL_PRESENT | (defaulted ? kDaclDefaulted : 0);
  absolute->Dacl = present ? dacl : nullptr;
  return TRUE;
}

extern "C" BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                                 LPBOOL defaulted) {
  const Call call("GetSecurityDescriptorDacl");
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  const ACL* found = nullptr;
  if (!present || !dacl || !defaulted || !DaclOf(descriptor, &control, &found)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  constexpr SECURITY_DESCRIPTOR_CONTROL kDaclDefaulted = 0x0008;
  *present = (control & SE_DACL_PRESENT) != 0;
  *dacl = const_cast<ACL*>(found);
  *defaulted = (control & kDaclDefaulted) != 0;
  return TRUE;
}

extern "C" BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor,
                                                    SECURITY_DESCRIPTOR_CONTROL* control, LPDWORD revision) {
  const Call call("GetSecurityDescriptorControl");
  const auto* absolute = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
  if (!absolute || !control || !revision) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *control = absolute->Control;
  *revision = absolute->Revision;
  return TRUE;
}

// Only the bits Windows lets a caller set: inheritance and protection.
extern "C" BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                                    SECURITY_DESCRIPTOR_CONTROL bits) {
  const Call call("SetSecurityDescriptorControl");
  constexpr SECURITY_DESCRIPTOR_CONTROL kSettable =
      0x0100 | 0x0200 | SE_DACL_AUTO_INHERITED | 0x0800 | SE_DACL_PROTECTED | 0x2000;
  auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  if (!absolute || (mask & ~kSettable) || (bits & ~mask)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  absolute->Control = static_cast<SECURITY_DESCRIPTOR_CONTROL>((absolute->Control & ~mask) | bits);
  return TRUE;
}

extern "C" BOOL WINAPI EqualSid(PSID first, PSID second) {
  const Call call("EqualSid");
  const auto* a = static_cast<const SID*>(first);
  const auto* b = static_cast<const SID*>(second);
  SetLastError(ERROR_SUCCESS);
  const size_t bytes = a ? 8 + sizeof(DWORD) * a->SubAuthorityCount : 0;
  return a && b && a->SubAuthorityCount == b->SubAuthorityCount && std::memcmp(a, b, bytes) == 0;
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
