#include "targetguard/standardfolders.h"

#include <algorithm>

#include "runtime/handles.h"
#include "runtime/wcalog.h"
#include "targetguard/fsquery.h"
#include "targetguard/normalpath.h"

namespace {

constexpr WCHAR kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr WCHAR kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr WCHAR kMachineShellFoldersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr WCHAR kUserProfile[] = L"%USERPROFILE%";

// Below the Windows folder.
constexpr const WCHAR* kWindowsFolders[] = {L"\\Fonts", L"\\Temp"};

// Machine folders that the environment names, and the common folders below
// ProgramData that the shell puts there unless the registry says otherwise.
constexpr const WCHAR* kEnvironmentFolders[] = {
    L"%ProgramFiles%",
    L"%ProgramFiles(x86)%",
    L"%CommonProgramFiles%",
    L"%CommonProgramFiles(x86)%",
    L"%ProgramData%",
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

// The end of the first component below the root: where ancestors that can
// hold a folder begin (a root holds everything and is refused by itself).
SIZE_T FirstComponentEnd(const WCHAR* normal, SIZE_T length) {
  const SIZE_T root = RootLength(normal);
  return root < length ? NextComponentEnd(normal, length, root) : length;
}

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
  if (SUCCEEDED(result)) result = GatherLoadedHives();
  for (const WCHAR* place : kDefaultPlaces) {
    if (SUCCEEDED(result)) result = AddPlace(place, TextLength(place));
  }
  if (SUCCEEDED(result)) result = IndexFolders(realPaths);
  if (SUCCEEDED(result)) result = IndexPlaces();
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
  DWORD room = MAX_PATH;
  for (;;) {
    WCHAR* buffer = nullptr;
    const HRESULT result = expanded.AppendRoom(room, &buffer);
    if (FAILED(result)) return result;
    const DWORD chars = ExpandEnvironmentStringsW(unexpanded, buffer, room + 1);
    if (chars == 0) return S_OK;  // cannot be expanded: passed over
    if (chars <= room + 1) {
      expanded.Truncate(chars - 1);
      break;
    }
    expanded.Truncate(0);
    room = chars - 1;
  }
  return AddFolder(expanded.Get(), kind);
}

HRESULT StandardFolders::AddPlace(const WCHAR* place, SIZE_T length) {
  WideText normal;
  HRESULT result = S_OK;
  for (SIZE_T at = 0; SUCCEEDED(result) && at < length;) {
    SIZE_T end = at;
    while (end < length && !IsSeparator(place[end])) ++end;
    const SIZE_T segment = end - at;
    if (segment == 2 && place[at] == L'.' && place[at + 1] == L'.') return S_OK;
    if (segment > 0 && !(segment == 1 && place[at] == L'.')) {
      if (normal.Length() > 0) result = normal.Append(L'\\');
      if (SUCCEEDED(result)) result = normal.Append(place + at, segment);
    }
    at = end + 1;
  }
  if (FAILED(result) || normal.Length() == 0) return result;
  return places_.Append(normal.Get(), normal.Length());
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
    result = AddFolder(folder, FolderKind::kStandard);
    for (const WCHAR* below : kWindowsFolders) {
      const SIZE_T belowLength = TextLength(below);
      for (SIZE_T i = 0; i <= belowLength; ++i) folder[chars + i] = below[i];
      if (SUCCEEDED(result)) result = AddFolder(folder, FolderKind::kStandard);
    }
  }
  using SystemFolderCall = UINT(WINAPI*)(LPWSTR, UINT);
  for (SystemFolderCall call : {SystemFolderCall(GetSystemDirectoryW), SystemFolderCall(GetSystemWow64DirectoryW)}) {
    chars = call(folder, MAX_PATH + 1);
    if (SUCCEEDED(result) && chars > 0 && chars <= MAX_PATH) result = AddFolder(folder, FolderKind::kStandard);
  }
  for (const WCHAR* unexpanded : kEnvironmentFolders) {
    if (SUCCEEDED(result)) result = AddExpandedFolder(unexpanded, FolderKind::kStandard);
  }
  chars = GetTempPathW(MAX_PATH + 1, folder);
  if (SUCCEEDED(result) && chars > 0 && chars <= MAX_PATH) result = AddFolder(folder, FolderKind::kStandard);
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

HRESULT StandardFolders::GatherLoadedHives() {
  HRESULT result = GatherShellFolders(HKEY_LOCAL_MACHINE, kMachineShellFoldersKey);
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
    WideText key;
    result = key.Append(hive, hiveChars);
    if (SUCCEEDED(result)) result = key.Append(L'\\');
    if (SUCCEEDED(result)) result = key.Append(kShellFoldersKey);
    if (SUCCEEDED(result)) result = GatherShellFolders(HKEY_USERS, key.Get());
  }
  return result;
}

HRESULT StandardFolders::GatherShellFolders(HKEY root, const WCHAR* subKey) {
  RegistryKey key;
  if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) return S_OK;
  WCHAR name[256];
  WCHAR value[kValueChars];
  constexpr SIZE_T kUserProfileLength = ARRAYSIZE(kUserProfile) - 1;
  HRESULT result = S_OK;
  for (DWORD index = 0; SUCCEEDED(result); ++index) {
    DWORD nameChars = ARRAYSIZE(name);
    DWORD type = REG_NONE;
    DWORD bytes = sizeof value - sizeof(WCHAR);
    const LSTATUS enumerated =
        RegEnumValueW(key.Get(), index, name, &nameChars, nullptr, &type, reinterpret_cast<LPBYTE>(value), &bytes);
    if (enumerated == ERROR_MORE_DATA) continue;
    if (enumerated != ERROR_SUCCESS) break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    const SIZE_T chars = bytes / sizeof(WCHAR);
    value[chars] = 0;
    // %USERPROFILE% is the profile of the hive's user, not the running
    // account's: such a folder is a place in every profile.
    if (BeginsWith(value, kUserProfile) && IsSeparator(value[kUserProfileLength])) {
      result = AddPlace(value + kUserProfileLength, TextLength(value + kUserProfileLength));
    } else {
      result = AddExpandedFolder(value, FolderKind::kStandard);
    }
  }
  return result;
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
    if (comparison_ == Comparison::kReal) {
      result = realPaths->Walk(key, length, LinkRule::kFollowEvery, &walk);
      if (SUCCEEDED(result)) result = keys_.Append(walk.real.Get(), walk.real.Length());
      if (FAILED(result)) break;
      key = keys_[keys_.Count() - 1];
      length = walk.real.Length();
    }
    result = folderIndex_.Add(key, length, FirstComponentEnd(key, length), folder);
  }
  folderIndex_.Seal();
  return result;
}

HRESULT StandardFolders::IndexPlaces() {
  HRESULT result = S_OK;
  for (SIZE_T place = 0; SUCCEEDED(result) && place < places_.Count(); ++place) {
    const WCHAR* const key = places_[place];
    const SIZE_T length = TextLength(key);
    SIZE_T first = 0;
    while (first < length && key[first] != L'\\') ++first;
    result = placeIndex_.Add(key, length, first, place);
  }
  placeIndex_.Seal();
  return result;
}
