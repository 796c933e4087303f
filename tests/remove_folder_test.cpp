// RemoveFolder over a sandboxed file system: the argument's split, the
// deletion object by object on their handles, the Retry/Cancel prompt with
// error 1306, and the guard against deleting what no package owns.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "action_support.h"
#include "actions/exports.h"

namespace {

namespace fs = std::filesystem;

constexpr char kApp[] = "C:\\Vendor\\App";
constexpr char kSibling[] = "C:\\Vendor\\App2";
constexpr int kPromptType = INSTALLMESSAGE_ERROR | MB_RETRYCANCEL;

std::string Line(const std::string& text) { return "RemoveFolder:  " + text; }

// The lines every run with a bar begins with.
std::vector<std::string> SplitLines(const std::string& argument, const std::string& path, const std::string& sdk) {
  return {Line("Initialized."), Line("CustomActionData = " + argument), Line("removePath = " + path),
          Line("sdkName = " + sdk)};
}

std::vector<std::string> Plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

class RemoveFolderTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    std::string folder = (fs::temp_directory_path() / "quorvel-remove-folder-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    sandbox_ = folder;
    standin::SetSandbox(sandbox_);
    standin::SetErrorText(1306, "Another application has exclusive access to the file '[2]'.");
  }

  void TearDown() override {
    ActionTest::TearDown();
    std::error_code ignored;
    fs::remove_all(sandbox_, ignored);
  }

  // A folder with a file in it and in a subfolder.
  static void MakeTree(const std::string& windowsPath) {
    const fs::path root = *standin::HostPath(windowsPath);
    fs::create_directories(root / "sub");
    std::ofstream(root / "a.txt") << "a";
    std::ofstream(root / "sub" / "b.txt") << "b";
  }

  static bool Exists(const std::string& windowsPath) { return fs::exists(*standin::HostPath(windowsPath)); }

  std::string sandbox_;
};

TEST_F(RemoveFolderTest, DeletesTheTreeObjectByObject) {
  MakeTree(kApp);
  MakeTree(kSibling);
  SetArgument(std::string(kApp) + "|Vendor SDK");

  EXPECT_EQ(RemoveFolder(session_), kSuccess);
  EXPECT_FALSE(Exists(kApp));
  EXPECT_TRUE(Exists(std::string(kSibling) + "\\sub\\b.txt"));
  EXPECT_EQ(ActionLines("RemoveFolder"), SplitLines(std::string(kApp) + "|Vendor SDK", kApp, "Vendor SDK"));
  EXPECT_TRUE(Prompts().empty());

  // The prompt record exists before the first attempt even when no prompt
  // follows; each of the four objects is deleted on its handle, and the
  // folder is looked for once more.
  std::vector<std::string> calls = CallsAmong({"PathFileExistsA", "MsiCreateRecord", "MsiRecordSetInteger",
                                               "MsiRecordSetStringA", "SetFileInformationByHandle"});
  calls.erase(calls.begin(), std::find(calls.begin(), calls.end(), "PathFileExistsA"));
  EXPECT_EQ(calls,
            (std::vector<std::string>{"PathFileExistsA", "MsiCreateRecord", "MsiRecordSetInteger",
                                      "MsiRecordSetStringA", "SetFileInformationByHandle", "SetFileInformationByHandle",
                                      "SetFileInformationByHandle", "SetFileInformationByHandle", "PathFileExistsA"}));
}

struct Split {
  const char* argument;
  const char* removePath;
  const char* sdkName;
  UINT ansiCodePage = 1252;
  const char* folder = kApp;  // the remove path as the sandbox spells it (UTF-8)
};

TEST_F(RemoveFolderTest, SplitsAtTheFirstBarAndPromptsWithTheRest) {
  const Split splits[] = {
      {"C:\\Vendor\\App|Vendor SDK", kApp, "Vendor SDK"},
      {"C:\\Vendor\\App|", kApp, ""},
      {"C:\\Vendor\\App|Vendor|SDK|", kApp, "Vendor|SDK|"},
      {"C:\\Vendor\\App||", kApp, "|"},
      // A folder property ends in a backslash: the folder is deleted all the same.
      {"C:\\Vendor\\App\\|Vendor SDK", "C:\\Vendor\\App\\", "Vendor SDK"},
      // Code page 932: ポ is 83 7C, its trail byte that of a bar. サポート is
      // 83 54 83 7C 81 5B 83 67.
      {"C:\\Vendor\\\x83\x54\x83\x7c\x81\x5b\x83\x67|Vendor SDK", "C:\\Vendor\\\x83\x54\x83\x7c\x81\x5b\x83\x67",
       "Vendor SDK", 932, u8"C:\\Vendor\\サポート"},
  };
  for (const Split& split : splits) {
    SCOPED_TRACE(split.argument);
    Restart();
    standin::SetSystemCodePages(split.ansiCodePage, split.ansiCodePage == 932 ? 932 : 437);
    MakeTree(split.folder);
    SetArgument(split.argument);
    standin::LockEntry(std::string(split.folder) + "\\sub\\b.txt", 1);
    standin::ScriptAnswers(INSTALLMESSAGE_ERROR, {IDRETRY});

    EXPECT_EQ(RemoveFolder(session_), kSuccess);
    EXPECT_FALSE(Exists(split.folder));
    std::string locked = split.removePath;
    while (locked.back() == '\\') locked.pop_back();
    EXPECT_EQ(ActionLines("RemoveFolder"), Plus(SplitLines(split.argument, split.removePath, split.sdkName),
                                                {Line("Error 0x80070020: Failed to open '" + locked + "\\sub\\b.txt'"),
                                                 Line("Selected Dialog Box Command IDs = 4")}));
    const std::vector<standin::Message> sent = Prompts();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].fields, (std::vector<std::string>{"", "1306", split.sdkName}));
    EXPECT_EQ(sent[0].text,
              std::string("Another application has exclusive access to the file '") + split.sdkName + "'.");
  }
}

TEST_F(RemoveFolderTest, WithoutABarNothingIsTested) {
  MakeTree(kApp);
  SetArgument(kApp);

  EXPECT_EQ(RemoveFolder(session_), kFailure);
  EXPECT_EQ(ActionLines("RemoveFolder"),
            (std::vector<std::string>{Line("Initialized."), Line(std::string("CustomActionData = ") + kApp),
                                      Line("Error 0x80070057: Parameters are missing.")}));
  EXPECT_EQ(standin::CallCount("PathFileExistsA"), 0);
  EXPECT_EQ(standin::CallCount("SetFileInformationByHandle"), 0);
  EXPECT_TRUE(Exists(kApp));
}

struct Absent {
  const char* argument;
  const char* removePath;
  const char* lastError;
  const char* unreachableRoot = nullptr;  // answers `lastError` to every file call
};

TEST_F(RemoveFolderTest, AbsentFolderIsNothingToDo) {
  const Absent cases[] = {
      {"|Vendor SDK", "", "0x00000003"},                                    // empty path: nothing to test
      {"C:\\Vendor\\Gone|Vendor SDK", "C:\\Vendor\\Gone", "0x00000002"},    // folder missing
      {"C:\\Missing\\Gone|Vendor SDK", "C:\\Missing\\Gone", "0x00000003"},  // its parent missing too
      // Out of reach: a server that does not answer, a share it does not
      // have, a drive without media. The product must stay removable.
      {"\\\\offline\\apps\\Vendor|Vendor SDK", "\\\\offline\\apps\\Vendor", "0x00000035", "\\\\offline\\apps"},
      {"\\\\server\\gone\\Vendor|Vendor SDK", "\\\\server\\gone\\Vendor", "0x00000043", "\\\\server\\gone"},
      {"E:\\Vendor|Vendor SDK", "E:\\Vendor", "0x00000015", "E:"},
  };
  for (const Absent& absent : cases) {
    SCOPED_TRACE(absent.argument);
    Restart();
    MakeTree(kApp);
    SetArgument(absent.argument);
    if (absent.unreachableRoot) {
      standin::SetUnreachable(absent.unreachableRoot, static_cast<DWORD>(std::stoul(absent.lastError, nullptr, 16)));
    }

    EXPECT_EQ(RemoveFolder(session_), kSuccess);
    EXPECT_EQ(ActionLines("RemoveFolder"),
              Plus(SplitLines(absent.argument, absent.removePath, "Vendor SDK"),
                   {Line(std::string("PathFileExists failed : GetLastError() = ") + absent.lastError)}));
    EXPECT_EQ(standin::CallCount("GetFileAttributesW") + standin::CallCount("GetSystemWindowsDirectoryW"), 0)
        << "nothing examined";
    EXPECT_EQ(standin::CallCount("MsiCreateRecord"), standin::CallCount("MsiProcessMessage"))
        << "no prompt record beside the log lines' own";
    EXPECT_TRUE(Exists(std::string(kApp) + "\\a.txt"));
  }
}

TEST_F(RemoveFolderTest, ExistenceTestThatFailsIsNothingToDo) {
  MakeTree(kApp);
  SetArgument(std::string(kApp) + "|Vendor SDK");
  standin::FailCall("PathFileExistsA", ERROR_ACCESS_DENIED);

  EXPECT_EQ(RemoveFolder(session_), kSuccess);
  EXPECT_EQ(ActionLines("RemoveFolder").back(), Line("PathFileExists failed : GetLastError() = 0x00000005"));
  EXPECT_EQ(standin::CallCount("SetFileInformationByHandle"), 0);
  EXPECT_TRUE(Exists(kApp));
}

struct Attempts {
  const char* name;
  int lockedAttempts;  // -1: locked for good
  std::vector<int> answers;
  int expectedAttempts;
  UINT code;
};

TEST_F(RemoveFolderTest, EachRetryIsOneMoreAttemptAndAnythingElseEndsIt) {
  const Attempts table[] = {
      {"cancel", -1, {IDCANCEL}, 1, kFailure},
      {"no user interface", -1, {0}, 1, kFailure},
      {"Installer error", -1, {-1}, 1, kFailure},
      {"ok is not retry", -1, {IDOK}, 1, kFailure},
      {"retry twice then cancel", -1, {IDRETRY, IDRETRY, IDCANCEL}, 3, kFailure},
      {"retry until the lock is gone", 2, {IDRETRY, IDRETRY}, 3, kSuccess},
  };
  for (const Attempts& row : table) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeTree(kApp);
    const std::string argument = std::string(kApp) + "|Vendor SDK";
    SetArgument(argument);
    standin::LockEntry(std::string(kApp) + "\\sub", row.lockedAttempts);
    standin::ScriptAnswers(INSTALLMESSAGE_ERROR, row.answers);

    EXPECT_EQ(RemoveFolder(session_), row.code) << "a Cancel on the prompt must not turn into 1602";

    const int prompts = row.code == kSuccess ? row.expectedAttempts - 1 : row.expectedAttempts;
    std::vector<std::string> expected = SplitLines(argument, kApp, "Vendor SDK");
    const std::vector<standin::Message> sent = Prompts();
    ASSERT_EQ(sent.size(), static_cast<size_t>(prompts));
    for (int i = 0; i < prompts; ++i) {
      const standin::Message& prompt = sent[i];
      EXPECT_EQ(prompt.type, kPromptType);
      EXPECT_EQ(prompt.session, session_);
      EXPECT_EQ(prompt.fields, (std::vector<std::string>{"", "1306", "Vendor SDK"}));
      expected.push_back(Line("Error 0x80070020: Failed to open 'C:\\Vendor\\App\\sub'"));
      expected.push_back(Line("Selected Dialog Box Command IDs = " + std::to_string(row.answers[i])));
    }
    if (row.code == kFailure) expected.push_back(Line("Error 0x80070020: SHFileOperation failed"));
    EXPECT_EQ(ActionLines("RemoveFolder"), expected);
    EXPECT_EQ(Exists(kApp), row.code == kFailure);
    // One prompt record for all attempts.
    EXPECT_EQ(standin::CallCount("MsiRecordSetInteger"), 1);
  }
}

TEST_F(RemoveFolderTest, DeletionErrorIsConvertedIntoTheResult) {
  MakeTree(kApp);
  SetArgument(std::string(kApp) + "|Vendor SDK");
  standin::FailCall("SetFileInformationByHandle", 0x7C);
  standin::ScriptAnswers(INSTALLMESSAGE_ERROR, {IDCANCEL});

  EXPECT_EQ(RemoveFolder(session_), kFailure);
  const std::vector<std::string> lines = ActionLines("RemoveFolder");
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[4].substr(0, Line("Error 0x8007007c: Failed to delete 'C:\\Vendor\\App\\").size()),
            Line("Error 0x8007007c: Failed to delete 'C:\\Vendor\\App\\"));
  EXPECT_EQ(lines.back(), Line("Error 0x8007007c: SHFileOperation failed"));
  EXPECT_TRUE(Exists(kApp));
}

// What a user does to the tree while the system account deletes it (a
// folder swapped for a junction to the system folder, before or while it is
// opened), and what the tree may hold (read-only files, a file that is also
// a system file), leads the deletion nowhere outside the tree; a folder
// that is still there is a failure to retry.
TEST_F(RemoveFolderTest, DeletesWhatTheTreeHoldsAndNothingElse) {
  const std::string sub = std::string(kApp) + "\\sub";
  const std::string hosts = "C:\\Windows\\System32\\drivers\\etc\\hosts";
  const auto swap = [sub] { standin::SwapForLink(sub, "C:\\Windows\\System32"); };
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::vector<int> answers;
    UINT code;
    std::vector<std::string> more;
  } cases[] = {
      // The link left in the folder's place keeps the folder from going.
      {"folder swapped as it is opened",
       [sub, swap] { standin::HoldOpportunisticLock(sub, swap); },
       {IDRETRY},
       kSuccess,
       {Line("Error 0x80070091: Failed to delete 'C:\\Vendor\\App'"), Line("Selected Dialog Box Command IDs = 4")}},
      {"folder swapped while it is listed",
       [sub, swap] { standin::HoldOpportunisticLock(sub + "\\b.txt", swap); },
       {IDRETRY},
       kSuccess,
       {Line("Error 0x80070091: Failed to delete 'C:\\Vendor\\App'"), Line("Selected Dialog Box Command IDs = 4")}},
      {"read-only files, one of them also a system file",
       [hosts] {
         const fs::path readOnly = *standin::HostPath(std::string(kApp) + "\\ro.txt");
         std::ofstream(readOnly) << "ro";
         fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::remove);
         fs::create_hard_link(*standin::HostPath(hosts), *standin::HostPath(std::string(kApp) + "\\hosts"));
       },
       {},
       kSuccess,
       {}},
      // Checked where the guard found it: a folder on its way swapped for a
      // link since then is refused, nothing deleted where the link leads.
      {"folder on its way swapped after the checks",
       [] { standin::HoldOpportunisticLock(kApp, [] { standin::SwapForLink("C:\\Vendor", "C:\\Windows"); }); },
       {},
       kFailure,
       {Line("Error 0x80070057: Refusing path 'C:\\Vendor\\App': it changed while it was examined")}},
      {"folder still there afterwards",
       [] {
         standin::BeforeCall(
             "PathFileExistsA", [] { fs::create_directories(*standin::HostPath(std::string(kApp))); }, 1);
       },
       {IDCANCEL},
       kFailure,
       {Line("Error 0x80004005: 'C:\\Vendor\\App' is still there after its deletion"),
        Line("Selected Dialog Box Command IDs = 2"), Line("Error 0x80004005: SHFileOperation failed")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeTree(kApp);
    MakeTree("C:\\Windows\\System32");
    MakeTree("C:\\Windows\\App");
    fs::create_directories(fs::path(*standin::HostPath(hosts)).parent_path());
    std::ofstream(*standin::HostPath(hosts)) << "127.0.0.1 localhost";
    fs::permissions(*standin::HostPath(hosts), fs::perms::owner_write, fs::perm_options::remove);
    row.arrange();
    const std::string argument = std::string(kApp) + "|Vendor SDK";
    SetArgument(argument);
    standin::ScriptAnswers(INSTALLMESSAGE_ERROR, row.answers);

    EXPECT_EQ(RemoveFolder(session_), row.code);
    EXPECT_EQ(ActionLines("RemoveFolder"), Plus(SplitLines(argument, kApp, "Vendor SDK"), row.more));
    EXPECT_EQ(Exists(kApp), row.code == kFailure);
    for (const char* kept :
         {"C:\\Windows\\System32\\a.txt", "C:\\Windows\\System32\\sub\\b.txt", "C:\\Windows\\App\\a.txt"}) {
      EXPECT_TRUE(Exists(kept)) << kept;
    }
    EXPECT_TRUE(Exists(hosts));
    EXPECT_EQ(fs::status(*standin::HostPath(hosts)).permissions() & fs::perms::owner_write, fs::perms::none)
        << "the system file's other name keeps it read-only";
  }
}

// Each kind of folder that no package owns, in other spellings and through
// links, and a package's own folder inside each kind, which is deleted.
// Each is found first: what is not there is nothing to refuse.
TEST_F(RemoveFolderTest, RefusesWhatNoPackageOwnsOnceItIsFound) {
  const char* const kIs = "it is the standard folder ";
  const char* const kRelative = "it is relative or a volume root";
  const struct {
    std::string target;
    std::string reason;  // empty: deleted
    bool asSystem;
  } cases[] = {
      {"C:\\", kRelative, false},
      {"C:", kRelative, false},
      {"D:\\", kRelative, false},
      {"Vendor", kRelative, false},
      {"\\Vendor\\App", kRelative, false},
      {"C:\\Vendor\\..", kRelative, false},
      {"C:\\Program Files", std::string(kIs) + "'C:\\Program Files'", false},
      {"c:\\users\\installer\\", std::string(kIs) + "'C:\\Users\\installer'", false},
      {"C:\\Windows\\System32", std::string(kIs) + "'C:\\Windows\\system32'", false},
      {"C:\\USERS\\INSTALLER\\APPDATA\\ROAMING", std::string(kIs) + "'C:\\Users\\installer\\AppData\\Roaming'", false},
      {"C:\\Users\\installer\\Documents\\.\\", std::string(kIs) + "'C:\\Users\\installer\\Documents'", false},
      {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
       std::string(kIs) + "'C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs'", false},
      {"C:\\Users\\installer\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'", false},
      {"C:\\Users\\ann\\Documents", std::string(kIs) + "'C:\\Users\\ann\\Documents'", true},
      {"C:\\PROGRA~2\\COMMON~1", std::string(kIs) + "'C:\\Program Files (x86)\\Common Files'", false},
      {"C:\\Documents and Settings\\ann", std::string(kIs) + "'C:\\Users\\ann'", false},
      {"C:\\ProgramData\\Vendor\\App", "it runs through the link 'C:\\ProgramData\\Vendor'", false},
      {"\\\\localhost\\C$\\Vendor\\App", "it is on an administrative share", false},
      {"C:\\Users\\installer\\AppData\\Roaming\\Vendor", "", false},
      {"C:\\PROGRA~2\\COMMON~1\\Vendor\\", "", false},
      {"C:\\Users\\ann\\AppData\\Local\\Vendor", "", true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.target);
    Restart();
    standin::LayOutProfiles();
    if (row.asSystem) standin::SetAccount(standin::Account::kLocalSystem);
    // What each target would reach, so that a deletion would show.
    for (const char* tree :
         {"C:\\Windows\\System32\\Vendor", "C:\\Vendor\\App", "D:\\Data", "C:\\Windows\\App",
          "\\\\localhost\\C$\\Vendor\\App", "C:\\Users\\installer\\AppData\\Roaming\\Vendor",
          "C:\\Users\\ann\\AppData\\Local\\Vendor", "C:\\Program Files (x86)\\Common Files\\Vendor"}) {
      MakeTree(tree);
    }
    fs::create_directory_symlink(*standin::HostPath(std::string("C:\\Windows")),
                                 *standin::HostPath(std::string("C:\\ProgramData\\Vendor")));
    const std::string argument = row.target + "|Vendor SDK";
    SetArgument(argument);

    const bool deleted = row.reason.empty();
    const bool existed = Exists(row.target);
    EXPECT_EQ(RemoveFolder(session_), deleted ? kSuccess : kFailure);
    EXPECT_EQ(ActionLines("RemoveFolder"),
              deleted ? SplitLines(argument, row.target, "Vendor SDK")
                      : Plus(SplitLines(argument, row.target, "Vendor SDK"),
                             {Line("Error 0x80070057: Refusing path '" + row.target + "': " + row.reason)}));
    EXPECT_EQ(standin::CallCount("PathFileExistsA"), deleted ? 2 : 1);
    EXPECT_EQ(standin::CallCount("SetFileInformationByHandle") > 0, deleted);
    EXPECT_EQ(Exists(row.target), existed && !deleted);
    for (const char* kept : {"C:\\Windows\\System32\\Vendor\\a.txt", "C:\\Vendor\\App\\a.txt", "D:\\Data\\a.txt",
                             "C:\\Windows\\App\\a.txt", "C:\\Users\\installer\\AppData\\Roaming",
                             "C:\\Users\\ann\\AppData\\Local", "C:\\Program Files (x86)\\Common Files"}) {
      EXPECT_TRUE(Exists(kept)) << kept;
    }
  }
}

}  // namespace
