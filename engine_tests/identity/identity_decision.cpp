#include "identity_decision.hpp"

#include "handles.hpp"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>

namespace quorvel::engine::identity {

namespace {

using authoring::FileHandle;
using authoring::RegKey;

constexpr const wchar_t* kCurrentVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const wchar_t* kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The machine's known folders, and the profile of the user running the program.
const KNOWNFOLDERID* const kMachineKnownFolders[] = {
    // The Windows, program-files and program-data folders.
    &FOLDERID_Windows, &FOLDERID_System, &FOLDERID_SystemX86, &FOLDERID_Fonts, &FOLDERID_ProgramFiles,
    &FOLDERID_ProgramFilesX64, &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesCommon, &FOLDERID_ProgramFilesCommonX64,
    &FOLDERID_ProgramFilesCommonX86, &FOLDERID_ProgramData,
    // The common shell folders and the profiles.
    &FOLDERID_CommonStartMenu, &FOLDERID_CommonPrograms, &FOLDERID_CommonStartup, &FOLDERID_CommonAdminTools,
    &FOLDERID_CommonTemplates, &FOLDERID_Public, &FOLDERID_PublicDocuments, &FOLDERID_PublicDesktop,
    &FOLDERID_UserProfiles, &FOLDERID_Profile};
// Each has its default place in every profile.
const KNOWNFOLDERID* const kUserKnownFolders[] = {
    &FOLDERID_RoamingAppData, &FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow, &FOLDERID_Desktop,
    &FOLDERID_Documents,      &FOLDERID_Downloads,    &FOLDERID_Music,           &FOLDERID_Pictures,
    &FOLDERID_Videos,         &FOLDERID_Favorites,    &FOLDERID_Links,           &FOLDERID_SavedGames,
    &FOLDERID_SavedSearches,  &FOLDERID_Contacts,     &FOLDERID_StartMenu,       &FOLDERID_Programs,
    &FOLDERID_Startup,        &FOLDERID_AdminTools,   &FOLDERID_Templates,       &FOLDERID_Recent,
    &FOLDERID_SendTo,         &FOLDERID_NetHood,      &FOLDERID_PrintHood,       &FOLDERID_History,
    &FOLDERID_InternetCache,  &FOLDERID_Cookies,
};

constexpr const wchar_t* kVariables[] = {
    // The machine's folders.
    L"SystemRoot", L"windir", L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"CommonProgramFiles",
    L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData", L"ALLUSERSPROFILE", L"PUBLIC",
    // The user's.
    L"USERPROFILE", L"APPDATA", L"LOCALAPPDATA", L"TEMP", L"TMP"};

// The program-files folders as the registry names them; the shell and the
// Installer follow these.
constexpr const wchar_t* kProgramFilesValues[] = {
    L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"ProgramW6432Dir",
    L"CommonFilesDir",  L"CommonFilesDir (x86)",  L"CommonW6432Dir",
};

std::wstring knownFolder(const KNOWNFOLDERID& id, DWORD flags) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, flags | KF_FLAG_DONT_VERIFY, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

std::wstring variable(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  const DWORD chars = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  value.resize(chars < value.size() ? chars : 0);
  return value;
}

std::wstring expanded(const std::wstring& text) {
  std::wstring value(ExpandEnvironmentStringsW(text.c_str(), nullptr, 0), L'\0');
  const DWORD chars = ExpandEnvironmentStringsW(text.c_str(), value.data(), static_cast<DWORD>(value.size()));
  value.resize(chars && chars <= value.size() ? chars - 1 : 0);
  return value;
}

// A string value, expanded; empty when there is none.
std::wstring registryString(HKEY key, const wchar_t* subKey, const wchar_t* name) {
  constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  DWORD bytes = 0;
  if (RegGetValueW(key, subKey, name, kFlags, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return L"";
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(key, subKey, name, kFlags, nullptr, value.data(), &bytes) != ERROR_SUCCESS) return L"";
  value.resize(wcslen(value.c_str()));
  return expanded(value);
}

bool same(const std::wstring& first, const std::wstring& second) {
  return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                              static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

// Whether `path` lies below `folder`.
bool below(const std::wstring& path, const std::wstring& folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' && same(path.substr(0, folder.size()), folder);
}

// Where the root of a full path ("C:" or "\\server\share") ends.
size_t rootEnd(const std::wstring& path) {
  if (path.rfind(L"\\\\", 0) != 0) return 2;
  const size_t share = path.find(L'\\', 2);
  return share == std::wstring::npos ? path.size() : std::min(path.find(L'\\', share + 1), path.size());
}

// The folders on the way to a full path, below its root.
std::vector<std::wstring> onTheWay(const std::wstring& path) {
  std::vector<std::wstring> folders;
  for (size_t end = path.find(L'\\', rootEnd(path) + 1); end != std::wstring::npos; end = path.find(L'\\', end + 1)) {
    folders.push_back(path.substr(0, end));
  }
  return folders;
}

// A stream name ("C:\Windows::$INDEX_ALLOCATION") opens the file it belongs
// to: each component without its stream part.
std::wstring withoutStreams(const std::wstring& path) {
  const bool drive = path.size() >= 2 && path[1] == L':';
  std::wstring file = path.substr(0, drive ? 2 : 0);
  bool inStream = false;
  for (size_t at = file.size(); at < path.size(); ++at) {
    const wchar_t c = path[at];
    if (c == L'\\' || c == L'/') inStream = false;
    inStream = inStream || c == L':';
    if (!inStream) file += c;
  }
  return file;
}

// The full path as the platform completes it (separators, dots, trailing
// dots); empty unless it lies below a drive's root.
std::wstring fullPath(const std::wstring& path) {
  const std::wstring file = withoutStreams(path);
  std::wstring full(MAX_PATH, L'\0');
  DWORD chars = GetFullPathNameW(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (chars >= full.size()) {
    full.resize(chars);
    chars = GetFullPathNameW(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  full.resize(chars < full.size() ? chars : 0);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  const bool onDrive = full.size() > 3 && iswalpha(full[0]) && full[1] == L':' && full[2] == L'\\';
  return onDrive ? full : L"";
}

template <typename Map>
const std::wstring* found(const Map& map, const Identity& identity) {
  const auto entry = map.find(identity);
  return entry == map.end() ? nullptr : &entry->second;
}

}  // namespace

std::optional<Opened> open(const std::wstring& path) {
  const FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file || !GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
  Opened opened;
  opened.identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  std::wstring final(GetFinalPathNameByHandleW(file.get(), nullptr, 0, 0), L'\0');
  const DWORD chars = GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()), 0);
  final.resize(chars < final.size() ? chars : 0);
  // Without "\\?\", a share as "\\server\share".
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) final = L"\\\\" + final.substr(8);
  if (final.rfind(L"\\\\?\\", 0) == 0) final = final.substr(4);
  opened.finalPath = final;
  return opened;
}

StandardFolders StandardFolders::gather() {
  StandardFolders folders;
  for (const KNOWNFOLDERID* id : kMachineKnownFolders) folders.add(knownFolder(*id, 0));
  for (const KNOWNFOLDERID* id : kUserKnownFolders) folders.add(knownFolder(*id, 0));
  for (const wchar_t* name : kVariables) folders.add(variable(name));
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
      continue;
    }
    for (const wchar_t* name : kProgramFilesValues) folders.add(registryString(key.get(), nullptr, name));
  }
  folders.addProfiles();
  return folders;
}

// ProfileList's folders and profiles, and every folder in the profiles
// folder; in each profile the per-user folders at the places where the
// user running the program has them by default.
void StandardFolders::addProfiles() {
  RegKey list;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, list.put()) !=
      ERROR_SUCCESS) {
    return;
  }
  const std::wstring profilesFolder = registryString(list.get(), nullptr, L"ProfilesDirectory");
  add(profilesFolder);
  add(registryString(list.get(), nullptr, L"ProgramData"));
  std::vector<std::wstring> profiles = {registryString(list.get(), nullptr, L"Default"),
                                        registryString(list.get(), nullptr, L"Public")};
  wchar_t sid[256];
  for (DWORD index = 0;; ++index) {
    DWORD chars = ARRAYSIZE(sid);
    if (RegEnumKeyExW(list.get(), index, sid, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    profiles.push_back(registryString(list.get(), sid, L"ProfileImagePath"));
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(profilesFolder, error)) {
    if (entry.is_directory(error)) profiles.push_back(entry.path().wstring());
  }
  const std::wstring ownProfile = fullPath(knownFolder(FOLDERID_Profile, 0));
  std::vector<std::wstring> places;
  for (const KNOWNFOLDERID* id : kUserKnownFolders) {
    const std::wstring folder = fullPath(knownFolder(*id, KF_FLAG_DEFAULT_PATH));
    if (!ownProfile.empty() && below(folder, ownProfile)) places.push_back(folder.substr(ownProfile.size() + 1));
  }
  for (const std::wstring& profile : profiles) {
    add(profile);
    for (const std::wstring& place : places) add(profile + L"\\" + place);
  }
}

void StandardFolders::add(const std::wstring& folder) {
  const std::wstring full = fullPath(folder);
  if (full.empty()) return;
  for (const std::wstring& known : folders_) {
    if (same(known, full)) return;
  }
  folders_.push_back(full);
  index(full);
}

void StandardFolders::index(const std::wstring& folder) {
  if (const std::optional<Opened> opened = open(folder)) {
    is_.emplace(opened->identity, folder);
    spelled_.emplace(opened->identity, folder);
    indexOnTheWay(opened->finalPath, folder);
  }
  indexOnTheWay(folder, folder);
}

void StandardFolders::indexOnTheWay(const std::wstring& path, const std::wstring& folder) {
  for (const std::wstring& step : onTheWay(path)) {
    if (const std::optional<Opened> opened = open(step)) {
      holds_.emplace(opened->identity, folder);
      spelled_.emplace(opened->identity, step);
    }
  }
}

Decision StandardFolders::decide(const std::wstring& target) const {
  const std::wstring full = fullPath(target);
  if (full.empty()) return {Verdict::kNoFolderPath, L""};
  const std::optional<Opened> opened = open(full);
  if (!opened) return decideBySpelling(full);
  if (const std::wstring* folder = found(is_, opened->identity)) return {Verdict::kIs, *folder};
  if (const std::wstring* folder = found(holds_, opened->identity)) return {Verdict::kHolds, *folder};
  return {};
}

// A target that does not exist is spelled from where the deepest folder of
// it that does is reached from a standard folder (or from its final path),
// and compared as spelled, as given too, with every standard folder.
Decision StandardFolders::decideBySpelling(const std::wstring& full) const {
  std::wstring where = full;
  const std::vector<std::wstring> steps = onTheWay(full);
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    const std::optional<Opened> opened = open(*step);
    if (!opened) continue;
    const std::wstring* spelled = found(spelled_, opened->identity);
    where = (spelled ? *spelled : opened->finalPath) + full.substr(step->size());
    break;
  }
  Decision decision;
  for (const std::wstring& folder : folders_) {
    if (same(folder, where) || same(folder, full)) return {Verdict::kIs, folder};
    if (decision.verdict == Verdict::kAllowed && (below(folder, where) || below(folder, full))) {
      decision = {Verdict::kHolds, folder};
    }
  }
  return decision;
}

}  // namespace quorvel::engine::identity
