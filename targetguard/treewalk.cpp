// The walk of a tree before a recursive grant: every folder listed once,
// links judged by who made them and never followed.
#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/wcalog.h"
#include "targetguard/fsquery.h"
#include "targetguard/linkowner.h"
#include "targetguard/normalpath.h"
#include "targetguard/targetguard.h"
#include "targetguard/widepath.h"

namespace {

class TreeWalk {
 public:
  explicit TreeWalk(const char* path) : path_(path) {}

  HRESULT Run() {
    WideText reading;
    WideText top;
    PathForm form = PathForm::kRelative;
    HRESULT result = WidePathFromNarrow(path_, CP_ACP, 0, &reading);
    if (FAILED(result)) return result;
    result = NormalisePath(reading.Get(), &top, &form);
    if (FAILED(result) && result != E_OUTOFMEMORY) {
      LogErrorLine(result, "Failed to resolve the full path of '%s'", path_);
      return result;
    }
    // The guard refuses what is not below a root before any walk.
    bool folder = false;
    if (SUCCEEDED(result) && form == PathForm::kBelowRoot) result = IsFolder(top, &folder);
    if (SUCCEEDED(result) && folder) result = pending_.Append(top.Get(), top.Length());
    // Breadth first: the folders still to list wait as paths, so that no
    // listing stays open while another is made, however deep the tree.
    for (SIZE_T next = 0; SUCCEEDED(result) && folder && next < pending_.Count(); ++next) {
      result = ListFolder(pending_[next]);
    }
    if (result == E_OUTOFMEMORY) LogErrorLine(result, "Failed to allocate the folders to walk of '%s'", path_);
    return result;
  }

 private:
  // Whether the top of the tree is a folder, or a link to one: a file has
  // nothing below it.
  HRESULT IsFolder(const WideText& top, bool* folder) {
    WideText verbatim;
    HRESULT result = AppendVerbatimForm(top.Get(), top.Length(), &verbatim);
    if (FAILED(result)) return result;
    // A link to a folder carries the folder attribute itself.
    const DWORD attributes = GetFileAttributesW(verbatim.Get());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      // Gone meanwhile: nothing left to grant on.
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? S_OK : RefuseUnexamined(error);
    }
    *folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return S_OK;
  }

  HRESULT ListFolder(const WCHAR* folder) {
    const SIZE_T length = TextLength(folder);
    WideText verbatim;
    WideText pattern;
    HRESULT result = AppendVerbatimForm(folder, length, &verbatim);
    if (SUCCEEDED(result)) result = AppendListingPattern(verbatim.Get(), verbatim.Length(), &pattern);
    if (FAILED(result)) return result;
    WIN32_FIND_DATAW entry = {};
    const FolderListing listing(FindFirstFileExW(pattern.Get(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                                 FIND_FIRST_EX_LARGE_FETCH));
    if (listing.Get() == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // A folder that went meanwhile has nothing left to grant on.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return S_OK;
      return RefuseUnexamined(error);
    }
    do {
      if (IsDotEntry(entry.cFileName)) continue;
      WideText below;
      result = below.Append(folder, length);
      if (SUCCEEDED(result)) result = below.Append(L'\\');
      if (SUCCEEDED(result)) result = below.Append(entry.cFileName);
      if (FAILED(result)) return result;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The tool changes a trusted link itself and does not go through it.
        result = JudgeLinkAt(below);
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        result = pending_.Append(below.Get(), below.Length());
      }
      if (FAILED(result)) return result;
    } while (FindNextFileW(listing.Get(), &entry));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? S_OK : RefuseUnexamined(error);
  }

  HRESULT JudgeLinkAt(const WideText& link) {
    WideText verbatim;
    const HRESULT result = AppendVerbatimForm(link.Get(), link.Length(), &verbatim);
    if (FAILED(result)) return result;
    return JudgeLink(verbatim.Get()) == LinkTrust::kTrusted ? S_OK : RefuseLink(link);
  }

  HRESULT RefuseLink(const WideText& link) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it holds the link '%ls'", path_, link.Get());
    return E_INVALIDARG;
  }

  HRESULT RefuseUnexamined(DWORD error) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it cannot be examined (error 0x%08x)", path_,
                 static_cast<unsigned>(ErrorOrGeneralFailure(error)));
    return E_INVALIDARG;
  }

  const char* const path_;
  WideTextList pending_;
};

}  // namespace

HRESULT RefuseUntrustedLinksInTree(const char* path) {
  if (!*path) return S_OK;
  return TreeWalk(path).Run();
}
