// The target guard's decision made the plain way, on the platform the
// program runs on, for the guard to be held against: the machine's standard
// folders as the platform itself answers them (the known-folder calls, the
// environment, the registry's program-files values in both views,
// ProfileList and every folder in the profiles folder, each profile with the
// per-user folders at their places in it), each opened and its identity
// (volume serial number and file ID) taken, and the identity of every folder
// on the way to one, as spelled and where it really is.
//
// A target is refused when it is no full path below a drive's root, when
// what it leads to is a standard folder or a folder on the way to one, and,
// when it does not exist, when its spelling from the deepest folder of it
// that does is a standard folder's or holds one. A stream name is decided as
// the file it belongs to. Nothing of the guard's own code is used.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace quorvel::engine::identity {

struct Identity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator<(const Identity& other) const {
    return std::tie(volume, high, low) < std::tie(other.volume, other.high, other.low);
  }
};

// What the platform answers for a path that it opens: what the path leads to
// and the final path it gives for it.
struct Opened {
  Identity identity;
  std::wstring finalPath;
};
std::optional<Opened> open(const std::wstring& path);

enum class Verdict {
  kAllowed,
  kNoFolderPath,  // relative, a volume root, or not on a drive
  kIs,            // a standard folder
  kHolds,         // a folder on the way to one
};

struct Decision {
  Verdict verdict = Verdict::kAllowed;
  std::wstring folder;  // the standard folder it is or holds
};

class StandardFolders {
 public:
  // The folders as the platform answers them now.
  static StandardFolders gather();

  Decision decide(const std::wstring& target) const;
  size_t count() const { return folders_.size(); }

 private:
  void add(const std::wstring& folder);
  void addProfiles();
  // Records the folder's identity and those of the folders on its way.
  void index(const std::wstring& folder);
  void indexOnTheWay(const std::wstring& path, const std::wstring& folder);
  Decision decideBySpelling(const std::wstring& full) const;

  std::vector<std::wstring> folders_;  // full paths, as gathered
  std::map<Identity, std::wstring> is_;
  std::map<Identity, std::wstring> holds_;    // a folder on the way: the standard folder it holds
  std::map<Identity, std::wstring> spelled_;  // each of those: a full path that reaches it
};

}  // namespace quorvel::engine::identity
