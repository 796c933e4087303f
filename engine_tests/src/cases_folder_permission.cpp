// ChangeQuorvelFolderPermission in the engine: the grant given object by
// object on the tree, no tool started (the recording icacls double in the
// test prefix keeps an empty record), and the line that counts what was
// granted. wine 8 keeps no permissions it can show again and shows no links,
// so the cases check the lines, the result and the tree left as it was.

#include "cases.hpp"
#include "fixture.hpp"
#include "icacls_record.hpp"
#include "machine.hpp"
#include "shell_folders.hpp"

#include <shlobj.h>

namespace quorvel::engine {

namespace {

constexpr const char* kLabel = "ChangeQuorvelFolderPermission";

std::string L(const std::string& text) { return line(kLabel, text); }

// Runs the grant once with `data` as its CustomActionData.
ActionOutcome runGrant(Case& c, const std::string& data) {
  ActionRequest request;
  request.action = kLabel;
  request.customActionData = data;
  return runAction(c, request);
}

std::string countsLine(unsigned folders, unsigned files) {
  return L("Granted the Users group full control on " + std::to_string(folders) + " folders, " + std::to_string(files) +
           " files and 0 links");
}

// The grant on a path: success, no tool started, and its lines after the
// argument's.
void expectGrantLines(Case& c, const std::string& path, const std::vector<std::string>& after) {
  icacls::reset();
  const ActionOutcome outcome = runGrant(c, path);
  CHECK_EQ(c, outcome.code, kSuccess);
  CHECK(c, icacls::calls().empty());
  std::vector<std::string> expected = {L("Initialized."), L("folderPath = " + path)};
  expected.insert(expected.end(), after.begin(), after.end());
  CHECK_LINES(c, outcome.lines, expected);
}

// The grant on an existing path, up to its counts.
void expectGranted(Case& c, const std::string& path, unsigned folders, unsigned files) {
  expectGrantLines(c, path, {L("isExist=1  errorCode=00000000"), countsLine(folders, files)});
}

// What a case lays out below its folder, and what the grant must count.
struct Tree {
  std::vector<std::string> folders;  // relative, parents first; the first is the target
  std::vector<std::string> files;    // relative, with their names as content
};

struct GrantCase {
  const char* name;
  const wchar_t* target;  // below the case folder
  const char* suffix;     // appended to the argument only
  Tree tree;              // below the target; no folders: the target is a file, or nothing
  unsigned codePage = kWesternCodePage;
};

void addGrantCases(Suite& suite) {
  const Tree folderWithFolder = {{"", "nested"}, {}};
  const GrantCase cases[] = {
      {"existing folder gets the grant on its tree", L"Data", "", folderWithFolder},
      {"tree of three folders and five files is granted object by object",
       L"Data",
       "",
       {{"", "bin", "bin\\plugins"},
        {"settings.ini", "readme.txt", "bin\\quorvel.cmd", "bin\\plugins\\one.dll", "bin\\plugins\\two.dll"}}},
      {"trailing backslash names the same tree", L"Data", "\\", folderWithFolder},
      {"path with spaces is granted", L"Program Data\\Quorvel App", "", folderWithFolder},
      {"existing file is granted alone", L"settings.ini", "", {{}, {""}}},
      {"missing folder is nothing to grant", L"Absent", "", {}},
      // é, Œ and € are E9, 8C and 80 in code page 1252.
      {"path with e-acute, OE and euro is granted", L"Zoë Œ€\\Données", "", folderWithFolder},
      // 機能 is 8B 40 94 5C in code page 932: its last byte is that of a
      // backslash, and no separator.
      {"folder ending in the trail byte 0x5C is granted", L"Data\\機能", "", folderWithFolder, kJapaneseCodePage},
      {"trailing backslash after the trail byte 0x5C names the same tree", L"Data\\機能", "\\", folderWithFolder,
       kJapaneseCodePage},
  };
  for (const GrantCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, one.codePage, [one](Case& c) {
      SETUP_OK(c, icacls::installed());
      SETUP_OK(c, inAnsiCodePage(one.target));
      const std::string path = caseFolder(c) + "\\" + ansi(one.target);
      const auto below = [&path](const std::string& relative) {
        return relative.empty() ? path : path + "\\" + relative;
      };
      for (const std::string& folder : one.tree.folders) {
        SETUP_OK(c, machine::createFolders(below(folder)));
      }
      for (const std::string& file : one.tree.files) {
        SETUP_OK(c, machine::writeFile(below(file), file));
      }
      const std::string argument = path + one.suffix;
      if (one.tree.files.empty() && one.tree.folders.empty()) {
        expectGrantLines(c, argument, {L("isExist=0  errorCode=00000000")});
        return;
      }
      expectGranted(c, argument, static_cast<unsigned>(one.tree.folders.size()),
                    static_cast<unsigned>(one.tree.files.size()));
      for (const std::string& file : one.tree.files) {
        c.expect(machine::readFile(below(file)) == file, "kept as it was: " + below(file), __FILE__, __LINE__);
      }
    });
  }

  // The grant asks a file for no data: another process holding one open and
  // sharing nothing does not keep it from the grant.
  suite.add(kLabel, "file held open sharing nothing is granted on", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = caseFolder(c) + "\\Data";
    SETUP_OK(c, machine::createFolders(path) && machine::writeFile(path + "\\service.log", "held"));
    FileLock holder(path + "\\service.log", 0);
    SETUP_OK(c, holder.held());
    expectGranted(c, path, 1, 1);
  });
}

// The walk's own refusal: the target it opened is not where the guard found
// it. Here that is a host link, which the guard cannot tell from a folder
// (wine opens its target even when asked for the link itself), and a path
// whose final path wine cannot give (see README.md).
constexpr const char* kMovedMeanwhile = "it changed while it was examined";

// Runs the grant on an existing path and expects it refused for one of the
// reasons, no tool started. After the walk's refusal the grant says it failed.
void expectRefused(Case& c, const std::string& path, const std::vector<std::string>& reasons) {
  SETUP_OK(c, machine::exists(path));
  icacls::reset();
  const ActionOutcome outcome = runGrant(c, path);
  CHECK_EQ(c, outcome.code, kFailure);
  CHECK(c, icacls::calls().empty());
  std::vector<std::string> expected;
  for (const std::string& reason : reasons) {
    expected = {L("Initialized."), L("folderPath = " + path), L("isExist=1  errorCode=00000000"),
                errorLine(kLabel, 0x80070057, "Refusing path '" + path + "': " + reason)};
    if (reason == kMovedMeanwhile) {
      expected.push_back(
          errorLine(kLabel, 0x80070057, "Failed to grant the Users group full control on '" + path + "'"));
    }
    if (outcome.lines == expected) return;
  }
  // None matched: shown against the last.
  CHECK_LINES(c, outcome.lines, expected);
}

void expectRefusals(Case& c, const std::vector<std::pair<std::string, std::string>>& refusals) {
  for (const auto& [path, reason] : refusals) expectRefused(c, path, {reason});
}

// Users' folders that the shell of the user running the tests does not name:
// a profile that ProfileList keeps outside the profiles folder, the folders
// that a loaded hive has moved elsewhere, and what really holds a profile
// that is a link (run.sh plants C:\users\quorvel-linked, a host-side link to
// C:\quorvel-engine-profiles\linked).
void addUserFolderCases(Suite& suite) {
  suite.add(kLabel, "ProfileList profile outside the profiles folder is refused with its folders", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string accounts = "C:\\quorvel-engine-accounts";
    const std::string key = std::string(authoring::kProfileListKey) + "\\S-1-5-21-7-7-7-4242";
    SETUP_OK(c, machine::createKey(key));
    SETUP_OK(c, machine::setString(key, "ProfileImagePath", accounts + "\\carol"));
    SETUP_OK(c, machine::createFolders(accounts + "\\carol\\Saved Games"));
    expectRefusals(
        c, {{accounts + "\\carol", "it is the standard folder '" + accounts + "\\carol'"},
            {accounts + "\\carol\\Saved Games", "it is the standard folder '" + accounts + "\\carol\\Saved Games'"},
            {accounts, "it holds the standard folder '" + accounts + "\\carol'"}});
    machine::deleteKeyTree(key);
    machine::removeTree(accounts);
  });

  suite.add(kLabel, "folders a loaded user hive moved elsewhere are refused", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string music = std::string(shell::kScratch) + "\\Music Elsewhere";
    const std::string downloads = std::string(shell::kScratch) + "\\Downloads Elsewhere";
    SETUP_OK(c, machine::createFolders(music) && machine::createFolders(downloads));
    const shell::UserShellFolder movedMusic("My Music", music);
    const shell::UserShellFolder movedDownloads("{374DE290-123F-4565-9164-39C4925E467B}", downloads);
    SETUP_OK(c, movedMusic.set() && movedDownloads.set());
    expectRefusals(c, {{music, "it is the standard folder '" + music + "'" + shell::ofTheUser()},
                       {downloads, "it is the standard folder '" + downloads + "'" + shell::ofTheUser()}});
  });

  suite.add(kLabel, "folder that really holds a linked profile is refused", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string linked = shell::profilesFolder() + "\\quorvel-linked";
    expectRefusals(c, {{shell::kLinkedProfileHolder, "it holds the standard folder '" + linked + "'"},
                       {std::string(shell::kLinkedProfileHolder) + "\\linked\\Downloads",
                        "it is the standard folder '" + linked + "\\Downloads'"}});
  });
}

// The prefix's own standard folders, a second profile, a short name and a
// host-side link: wine keeps no permissions, so a grant there would harm
// nothing here, and the real folders can be named.
void addRefusalCases(Suite& suite) {
  struct Refusal {
    const char* name;
    std::string path;
    std::vector<std::string> reasons;  // the line names one of them
  };
  const std::string is = "it is the standard folder ";
  const std::string profile = shell::folder(CSIDL_PROFILE);
  const std::string appData = shell::folder(CSIDL_APPDATA);
  const std::string commonFiles = shell::folder(CSIDL_PROGRAM_FILES_COMMON);
  const std::string secondProfile = shell::profilesFolder() + "\\quorvel-ann";
  const std::string link = shell::kLinkToWindows;
  const Refusal refusals[] = {
      {"Windows folder is refused", "C:\\windows", {is + "'C:\\windows'"}},
      {"system folder in upper case is refused", "C:\\WINDOWS\\SYSTEM32\\", {is + "'C:\\windows\\system32'"}},
      {"Fonts folder is refused", shell::folder(CSIDL_FONTS), {is + "'" + shell::folder(CSIDL_FONTS) + "'"}},
      {"short name of Common Files is refused", shell::shortPath(commonFiles), {is + "'" + commonFiles + "'"}},
      {"AppData is refused", appData, {is + "'" + appData + "'"}},
      {"temporary folder is refused", shell::temporaryFolder() + "\\", {is + "'" + shell::temporaryFolder() + "'"}},
      {"public profile is refused",
       shell::profilesFolder() + "\\Public",
       {is + "'" + shell::profilesFolder() + "\\Public'"}},
      {"second profile's AppData is refused",
       secondProfile + "\\AppData\\Roaming",
       {is + "'" + secondProfile + "\\AppData\\Roaming'"}},
      {"folder holding AppData is refused",
       profile + "\\AppData",
       {"it holds the standard folder '" + profile + "\\AppData\\Local'"}},
      // The engine opens a host link as its target (see README.md): where
      // the guard does not see the link itself, the walk refuses what it
      // opened.
      {"host-side link to the Windows folder is refused",
       link,
       {"it runs through the link '" + link + "'", is + "'C:\\windows'", kMovedMeanwhile}},
      {"folder below a host-side link to the Windows folder is refused",
       link + "\\Fonts",
       {"it runs through the link '" + link + "'", is + "'" + shell::folder(CSIDL_FONTS) + "'", kMovedMeanwhile}},
  };
  for (const Refusal& refusal : refusals) {
    suite.add(kLabel, refusal.name, kLabel, [refusal, secondProfile](Case& c) {
      SETUP_OK(c, icacls::installed());
      SETUP_OK(c, !refusal.path.empty());
      SETUP_OK(c, machine::createFolders(secondProfile + "\\AppData\\Roaming"));
      expectRefused(c, refusal.path, refusal.reasons);
      machine::removeTree(secondProfile);
    });
  }

  // run.sh maps W: onto the Windows folder and U: onto the profiles folder
  // for a pass of these alone; the engine's final paths keep the drive
  // letter, and the Windows folder's own are those the user's hive names too.
  const std::string fonts = shell::folder(CSIDL_FONTS);
  const Refusal onMappedDrives[] = {
      {"system folder on a drive mapped onto the Windows folder is refused",
       std::string(shell::kDriveOntoWindows) + "\\system32",
       {is + "'C:\\windows\\system32'"}},
      {"Fonts on a drive mapped onto the Windows folder is refused",
       std::string(shell::kDriveOntoWindows) + "\\Fonts",
       {is + "'" + fonts + "'", is + "'" + fonts + "'" + shell::ofTheUser()}},
      {"public profile on a drive mapped onto the profiles folder is refused",
       std::string(shell::kDriveOntoProfiles) + "\\Public",
       {is + "'" + shell::profilesFolder() + "\\Public'"}},
  };
  for (const Refusal& refusal : onMappedDrives) {
    suite.addOnMappedDrives(kLabel, refusal.name,
                            [refusal](Case& c) { expectRefused(c, refusal.path, refusal.reasons); });
  }

  addUserFolderCases(suite);

  suite.add(kLabel, "folder inside AppData is granted as before", kLabel, [appData](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = appData + "\\QuorvelEngineTests";
    SETUP_OK(c, machine::createFolders(path));
    expectGranted(c, path, 1, 0);
    machine::removeTree(path);
  });
}

// A folder path of the given length below the case folder, made of
// components of at most 200 characters.
std::string pathOfLength(const std::string& base, size_t length) {
  std::string path = base;
  char letter = 'a';
  while (path.size() < length) {
    const size_t room = length - path.size() - 1;
    const size_t component = room > 200 ? (room - 200 < 2 ? 150 : 200) : room;
    path += "\\" + std::string(component, letter++);
  }
  return path;
}

// Creates a folder whose path may exceed MAX_PATH, one component at a time
// through the long-path form of the wide call (the narrow one stops at
// MAX_PATH).
bool createLongFolder(const std::string& path) {
  for (size_t end = path.find('\\', 3);; end = path.find('\\', end + 1)) {
    const std::string partial = "\\\\?\\" + path.substr(0, end);
    const std::wstring wide(partial.begin(), partial.end());  // the path is ASCII
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (end == std::string::npos) {
      return true;
    }
  }
}

// CustomActionData reaches the action in 1024 bytes, and the walk takes a
// path of any length: beyond MAX_PATH, up to the longest the argument holds.
void addLengthCases(Suite& suite) {
  suite.add(kLabel, "path of 263 characters, beyond MAX_PATH, is granted", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = pathOfLength(caseFolder(c), 263);
    SETUP_OK(c, path.size() == 263 && createLongFolder(path));
    expectGranted(c, path, 1, 0);
  });
  suite.add(kLabel, "path of 1023 characters, the longest the argument holds, is granted", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = pathOfLength(caseFolder(c), 1023);
    SETUP_OK(c, path.size() == 1023 && createLongFolder(path));
    expectGranted(c, path, 1, 0);
  });
}

}  // namespace

void addFolderPermissionCases(Suite& suite) {
  addGrantCases(suite);
  addRefusalCases(suite);
  addLengthCases(suite);
}

}  // namespace quorvel::engine
