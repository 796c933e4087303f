// The recording icacls double on PATH and a sandboxed file system, for the
// tests of the runner and of the two actions that run the tool.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support.h"

class ToolDouble {
 public:
  // Puts the double first on PATH and gives it a fresh record file under `folder`.
  explicit ToolDouble(const std::string& folder) : record_(folder + "/icacls-record.txt") {
    const char* path = getenv("PATH");
    setenv("PATH", (std::string(QUORVEL_DOUBLES_DIR) + ":" + (path ? path : "")).c_str(), 1);
    setenv("QUORVEL_ICACLS_RECORD", record_.c_str(), 1);
    unsetenv("QUORVEL_ICACLS_EXIT");
    unsetenv("QUORVEL_ICACLS_SLEEP_MS");
    unsetenv("QUORVEL_ICACLS_SANDBOX");
    unsetenv("QUORVEL_ICACLS_SWAP");
    std::ofstream truncate(record_, std::ios::trunc);
  }

  // "0", "1", "crash", ...
  void ExitWith(const std::string& code) { setenv("QUORVEL_ICACLS_EXIT", code.c_str(), 1); }
  void SleepFor(int milliseconds) { setenv("QUORVEL_ICACLS_SLEEP_MS", std::to_string(milliseconds).c_str(), 1); }
  // Grants as the tool does on the stand-in's sandbox (see Granted).
  void GrantIn(const std::string& sandbox) { setenv("QUORVEL_ICACLS_SANDBOX", sandbox.c_str(), 1); }
  // Once the tool has listed `folder`, a user renames it away and puts a
  // link to `target` in its place (Windows paths).
  void SwapAfterListing(const std::string& folder, const std::string& target) {
    setenv("QUORVEL_ICACLS_SWAP", (folder + "|" + target).c_str(), 1);
  }

  // Every object a grant reached, as a Windows path (a host path outside the
  // sandbox), in the order the tool reached them.
  std::vector<std::string> Granted() const {
    std::vector<std::string> granted;
    std::ifstream file(record_);
    std::string line;
    while (std::getline(file, line)) {
      if (line.rfind("granted=", 0) == 0) granted.push_back(line.substr(8));
    }
    return granted;
  }

  // The arguments of every run, in order (the program name left out).
  std::vector<std::vector<std::string>> Runs() const {
    std::vector<std::vector<std::string>> runs;
    std::ifstream file(record_);
    std::string line;
    int left = 0;
    while (std::getline(file, line)) {
      if (left == 0 && line.rfind("argc=", 0) == 0) {
        left = std::stoi(line.substr(5));
        runs.emplace_back();
      } else if (left > 0) {
        runs.back().push_back(line);
        --left;
      }
    }
    return runs;
  }

 private:
  std::string record_;
};

// A temporary host folder, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string folder = (std::filesystem::temp_directory_path() / "quorvel-tool-XXXXXX").string();
    if (mkdtemp(folder.data())) path_ = folder;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
