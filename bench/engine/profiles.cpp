#include "profiles.hpp"

#include "handles.hpp"
#include "machine.hpp"

#include <windows.h>

#include <cstdio>

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

}  // namespace quorvel::bench
