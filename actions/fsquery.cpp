#include "actions/fsquery.h"

#include "actions/widepath.h"
#include "runtime/handles.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"

namespace {

bool MeansNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_NETPATH ||
         error == ERROR_INVALID_NAME;
}

// The status of the object the path leads to, links followed: opening it
// (no access asked, folders included) resolves every link on the way.
DWORD QueryStatus(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* information) {
  const HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  const BOOL answered = GetFileInformationByHandle(file, information);
  const DWORD error = answered ? 0 : GetLastError();
  CloseHandle(file);
  // A failure that leaves no error behind must not read as success.
  return answered ? 0 : (error ? error : static_cast<DWORD>(ERROR_GEN_FAILURE));
}

bool IsDotEntry(const WCHAR* name) { return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])); }

}  // namespace

FsAnswer FsExists(const WCHAR* path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  const DWORD error = QueryStatus(path, &information);
  if (!error) return {true, 0};
  return {false, MeansNotThere(error) ? 0 : error};
}

FsAnswer FsIsEmpty(const WCHAR* path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  const DWORD error = QueryStatus(path, &information);
  if (error) return {false, error};
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {information.nFileSizeLow == 0 && information.nFileSizeHigh == 0, 0};
  }

  // The listing pattern: the folder, one separator, "*".
  size_t length = 0;
  while (path[length]) ++length;
  HeapWideString pattern;
  if (FAILED(WideStringAllocate(pattern.Receive(), length + 3, FALSE))) return {false, ERROR_NOT_ENOUGH_MEMORY};
  WCHAR* text = *pattern.Receive();
  for (size_t i = 0; i < length; ++i) text[i] = path[i];
  size_t end = length;
  if (end == 0 || (path[end - 1] != L'\\' && path[end - 1] != L'/')) text[end++] = L'\\';
  text[end++] = L'*';
  text[end] = 0;

  WIN32_FIND_DATAW entry = {};
  const HANDLE find = FindFirstFileExW(text, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD listingError = GetLastError();
    // No entry at all, not even "." (a volume root): empty.
    if (listingError == ERROR_FILE_NOT_FOUND) return {true, 0};
    return {false, listingError ? listingError : static_cast<DWORD>(ERROR_GEN_FAILURE)};
  }
  FsAnswer answer = {true, 0};
  for (;;) {
    if (!IsDotEntry(entry.cFileName)) {
      answer = {false, 0};
      break;
    }
    if (!FindNextFileW(find, &entry)) {
      const DWORD nextError = GetLastError();
      if (nextError != ERROR_NO_MORE_FILES)
        answer = {false, nextError ? nextError : static_cast<DWORD>(ERROR_GEN_FAILURE)};
      break;
    }
  }
  FindClose(find);
  return answer;
}

FsAnswer FsRemove(const WCHAR* path) {
  // The entry's own attributes: a link to a folder carries the folder
  // attribute and is removed as a folder, which removes the link only.
  const DWORD attributes = GetFileAttributesW(path);
  DWORD error = 0;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
  } else {
    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path) : DeleteFileW(path);
    if (removed) return {true, 0};
    error = GetLastError();
  }
  if (!error) error = ERROR_GEN_FAILURE;
  return {false, MeansNotThere(error) ? 0 : error};
}

HRESULT QueryNarrowPath(const char* path, FsQuery query, FsAnswer* answer) {
  HeapWideString widePath;
  const HRESULT result = WidePathFromNarrow(path, &widePath);
  if (FAILED(result)) return result;
  *answer = query(widePath.Get());
  return S_OK;
}

HRESULT QueryExistence(const char* path, FsAnswer* exists) {
  const HRESULT result = QueryNarrowPath(path, FsExists, exists);
  if (FAILED(result)) return result;
  LogLine(kLogStandard, "isExist=%d  errorCode=%08x", exists->flag ? 1 : 0, static_cast<unsigned>(exists->error));
  return S_OK;
}
