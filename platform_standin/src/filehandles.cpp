// Files reached through handles: opens relative to a folder's open handle,
// information by handle (a folder's listing among it), deletion on close,
// and the locks that other processes hold on entries.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <winternl.h>

#include <standin.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <map>

#include "entries.h"
#include "kernel.h"
#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

// Each NTSTATUS the stand-in answers with and the Win32 code that
// RtlNtStatusToDosError makes of it.
struct StatusCode {
  NTSTATUS status;
  DWORD error;
};
constexpr StatusCode kStatusCodes[] = {
    {static_cast<NTSTATUS>(0xC0000001), ERROR_GEN_FAILURE},           // STATUS_UNSUCCESSFUL
    {static_cast<NTSTATUS>(0xC0000003), ERROR_INVALID_PARAMETER},     // STATUS_INVALID_INFO_CLASS
    {static_cast<NTSTATUS>(0xC0000004), ERROR_BAD_LENGTH},            // STATUS_INFO_LENGTH_MISMATCH
    {static_cast<NTSTATUS>(0xC0000008), ERROR_INVALID_HANDLE},        // STATUS_INVALID_HANDLE
    {static_cast<NTSTATUS>(0xC000000D), ERROR_INVALID_PARAMETER},     // STATUS_INVALID_PARAMETER
    {static_cast<NTSTATUS>(0xC0000022), ERROR_ACCESS_DENIED},         // STATUS_ACCESS_DENIED
    {static_cast<NTSTATUS>(0xC0000033), ERROR_INVALID_NAME},          // STATUS_OBJECT_NAME_INVALID
    {static_cast<NTSTATUS>(0xC0000034), ERROR_FILE_NOT_FOUND},        // STATUS_OBJECT_NAME_NOT_FOUND
    {static_cast<NTSTATUS>(0xC000003A), ERROR_PATH_NOT_FOUND},        // STATUS_OBJECT_PATH_NOT_FOUND
    {static_cast<NTSTATUS>(0xC000003B), 161},                         // STATUS_OBJECT_PATH_SYNTAX_BAD
    {static_cast<NTSTATUS>(0xC0000043), ERROR_SHARING_VIOLATION},     // STATUS_SHARING_VIOLATION
    {static_cast<NTSTATUS>(0xC000009A), ERROR_NOT_ENOUGH_MEMORY},     // STATUS_INSUFFICIENT_RESOURCES
    {static_cast<NTSTATUS>(0xC00000A3), ERROR_NOT_READY},             // STATUS_DEVICE_NOT_READY
    {static_cast<NTSTATUS>(0xC00000BA), ERROR_ACCESS_DENIED},         // STATUS_FILE_IS_A_DIRECTORY
    {static_cast<NTSTATUS>(0xC00000BB), ERROR_NOT_SUPPORTED},         // STATUS_NOT_SUPPORTED
    {static_cast<NTSTATUS>(0xC00000BE), ERROR_BAD_NETPATH},           // STATUS_BAD_NETWORK_PATH
    {static_cast<NTSTATUS>(0xC00000CC), ERROR_BAD_NET_NAME},          // STATUS_BAD_NETWORK_NAME
    {static_cast<NTSTATUS>(0xC0000101), ERROR_DIR_NOT_EMPTY},         // STATUS_DIRECTORY_NOT_EMPTY
    {static_cast<NTSTATUS>(0xC0000103), ERROR_DIRECTORY},             // STATUS_NOT_A_DIRECTORY
    {static_cast<NTSTATUS>(0xC0000121), ERROR_ACCESS_DENIED},         // STATUS_CANNOT_DELETE
    {static_cast<NTSTATUS>(0xC000010B), ERROR_FILENAME_EXCED_RANGE},  // STATUS_NAME_TOO_LONG
};
constexpr NTSTATUS kUnsuccessful = static_cast<NTSTATUS>(0xC0000001);
constexpr NTSTATUS kInvalidHandle = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kNameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS kPathSyntaxBad = static_cast<NTSTATUS>(0xC000003B);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr ULONG kFileOpened = 1;

// The status of a Win32 error, the first that maps onto it.
NTSTATUS StatusFromWin32(DWORD error) {
  for (const StatusCode& code : kStatusCodes) {
    if (code.error == error) return code.status;
  }
  return kUnsuccessful;
}

NTSTATUS StatusFromErrno(int error, const std::string& hostPath) {
  return StatusFromWin32(Win32FromErrno(error, hostPath));
}

// Another process's open of an entry: the opens of it still to fail (-1:
// all) and the access it shares.
struct Lock {
  int failingOpens;
  DWORD shared;
};
std::map<std::pair<uint64_t, uint64_t>, Lock> locks;                     // by identity
std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> oplocks;  // by identity: what the holder does
constexpr DWORD kExecute = 0x0020;

// The characters that no name may hold; "\\" too, as the stand-in opens one
// entry of the folder, never a path below it.
bool IsValidEntryName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20 || std::wcschr(L"\\/<>:\"|?*", c)) return false;
  }
  return true;
}

bool FolderHoldsEntries(const std::string& hostFolder) {
  DIR* listing = opendir(hostFolder.c_str());
  if (!listing) return false;
  bool holds = false;
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      holds = true;
      break;
    }
  }
  closedir(listing);
  return holds;
}

// Fills `buffer` with the next entries of a folder handle's listing, as many
// as fit; false with the last error when none could be given.
BOOL FillFolderEntries(KernelObject& folder, bool restart, BYTE* buffer, DWORD bytes) {
  if (!(folder.access & FILE_LIST_DIRECTORY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const EntryFacts facts = FactsOfObject(folder);
  if (!folder.synchronous || !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A link opened as itself holds nothing of what it leads to.
  if (folder.linkItself) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  if (!folder.listing) {
    const int listed = openat(folder.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folder.listing = listed < 0 ? nullptr : fdopendir(listed);
    if (!folder.listing) {
      if (listed >= 0) close(listed);
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  } else if (restart) {
    rewinddir(folder.listing);
  }
  const std::string hostFolder = HostPathOfDescriptor(folder.fd);
  constexpr size_t kNameOffset = offsetof(FILE_FULL_DIR_INFO, FileName);
  DWORD used = 0;
  FILE_FULL_DIR_INFO* last = nullptr;
  for (;;) {
    const long position = telldir(folder.listing);
    const dirent* entry = readdir(folder.listing);
    while (entry && folder.root && (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)) {
      entry = readdir(folder.listing);
    }
    if (!entry) break;
    const std::wstring name = WideFromUtf8(entry->d_name);
    const DWORD start = (used + 7) & ~7u;
    const size_t size = kNameOffset + name.size() * sizeof(WCHAR);
    if (start + size > bytes) {
      seekdir(folder.listing, position);
      if (!last) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
      }
      break;
    }
    auto* info = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer + start);
    std::memset(info, 0, kNameOffset);
    const std::optional<EntryFacts> entryFacts = FactsOfPath(hostFolder + "/" + entry->d_name);
    info->FileAttributes = entryFacts ? entryFacts->attributes : FILE_ATTRIBUTE_NORMAL;
    if (entryFacts && (entryFacts->attributes & FILE_ATTRIBUTE_REPARSE_POINT)) info->EaSize = entryFacts->reparseTag;
    if (entryFacts && !entryFacts->link && !S_ISDIR(entryFacts->status.st_mode)) {
      info->EndOfFile.QuadPart = static_cast<LONGLONG>(entryFacts->status.st_size);
    }
    info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(WCHAR));
    std::memcpy(info->FileName, name.data(), name.size() * sizeof(WCHAR));
    if (last) last->NextEntryOffset = static_cast<ULONG>(reinterpret_cast<BYTE*>(info) - reinterpret_cast<BYTE*>(last));
    last = info;
    used = start + static_cast<DWORD>(size);
  }
  if (!last) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

// Marks an object for deletion as NTFS does: a read-only file, a volume's
// root and a folder that still holds anything are refused.
BOOL SetDisposition(KernelObject& file, const FILE_DISPOSITION_INFO& disposition) {
  if (!(file.access & DELETE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (disposition.DeleteFile) {
    const EntryFacts facts = FactsOfObject(file);
    if (file.root || (facts.attributes & FILE_ATTRIBUTE_READONLY)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (!facts.link && S_ISDIR(facts.status.st_mode) && FolderHoldsEntries(HostPathOfDescriptor(file.fd))) {
      SetLastError(ERROR_DIR_NOT_EMPTY);
      return FALSE;
    }
  }
  file.deletePending = disposition.DeleteFile != 0;
  return TRUE;
}

// Only the read-only attribute of a file is kept (in the host mode).
BOOL SetBasicInformation(KernelObject& file, const FILE_BASIC_INFO& basic) {
  if (!(file.access & FILE_WRITE_ATTRIBUTES)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const EntryFacts facts = FactsOfObject(file);
  if (basic.FileAttributes == 0 || facts.link || S_ISDIR(facts.status.st_mode)) return TRUE;
  const mode_t mode = (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) ? (facts.status.st_mode & ~S_IWUSR)
                                                                       : (facts.status.st_mode | S_IWUSR);
  chmod(HostPathOfDescriptor(file.fd).c_str(), mode & 07777);
  return TRUE;
}

// The file object an information call is made on; null, with the last
// error, for an injected failure or a handle that is no file's.
std::shared_ptr<KernelObject> FileOfInformationCall(const Call& call, HANDLE handle, LPVOID information) {
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return nullptr;
  }
  std::shared_ptr<KernelObject> file = FindHandle(handle, KernelObject::kFile);
  if (!file || !information) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return file;
}

}  // namespace

bool HitsLock(const KernelObject& file) {
  auto found = locks.find({file.device, file.inode});
  if (found == locks.end() || found->second.failingOpens == 0) return false;
  // The attributes, the permissions and waiting on the object share with any holder.
  const DWORD shared = found->second.shared;
  const bool conflicts = ((file.access & (FILE_READ_DATA | kExecute)) && !(shared & FILE_SHARE_READ)) ||
                         ((file.access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) && !(shared & FILE_SHARE_WRITE)) ||
                         ((file.access & DELETE) && !(shared & FILE_SHARE_DELETE));
  if (!conflicts) return false;
  if (found->second.failingOpens > 0) --found->second.failingOpens;
  return true;
}

void LockEntry(const std::string& windowsPath, int failingOpens, DWORD shared) {
  const std::optional<std::string> host = HostPath(windowsPath);
  struct stat status;
  if (!host || lstat(host->c_str(), &status) != 0) return;
  locks[{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)}] = Lock{failingOpens, shared};
}

void HoldOpportunisticLock(const std::string& windowsPath, std::function<void()> onBreak) {
  const std::optional<std::string> host = HostPath(windowsPath);
  struct stat status;
  if (!host || lstat(host->c_str(), &status) != 0) return;
  oplocks[{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)}] = std::move(onBreak);
}

void BreakOpportunisticLock(const std::string& hostPath, bool followLink, DWORD access) {
  // Only an open for the attributes alone leaves an oplock be.
  constexpr DWORD kAttributesOnly = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
  struct stat status;
  if (oplocks.empty() || !(access & ~kAttributesOnly) ||
      (followLink ? stat(hostPath.c_str(), &status) : lstat(hostPath.c_str(), &status)) != 0) {
    return;
  }
  const auto held = oplocks.find({static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)});
  if (held == oplocks.end()) return;
  // Taken out first: what the holder does may open files too.
  const std::function<void()> onBreak = std::move(held->second);
  oplocks.erase(held);
  onBreak();
}

void ResetFileHandles() {
  locks.clear();
  oplocks.clear();
}

void FinishClose(KernelObject& file) {
  if (!file.deletePending) return;
  // Deleted with the last handle of the object, whichever that is.
  const std::vector<std::shared_ptr<KernelObject>> others = OpenFilesOf(file.device, file.inode, &file);
  if (!others.empty()) {
    others.front()->deletePending = true;
    return;
  }
  const EntryFacts facts = FactsOfObject(file);
  const std::string host = HostPathOfDescriptor(file.fd);
  if (!facts.link && S_ISDIR(facts.status.st_mode)) {
    rmdir(host.c_str());
  } else {
    unlink(host.c_str());
  }
}

}  // namespace standin

using namespace standin;

extern "C" NTSTATUS WINAPI NtOpenFile(HANDLE* handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                      PIO_STATUS_BLOCK status, ULONG, ULONG options) {
  const Call call("NtOpenFile");
  if (auto error = call.Failure()) return StatusFromWin32(*error);
  if (!handle || !attributes || !status || !attributes->ObjectName || !attributes->ObjectName->Buffer ||
      attributes->ObjectName->Length % sizeof(WCHAR) != 0) {
    return kInvalidParameter;
  }
  // Only names relative to an open folder are stood in for.
  if (!attributes->RootDirectory) return kPathSyntaxBad;
  const std::shared_ptr<KernelObject> folder = FindHandle(attributes->RootDirectory, KernelObject::kFile);
  if (!folder) return kInvalidHandle;
  const bool synchronous = options & (FILE_SYNCHRONOUS_IO_NONALERT | FILE_SYNCHRONOUS_IO_ALERT);
  if (synchronous && !(access & SYNCHRONIZE)) return kInvalidParameter;
  const std::wstring name(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(WCHAR));
  if (!IsValidEntryName(name)) return kNameInvalid;
  const EntryFacts folderFacts = FactsOfObject(*folder);
  if (!(folderFacts.attributes & FILE_ATTRIBUTE_DIRECTORY)) return kPathNotFound;
  // What a link opened as itself holds is its own: nothing.
  if (folder->linkItself) return StatusFromWin32(ERROR_FILE_NOT_FOUND);

  const std::string hostFolder = HostPathOfDescriptor(folder->fd);
  const std::string entry = FindEntry(hostFolder, Utf8(name));
  const bool linkItself = options & FILE_OPEN_REPARSE_POINT;
  BreakOpportunisticLock(hostFolder + "/" + entry, !linkItself, access);
  const int fd = openat(folder->fd, entry.c_str(), O_PATH | O_CLOEXEC | (linkItself ? O_NOFOLLOW : 0));
  if (fd < 0) return StatusFromErrno(errno, hostFolder + "/" + entry);
  const std::shared_ptr<KernelObject> file = NewFileObject(fd, access, linkItself, synchronous);
  file->openedAs = folder->openedAs + "\\" + Utf8(name);
  const EntryFacts facts = FactsOfObject(*file);
  const bool isFolder = (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((options & FILE_DIRECTORY_FILE) && !isFolder) return kNotADirectory;
  if ((options & FILE_NON_DIRECTORY_FILE) && isFolder) return kFileIsADirectory;
  if (HitsLock(*file)) return kSharingViolation;
  *handle = AddHandle(file);
  status->Status = 0;
  status->Information = kFileOpened;
  return 0;
}

extern "C" NTSTATUS WINAPI NtQueryInformationFile(HANDLE handle, PIO_STATUS_BLOCK status, PVOID information,
                                                  ULONG bytes, FILE_INFORMATION_CLASS infoClass) {
  const Call call("NtQueryInformationFile");
  if (auto error = call.Failure()) return StatusFromWin32(*error);
  constexpr int kFileInternalInformation = 6;
  if (static_cast<int>(infoClass) != kFileInternalInformation) return kInvalidInfoClass;
  if (!status || !information) return kInvalidParameter;
  if (bytes < sizeof(LARGE_INTEGER)) return kInfoLengthMismatch;
  const std::shared_ptr<KernelObject> file = FindHandle(handle, KernelObject::kFile);
  if (!file) return kInvalidHandle;
  static_cast<LARGE_INTEGER*>(information)->QuadPart = static_cast<LONGLONG>(file->inode);
  status->Status = 0;
  status->Information = sizeof(LARGE_INTEGER);
  return 0;
}

extern "C" ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status) {
  const Call call("RtlNtStatusToDosError");
  if (status == 0) return ERROR_SUCCESS;
  for (const StatusCode& code : kStatusCodes) {
    if (code.status == status) return code.error;
  }
  return 317;  // ERROR_MR_MID_NOT_FOUND: a status without a Win32 code
}

// The information classes the product reads: a folder's listing, an
// object's attributes with its reparse tag, and a file's names.
extern "C" BOOL WINAPI GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                                    LPVOID information, DWORD bytes) {
  const Call call("GetFileInformationByHandleEx");
  const std::shared_ptr<KernelObject> file = FileOfInformationCall(call, handle, information);
  if (!file) return FALSE;
  switch (infoClass) {
    case FileFullDirectoryInfo:
    case FileFullDirectoryRestartInfo:
      return FillFolderEntries(*file, infoClass == FileFullDirectoryRestartInfo, static_cast<BYTE*>(information),
                               bytes);
    case FileAttributeTagInfo: {
      if (bytes < sizeof(FILE_ATTRIBUTE_TAG_INFO)) break;
      const EntryFacts facts = FactsOfObject(*file);
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
      tag->FileAttributes = facts.attributes;
      tag->ReparseTag = (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? facts.reparseTag : 0;
      return TRUE;
    }
    case FileStandardInfo: {
      if (bytes < sizeof(FILE_STANDARD_INFO)) break;
      const EntryFacts facts = FactsOfObject(*file);
      const bool folder = S_ISDIR(facts.status.st_mode) || facts.linksToFolder;
      auto* standard = static_cast<FILE_STANDARD_INFO*>(information);
      *standard = FILE_STANDARD_INFO{};
      standard->EndOfFile.QuadPart = folder || facts.link ? 0 : static_cast<LONGLONG>(facts.status.st_size);
      standard->NumberOfLinks = S_ISDIR(facts.status.st_mode) ? 1 : static_cast<DWORD>(facts.status.st_nlink);
      standard->DeletePending = file->deletePending;
      standard->Directory = folder;
      return TRUE;
    }
    default:
      break;
  }
  SetLastError(bytes ? ERROR_INVALID_PARAMETER : ERROR_BAD_LENGTH);
  return FALSE;
}

// The information classes the product sets: the disposition, and the
// read-only attribute.
extern "C" BOOL WINAPI SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                                  LPVOID information, DWORD bytes) {
  const Call call("SetFileInformationByHandle");
  const std::shared_ptr<KernelObject> file = FileOfInformationCall(call, handle, information);
  if (!file) return FALSE;
  if (infoClass == FileDispositionInfo && bytes >= sizeof(FILE_DISPOSITION_INFO)) {
    return SetDisposition(*file, *static_cast<const FILE_DISPOSITION_INFO*>(information));
  }
  if (infoClass == FileBasicInfo && bytes >= sizeof(FILE_BASIC_INFO)) {
    return SetBasicInformation(*file, *static_cast<const FILE_BASIC_INFO*>(information));
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
