// Files opened by path, their status and folder listings over the sandbox,
// with host errno values reported as the Win32 codes that Windows gives in
// the same case.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <standin.h>

#include <cstring>

#include "entries.h"
#include "kernel.h"
#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

bool ParentExists(const std::string& hostPath) {
  std::string path = hostPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return true;
  struct stat status;
  return stat(path.substr(0, slash == 0 ? 1 : slash).c_str(), &status) == 0;
}

// Without long-path support a path of MAX_PATH characters or more reaches a
// file only in its verbatim ("\\?\") form.
bool TooLong(const std::wstring& path) { return path.size() >= MAX_PATH && path.rfind(L"\\\\?\\", 0) != 0; }

// The host path of a Windows path, or the last error: ERROR_PATH_NOT_FOUND,
// or what an unreachable root answers.
bool Resolve(LPCWSTR path, std::string* hostPath) {
  if (path) {
    if (const std::optional<DWORD> unreachable = UnreachableError(Utf8(path))) {
      SetLastError(*unreachable);
      return false;
    }
  }
  const auto mapped = path && !TooLong(path) ? HostPath(std::wstring(path)) : std::nullopt;
  if (!mapped) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  *hostPath = *mapped;
  return true;
}

// Resolves the path and reads the entry itself (a link, not its target); on
// failure the last error is the Win32 code of what went wrong.
std::optional<EntryFacts> ResolveEntry(LPCWSTR path, std::string* hostPath) {
  if (!Resolve(path, hostPath)) return std::nullopt;
  std::optional<EntryFacts> facts = FactsOfPath(*hostPath);
  if (!facts) SetLastError(Win32FromErrno(errno, *hostPath));
  return facts;
}

bool LinksToFolder(const std::string& hostPath) {
  struct stat target;
  return stat(hostPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
}

EntryFacts Describe(const struct stat& status, bool linksToFolder) {
  EntryFacts facts;
  facts.status = status;
  facts.link = S_ISLNK(status.st_mode);
  facts.linksToFolder = facts.link && linksToFolder;
  if (facts.link) {
    facts.reparseTag = linksToFolder ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
    facts.attributes = FILE_ATTRIBUTE_REPARSE_POINT | (linksToFolder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    return facts;
  }
  if (S_ISDIR(status.st_mode)) {
    facts.attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else if (!(status.st_mode & S_IWUSR)) {
    facts.attributes = FILE_ATTRIBUTE_READONLY;
  }
  if (const std::optional<DWORD> tag =
          StoredReparseTag(static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino))) {
    facts.reparseTag = *tag;
    facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  if (!facts.attributes) facts.attributes = FILE_ATTRIBUTE_NORMAL;
  return facts;
}

// The next entry of a listing; a root's listing passes over "." and "..".
const dirent* NextEntry(DIR* listing, bool root) {
  const dirent* entry = readdir(listing);
  while (entry && root && (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)) {
    entry = readdir(listing);
  }
  return entry;
}

// The entry's own attributes, as a listing gives them: a link is a reparse
// point, with the folder attribute when it leads to a folder, and its tag in
// dwReserved0.
void FillFindData(const std::string& folder, const dirent* entry, LPWIN32_FIND_DATAW data) {
  *data = WIN32_FIND_DATAW{};
  const std::wstring name = WideFromUtf8(entry->d_name);
  const size_t length = name.size() < MAX_PATH ? name.size() : MAX_PATH - 1;
  name.copy(data->cFileName, length);
  data->cFileName[length] = 0;
  const std::optional<EntryFacts> facts = FactsOfPath(folder + "/" + entry->d_name);
  if (!facts) {
    data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    return;
  }
  data->dwFileAttributes = facts->attributes;
  if (facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) data->dwReserved0 = facts->reparseTag;
  if (facts->link || S_ISDIR(facts->status.st_mode)) return;
  data->nFileSizeLow = static_cast<DWORD>(facts->status.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(facts->status.st_size) >> 32);
}

}  // namespace

std::optional<EntryFacts> FactsOfPath(const std::string& hostPath) {
  std::string path = hostPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
  return Describe(status, S_ISLNK(status.st_mode) && LinksToFolder(path));
}

EntryFacts FactsOfObject(const KernelObject& file) {
  struct stat status = {};
  fstat(file.fd, &status);
  // A descriptor of a link itself cannot be followed; its path can.
  const bool linksToFolder = S_ISLNK(status.st_mode) && LinksToFolder(HostPathOfDescriptor(file.fd));
  return Describe(status, linksToFolder);
}

std::string HostPathOfDescriptor(int fd) {
  char path[PATH_MAX + 1];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), path, PATH_MAX);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

DWORD Win32FromErrno(int error, const std::string& hostPath) {
  switch (error) {
    case ENOENT:
      return ParentExists(hostPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOTEMPTY:
    case EEXIST:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

std::shared_ptr<KernelObject> NewFileObject(int fd, DWORD access, bool linkItself, bool synchronous) {
  auto file = std::make_shared<KernelObject>();
  file->kind = KernelObject::kFile;
  file->fd = fd;
  file->access = access;
  file->synchronous = synchronous;
  struct stat status = {};
  fstat(fd, &status);
  file->linkItself = linkItself && S_ISLNK(status.st_mode);
  file->device = static_cast<uint64_t>(status.st_dev);
  file->inode = static_cast<uint64_t>(status.st_ino);
  file->root = IsSandboxRoot(HostPathOfDescriptor(fd));
  return file;
}

namespace {

// FindFirstFileExW for one entry named in full: a search that yields that
// entry alone, its name as the folder holds it.
HANDLE FindOneEntry(const std::wstring& path, LPWIN32_FIND_DATAW data) {
  std::string hostPath;
  if (TooLong(path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!Resolve(path.c_str(), &hostPath)) return INVALID_HANDLE_VALUE;
  while (hostPath.size() > 1 && hostPath.back() == '/') hostPath.pop_back();
  const size_t slash = hostPath.rfind('/');
  const std::string folder = hostPath.substr(0, slash);
  const std::string name = hostPath.substr(slash + 1);
  DIR* listing = opendir(folder.c_str());
  if (!listing) {
    SetLastError(Win32FromErrno(errno, folder));
    return INVALID_HANDLE_VALUE;
  }
  const dirent* entry = readdir(listing);
  while (entry && name != entry->d_name) entry = readdir(listing);
  if (!entry) {
    closedir(listing);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(folder, entry, data);
  auto find = std::make_shared<KernelObject>();
  find->kind = KernelObject::kFind;
  find->folder = folder;
  find->listing = listing;
  // Nothing more to yield: the search named one entry.
  while (readdir(listing)) {
  }
  return AddHandle(find);
}

}  // namespace
}  // namespace standin

using namespace standin;

// Opens an existing file or folder (a folder only with backup semantics),
// following links unless asked to open a link itself, as the one form that
// the product uses. Every handle it gives is for synchronous I/O.
extern "C" HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                                     DWORD flags, HANDLE) {
  const Call call("CreateFileW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  std::string hostPath;
  if (disposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (!Resolve(path, &hostPath)) return INVALID_HANDLE_VALUE;
  while (hostPath.size() > 1 && hostPath.back() == '/') hostPath.pop_back();
  const bool linkItself = flags & FILE_FLAG_OPEN_REPARSE_POINT;
  BreakOpportunisticLock(hostPath, !linkItself, access);
  const int fd = open(hostPath.c_str(), O_PATH | O_CLOEXEC | (linkItself ? O_NOFOLLOW : 0));
  if (fd < 0) {
    SetLastError(Win32FromErrno(errno, hostPath));
    return INVALID_HANDLE_VALUE;
  }
  const std::shared_ptr<KernelObject> file = NewFileObject(fd, access, linkItself, true);
  const EntryFacts facts = FactsOfObject(*file);
  if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  file->openedAs = Utf8(path);
  if (HitsLock(*file)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  return AddHandle(file);
}

// The path of what a handle has open, every link in it resolved; a link
// opened as itself keeps its own name. Only the DOS form ("\\?\C:\...",
// "\\?\UNC\server\share\...") is stood in for; an object outside the
// sandbox has none.
extern "C" DWORD WINAPI GetFinalPathNameByHandleW(HANDLE handle, LPWSTR path, DWORD chars, DWORD flags) {
  const Call call("GetFinalPathNameByHandleW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  auto file = FindHandle(handle, KernelObject::kFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (flags != (VOLUME_NAME_DOS | FILE_NAME_NORMALIZED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string host = HostPathOfDescriptor(file->fd);
  std::optional<std::string> windowsPath;
  if (file->linkItself) {
    const size_t slash = host.rfind('/');
    windowsPath = WindowsPathOfHost(host.substr(0, slash));
    if (windowsPath) *windowsPath += "\\" + host.substr(slash + 1);
  } else {
    windowsPath = WindowsPathOfHost(host);
  }
  if (!windowsPath) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  *windowsPath = PresentedFinalPath(file->openedAs, *windowsPath);
  const bool unc = windowsPath->rfind("\\\\", 0) == 0;
  const std::wstring final = WideFromUtf8(unc ? "\\\\?\\UNC\\" + windowsPath->substr(2) : "\\\\?\\" + *windowsPath);
  if (!path || chars <= final.size()) return static_cast<DWORD>(final.size() + 1);
  final.copy(path, final.size());
  path[final.size()] = 0;
  return static_cast<DWORD>(final.size());
}

// A file's names are its host hard links; a folder has one.
extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  const Call call("GetFileInformationByHandle");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  auto object = FindHandle(file, KernelObject::kFile);
  if (!object || !information) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const EntryFacts facts = FactsOfObject(*object);
  const bool folderOrLink = facts.link || S_ISDIR(facts.status.st_mode);
  const uint64_t size = folderOrLink ? 0 : static_cast<uint64_t>(facts.status.st_size);
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwFileAttributes = facts.attributes;
  information->nFileSizeLow = static_cast<DWORD>(size);
  information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  information->nNumberOfLinks = S_ISDIR(facts.status.st_mode) ? 1 : static_cast<DWORD>(facts.status.st_nlink);
  information->dwVolumeSerialNumber = static_cast<DWORD>(object->device);
  information->nFileIndexHigh = static_cast<DWORD>(object->inode >> 32);
  information->nFileIndexLow = static_cast<DWORD>(object->inode);
  return TRUE;
}

// The entry itself, not a link's target: a link is a reparse point, and a
// link to a folder also carries the folder attribute, as on Windows.
extern "C" DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
  const Call call("GetFileAttributesW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string hostPath;
  const std::optional<EntryFacts> facts = ResolveEntry(path, &hostPath);
  return facts ? facts->attributes : INVALID_FILE_ATTRIBUTES;
}

// Lists a folder with the pattern "<folder>\\*", or finds one entry by its
// name (a pattern without wildcards), which answers with the entry's name
// as the folder holds it. The entries "." and ".." are yielded as Windows
// yields them: for a folder below a root.
extern "C" HANDLE WINAPI FindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS, LPVOID data, FINDEX_SEARCH_OPS, LPVOID,
                                          DWORD) {
  const Call call("FindFirstFileExW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  std::wstring folder = pattern ? pattern : L"";
  if (folder.empty() || !data || folder.find(L'?', 4) != std::wstring::npos ||
      (folder.find(L'*') != std::wstring::npos &&
       (folder.size() < 2 || folder.back() != L'*' ||
        (folder[folder.size() - 2] != L'\\' && folder[folder.size() - 2] != L'/')))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool tooLong = TooLong(folder);
  if (folder.back() != L'*') return FindOneEntry(folder, static_cast<LPWIN32_FIND_DATAW>(data));
  folder.pop_back();
  std::string hostPath;
  if (tooLong) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!Resolve(folder.c_str(), &hostPath)) return INVALID_HANDLE_VALUE;
  DIR* listing = opendir(hostPath.c_str());
  if (!listing) {
    SetLastError(Win32FromErrno(errno, hostPath));
    return INVALID_HANDLE_VALUE;
  }
  // A volume's root has no "." and "..": an empty one lists nothing at all.
  const std::optional<WindowsPath> listed = ResolveWindowsPath(Utf8(folder));
  const bool root = listed && listed->components.empty();
  const dirent* entry = NextEntry(listing, root);
  if (!entry) {
    closedir(listing);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(hostPath, entry, static_cast<LPWIN32_FIND_DATAW>(data));
  auto find = std::make_shared<KernelObject>();
  find->kind = KernelObject::kFind;
  find->listing = listing;
  find->folder = hostPath;
  find->root = root;
  return AddHandle(find);
}

extern "C" BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  const Call call("FindNextFileW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  auto object = FindHandle(find, KernelObject::kFind);
  if (!object || !data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  errno = 0;
  const dirent* entry = NextEntry(object->listing, object->root);
  if (!entry) {
    SetLastError(errno ? Win32FromErrno(errno, object->folder) : ERROR_NO_MORE_FILES);
    return FALSE;
  }
  FillFindData(object->folder, entry, data);
  return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE find) {
  const Call call("FindClose");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  if (!FindHandle(find, KernelObject::kFind)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  RemoveHandle(find);
  return TRUE;
}
