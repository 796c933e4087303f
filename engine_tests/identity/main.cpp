// Holds the target guard against a decision by identity
// (identity_decision.hpp) on the platform the program runs on: under wine,
// wine's own file system and registry, whose answers the host tests'
// stand-in can only imitate. Both decide in this one process: the guard
// from its own sources, linked in, without an Installer session (its
// refusals write no line; its answers are compared).
//
//   guard_identity.exe
//
// Expects the drives that engine_tests/run.sh maps: W: onto the Windows
// folder, U: onto the profiles folder. For the run, the registry's 64-bit
// CommonFilesDir and 32-bit ProgramFilesDir name folders below
// C:\quorvel-identity (made if missing) and are put back afterwards. Only
// decides: deletes and grants nothing. Prints one line per target and closes
// with "N passed, N failed"; exits 1 when the guard or the decision by
// identity answers a target otherwise than the table expects.

#include "ansi_text.hpp"
#include "identity_decision.hpp"
#include "machine.hpp"
#include "shell_folders.hpp"
#include "targetguard/targetguard.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace quorvel::engine;
using namespace quorvel::engine::identity;
using quorvel::authoring::ansi;
using quorvel::authoring::wide;

namespace {

const std::string kScratch = "C:\\quorvel-identity";
const std::string kMovedCommonFiles = kScratch + "\\Common Files Moved";
const std::string kMovedPrograms = kScratch + "\\Programs x86 Moved";

struct Target {
  std::string path;  // in the ANSI code page, as the actions get it
  bool refused;      // what the guard and the decision by identity must both answer
};

// The targets, spelled as the platform names its folders, before any is
// moved in the registry.
std::vector<Target> targets() {
  const std::string windows = shell::folder(CSIDL_WINDOWS);
  const std::string system = shell::folder(CSIDL_SYSTEM);
  const std::string appData = shell::folder(CSIDL_APPDATA);
  const std::string programData = shell::folder(CSIDL_COMMON_APPDATA);
  const std::string commonFiles = shell::folder(CSIDL_PROGRAM_FILES_COMMON);
  const std::string profile = shell::folder(CSIDL_PROFILE);
  const std::string onWindows = shell::kDriveOntoWindows;
  const std::string onProfiles = shell::kDriveOntoProfiles;
  const std::string ownProfile = onProfiles + profile.substr(std::min(profile.rfind('\\'), profile.size()));
  std::vector<Target> table = {
      // The Windows folder and its system folder, by their paths, trailing
      // dots, stream names and a drive mapped onto them.
      {windows, true},
      {system, true},
      {windows + ".", true},
      {system + "..", true},
      {windows + "::$INDEX_ALLOCATION", true},
      {windows + ":$I30:$INDEX_ALLOCATION", true},
      {onWindows + "\\", true},
      {onWindows + "\\system32", true},
      {onWindows + "\\SYSTEM32\\", true},
      {onWindows + "\\Fonts", true},
      {onWindows + "\\Fonts.", true},
      {onWindows + "\\Fonts\\..\\system32", true},
      {onWindows + "\\system32::$INDEX_ALLOCATION", true},
      {onWindows + "\\system32\\Vendor", false},
      // The profiles, by a drive mapped onto the profiles folder.
      {onProfiles + "\\Public", true},
      {onProfiles + "\\Public.", true},
      {ownProfile, true},
      {ownProfile + "\\AppData", true},
      {ownProfile + "\\AppData\\Roaming", true},
      {ownProfile + "\\AppData\\Roaming\\Vendor", false},
      {onProfiles + "\\Public\\Documents\\Vendor", false},
      // Program-files folders where the registry moves them, and where they were.
      {kMovedCommonFiles, true},
      {kMovedPrograms, true},
      {kScratch, true},
      {shell::shortPath(kMovedCommonFiles), true},
      {kMovedCommonFiles + "\\Vendor", false},
      {shell::shortPath(kMovedCommonFiles) + "\\Vendor", false},
      {commonFiles, true},
      {shell::shortPath(commonFiles), true},
      {commonFiles + "\\Vendor", false},
      // Package folders.
      {shell::shortPath(programData), true},
      {programData + "\\Vendor", false},
      {appData + "\\Vendor", false},
  };
  // The system folder through the drive that holds the whole host.
  if (const char* prefix = std::getenv("WINEPREFIX")) {
    std::string onHost = "Z:" + std::string(prefix) + "\\drive_c" + system.substr(2);
    std::replace(onHost.begin(), onHost.end(), '/', '\\');
    table.push_back({onHost, true});
  }
  return table;
}

std::string guardAnswer(HRESULT answer) {
  if (answer == S_OK) return "allowed";
  if (answer == E_INVALIDARG) return "refused";
  char failed[32];
  std::snprintf(failed, sizeof failed, "failed 0x%08lx", static_cast<unsigned long>(answer));
  return failed;
}

std::string identityAnswer(const Decision& decision) {
  switch (decision.verdict) {
    case Verdict::kAllowed:
      return "allowed";
    case Verdict::kNoFolderPath:
      return "refused (no folder path)";
    case Verdict::kIs:
      return "refused (is '" + ansi(decision.folder) + "')";
    case Verdict::kHolds:
      return "refused (holds '" + ansi(decision.folder) + "')";
  }
  return "";
}

// What the platform answers for the target: its final path and identity.
std::string platformAnswer(const std::string& path) {
  const std::optional<Opened> opened = open(wide(path));
  if (!opened) return "absent";
  char identity[40];
  std::snprintf(identity, sizeof identity, "%08lx:%08lx:%08lx", opened->identity.volume, opened->identity.high,
                opened->identity.low);
  return ansi(opened->finalPath) + " " + identity;
}

// Decides a target both ways; true when both answer what the table expects.
bool check(const StandardFolders& folders, const Target& target) {
  GuardedTarget passed;
  const HRESULT guard = RefuseUnsafeTarget(target.path.c_str(), &passed);
  const Decision decision = folders.decide(wide(target.path));
  const bool agreed =
      guard == (target.refused ? E_INVALIDARG : S_OK) && (decision.verdict != Verdict::kAllowed) == target.refused;
  std::printf("%s %s | expected %s | guard %s | identity %s | platform %s\n", agreed ? "ok  " : "FAIL",
              target.path.c_str(), target.refused ? "refused" : "allowed", guardAnswer(guard).c_str(),
              identityAnswer(decision).c_str(), platformAnswer(target.path).c_str());
  return agreed;
}

}  // namespace

int main() {
  if (!quorvel::authoring::machine::createFolders(kMovedCommonFiles + "\\Vendor") ||
      !quorvel::authoring::machine::createFolders(kMovedPrograms)) {
    std::printf("FAIL setup: cannot make the scratch folders below %s\n0 passed, 1 failed\n", kScratch.c_str());
    return 1;
  }
  const std::vector<Target> table = targets();
  const shell::MovedProgramFilesValue commonFiles(KEY_WOW64_64KEY, "CommonFilesDir", kMovedCommonFiles);
  const shell::MovedProgramFilesValue programs(KEY_WOW64_32KEY, "ProgramFilesDir", kMovedPrograms);
  if (!commonFiles.set() || !programs.set()) {
    std::printf("FAIL setup: cannot move the program-files folders in the registry\n0 passed, 1 failed\n");
    return 1;
  }
  const StandardFolders folders = StandardFolders::gather();
  std::printf("the decision by identity knows %zu standard folders\n", folders.count());
  int passed = 0;
  int failed = 0;
  for (const Target& target : table) ++(check(folders, target) ? passed : failed);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
