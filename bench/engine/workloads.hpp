// What each action of the engine benchmark works on: its argument, the
// machine state that gives it its work (put back before every call), and the
// part of the machine it changes, read back as text to compare two DLLs.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvel::bench {

struct Workload {
  std::string name;  // the action's, or the action's and its work's
  std::string action;
  std::string customActionData;
  std::function<bool()> prepare;
  std::function<std::string()> observe;
};

// The five actions where the demonstration product has them do their work:
// the SDK folder as the uninstallation leaves it (the product's cache), its
// registrations among many others', the data folder, the empty manufacturer
// folder; then the grant and RemoveFolder on trees of 100 folders and 1,000
// files and of 1,000 folders and 10,000 files, where the cost grows with the
// objects. `trashFolder` is the engine's desktop trash, where nothing deleted
// may land; it is emptied before every call.
std::vector<Workload> workloads(const std::string& trashFolder);

// RemoveFolder on the SDK folder holding one file, the call whose cost the
// profiles curve follows.
Workload oneFileFolderRemoval(const std::string& trashFolder);

}  // namespace quorvel::bench
