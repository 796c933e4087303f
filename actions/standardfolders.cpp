#include "actions/standardfolders.h"

#include <shlobj.h>
#include <userenv.h>

#include "actions/fsquery.h"
#include "actions/normalpath.h"
#include "runtime/handles.h"
#include "runtime/wcalog.h"

namespace {

// The folders of the Installer's standard folder properties, per-user form
// first where there are two, and the current profile.
constexpr int kShellFolders[] = {
    CSIDL_ADMINTOOLS,
    CSIDL_COMMON_ADMINTOOLS,        // AdminToolsFolder
    CSIDL_APPDATA,                  // AppDataFolder
    CSIDL_COMMON_APPDATA,           // CommonAppDataFolder
    CSIDL_PROGRAM_FILES_COMMONX86,  // CommonFilesFolder
    CSIDL_PROGRAM_FILES_COMMON,     // CommonFiles64Folder
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_DESKTOPDIRECTORY,  // DesktopFolder
    CSIDL_FAVORITES,
    CSIDL_COMMON_FAVORITES,  // FavoritesFolder
    CSIDL_FONTS,             // FontsFolder
    CSIDL_LOCAL_APPDATA,     // LocalAppDataFolder
    CSIDL_MYPICTURES,
    CSIDL_COMMON_PICTURES,  // MyPicturesFolder
    CSIDL_NETHOOD,          // NetHoodFolder
    CSIDL_PERSONAL,
    CSIDL_COMMON_DOCUMENTS,  // PersonalFolder
    CSIDL_PRINTHOOD,         // PrintHoodFolder
    CSIDL_PROGRAM_FILESX86,  // ProgramFilesFolder
    CSIDL_PROGRAM_FILES,     // ProgramFiles64Folder
    CSIDL_PROGRAMS,
    CSIDL_COMMON_PROGRAMS,  // ProgramMenuFolder
    CSIDL_RECENT,           // RecentFolder
    CSIDL_SENDTO,           // SendToFolder
    CSIDL_STARTMENU,
    CSIDL_COMMON_STARTMENU,  // StartMenuFolder
    CSIDL_STARTUP,
    CSIDL_COMMON_STARTUP,  // StartupFolder
    CSIDL_SYSTEMX86,       // SystemFolder
    CSIDL_SYSTEM,          // System64Folder
    CSIDL_TEMPLATES,
    CSIDL_COMMON_TEMPLATES,  // TemplateFolder
    CSIDL_WINDOWS,           // WindowsFolder
    CSIDL_PROFILE,
};

constexpr SIZE_T kNone = static_cast<SIZE_T>(-1);

bool SameIdentity(const FileIdentity& first, const FileIdentity& second) {
  return first.volume == second.volume && first.indexHigh == second.indexHigh && first.indexLow == second.indexLow;
}

}  // namespace

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

HRESULT StandardFolders::Gather() {
  if (gathered_) return S_OK;
  gathered_ = true;
  HRESULT result = S_OK;
  SIZE_T currentProfile = kNone;
  WCHAR buffer[MAX_PATH + 1];
  for (int csidl : kShellFolders) {
    buffer[0] = 0;
    // Folders that do not exist yet count too: a package can create them.
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, buffer)))
      continue;
    SIZE_T folder = kNone;
    result = Add(buffer, &folder);
    if (FAILED(result)) break;
    if (csidl == CSIDL_PROFILE) currentProfile = folder;
  }
  if (SUCCEEDED(result)) {
    const DWORD chars = GetTempPathW(MAX_PATH + 1, buffer);
    if (chars > 0 && chars <= MAX_PATH) result = Add(buffer, nullptr);
  }
  if (SUCCEEDED(result)) result = AddProfiles(currentProfile);
  if (FAILED(result)) LogErrorLine(result, "Failed to allocate the standard folder list");
  return result;
}

HRESULT StandardFolders::Add(const WCHAR* spelling, SIZE_T* folder) {
  WideText normal;
  PathForm form = PathForm::kRelative;
  HRESULT result = NormalisePath(spelling, &normal, &form);
  if (result == E_OUTOFMEMORY) return result;
  if (FAILED(result) || form != PathForm::kBelowRoot) return S_OK;
  WideText spelled;
  result = AppendLongSpelling(normal.Get(), normal.Length(), &spelled);
  if (FAILED(result)) return result;

  const SIZE_T known = FindSpelling(spelled.Get(), spelled.Length());
  if (known != kNone) {
    if (folder) *folder = known;
    return S_OK;
  }
  SIZE_T shown = TextLength(spelling);
  while (shown > 0 && (spelling[shown - 1] == L'\\' || spelling[shown - 1] == L'/')) --shown;
  result = spellings_.Append(spelling, shown);
  if (SUCCEEDED(result)) result = normals_.Append(spelled.Get(), spelled.Length());
  if (FAILED(result)) return result;
  if (folder) *folder = normals_.Count() - 1;
  return S_OK;
}

SIZE_T StandardFolders::FindSpelling(const WCHAR* normal, SIZE_T length) const {
  for (SIZE_T folder = 0; folder < normals_.Count(); ++folder) {
    if (RelatePaths(normal, length, normals_[folder], TextLength(normals_[folder])) == PathRelation::kSame) {
      return folder;
    }
  }
  return kNone;
}

HRESULT StandardFolders::AddProfiles(SIZE_T currentProfile) {
  WCHAR profiles[MAX_PATH];
  DWORD chars = MAX_PATH;
  if (!GetProfilesDirectoryW(profiles, &chars) || !profiles[0]) return S_OK;
  HRESULT result = Add(profiles, nullptr);
  if (FAILED(result)) return result;
  SIZE_T length = TextLength(profiles);
  while (length > 0 && profiles[length - 1] == L'\\') --length;

  // Links such as "All Users" and "Default User" are profiles too (what they
  // lead to holds what a profile holds), but come after the folders, so
  // that a folder reached both ways is named as itself.
  WideTextList folders;
  WideTextList links;
  result = ListProfiles(profiles, length, &folders, &links);
  // The per-user folders below the current profile, before any profile is added.
  const SIZE_T shellFolders = normals_.Count();
  const WideTextList* const inOrder[] = {&folders, &links};
  for (const WideTextList* names : inOrder) {
    for (SIZE_T i = 0; SUCCEEDED(result) && i < names->Count(); ++i) {
      WideText profile;
      result = profile.Append(profiles, length);
      if (SUCCEEDED(result)) result = profile.Append(L'\\');
      if (SUCCEEDED(result)) result = profile.Append((*names)[i]);
      SIZE_T folder = kNone;
      if (SUCCEEDED(result)) result = Add(profile.Get(), &folder);
      if (SUCCEEDED(result) && folder != kNone && folder != currentProfile && currentProfile != kNone) {
        result = AddRebased(currentProfile, folder, shellFolders);
      }
    }
  }
  return result;
}

HRESULT StandardFolders::ListProfiles(const WCHAR* profiles, SIZE_T length, WideTextList* folders,
                                      WideTextList* links) {
  WideText pattern;
  HRESULT result = AppendListingPattern(profiles, length, &pattern);
  if (FAILED(result)) return result;
  WIN32_FIND_DATAW entry = {};
  FolderListing listing(FindFirstFileExW(pattern.Get(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
  if (listing.Get() == INVALID_HANDLE_VALUE) return S_OK;
  do {
    if (IsDotEntry(entry.cFileName) || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    result = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? links->Append(entry.cFileName)
                                                                     : folders->Append(entry.cFileName);
    if (FAILED(result)) return result;
  } while (FindNextFileW(listing.Get(), &entry));
  return S_OK;
}

HRESULT StandardFolders::AddRebased(SIZE_T currentProfile, SIZE_T profile, SIZE_T shellFolders) {
  const WCHAR* const current = normals_[currentProfile];
  const SIZE_T currentLength = TextLength(current);
  for (SIZE_T folder = 0; folder < shellFolders; ++folder) {
    const WCHAR* const normal = normals_[folder];
    const SIZE_T length = TextLength(normal);
    if (RelatePaths(current, currentLength, normal, length) != PathRelation::kHolds) continue;
    WideText rebased;
    HRESULT result = rebased.Append(normals_[profile]);
    if (SUCCEEDED(result)) result = rebased.Append(normal + currentLength, length - currentLength);
    if (SUCCEEDED(result)) result = Add(rebased.Get(), nullptr);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

HRESULT StandardFolders::GatherIdentities() {
  if (identitiesGathered_) return S_OK;
  identitiesGathered_ = true;
  HRESULT result = S_OK;
  // The folders themselves first, so that "is" is found before "holds".
  for (SIZE_T folder = 0; SUCCEEDED(result) && folder < normals_.Count(); ++folder) {
    result = AddIdentity(normals_[folder], TextLength(normals_[folder]), folder, false);
  }
  for (SIZE_T folder = 0; SUCCEEDED(result) && folder < normals_.Count(); ++folder) {
    const WCHAR* const normal = normals_[folder];
    const SIZE_T length = TextLength(normal);
    for (SIZE_T end = NextComponentEnd(normal, length, RootLength(normal)); SUCCEEDED(result) && end < length;
         end = NextComponentEnd(normal, length, end)) {
      if (FindSpelling(normal, end) != kNone) continue;  // a folder itself, known already
      const SIZE_T nearest = NearestHeld(normal, end, folder);
      if (nearest != kNone) result = AddIdentity(normal, end, nearest, true);
    }
  }
  if (FAILED(result)) LogErrorLine(result, "Failed to allocate the standard folder identities");
  return result;
}

SIZE_T StandardFolders::NearestHeld(const WCHAR* normal, SIZE_T length, SIZE_T first) const {
  SIZE_T nearest = kNone;
  SIZE_T nearestLength = 0;
  for (SIZE_T folder = 0; folder < normals_.Count(); ++folder) {
    const SIZE_T folderLength = TextLength(normals_[folder]);
    if (RelatePaths(normal, length, normals_[folder], folderLength) != PathRelation::kHolds) continue;
    if (folder < first) return kNone;
    if (nearest == kNone || folderLength < nearestLength) {
      nearest = folder;
      nearestLength = folderLength;
    }
  }
  return nearest;
}

bool StandardFolders::FindByName(const WCHAR* spelled, SIZE_T length, SIZE_T* folder, bool* holds) const {
  const SIZE_T same = FindSpelling(spelled, length);
  if (same != kNone) {
    *folder = same;
    *holds = false;
    return true;
  }
  *folder = NearestHeld(spelled, length, 0);
  *holds = true;
  return *folder != kNone;
}

HRESULT StandardFolders::AddIdentity(const WCHAR* normal, SIZE_T length, SIZE_T folder, bool holds) {
  WideText verbatim;
  const HRESULT result = AppendVerbatimForm(normal, length, &verbatim);
  if (FAILED(result)) return result;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (FsQueryInformation(verbatim.Get(), 0, &information) != 0) return S_OK;
  return identities_.Append(KnownIdentity{IdentityOf(information), folder, holds});
}

bool StandardFolders::Find(const FileIdentity& identity, SIZE_T* folder, bool* holds) const {
  for (const KnownIdentity& known : identities_) {
    if (!SameIdentity(known.identity, identity)) continue;
    *folder = known.folder;
    *holds = known.holds;
    return true;
  }
  return false;
}
