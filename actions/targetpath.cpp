#include "actions/targetpath.h"

#include "actions/fsquery.h"
#include "actions/normalpath.h"
#include "actions/standardfolders.h"
#include "actions/widepath.h"
#include "runtime/wcalog.h"

namespace {

enum class Examination {
  kObject,  // what the path leads to on the file system
  kName,    // the path as a name only
};

bool IsAdministrativeShare(const WCHAR* normal) {
  if (normal[0] != L'\\') return false;
  SIZE_T share = 2;
  while (normal[share] != L'\\') ++share;
  ++share;
  const SIZE_T length = RootLength(normal) - share;
  const WCHAR* const name = normal + share;
  if (length == 2 && name[1] == L'$') {
    return (name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z');
  }
  return length == 6 && CompareStringOrdinal(name, 6, L"ADMIN$", 6, TRUE) == CSTR_EQUAL;
}

// One guarded call: the path as given, and the standard folders, gathered
// only when a decision needs them and then once for every reading.
class TargetGuard {
 public:
  TargetGuard(const char* path, Examination examination) : path_(path), examination_(examination) {}

  HRESULT Examine() {
    // Text that is not valid in a code page is read with default characters
    // in it, as the narrow calls read it; the file queries refuse it on their
    // own, and a reading of it here only adds to what is checked.
    WideText ansiReading;
    HRESULT result = WidePathFromNarrow(path_, CP_ACP, 0, &ansiReading);
    if (SUCCEEDED(result)) result = ExamineReading(ansiReading.Get());
    // A registered name is read by the registry's A calls only.
    if (FAILED(result) || examination_ == Examination::kName) return result;
    const UINT fileCodePage = NarrowPathCodePage();
    if (fileCodePage == CP_ACP) return S_OK;
    WideText fileReading;
    result = WidePathFromNarrow(path_, fileCodePage, 0, &fileReading);
    if (FAILED(result)) return result;
    if (RelatePaths(fileReading.Get(), fileReading.Length(), ansiReading.Get(), ansiReading.Length()) ==
        PathRelation::kSame) {
      return S_OK;
    }
    return ExamineReading(fileReading.Get());
  }

 private:
  HRESULT ExamineReading(const WCHAR* reading) {
    WideText normal;
    PathForm form = PathForm::kRelative;
    const HRESULT result = NormalisePath(reading, &normal, &form);
    if (FAILED(result)) return Fail(result, "normalised path", "resolve the full path");
    if (form != PathForm::kBelowRoot) return Refuse("it is relative or a volume root");
    if (IsAdministrativeShare(normal.Get())) return Refuse("it is on an administrative share");
    if (examination_ == Examination::kName) return CompareSpelling(normal);
    return WalkExistingPart(normal);
  }

  // Opens every existing component from the root, links not followed; what
  // lies past the deepest one is decided by its spelling.
  HRESULT WalkExistingPart(const WideText& normal) {
    WideText verbatim;
    HRESULT result = AppendVerbatimForm(normal.Get(), normal.Length(), &verbatim);
    if (FAILED(result)) return Fail(result, "verbatim path", "form the verbatim path");
    // Each component is opened through the whole path cut after it.
    const SIZE_T shift = verbatim.Length() - normal.Length();
    for (SIZE_T end = NextComponentEnd(normal.Get(), normal.Length(), RootLength(normal.Get())); end;
         end = NextComponentEnd(normal.Get(), normal.Length(), end)) {
      const WCHAR cut = verbatim[shift + end];
      verbatim[shift + end] = 0;
      BY_HANDLE_FILE_INFORMATION information = {};
      const DWORD error = FsQueryInformation(verbatim.Get(), FILE_FLAG_OPEN_REPARSE_POINT, &information);
      verbatim[shift + end] = cut;
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return CompareSpelling(normal);
      if (error) {
        // Conservatively: what cannot be seen cannot be shown to be safe.
        LogErrorLine(E_INVALIDARG, "Refusing path '%s': it cannot be examined (error 0x%08x)", path_,
                     static_cast<unsigned>(error));
        return E_INVALIDARG;
      }
      if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return RefuseNaming("it runs through the link", normal.Get(), end);
      }
      if (end == normal.Length()) return CompareIdentity(IdentityOf(information));
    }
    return S_OK;
  }

  HRESULT CompareIdentity(const FileIdentity& identity) {
    HRESULT result = folders_.Gather();
    if (SUCCEEDED(result)) result = folders_.GatherIdentities();
    if (FAILED(result)) return result;
    SIZE_T folder = 0;
    bool holds = false;
    if (!folders_.Find(identity, &folder, &holds)) return S_OK;
    return RefuseForFolder(folder, holds);
  }

  HRESULT CompareSpelling(const WideText& normal) {
    HRESULT result = folders_.Gather();
    if (FAILED(result)) return result;
    WideText spelled;
    result = AppendLongSpelling(normal.Get(), normal.Length(), &spelled);
    if (FAILED(result)) return Fail(result, "long spelling", "spell out the path");
    SIZE_T folder = 0;
    bool holds = false;
    if (!folders_.FindByName(spelled.Get(), spelled.Length(), &folder, &holds)) return S_OK;
    return RefuseForFolder(folder, holds);
  }

  HRESULT RefuseForFolder(SIZE_T folder, bool holds) {
    const WCHAR* const spelling = folders_.Spelling(folder);
    return RefuseNaming(holds ? "it holds the standard folder" : "it is the standard folder", spelling,
                        TextLength(spelling));
  }

  HRESULT Refuse(const char* reason) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': %s", path_, reason);
    return E_INVALIDARG;
  }

  // The refusal with the folder or link named as the system spells it (the
  // log writes it in the ANSI code page).
  HRESULT RefuseNaming(const char* reason, const WCHAR* name, SIZE_T length) {
    WideText named;
    const HRESULT result = named.Append(name, length);
    if (FAILED(result)) return Fail(result, "name in the refusal", "name the refused folder");
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': %s '%ls'", path_, reason, named.Get());
    return E_INVALIDARG;
  }

  // A failure to examine the path; an allocation names what it was building.
  HRESULT Fail(HRESULT result, const char* building, const char* step) {
    if (result == E_OUTOFMEMORY) {
      LogErrorLine(result, "Failed to allocate the %s of '%s'", building, path_);
    } else {
      LogErrorLine(result, "Failed to %s of '%s'", step, path_);
    }
    return result;
  }

  const char* const path_;
  const Examination examination_;
  StandardFolders folders_;
};

}  // namespace

HRESULT RefuseUnsafeTarget(const char* path) {
  if (!*path) return S_OK;
  return TargetGuard(path, Examination::kObject).Examine();
}

HRESULT RefuseUnsafePrefix(const char* prefix) {
  if (!*prefix) return S_OK;
  return TargetGuard(prefix, Examination::kName).Examine();
}
