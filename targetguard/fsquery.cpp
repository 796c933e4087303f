#include "targetguard/fsquery.h"

#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"
#include "targetguard/normalpath.h"
#include "targetguard/widepath.h"

namespace {

bool MeansNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_NETPATH ||
         error == ERROR_INVALID_NAME;
}

// Opens the object (no access asked, folders included, links followed) and
// reads its information. Answers the Win32 error, 0 on success.
DWORD QueryInformation(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* information) {
  const FileHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) return GetLastError();
  if (GetFileInformationByHandle(file.Get(), information)) return 0;
  return ErrorOrGeneralFailure(GetLastError());
}

}  // namespace

HRESULT AppendListingPattern(const WCHAR* folder, SIZE_T length, WideText* pattern) {
  HRESULT result = pattern->Append(folder, length);
  if (SUCCEEDED(result) && (length == 0 || (folder[length - 1] != L'\\' && folder[length - 1] != L'/'))) {
    result = pattern->Append(L'\\');
  }
  if (SUCCEEDED(result)) result = pattern->Append(L'*');
  return result;
}

bool IsDotEntry(const WCHAR* name) { return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])); }

HRESULT FsExists(const WCHAR* path, FsAnswer* answer) {
  // What opens, links followed, exists; nothing more needs reading.
  const FileHandle object(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const DWORD error = object.Get() == INVALID_HANDLE_VALUE ? ErrorOrGeneralFailure(GetLastError()) : 0;
  *answer = error ? FsAnswer{false, MeansNotThere(error) ? 0 : error} : FsAnswer{true, 0};
  return S_OK;
}

HRESULT FsIsEmpty(const WCHAR* path, FsAnswer* answer) {
  BY_HANDLE_FILE_INFORMATION information = {};
  const DWORD error = QueryInformation(path, &information);
  if (error) {
    *answer = {false, error};
    return S_OK;
  }
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *answer = {information.nFileSizeLow == 0 && information.nFileSizeHigh == 0, 0};
    return S_OK;
  }

  WideText pattern;
  const HRESULT result = AppendListingPattern(path, TextLength(path), &pattern);
  if (FAILED(result)) {
    LogErrorLine(result, "Failed to allocate the listing pattern of '%ls'", path);
    return result;
  }

  // Empty exactly when the listing opens and yields nothing but "." and "..";
  // a listing that fails says nothing about the folder, so it is not empty.
  WIN32_FIND_DATAW entry = {};
  const FolderListing listing(
      FindFirstFileExW(pattern.Get(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
  if (listing.Get() == INVALID_HANDLE_VALUE) {
    *answer = {false, ErrorOrGeneralFailure(GetLastError())};
    return S_OK;
  }
  *answer = {true, 0};
  for (;;) {
    if (!IsDotEntry(entry.cFileName)) {
      *answer = {false, 0};
      break;
    }
    if (!FindNextFileW(listing.Get(), &entry)) {
      const DWORD nextError = GetLastError();
      if (nextError != ERROR_NO_MORE_FILES) *answer = {false, ErrorOrGeneralFailure(nextError)};
      break;
    }
  }
  return S_OK;
}

namespace {

// A path of MAX_PATH characters or more reaches the file calls only in its
// verbatim form where long paths are not enabled, and so does a folder whose
// listing pattern (the folder, "\*") would be that long; a relative path is
// left as it is, to fail as the system fails it.
HRESULT ToLongPathForm(const char* path, WideText* widePath) {
  constexpr SIZE_T kListingSuffix = 2;
  if (widePath->Length() + kListingSuffix < MAX_PATH) return S_OK;
  WideText normal;
  PathForm form = PathForm::kRelative;
  HRESULT result = NormalisePath(widePath->Get(), &normal, &form);
  if (SUCCEEDED(result) && form == PathForm::kRelative) return S_OK;
  WideText verbatim;
  if (SUCCEEDED(result)) result = AppendVerbatimForm(normal.Get(), normal.Length(), &verbatim);
  if (SUCCEEDED(result)) result = widePath->Assign(verbatim.Get(), verbatim.Length());
  if (FAILED(result)) LogErrorLine(result, "Failed to form the long path of '%s'", path);
  return result;
}

}  // namespace

HRESULT QueryNarrowPath(const char* path, FsQuery query, FsAnswer* answer) {
  WideText widePath;
  HRESULT result = WidePathFromNarrow(path, NarrowPathCodePage(), MB_ERR_INVALID_CHARS, &widePath);
  if (SUCCEEDED(result)) result = ToLongPathForm(path, &widePath);
  if (FAILED(result)) return result;
  return query(widePath.Get(), answer);
}

HRESULT QueryExistence(const char* path, FsAnswer* exists) {
  const HRESULT result = QueryNarrowPath(path, FsExists, exists);
  if (FAILED(result)) return result;
  LogLine(kLogStandard, "isExist=%d  errorCode=%08x", exists->flag ? 1 : 0, static_cast<unsigned>(exists->error));
  return S_OK;
}
