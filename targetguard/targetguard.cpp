#include "targetguard/targetguard.h"

#include "runtime/handles.h"
#include "runtime/wcalog.h"
#include "targetguard/normalpath.h"
#include "targetguard/realpath.h"
#include "targetguard/standardfolders.h"
#include "targetguard/widepath.h"

namespace {

constexpr char kAdministrativeShare[] = "it is on an administrative share";

// What a decision weighs: the standard folders and the places below the
// profiles, or only those places.
enum class Scope { kEvery, kPlaces };

enum class Examination {
  kObject,  // what the path leads to on the file system
  kName,    // the path as a name only
};

// The standard folder a target is, or else the nearest one it holds: of
// every folder that qualifies, the one with the shortest name, the
// machine's own knowledge before a user's hive.
class Verdict {
 public:
  bool Found() const { return found_; }
  bool Holds() const { return holds_; }
  const WCHAR* Named() const { return named_.Get(); }
  // The SID of the user whose hive named the folder, or null.
  const WCHAR* User() const { return user_; }

  struct Part {
    const WCHAR* text;
    SIZE_T length;  // 0: no part
  };

  // Weighs the folder named by the parts, joined by backslashes.
  HRESULT Consider(bool holds, const Part (&parts)[3], const WCHAR* user = nullptr) {
    SIZE_T length = 0;
    for (const Part& part : parts) length += part.length ? part.length + 1 : 0;
    const bool shorter = named_.Length() + 1 > length || (named_.Length() + 1 == length && user_ && !user);
    if (found_ && (holds_ < holds || (holds_ == holds && !shorter))) return S_OK;
    user_ = user;
    named_.Truncate(0);
    HRESULT result = S_OK;
    for (const Part& part : parts) {
      if (SUCCEEDED(result) && part.length && named_.Length()) result = named_.Append(L'\\');
      if (SUCCEEDED(result)) result = named_.Append(part.text, part.length);
    }
    found_ = SUCCEEDED(result);
    holds_ = holds;
    return result;
  }
  HRESULT Consider(bool holds, const WCHAR* folder, const WCHAR* user) {
    return Consider(holds, {{folder, TextLength(folder)}, {}, {}}, user);
  }

 private:
  bool found_ = false;
  bool holds_ = false;
  const WCHAR* user_ = nullptr;
  WideText named_;
};

// One guarded call: the path as given, and the standard folders, gathered
// only when a decision needs them and then once for every reading.
class TargetGuard {
 public:
  TargetGuard(const char* path, Examination examination, GuardedTarget* passed)
      : path_(path),
        examination_(examination),
        passed_(passed),
        folders_(examination == Examination::kObject ? Comparison::kReal : Comparison::kSpelling) {}

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
    HRESULT result = NormalisePath(reading, &normal, &form);
    if (FAILED(result)) return Fail(result, "normalised path", "resolve the full path");
    if (form != PathForm::kBelowRoot) return Refuse("it is relative or a volume root");
    // Not a folder's name: a stream ("C:\Windows::$INDEX_ALLOCATION" is the folder itself).
    if (NamesStream(normal.Get(), normal.Length())) return Refuse("it names a stream");
    if (IsAdministrativeShare(normal.Get())) return Refuse(kAdministrativeShare);
    WideText spelled;
    DWORD unreadable = 0;
    result = AppendLongSpelling(normal.Get(), normal.Length(), &spelled, &unreadable);
    if (FAILED(result)) return Fail(result, "long spelling", "spell out the path");
    // A short name that cannot be spelled out could be any folder's.
    if (unreadable) return RefuseUnexamined(unreadable);
    if (examination_ == Examination::kName) return Decide(spelled.Get(), spelled.Length(), true, Scope::kEvery);
    // A place in a profile is one where it is spelled, whatever a link there leads to.
    result = Decide(spelled.Get(), spelled.Length(), false, Scope::kPlaces);
    if (result != S_OK) return result;

    RealWalk walk;
    result = realPaths_.Walk(spelled.Get(), spelled.Length(), LinkRule::kFollowTrusted, &walk);
    if (FAILED(result)) return Fail(result, "real path", "follow the path");
    switch (walk.end) {
      case WalkEnd::kUntrustedLink:
        return RefuseNaming("it runs through the link", spelled.Get(), walk.stoppedAt);
      case WalkEnd::kUnreadable:
        return RefuseUnexamined(walk.error);
      case WalkEnd::kAdministrativeShare:
        return Refuse(kAdministrativeShare);
      case WalkEnd::kAbsent:
      case WalkEnd::kWhole:
        break;
    }
    // A place is one where each link on the way was reached, too.
    for (SIZE_T link = 0; link < walk.linksAt.Count(); ++link) {
      WideText reached;
      result = reached.Append(walk.linksAt[link]);
      if (SUCCEEDED(result))
        result = reached.Append(spelled.Get() + walk.linkEnds[link], spelled.Length() - walk.linkEnds[link]);
      if (FAILED(result)) return Fail(result, "real path", "follow the path");
      result = Decide(reached.Get(), reached.Length(), false, Scope::kPlaces);
      if (result != S_OK) return result;
    }
    const bool mayBeProfile = walk.end == WalkEnd::kAbsent || (walk.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    result = Decide(walk.real.Get(), walk.real.Length(), mayBeProfile, Scope::kEvery);
    if (result != S_OK) return result;
    // What a drive letter, a share or a link reached by another path than
    // the standard folders' is seen by its identity.
    WideText rebased;
    result = RebaseOnIdentity(walk, &rebased);
    if (FAILED(result)) return Fail(result, "real path", "follow the path");
    if (rebased.Length()) {
      result = Decide(rebased.Get(), rebased.Length(), mayBeProfile, Scope::kEvery);
      if (result != S_OK) return result;
    }
    // The reading examined last is the file queries' own.
    result = passed_->normal.Assign(normal.Get(), normal.Length());
    passed_->identity = walk.entry;
    passed_->attributes = walk.end == WalkEnd::kWhole ? walk.attributes : INVALID_FILE_ATTRIBUTES;
    if (FAILED(result)) return Fail(result, "normalised path", "resolve the full path");
    return S_OK;
  }

  // The real path of the target from where the deepest folder on its way
  // that is, or leads to, a standard folder really is; nothing when that
  // folder's real path is the target's own.
  HRESULT RebaseOnIdentity(const RealWalk& walk, WideText* rebased) {
    for (SIZE_T step = walk.steps.Count(); step > 0; --step) {
      const WCHAR* path = nullptr;
      SIZE_T length = 0;
      const HRESULT found = folders_.Identities().Find(walk.steps[step - 1].identity, &path, &length);
      if (found != S_OK) {
        if (FAILED(found)) return found;
        continue;
      }
      const SIZE_T realEnd = walk.steps[step - 1].realEnd;
      if (RelatePaths(path, length, walk.real.Get(), realEnd) == PathRelation::kSame) return S_OK;
      HRESULT result = rebased->Append(path, length);
      if (SUCCEEDED(result)) result = rebased->Append(walk.real.Get() + realEnd, walk.real.Length() - realEnd);
      return result;
    }
    return S_OK;
  }

  // Decides by the standard folders for a path where the target really is,
  // or as it is spelled (kPlaces: by the profiles' spellings, for a name:
  // by every folder's). `mayBeProfile`: a folder, or nothing yet, which a
  // profile in the profiles folder could be.
  HRESULT Decide(const WCHAR* key, SIZE_T length, bool mayBeProfile, Scope scope) {
    HRESULT result = folders_.Gather(&realPaths_);
    if (FAILED(result)) return result;
    Verdict verdict;
    const FolderIndex& index = scope == Scope::kPlaces ? folders_.ProfilesAsSpelled() : folders_.Folders();
    if (scope == Scope::kEvery) {
      index.VisitFoldersAt(key, length, [&](SIZE_T folder) {
        result = verdict.Consider(false, folders_.Spelling(folder), folders_.User(folder));
        return SUCCEEDED(result);
      });
    }
    FolderIndex::Match match = {};
    if (SUCCEEDED(result) && scope == Scope::kEvery && !verdict.Found() && index.Find(key, length, &match)) {
      result = verdict.Consider(true, folders_.Spelling(match.folder), folders_.User(match.folder));
    }
    // Below a profile, the target's place there decides.
    for (SIZE_T end = NextComponentEnd(key, length, RootLength(key)); SUCCEEDED(result) && end && end < length;
         end = NextComponentEnd(key, length, end)) {
      index.VisitFoldersAt(key, end, [&](SIZE_T folder) {
        if (folders_.Kind(folder) == FolderKind::kProfile) {
          const Verdict::Part profile[] = {{folders_.Spelling(folder), TextLength(folders_.Spelling(folder))}, {}};
          result = ConsiderPlace(&verdict, profile, key + end + 1, length - end - 1);
        } else if (folders_.Kind(folder) == FolderKind::kProfilesFolder) {
          result = ConsiderProfilesFolderEntry(&verdict, folder, key, length, end, mayBeProfile);
        }
        return SUCCEEDED(result);
      });
    }
    if (FAILED(result)) return Fail(result, "name in the refusal", "name the refused folder");
    if (!verdict.Found()) return S_OK;
    const char* const relation = verdict.Holds() ? "it holds the standard folder" : "it is the standard folder";
    if (verdict.User()) {
      LogErrorLine(E_INVALIDARG, "Refusing path '%s': %s '%ls' (of the user %ls)", path_, relation, verdict.Named(),
                   verdict.User());
    } else {
      LogErrorLine(E_INVALIDARG, "Refusing path '%s': %s '%ls'", path_, relation, verdict.Named());
    }
    return E_INVALIDARG;
  }

  // The target lies in the profiles folder `folder` (which ends at `end`):
  // it is a profile there, or in one.
  HRESULT ConsiderProfilesFolderEntry(Verdict* verdict, SIZE_T folder, const WCHAR* key, SIZE_T length, SIZE_T end,
                                      bool mayBeProfile) {
    const SIZE_T nameEnd = NextComponentEnd(key, length, end);
    if (nameEnd == length && !mayBeProfile) return S_OK;
    WideText name;
    HRESULT result = AppendEntryName(key, end, nameEnd, &name);
    if (FAILED(result)) return result;
    const Verdict::Part profile[] = {{folders_.Spelling(folder), TextLength(folders_.Spelling(folder))},
                                     {name.Get(), name.Length()}};
    if (nameEnd == length) return verdict->Consider(false, {profile[0], profile[1], {}});
    return ConsiderPlace(verdict, profile, key + nameEnd + 1, length - nameEnd - 1);
  }

  // The name of the entry between `folderEnd` and `nameEnd` as its folder
  // holds it, or as spelled when there is none.
  static HRESULT AppendEntryName(const WCHAR* key, SIZE_T folderEnd, SIZE_T nameEnd, WideText* name) {
    const WCHAR* const spelled = key + folderEnd + 1;
    const SIZE_T spelledLength = nameEnd - folderEnd - 1;
    WideText entry;
    HRESULT result = AppendVerbatimForm(key, nameEnd, &entry);
    if (FAILED(result)) return result;
    WIN32_FIND_DATAW found = {};
    const FolderListing search(
        FindFirstFileExW(entry.Get(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (search.Get() == INVALID_HANDLE_VALUE) return name->Append(spelled, spelledLength);
    return name->Append(found.cFileName);
  }

  // The target is at `place` below a profile named by one or two parts: a
  // per-user folder there, or one that holds one.
  HRESULT ConsiderPlace(Verdict* verdict, const Verdict::Part (&profile)[2], const WCHAR* place, SIZE_T placeLength) {
    FolderIndex::Match match = {};
    if (!folders_.Places().Find(place, placeLength, &match)) return S_OK;
    const WCHAR* const perUser = folders_.Place(match.folder);
    return verdict->Consider(match.holds, {profile[0], profile[1], {perUser, TextLength(perUser)}});
  }

  // Conservatively: what cannot be seen cannot be shown to be safe.
  HRESULT RefuseUnexamined(DWORD error) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': it cannot be examined (error 0x%08x)", path_,
                 static_cast<unsigned>(error));
    return E_INVALIDARG;
  }

  HRESULT Refuse(const char* reason) {
    LogErrorLine(E_INVALIDARG, "Refusing path '%s': %s", path_, reason);
    return E_INVALIDARG;
  }

  // The refusal with the link named as the path spells it (the log writes
  // it in the ANSI code page).
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
  GuardedTarget* const passed_;  // for kObject
  RealPaths realPaths_;
  StandardFolders folders_;
};

}  // namespace

HRESULT RefuseUnsafeTarget(const char* path, GuardedTarget* passed) {
  if (!*path) return S_OK;
  return TargetGuard(path, Examination::kObject, passed).Examine();
}

HRESULT RefuseUnsafePrefix(const char* prefix) {
  if (!*prefix) return S_OK;
  return TargetGuard(prefix, Examination::kName, nullptr).Examine();
}
