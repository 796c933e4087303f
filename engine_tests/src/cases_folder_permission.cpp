// ChangeQuorvelFolderPermission in the engine: one hidden start of icacls
// (the recording double in the test prefix) with the grant on the tree, and
// the tool's exit code turned into the action's result.

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

enum class Target { Folder, File, Nothing };

struct GrantCase {
  const char* name;
  const wchar_t* relative;  // below the case folder
  const char* suffix;       // appended to the argument only
  Target target;
  unsigned long exitCode;
  std::vector<std::string> failureLines;  // after the isExist line
  unsigned codePage = kWesternCodePage;
};

void addGrantCases(Suite& suite) {
  const GrantCase cases[] = {
      {"existing folder gets the grant on its tree", L"Data", "", Target::Folder, 0, {}},
      {"trailing backslash reaches the tool as one clean argument", L"Data", "\\", Target::Folder, 0, {}},
      {"path with spaces is one argument", L"Program Data\\Quorvel App", "", Target::Folder, 0, {}},
      {"existing file counts as existing", L"settings.ini", "", Target::File, 0, {}},
      {"missing folder starts nothing", L"Absent", "", Target::Nothing, 0, {}},
      // é, Œ and € are E9, 8C and 80 in code page 1252.
      {"path with e-acute, OE and euro reaches the tool exactly", L"Zoë Œ€\\Données", "", Target::Folder, 0, {}},
      // 機能 is 8B 40 94 5C in code page 932: its last byte is that of a
      // backslash, and only a real one before the quotation mark is doubled.
      {"folder ending in the trail byte 0x5C reaches the tool exactly",
       L"Data\\機能",
       "",
       Target::Folder,
       0,
       {},
       kJapaneseCodePage},
      {"trailing backslash after the trail byte 0x5C is doubled alone",
       L"Data\\機能",
       "\\",
       Target::Folder,
       0,
       {},
       kJapaneseCodePage},
      {"tool exit code 1 fails the action",
       L"Data",
       "",
       Target::Folder,
       1,
       {errorLine(kLabel, 0x80004005, "error from process : exitCode = 0x00000001"),
        errorLine(kLabel, 0x80004005, "execQuietCmdLine() failed")}},
      {"tool exit code 0xC0000005 is shown in lowercase",
       L"Data",
       "",
       Target::Folder,
       0xC0000005,
       {errorLine(kLabel, 0x80004005, "error from process : exitCode = 0xc0000005"),
        errorLine(kLabel, 0x80004005, "execQuietCmdLine() failed")}},
  };
  for (const GrantCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, one.codePage, [one](Case& c) {
      SETUP_OK(c, icacls::installed());
      SETUP_OK(c, inAnsiCodePage(one.relative));
      const std::string path = caseFolder(c) + "\\" + ansi(one.relative);
      if (one.target == Target::Folder) {
        SETUP_OK(c, machine::createFolders(path + "\\nested"));
      } else if (one.target == Target::File) {
        SETUP_OK(c, machine::writeFile(path, "[quorvel]"));
      }
      const std::string argument = path + one.suffix;
      icacls::Behaviour behaviour;
      behaviour.exitCode = one.exitCode;
      icacls::reset(behaviour);
      const ActionOutcome outcome = runGrant(c, argument);
      const std::vector<icacls::Call> calls = icacls::calls();

      const bool exists = one.target != Target::Nothing;
      std::vector<std::string> expected = {L("Initialized."), L("folderPath = " + argument),
                                           L(std::string("isExist=") + (exists ? "1" : "0") + "  errorCode=00000000")};
      expected.insert(expected.end(), one.failureLines.begin(), one.failureLines.end());
      CHECK_LINES(c, outcome.lines, expected);
      CHECK_EQ(c, outcome.code, one.failureLines.empty() ? kSuccess : kFailure);
      CHECK_EQ(c, calls.size(), exists ? 1u : 0u);
      if (calls.size() != 1) {
        return;
      }
      CHECK_EQ(c, calls[0].commandLine, icacls::expectedCommandLine(argument, icacls::kGrantOnTree));
      CHECK_LINES(c, calls[0].argv, icacls::expectedArgv(argument, icacls::kGrantOnTree));
      CHECK(c, calls[0].exitCode.has_value() && *calls[0].exitCode == one.exitCode);
    });
  }

  suite.add(kLabel, "action waits for the tool to finish", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = caseFolder(c) + "\\Slow";
    SETUP_OK(c, machine::createFolders(path));
    icacls::Behaviour behaviour;
    behaviour.delayMs = 1500;
    icacls::reset(behaviour);
    const ActionOutcome outcome = runGrant(c, path);
    // Read at once: the double writes its exit line only after the delay.
    const std::vector<icacls::Call> calls = icacls::calls();
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK_EQ(c, calls.size(), 1u);
    CHECK(c, !calls.empty() && calls[0].exitCode.has_value());
  });
}

// Runs the grant on an existing path and expects it refused for one of the
// reasons, the tool never started.
void expectRefused(Case& c, const std::string& path, const std::vector<std::string>& reasons) {
  SETUP_OK(c, machine::exists(path));
  icacls::reset();
  const ActionOutcome outcome = runGrant(c, path);
  CHECK_EQ(c, outcome.code, kFailure);
  CHECK(c, icacls::calls().empty());
  SETUP_OK(c, outcome.lines.size() == 4);
  CHECK_LINES(
      c, std::vector<std::string>(outcome.lines.begin(), outcome.lines.begin() + 3),
      (std::vector<std::string>{L("Initialized."), L("folderPath = " + path), L("isExist=1  errorCode=00000000")}));
  bool named = false;
  for (const std::string& reason : reasons) {
    named = named || outcome.lines[3] == errorLine(kLabel, 0x80070057, "Refusing path '" + path + "': " + reason);
  }
  c.expect(named, "refusal line: " + outcome.lines[3], __FILE__, __LINE__);
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
    expectRefusals(c, {{music, "it is the standard folder '" + music + "'"},
                       {downloads, "it is the standard folder '" + downloads + "'"}});
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
// host-side link: a grant there is harmless here (the tool is the recording
// double), so the real folders can be named.
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
      {"Windows folder is refused before the tool starts", "C:\\windows", {is + "'C:\\windows'"}},
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
      // The engine opens a host link as its target (see README.md): the
      // identity refuses it where the link itself is not seen.
      {"host-side link to the Windows folder is refused",
       link,
       {"it runs through the link '" + link + "'", is + "'C:\\windows'"}},
      {"folder below a host-side link to the Windows folder is refused",
       link + "\\Fonts",
       {"it runs through the link '" + link + "'", is + "'" + shell::folder(CSIDL_FONTS) + "'"}},
      // run.sh maps W: onto the Windows folder and U: onto the profiles
      // folder; the engine's final paths keep the drive letter.
      {"system folder on a drive mapped onto the Windows folder is refused",
       std::string(shell::kDriveOntoWindows) + "\\system32",
       {is + "'C:\\windows\\system32'"}},
      {"Fonts on a drive mapped onto the Windows folder is refused",
       std::string(shell::kDriveOntoWindows) + "\\Fonts",
       {is + "'" + shell::folder(CSIDL_FONTS) + "'"}},
      {"public profile on a drive mapped onto the profiles folder is refused",
       std::string(shell::kDriveOntoProfiles) + "\\Public",
       {is + "'" + shell::profilesFolder() + "\\Public'"}},
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

  addUserFolderCases(suite);

  suite.add(kLabel, "folder inside AppData is granted as before", kLabel, [appData](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = appData + "\\QuorvelEngineTests";
    SETUP_OK(c, machine::createFolders(path));
    icacls::reset();
    const ActionOutcome outcome = runGrant(c, path);
    const std::vector<icacls::Call> calls = icacls::calls();
    machine::removeTree(path);
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK_EQ(c, calls.size(), 1u);
    CHECK(c, !calls.empty() && calls[0].commandLine == icacls::expectedCommandLine(path, icacls::kGrantOnTree));
  });

  // A quotation mark is not valid in a Windows file name, so such a path
  // never exists and the tool is never reached.
  suite.add(kLabel, "path with a quotation mark never reaches the tool", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    icacls::reset();
    const std::string path = caseFolder(c) + "\\Data\" /deny *S-1-1-0:F \"x";
    const ActionOutcome outcome = runGrant(c, path);
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK(c, icacls::calls().empty());
    CHECK_LINES(
        c, outcome.lines,
        (std::vector<std::string>{L("Initialized."), L("folderPath = " + path), L("isExist=0  errorCode=00000000")}));
  });
}

// Moves the system's icacls aside for the lifetime of the object.
class ToolAside {
 public:
  ToolAside() : moved_(MoveFileA(kTool, kAside) != 0) {}
  ~ToolAside() {
    if (moved_) {
      MoveFileA(kAside, kTool);
    }
  }
  ToolAside(const ToolAside&) = delete;
  ToolAside& operator=(const ToolAside&) = delete;
  bool moved() const { return moved_; }

 private:
  static constexpr const char* kTool = "C:\\windows\\system32\\icacls.exe";
  static constexpr const char* kAside = "C:\\windows\\system32\\icacls.exe.aside";
  bool moved_;
};

void addMissingToolCase(Suite& suite) {
  suite.add(kLabel, "missing tool fails at process creation", kLabel, [](Case& c) {
    const std::string path = caseFolder(c) + "\\Data";
    SETUP_OK(c, machine::createFolders(path));
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = path;
    ActionOutcome outcome;
    {
      ToolAside aside;
      SETUP_OK(c, aside.moved());
      outcome = runAction(c, request);
    }
    CHECK_EQ(c, outcome.code, kFailure);
    // The converted file-not-found error.
    CHECK_LINES(
        c, outcome.lines,
        (std::vector<std::string>{L("Initialized."), L("folderPath = " + path), L("isExist=1  errorCode=00000000"),
                                  errorLine(kLabel, 0x80070002, "CreateProcessW() failed"),
                                  errorLine(kLabel, 0x80070002, "execQuietCmdLine() failed")}));
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

// The runner takes command lines of at most 1023 characters: a path of 974
// characters is the longest that reaches the tool.
void addLengthCases(Suite& suite) {
  suite.add(kLabel, "path of 974 characters reaches the tool whole", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = pathOfLength(caseFolder(c), 974);
    SETUP_OK(c, path.size() == 974 && createLongFolder(path));
    icacls::reset();
    const ActionOutcome outcome = runGrant(c, path);
    const std::vector<icacls::Call> calls = icacls::calls();
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK_EQ(c, calls.size(), 1u);
    if (calls.size() == 1) {
      CHECK_EQ(c, calls[0].commandLine.size(), 1023u);
      CHECK_EQ(c, calls[0].commandLine, icacls::expectedCommandLine(path, icacls::kGrantOnTree));
    }
  });

  suite.add(kLabel, "path of 975 characters is refused by the runner", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = pathOfLength(caseFolder(c), 975);
    SETUP_OK(c, path.size() == 975 && createLongFolder(path));
    icacls::reset();
    const ActionOutcome outcome = runGrant(c, path);
    CHECK_EQ(c, outcome.code, kFailure);
    CHECK(c, icacls::calls().empty());
    SETUP_OK(c, outcome.lines.size() == 5);
    CHECK_EQ(c, outcome.lines[2], L("isExist=1  errorCode=00000000"));
    const std::string lead = errorLine(kLabel, 0x80070057, "");
    CHECK_EQ(c, outcome.lines[3].substr(0, lead.size()), lead);
    CHECK(c, outcome.lines[3].find("1024") != std::string::npos);
    CHECK_EQ(c, outcome.lines[4], errorLine(kLabel, 0x80070057, "execQuietCmdLine() failed"));
  });
}

}  // namespace

void addFolderPermissionCases(Suite& suite) {
  addGrantCases(suite);
  addRefusalCases(suite);
  addLengthCases(suite);
  addMissingToolCase(suite);
}

}  // namespace quorvel::engine
