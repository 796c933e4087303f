#include "targetguard/standardfolders.h"

#include <algorithm>

#include "runtime/handles.h"
#include "runtime/wcalog.h"
#include "targetguard/fsquery.h"
#include "targetguard/normalpath.h"
#include "targetguard/userhive.h"

namespace {

constexpr WCHAR kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr WCHAR kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr WCHAR kMachineShellFoldersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr WCHAR kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr WCHAR kUserProfile[] = L"%USERPROFILE%";

// The program-files folders as the registry names them (the shell's and the
// Installer's folders follow these; a service's environment is copied from
// them only when it starts).
constexpr const WCHAR* kProgramFilesValues[] = {
    L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"ProgramW6432Dir",
    L"CommonFilesDir",  L"CommonFilesDir (x86)",  L"CommonW6432Dir",
};

// Below the Windows folder.
constexpr const WCHAR* kWindowsFolders[] = {L"\\Fonts", L"\\Temp"};

// Machine folders that the environment names.
constexpr const WCHAR* kEnvironmentMachineFolders[] = {
    L"%ProgramFiles%",       L"%ProgramFiles(x86)%",       L"%ProgramW6432%",
    L"%CommonProgramFiles%", L"%CommonProgramFiles(x86)%", L"%CommonProgramW6432%",
    L"%ProgramData%",
};

// Standard folders that the environment names, and the common folders below
// ProgramData that the shell puts there unless the registry says otherwise.
constexpr const WCHAR* kEnvironmentFolders[] = {
    L"%ProgramData%\\Microsoft\\Windows\\Start Menu",
    L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs",
    L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
    L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
    L"%ProgramData%\\Microsoft\\Windows\\Templates",
    L"%PUBLIC%",
};

// The per-user folders that every profile has where its user has not moved
// them, at their default places below the profile.
constexpr const WCHAR* kDefaultPlaces[] = {
    L"AppData\\Roaming",
    L"AppData\\Local",
    L"AppData\\LocalLow",
    L"AppData\\Local\\Temp",
    L"AppData\\Local\\Microsoft\\Windows\\History",
    L"AppData\\Local\\Microsoft\\Windows\\INetCache",
    L"AppData\\Local\\Microsoft\\Windows\\INetCookies",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
    L"AppData\\Roaming\\Microsoft\\Windows\\Recent",
    L"AppData\\Roaming\\Microsoft\\Windows\\SendTo",
    L"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts",
    L"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts",
    L"AppData\\Roaming\\Microsoft\\Windows\\Templates",
    L"Contacts",
    L"Desktop",
    L"Documents",
    L"Downloads",
    L"Favorites",
    L"Links",
    L"Music",
    L"OneDrive",
    L"Pictures",
    L"Saved Games",
    L"Searches",
    L"Videos",
};

// Registry values that name folders are read into this many characters;
// a longer one names no folder that a path call could take.
constexpr DWORD kValueChars = 1024;

bool IsSeparator(WCHAR c) { return c == L'\\' || c == L'/'; }

// Reads a string value that names a folder, unexpanded; false when there is
// none that fits.
bool ReadFolderValue(HKEY key, const WCHAR* subKey, const WCHAR* name, WCHAR (&value)[kValueChars]) {
  DWORD bytes = sizeof value;
  return RegGetValueW(key, subKey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value, &bytes) ==
         ERROR_SUCCESS;
}

// Whether `text` begins with `prefix` (letter case aside).
bool BeginsWith(const WCHAR* text, const WCHAR* prefix) {
  const SIZE_T length = TextLength(prefix);
  for (SIZE_T i = 0; i < length; ++i) {
    if (!text[i]) return false;
  }
  return CompareStringOrdinal(text, static_cast<int>(length), prefix, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

}  // namespace

HRESULT StandardFolders::Gather(RealPaths* realPaths) {
  if (gathered_) return S_OK;
  gathered_ = true;
  HRESULT result = GatherMachineFolders();
  if (SUCCEEDED(result)) result = GatherProfileList();
  if (SUCCEEDED(result) && comparison_ == Comparison::kReal) result = GatherProfilesFolderLinks();
  if (SUCCEEDED(result)) result = GatherMachineShellFolders();
  for (const WCHAR* place : kDefaultPlaces) {
    if (SUCCEEDED(result)) result = places_.Append(place, TextLength(place));
  }
  // The machine's folders first: what a user's hive may claim depends on them.
  if (SUCCEEDED(result)) result = IndexFolders(realPaths);
  if (SUCCEEDED(result)) result = IndexPlaces();
  if (SUCCEEDED(result)) result = GatherLoadedHives(realPaths);
  folderIndex_.Seal();
  identityIndex_.Seal();
  if (FAILED(result)) LogErrorLine(result, "Failed to allocate the standard folder list");
  return result;
}

HRESULT StandardFolders::AddFolder(const WCHAR* spelling, FolderKind kind) {
  // Most profiles are named plainly in the profiles folder: known by their
  // place there, without the cost of resolving each name.
  if (kind == FolderKind::kProfile && NamedPlainlyInProfilesFolder(spelling)) return S_OK;
  WideText normal;
  PathForm form = PathForm::kRelative;
  HRESULT result = NormalisePath(spelling, &normal, &form);
  if (result == E_OUTOFMEMORY) return result;
  if (FAILED(result) || form != PathForm::kBelowRoot) return S_OK;
  // A profile in the profiles folder is known by its place there.
  if (kind == FolderKind::kProfile && InProfilesFolder(normal.Get(), normal.Length())) return S_OK;
  WideText spelled;
  // One the system spells in short names it cannot expand stays as it is.
  DWORD unreadable = 0;
  result = AppendLongSpelling(normal.Get(), normal.Length(), &spelled, &unreadable);
  if (FAILED(result)) return result;
  SIZE_T shown = TextLength(spelling);
  while (shown > 0 && IsSeparator(spelling[shown - 1])) --shown;
  return Keep(spelling, shown, spelled.Get(), spelled.Length(), kind);
}

HRESULT StandardFolders::Keep(const WCHAR* spelling, SIZE_T spellingLength, const WCHAR* normal, SIZE_T normalLength,
                              FolderKind kind) {
  HRESULT result = spellings_.Append(spelling, spellingLength);
  if (SUCCEEDED(result)) result = normals_.Append(normal, normalLength);
  if (SUCCEEDED(result)) result = kinds_.Append(kind);
  if (SUCCEEDED(result)) result = users_.Append(0);
  if (SUCCEEDED(result) && kind == FolderKind::kProfilesFolder && profilesFolder_ == static_cast<SIZE_T>(-1)) {
    profilesFolder_ = kinds_.Count() - 1;
  }
  return result;
}

HRESULT StandardFolders::AddExpandedFolder(const WCHAR* unexpanded, FolderKind kind) {
  bool variables = false;
  for (const WCHAR* c = unexpanded; *c && !variables; ++c) variables = *c == L'%';
  if (!variables) return AddFolder(unexpanded, kind);
  WideText expanded;
  const HRESULT result = ExpandMachineVariables(unexpanded, &expanded);
  // One that cannot be expanded is passed over.
  return result == S_OK ? AddFolder(expanded.Get(), kind) : (FAILED(result) ? result : S_OK);
}

bool StandardFolders::NamedPlainlyInProfilesFolder(const WCHAR* spelling) const {
  if (profilesFolder_ == static_cast<SIZE_T>(-1)) return false;
  const WCHAR* const profiles = normals_[profilesFolder_];
  const SIZE_T profilesLength = TextLength(profiles);
  for (SIZE_T i = 0; i <= profilesLength; ++i) {
    if (!spelling[i]) return false;
  }
  if (spelling[profilesLength] != L'\\') return false;
  // One name that the system would not change: no separator, no "." or
  // "..", no trailing period or space.
  const WCHAR* const name = spelling + profilesLength + 1;
  SIZE_T length = 0;
  for (; name[length]; ++length) {
    if (IsSeparator(name[length])) return false;
  }
  if (length == 0 || name[length - 1] == L'.' || name[length - 1] == L' ') return false;
  return CompareStringOrdinal(spelling, static_cast<int>(profilesLength), profiles, static_cast<int>(profilesLength),
                              TRUE) == CSTR_EQUAL;
}

bool StandardFolders::InProfilesFolder(const WCHAR* normal, SIZE_T length) const {
  if (profilesFolder_ == static_cast<SIZE_T>(-1)) return false;
  const WCHAR* const profiles = normals_[profilesFolder_];
  const SIZE_T profilesLength = TextLength(profiles);
  return RelatePaths(profiles, profilesLength, normal, length) == PathRelation::kHolds &&
         NextComponentEnd(normal, length, profilesLength) == length;
}

HRESULT StandardFolders::GatherMachineFolders() {
  WCHAR folder[MAX_PATH + 16];
  UINT chars = GetSystemWindowsDirectoryW(folder, MAX_PATH + 1);
  HRESULT result = S_OK;
  if (chars > 0 && chars <= MAX_PATH) {
    result = AddFolder(folder, FolderKind::kMachine);
    for (const WCHAR* below : kWindowsFolders) {
      const SIZE_T belowLength = TextLength(below);
      for (SIZE_T i = 0; i <= belowLength; ++i) folder[chars + i] = below[i];
      if (SUCCEEDED(result)) result = AddFolder(folder, FolderKind::kStandard);
    }
  }
  using SystemFolderCall = UINT(WINAPI*)(LPWSTR, UINT);
  for (SystemFolderCall call : {SystemFolderCall(GetSystemDirectoryW), SystemFolderCall(GetSystemWow64DirectoryW)}) {
    chars = call(folder, MAX_PATH + 1);
    if (SUCCEEDED(result) && chars > 0 && chars <= MAX_PATH) result = AddFolder(folder, FolderKind::kMachine);
  }
  if (SUCCEEDED(result)) result = GatherProgramFilesValues();
  for (const WCHAR* unexpanded : kEnvironmentMachineFolders) {
    if (SUCCEEDED(result)) result = AddExpandedFolder(unexpanded, FolderKind::kMachine);
  }
  for (const WCHAR* unexpanded : kEnvironmentFolders) {
    if (SUCCEEDED(result)) result = AddExpandedFolder(unexpanded, FolderKind::kStandard);
  }
  chars = GetTempPathW(MAX_PATH + 1, folder);
  if (SUCCEEDED(result) && chars > 0 && chars <= MAX_PATH) result = AddFolder(folder, FolderKind::kStandard);
  return result;
}

HRESULT StandardFolders::GatherProgramFilesValues() {
  HRESULT result = S_OK;
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE | view, key.Receive()) !=
        ERROR_SUCCESS) {
      continue;
    }
    WCHAR value[kValueChars];
    for (const WCHAR* name : kProgramFilesValues) {
      if (SUCCEEDED(result) && ReadFolderValue(key.Get(), nullptr, name, value)) {
        result = AddExpandedFolder(value, FolderKind::kMachine);
      }
    }
  }
  return result;
}

HRESULT StandardFolders::GatherProfileList() {
  RegistryKey list;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, list.Receive()) !=
      ERROR_SUCCESS) {
    return S_OK;
  }
  WCHAR value[kValueChars];
  HRESULT result = S_OK;
  // The profiles folder first, so that the profiles in it are known by their place.
  const struct {
    const WCHAR* name;
    FolderKind kind;
  } ownValues[] = {{L"ProfilesDirectory", FolderKind::kProfilesFolder},
                   {L"ProgramData", FolderKind::kStandard},
                   {L"Default", FolderKind::kProfile},
                   {L"Public", FolderKind::kProfile}};
  for (const auto& own : ownValues) {
    if (SUCCEEDED(result) && ReadFolderValue(list.Get(), nullptr, own.name, value)) {
      result = AddExpandedFolder(value, own.kind);
    }
  }
  WCHAR sid[256];
  for (DWORD index = 0; SUCCEEDED(result); ++index) {
    DWORD sidChars = ARRAYSIZE(sid);
    const LSTATUS enumerated = RegEnumKeyExW(list.Get(), index, sid, &sidChars, nullptr, nullptr, nullptr, nullptr);
    if (enumerated == ERROR_MORE_DATA) continue;
    if (enumerated != ERROR_SUCCESS) break;
    if (ReadFolderValue(list.Get(), sid, L"ProfileImagePath", value)) {
      result = AddExpandedFolder(value, FolderKind::kProfile);
    }
  }
  return result;
}

HRESULT StandardFolders::GatherProfilesFolderLinks() {
  if (profilesFolder_ == static_cast<SIZE_T>(-1)) return S_OK;
  const WCHAR* const profiles = normals_[profilesFolder_];
  WideText folder;
  WideText pattern;
  HRESULT result = AppendVerbatimForm(profiles, TextLength(profiles), &folder);
  if (SUCCEEDED(result)) result = AppendListingPattern(folder.Get(), folder.Length(), &pattern);
  if (FAILED(result)) return result;
  WIN32_FIND_DATAW entry = {};
  FolderListing listing(FindFirstFileExW(pattern.Get(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH));
  if (listing.Get() == INVALID_HANDLE_VALUE) return S_OK;
  const WCHAR* const spelling = spellings_[profilesFolder_];
  // A link in the profiles folder ("All Users", a profile moved to another
  // disk) makes what it leads to a profile; the folders in it are known by
  // their place and not gathered one by one.
  constexpr DWORD kFolderLink = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  do {
    if ((entry.dwFileAttributes & kFolderLink) != kFolderLink || IsDotEntry(entry.cFileName)) continue;
    // The entry's name as the folder holds it: the profiles folder's path
    // and the name make a normalised path already.
    WideText link;
    WideText normal;
    result = link.Append(spelling);
    if (SUCCEEDED(result)) result = link.Append(L'\\');
    if (SUCCEEDED(result)) result = link.Append(entry.cFileName);
    if (SUCCEEDED(result)) result = normal.Append(profiles);
    if (SUCCEEDED(result)) result = normal.Append(L'\\');
    if (SUCCEEDED(result)) result = normal.Append(entry.cFileName);
    if (SUCCEEDED(result))
      result = Keep(link.Get(), link.Length(), normal.Get(), normal.Length(), FolderKind::kProfile);
    if (FAILED(result)) return result;
  } while (FindNextFileW(listing.Get(), &entry));
  return S_OK;
}

HRESULT StandardFolders::GatherMachineShellFolders() {
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineShellFoldersKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
    return S_OK;
  }
  // The machine's own values: every one counts.
  return VisitStringValues(
      key.Get(),
      [](void* folders, const WCHAR*, const WCHAR* value) {
        return static_cast<StandardFolders*>(folders)->AddExpandedFolder(value, FolderKind::kStandard);
      },
      this);
}

HRESULT StandardFolders::GatherLoadedHives(RealPaths* realPaths) {
  HRESULT result = S_OK;
  WCHAR hive[256];
  for (DWORD index = 0; SUCCEEDED(result); ++index) {
    DWORD hiveChars = ARRAYSIZE(hive);
    const LSTATUS enumerated = RegEnumKeyExW(HKEY_USERS, index, hive, &hiveChars, nullptr, nullptr, nullptr, nullptr);
    if (enumerated == ERROR_MORE_DATA) continue;
    if (enumerated != ERROR_SUCCESS) break;
    // .DEFAULT is the local system account's hive again; a class hive names no folders.
    constexpr WCHAR kClasses[] = L"_Classes";
    constexpr SIZE_T kClassesLength = ARRAYSIZE(kClasses) - 1;
    if (CompareStringOrdinal(hive, -1, L".DEFAULT", -1, TRUE) == CSTR_EQUAL ||
        (hiveChars >= kClassesLength && BeginsWith(hive + hiveChars - kClassesLength, kClasses))) {
      continue;
    }
    result = GatherUserFolders(realPaths, hive);
  }
  return result;
}

namespace {

// What the values of one hive are gathered with.
struct HiveVisit {
  StandardFolders* folders;
  RealPaths* realPaths;
  UserVariables variables;
  SIZE_T user;
};

}  // namespace

HRESULT StandardFolders::GatherUserFolders(RealPaths* realPaths, const WCHAR* sid) {
  WideText subKey;
  HRESULT result = subKey.Append(sid);
  if (SUCCEEDED(result)) result = subKey.Append(L'\\');
  if (SUCCEEDED(result)) result = subKey.Append(kShellFoldersKey);
  if (FAILED(result)) return result;
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_USERS, subKey.Get(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) return S_OK;
  result = userSids_.Append(sid);
  if (FAILED(result)) return result;
  HiveVisit visit = {this, realPaths, UserVariables(userSids_[userSids_.Count() - 1]), userSids_.Count()};
  return VisitKnownFolderValues(
      key.Get(),
      [](void* context, const WCHAR*, const WCHAR* value) {
        HiveVisit& hive = *static_cast<HiveVisit*>(context);
        if (hive.folders->IsDefaultPlace(value)) return S_OK;
        WideText expanded;
        HRESULT expansion = hive.variables.Expand(value, &expanded);
        if (expansion != S_OK) return FAILED(expansion) ? expansion : S_OK;
        return hive.folders->AddUserFolder(hive.realPaths, expanded.Get(), hive.user);
      },
      &visit);
}

HRESULT StandardFolders::AddUserFolder(RealPaths* realPaths, const WCHAR* expanded, SIZE_T user) {
  WideText normal;
  PathForm form = PathForm::kRelative;
  HRESULT result = NormalisePath(expanded, &normal, &form);
  if (result == E_OUTOFMEMORY) return result;
  if (FAILED(result) || form != PathForm::kBelowRoot) return S_OK;
  WideText key;
  FileIdentity identity = {};
  bool exists = false;
  // A folder on a share is compared as spelled: no server is asked.
  if (comparison_ == Comparison::kSpelling || normal.Get()[0] == L'\\') {
    result = key.Assign(normal.Get(), normal.Length());
  } else {
    result = realPaths->Resolve(normal.Get(), normal.Length(), &key, &identity, &exists);
  }
  if (FAILED(result)) return result;
  // Inside a machine folder only what the user made is the user's.
  if (InMachineFolder(key.Get(), key.Length())) {
    WideText verbatim;
    result = AppendVerbatimForm(key.Get(), key.Length(), &verbatim);
    if (FAILED(result)) return result;
    if (!exists || !IsOwnedBy(verbatim.Get(), userSids_[user - 1])) return S_OK;
  }
  result = Keep(expanded, TextLength(expanded), normal.Get(), normal.Length(), FolderKind::kStandard);
  if (SUCCEEDED(result)) users_[users_.Count() - 1] = user;
  if (SUCCEEDED(result)) result = IndexKept(key.Get(), key.Length());
  if (SUCCEEDED(result) && exists) result = identityIndex_.Add(identity, keys_[keys_.Count() - 1], key.Length());
  return result;
}

bool StandardFolders::IsDefaultPlace(const WCHAR* value) const {
  constexpr SIZE_T kUserProfileLength = ARRAYSIZE(kUserProfile) - 1;
  if (!BeginsWith(value, kUserProfile) || value[kUserProfileLength] != L'\\') return false;
  const WCHAR* const place = value + kUserProfileLength + 1;
  FolderIndex::Match match = {};
  return placeIndex_.Find(place, TextLength(place), &match) && !match.holds;
}

bool StandardFolders::InMachineFolder(const WCHAR* key, SIZE_T length) const {
  for (const KeyRef& machine : machineKeys_) {
    if (RelatePaths(machine.key, machine.length, key, length) != PathRelation::kUnrelated) return true;
  }
  return false;
}

HRESULT StandardFolders::IndexFolders(RealPaths* realPaths) {
  const SIZE_T count = normals_.Count();
  HeapArray<SIZE_T> order;
  HRESULT result = order.Resize(count);
  if (FAILED(result)) return result;
  for (SIZE_T folder = 0; folder < count; ++folder) order[folder] = folder;
  // In the order of their spelling, folders that share leading components
  // are walked one after another, and those are looked at once.
  if (count > 0) {
    std::sort(order.Data(), order.Data() + count, [this](SIZE_T first, SIZE_T second) {
      return CompareStringOrdinal(normals_[first], -1, normals_[second], -1, TRUE) == CSTR_LESS_THAN;
    });
  }
  RealWalk walk;
  for (SIZE_T i = 0; SUCCEEDED(result) && i < count; ++i) {
    const SIZE_T folder = order[i];
    const WCHAR* key = normals_[folder];
    SIZE_T length = TextLength(key);
    // A folder on a share is compared as spelled: no server is asked.
    if (comparison_ == Comparison::kReal && key[0] != L'\\') {
      result = realPaths->Walk(key, length, LinkRule::kFollowEvery, &walk);
      if (SUCCEEDED(result)) result = keys_.Append(walk.real.Get(), walk.real.Length());
      if (FAILED(result)) break;
      key = keys_[keys_.Count() - 1];
      length = walk.real.Length();
      for (const WalkStep& step : walk.steps) {
        if (SUCCEEDED(result)) result = identityIndex_.Add(step.identity, key, step.realEnd);
      }
    }
    if (SUCCEEDED(result) && kinds_[folder] == FolderKind::kMachine) result = machineKeys_.Append(KeyRef{key, length});
    if (SUCCEEDED(result)) result = folderIndex_.Add(key, length, folder);
    if (SUCCEEDED(result) &&
        (kinds_[folder] == FolderKind::kProfile || kinds_[folder] == FolderKind::kProfilesFolder)) {
      result = spelledProfileIndex_.Add(normals_[folder], TextLength(normals_[folder]), folder);
    }
  }
  spelledProfileIndex_.Seal();
  return result;
}

HRESULT StandardFolders::IndexKept(const WCHAR* key, SIZE_T length) {
  HRESULT result = keys_.Append(key, length);
  if (SUCCEEDED(result)) result = folderIndex_.Add(keys_[keys_.Count() - 1], length, kinds_.Count() - 1);
  return result;
}

HRESULT StandardFolders::IndexPlaces() {
  HRESULT result = S_OK;
  for (SIZE_T place = 0; SUCCEEDED(result) && place < places_.Count(); ++place) {
    result = placeIndex_.Add(places_[place], TextLength(places_[place]), place);
  }
  placeIndex_.Seal();
  return result;
}
