// File status, folder listings and removal over the sandbox, with host errno
// values reported as the Win32 codes that Windows gives in the same case.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <standin.h>

#include <cstring>

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
bool StatEntry(LPCWSTR path, std::string* hostPath, struct stat* status) {
  if (!Resolve(path, hostPath)) return false;
  if (lstat(hostPath->c_str(), status) == 0) return true;
  SetLastError(Win32FromErrno(errno, *hostPath));
  return false;
}

bool LinksToFolder(const std::string& hostPath) {
  struct stat target;
  return stat(hostPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
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
// point, with the folder attribute when it leads to a folder.
void FillFindData(DIR* listing, const std::string& folder, const dirent* entry, LPWIN32_FIND_DATAW data) {
  *data = WIN32_FIND_DATAW{};
  const std::wstring name = WideFromUtf8(entry->d_name);
  const size_t length = name.size() < MAX_PATH ? name.size() : MAX_PATH - 1;
  name.copy(data->cFileName, length);
  data->cFileName[length] = 0;
  struct stat status;
  if (fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    return;
  }
  if (S_ISLNK(status.st_mode)) {
    data->dwFileAttributes =
        FILE_ATTRIBUTE_REPARSE_POINT | (LinksToFolder(folder + "/" + entry->d_name) ? FILE_ATTRIBUTE_DIRECTORY : 0);
    return;
  }
  data->dwFileAttributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  data->nFileSizeLow = static_cast<DWORD>(status.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(status.st_size) >> 32);
}

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
  FillFindData(listing, folder, entry, data);
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
// the product uses.
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
  const bool linkItself = flags & FILE_FLAG_OPEN_REPARSE_POINT;
  struct stat status;
  if ((linkItself ? lstat(hostPath.c_str(), &status) : stat(hostPath.c_str(), &status)) != 0) {
    SetLastError(Win32FromErrno(errno, hostPath));
    return INVALID_HANDLE_VALUE;
  }
  const bool link = S_ISLNK(status.st_mode);
  const bool folder = link ? LinksToFolder(hostPath) : S_ISDIR(status.st_mode);
  if (folder && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::make_shared<KernelObject>();
  file->kind = KernelObject::kFile;
  file->attributes =
      (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL) | (link ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
  file->size = folder || link ? 0 : static_cast<uint64_t>(status.st_size);
  file->device = static_cast<uint64_t>(status.st_dev);
  file->inode = static_cast<uint64_t>(status.st_ino);
  file->access = access;
  file->hostPath = hostPath;
  file->openedAs = Utf8(path);
  file->linkItself = link;
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
  std::string host = file->hostPath;
  while (host.size() > 1 && host.back() == '/') host.pop_back();
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
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwFileAttributes = object->attributes;
  information->nFileSizeLow = static_cast<DWORD>(object->size);
  information->nFileSizeHigh = static_cast<DWORD>(object->size >> 32);
  information->nNumberOfLinks = 1;
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
  struct stat status;
  if (!StatEntry(path, &hostPath, &status)) return INVALID_FILE_ATTRIBUTES;
  if (S_ISLNK(status.st_mode)) {
    return FILE_ATTRIBUTE_REPARSE_POINT | (LinksToFolder(hostPath) ? FILE_ATTRIBUTE_DIRECTORY : 0);
  }
  return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
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
  FillFindData(listing, hostPath, entry, static_cast<LPWIN32_FIND_DATAW>(data));
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
  FillFindData(object->listing, object->folder, entry, data);
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

// Removes an empty folder, or a link to a folder itself.
extern "C" BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
  const Call call("RemoveDirectoryW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  std::string hostPath;
  struct stat status;
  if (!StatEntry(path, &hostPath, &status)) return FALSE;
  if (S_ISLNK(status.st_mode)) {
    if (!LinksToFolder(hostPath)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
    if (unlink(hostPath.c_str()) != 0) {
      SetLastError(Win32FromErrno(errno, hostPath));
      return FALSE;
    }
    return TRUE;
  }
  if (!S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  if (rmdir(hostPath.c_str()) != 0) {
    SetLastError(Win32FromErrno(errno, hostPath));
    return FALSE;
  }
  return TRUE;
}

// Deletes a file, or a link to a file itself; a folder is refused.
extern "C" BOOL WINAPI DeleteFileW(LPCWSTR path) {
  const Call call("DeleteFileW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  std::string hostPath;
  struct stat status;
  if (!StatEntry(path, &hostPath, &status)) return FALSE;
  if (S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(hostPath.c_str()) != 0) {
    SetLastError(Win32FromErrno(errno, hostPath));
    return FALSE;
  }
  return TRUE;
}
