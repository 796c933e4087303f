#include "profiles.hpp"

#include "handles.hpp"
#include "machine.hpp"

#include <windows.h>

#include <cstdio>
#include <iterator>

namespace quorvel::bench {

namespace {

namespace authoring = quorvel::authoring;
namespace machine = quorvel::authoring::machine;

// What a profile holds once its user has signed in.
constexpr const char* kPerUserFolders[] = {
    "AppData\\Roaming",
    "AppData\\Local\\Temp",
    "AppData\\LocalLow",
    "Contacts",
    "Desktop",
    "Documents",
    "Downloads",
    "Favorites",
    "Links",
    "Music",
    "Pictures",
    "Saved Games",
    "Searches",
    "Videos",
};

std::string profileName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "bench-user-%04d", index);
  return name;
}

// A domain account's SID, one per profile.
std::string profileListEntry(int index) {
  return std::string(authoring::kProfileListKey) + "\\S-1-5-21-1004336348-1177238915-682003330-" +
         std::to_string(5000 + index);
}

}  // namespace

std::string profilesFolder() {
  char unexpanded[MAX_PATH] = {};
  DWORD bytes = sizeof unexpanded;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, authoring::kProfileListKey, "ProfilesDirectory",
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, unexpanded, &bytes) != ERROR_SUCCESS) {
    return "";
  }
  char expanded[MAX_PATH] = {};
  const DWORD chars = ExpandEnvironmentStringsA(unexpanded, expanded, MAX_PATH);
  return chars > 0 && chars <= MAX_PATH ? expanded : "";
}

ExtraProfiles::ExtraProfiles(int most) : folder_(profilesFolder()), folders_(most), listed_(most) { layOut(0, false); }

ExtraProfiles::~ExtraProfiles() { layOut(0, false); }

bool ExtraProfiles::layOut(int count, bool listed) {
  if (folder_.empty()) return false;
  const int entries = listed ? count : 0;
  for (; listed_ > entries; --listed_) machine::deleteKeyTree(profileListEntry(listed_ - 1));
  for (; folders_ > count; --folders_) machine::removeTree(folder_ + "\\" + profileName(folders_ - 1));
  for (; folders_ < count; ++folders_) {
    const std::string profile = folder_ + "\\" + profileName(folders_);
    for (const char* below : kPerUserFolders) {
      if (!machine::createFolders(profile + "\\" + below)) return false;
    }
  }
  for (; listed_ < entries; ++listed_) {
    const std::string entry = profileListEntry(listed_);
    if (!machine::createKey(entry) ||
        !machine::setString(entry, "ProfileImagePath", folder_ + "\\" + profileName(listed_))) {
      return false;
    }
  }
  return true;
}

ProfileLists readProfileLists(const std::string& profilesFolder) {
  ProfileLists lists = {0, 0};
  WCHAR pattern[MAX_PATH + 8];
  std::swprintf(pattern, MAX_PATH + 8, L"\\\\?\\%hs\\*", profilesFolder.c_str());
  WIN32_FIND_DATAW entry = {};
  const HANDLE listing =
      FindFirstFileExW(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      const bool dot =
          entry.cFileName[0] == L'.' && (!entry.cFileName[1] || (entry.cFileName[1] == L'.' && !entry.cFileName[2]));
      if (!dot) ++lists.folderEntries;
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
  }

  authoring::RegKey list;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                    KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, list.put()) != ERROR_SUCCESS) {
    return lists;
  }
  WCHAR sid[256];
  WCHAR image[1024];
  for (DWORD index = 0;; ++index) {
    DWORD sidChars = ARRAYSIZE(sid);
    if (RegEnumKeyExW(list.get(), index, sid, &sidChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DWORD bytes = sizeof image;
    if (RegGetValueW(list.get(), sid, L"ProfileImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                     image, &bytes) == ERROR_SUCCESS) {
      ++lists.listedProfiles;
    }
  }
  return lists;
}

namespace {

constexpr const char* kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The names that Windows gives known folders there: those a hostile hive
// uses first, so that as many of its values as can be count.
constexpr const char* kKnownFolderNames[] = {"Administrative Tools",
                                             "AppData",
                                             "Cache",
                                             "CD Burning",
                                             "Cookies",
                                             "Desktop",
                                             "Favorites",
                                             "Fonts",
                                             "History",
                                             "Local AppData",
                                             "My Music",
                                             "My Pictures",
                                             "My Video",
                                             "NetHood",
                                             "Personal",
                                             "PrintHood",
                                             "Programs",
                                             "Recent",
                                             "SendTo",
                                             "Start Menu",
                                             "Startup",
                                             "Templates",
                                             "{374DE290-123F-4565-9164-39C4925E467B}",
                                             "{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}",
                                             "{56784854-C6CB-462B-8169-88E350ACB882}",
                                             "{7D1D3A04-DEBB-4115-95CF-2F29DA2920DA}",
                                             "{A520A1A4-1780-4FF6-BD18-167343C5AF16}",
                                             "{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}"};

}  // namespace

HostileHive::HostileHive(int values, int depth) {
  char profile[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH)) return;
  root_ = std::string(profile) + "\\quorvel-hostile";
  std::string chain = root_;
  for (int level = 1; level < depth; ++level) chain += "\\d" + std::to_string(level);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  laidOut_ = true;
  for (int i = 0; i < values && laidOut_; ++i) {
    const std::string name =
        i < static_cast<int>(std::size(kKnownFolderNames)) ? kKnownFolderNames[i] : "Hostile " + std::to_string(i);
    Saved saved = {name, "", REG_NONE};
    char value[2048] = {};
    DWORD bytes = sizeof value - 1;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &saved.type, reinterpret_cast<BYTE*>(value), &bytes) ==
        ERROR_SUCCESS) {
      saved.value = value;
    }
    saved_.push_back(saved);
    // A folder of the user's own, `depth` folders below the profile.
    const std::string folder = chain + "\\leaf" + std::to_string(i);
    const std::string spelled = "%USERPROFILE%" + folder.substr(std::string(profile).size());
    laidOut_ = machine::createFolders(folder) &&
               RegSetValueExA(key, name.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(spelled.c_str()),
                              static_cast<DWORD>(spelled.size() + 1)) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
}

HostileHive::~HostileHive() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    for (const Saved& saved : saved_) {
      if (saved.type == REG_NONE) {
        RegDeleteValueA(key, saved.name.c_str());
      } else {
        RegSetValueExA(key, saved.name.c_str(), 0, saved.type, reinterpret_cast<const BYTE*>(saved.value.c_str()),
                       static_cast<DWORD>(saved.value.size() + 1));
      }
    }
    RegCloseKey(key);
  }
  if (!root_.empty()) machine::removeTree(root_);
}

}  // namespace quorvel::bench
