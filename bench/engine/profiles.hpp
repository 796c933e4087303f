// More profiles than the benchmark's prefix has, as a terminal server or a
// lab machine holds them, and the reads of their lists that every guarded
// call makes: the floor of what grows with them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvel::bench {

// The profiles folder, as ProfileList's ProfilesDirectory names it, expanded;
// empty when it cannot be read.
std::string profilesFolder();

// Extra profiles in the profiles folder, each a folder with the usual
// per-user folders in it and, for a profile that is listed, a ProfileList
// entry naming it. Removed again when this goes, and at its start whatever
// an interrupted run left of up to `most`.
class ExtraProfiles {
 public:
  explicit ExtraProfiles(int most);
  ~ExtraProfiles();
  ExtraProfiles(const ExtraProfiles&) = delete;
  ExtraProfiles& operator=(const ExtraProfiles&) = delete;

  // Leaves exactly `count` extra profile folders on the machine, with a
  // ProfileList entry each when `listed` and none otherwise.
  bool layOut(int count, bool listed);

  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  int folders_;
  int listed_;
};

// What a standard user can write into the hive that every guarded call
// reads: `values` values in the current user's User Shell Folders, each
// naming a folder of the user's own `depth` folders below the profile (the
// folders made too), the known folders' names among them and other names
// for the rest. The values as they were come back when this goes.
class HostileHive {
 public:
  HostileHive(int values, int depth);
  ~HostileHive();
  HostileHive(const HostileHive&) = delete;
  HostileHive& operator=(const HostileHive&) = delete;
  bool laidOut() const { return laidOut_; }

 private:
  struct Saved {
    std::string name;
    std::string value;  // empty: there was none
    unsigned long type;
  };
  std::vector<Saved> saved_;
  std::string root_;
  bool laidOut_ = false;
};

struct ProfileLists {
  size_t folderEntries;   // in the profiles folder, "." and ".." aside
  size_t listedProfiles;  // ProfileList keys with a ProfileImagePath
};

// The guard's reads of the profiles' lists, made plainly: the profiles
// folder listed (FindFirstFileExW, FindNextFileW), and every ProfileList key
// enumerated with its ProfileImagePath read (RegEnumKeyExW, RegGetValueW).
ProfileLists readProfileLists(const std::string& profilesFolder);

}  // namespace quorvel::bench
