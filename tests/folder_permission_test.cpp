// ChangeQuorvelFolderPermission over a sandboxed file system, with the
// recording icacls double standing in for the tool.
#include <windows.h>

#include <algorithm>
#include <functional>

#include "actions/exports.h"
#include "folder_action_support.h"
#include "process/quietcmd.h"

namespace {

constexpr char kLabel[] = "ChangeQuorvelFolderPermission";
constexpr char kData[] = "C:\\Quorvel\\Data";
constexpr char kGrant[] = "/t /l /q /grant *S-1-5-32-545:(OI)(CI)F";

std::string Line(const std::string& text) { return std::string(kLabel) + ":  " + text; }

// The lines of a run that found the object, up to the existence line.
std::vector<std::string> FoundLines(const std::string& path) {
  return {Line("Initialized."), Line("folderPath = " + path), Line("isExist=1  errorCode=00000000")};
}

class FolderPermissionTest : public FolderActionTest {
 protected:
  UINT Run(const std::string& path) {
    SetArgument(path);
    return ChangeQuorvelFolderPermission(session_);
  }
};

// Trailing backslashes are doubled inside the quotes so that the tool
// receives the path exactly as given.
TEST_F(FolderPermissionTest, ExistingObjectIsGrantedOnWithOneStart) {
  const struct {
    const char* path;
    const char* commandLine;
    bool file;
    UINT ansiCodePage = 1252;
    const char* received = nullptr;  // the tool's argument (UTF-8 on the host) when not the path itself
  } cases[] = {
      {"C:\\Quorvel\\Data", "icacls \"C:\\Quorvel\\Data\" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F", false},
      {"C:\\Quorvel\\Data\\", "icacls \"C:\\Quorvel\\Data\\\\\" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F", false},
      {"C:\\Quorvel\\Data\\\\", "icacls \"C:\\Quorvel\\Data\\\\\\\\\" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F", false},
      {"C:\\Quorvel\\Program Files\\App",
       "icacls \"C:\\Quorvel\\Program Files\\App\" /t /l /q /grant "
       "*S-1-5-32-545:(OI)(CI)F",
       false},
      {"C:\\Quorvel\\notes.txt", "icacls \"C:\\Quorvel\\notes.txt\" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F", true},
      // Code page 932: the last byte of 機能 (8B 40 94 5C) is no backslash.
      {"C:\\Quorvel\\\x8b\x40\x94\x5c",
       "icacls \"C:\\Quorvel\\\x8b\x40\x94\x5c\" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F", false, 932,
       u8"C:\\Quorvel\\機能"},
      {"C:\\Quorvel\\\x8b\x40\x94\x5c\\",
       "icacls \"C:\\Quorvel\\\x8b\x40\x94\x5c\\\\\" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F", false, 932,
       u8"C:\\Quorvel\\機能\\"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
    standin::SetSystemCodePages(row.ansiCodePage, row.ansiCodePage == 932 ? 932 : 437);
    if (row.file) {
      MakeFile(row.path, "text");
    } else {
      MakeFolder(row.path);
    }
    EXPECT_EQ(Run(row.path), kSuccess);
    EXPECT_EQ(ActionLines(kLabel), FoundLines(row.path));
    ASSERT_EQ(Starts(), 1u);
    EXPECT_EQ(standin::ProcessStarts()[0].commandLine, row.commandLine);
    EXPECT_EQ(standin::WaitRequests(), std::vector<DWORD>{60000});
    const auto runs = tool_->Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{row.received ? row.received : row.path, "/t", "/l", "/q", "/grant",
                                                 "*S-1-5-32-545:(OI)(CI)F"}));
  }
}

TEST_F(FolderPermissionTest, CallsConvertTestGuardThenRunTheTool) {
  MakeFolder(kData);
  EXPECT_EQ(Run(kData), kSuccess);
  ExpectGuardBetween({"AreFileApisANSI", "MultiByteToWideChar", "MultiByteToWideChar", "CreateFileW", "CloseHandle"},
                     {"CreateProcessA", "CloseHandle", "WaitForSingleObject", "GetExitCodeProcess", "CloseHandle"});
}

TEST_F(FolderPermissionTest, MissingPathStartsNothing) {
  MakeFolder("C:\\Quorvel");
  // Not found (error 2) and a missing parent (error 3) both read as absent.
  for (const char* path : {"C:\\Quorvel\\Data", "C:\\Missing\\Data", "\\\\server\\share\\Data"}) {
    SCOPED_TRACE(path);
    standin::ClearMessages();
    EXPECT_EQ(Run(path), kSuccess);
    EXPECT_EQ(ActionLines(kLabel),
              (std::vector<std::string>{Line("Initialized."), Line(std::string("folderPath = ") + path),
                                        Line("isExist=0  errorCode=00000000")}));
  }
  EXPECT_EQ(standin::CallCount("CreateProcessA"), 0);
}

// Errors 2, 3, 53 and 123 mean "not there"; any other is a failed query.
TEST_F(FolderPermissionTest, ExistenceErrorsSplitIntoAbsentAndFailed) {
  const struct {
    DWORD error;
    UINT code;
    std::vector<std::string> more;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, kSuccess, {Line("isExist=0  errorCode=00000000")}},
      {ERROR_PATH_NOT_FOUND, kSuccess, {Line("isExist=0  errorCode=00000000")}},
      {ERROR_BAD_NETPATH, kSuccess, {Line("isExist=0  errorCode=00000000")}},
      {ERROR_INVALID_NAME, kSuccess, {Line("isExist=0  errorCode=00000000")}},
      {ERROR_ACCESS_DENIED,
       kFailure,
       {Line("isExist=0  errorCode=00000005"),
        Line("Error 0x80004005: std::filesystem::exists failed with code 0x00000005")}},
      {ERROR_SHARING_VIOLATION,
       kFailure,
       {Line("isExist=0  errorCode=00000020"),
        Line("Error 0x80004005: std::filesystem::exists failed with code 0x00000020")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.error);
    Restart();
    MakeFolder(kData);
    standin::FailCall("CreateFileW", row.error);
    EXPECT_EQ(Run(kData), row.code);
    EXPECT_EQ(ActionLines(kLabel), Plus({Line("Initialized."), Line(std::string("folderPath = ") + kData)}, row.more));
    EXPECT_EQ(Starts(), 0u);
  }
}

TEST_F(FolderPermissionTest, FailingToolFailsTheAction) {
  const struct {
    const char* name;
    std::function<void(ToolDouble&)> arrange;
    std::vector<std::string> more;
  } cases[] = {
      {"exit code 1",
       [](ToolDouble& tool) { tool.ExitWith("1"); },
       {Line("Error 0x80004005: error from process : exitCode = 0x00000001"),
        Line("Error 0x80004005: execQuietCmdLine() failed")}},
      // A start that fails without a last error is still a failure.
      {"start fails, last error 0",
       [](ToolDouble&) { standin::FailCall("CreateProcessA", 0); },
       {Line("Error 0x80004005: CreateProcessW() failed"), Line("Error 0x80004005: execQuietCmdLine() failed")}},
      {"tool not found",
       [](ToolDouble&) { setenv("PATH", "/nonexistent", 1); },
       {Line("Error 0x80070002: CreateProcessW() failed"), Line("Error 0x80070002: execQuietCmdLine() failed")}},
      // The 60-second wait is cut short by the stand-in; the tool runs on.
      {"time-out",
       [](ToolDouble& tool) {
         tool.SleepFor(20000);
         standin::CapWaits(100);
       },
       {Line("Error 0x80004005: CreateProcessW() timeout"), Line("Error 0x80004005: execQuietCmdLine() failed")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFolder(kData);
    row.arrange(*tool_);
    EXPECT_EQ(Run(kData), kFailure);
    EXPECT_EQ(ActionLines(kLabel), Plus(FoundLines(kData), row.more));
    EXPECT_EQ(standin::CallCount("CreateProcessA"), 1);
  }
  EXPECT_EQ(standin::WaitRequests(), std::vector<DWORD>{60000});
}

// A recursive grant there would give every user full control of data that
// no package owns; inside those folders, packages keep their own.
TEST_F(FolderPermissionTest, UnsafeTargetsAreRefusedAfterTheExistenceTest) {
  const char* const kIs = "it is the standard folder ";
  const struct {
    std::string path;
    std::string reason;  // empty: granted
    bool asSystem;
  } cases[] = {
      {"C:\\Windows", std::string(kIs) + "'C:\\Windows'", false},
      {"C:\\Windows\\System32\\", std::string(kIs) + "'C:\\Windows\\system32'", false},
      {"C:\\Windows\\Fonts", std::string(kIs) + "'C:\\Windows\\Fonts'", false},
      {"c:\\programdata", std::string(kIs) + "'C:\\ProgramData'", false},
      {"C:\\Users\\installer", std::string(kIs) + "'C:\\Users\\installer'", false},
      {"C:\\Users\\Public", std::string(kIs) + "'C:\\Users\\Public'", false},
      {"C:\\Users\\installer\\AppData\\Local\\Temp\\",
       std::string(kIs) + "'C:\\Users\\installer\\AppData\\Local\\Temp'", false},
      {"C:\\Users\\ann\\AppData\\Roaming", std::string(kIs) + "'C:\\Users\\ann\\AppData\\Roaming'", true},
      {"C:\\Users\\installer\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'", false},
      {"C:\\PROGRA~1", std::string(kIs) + "'C:\\Program Files'", false},
      // The system's link is followed, the user's planted one behind it is not.
      {"C:\\Users\\All Users\\Quorvel", "it runs through the link 'C:\\Users\\All Users\\Quorvel'", false},
      {"C:\\ProgramData\\Quorvel\\Data", "it runs through the link 'C:\\ProgramData\\Quorvel'", false},
      {"\\\\localhost\\C$\\Quorvel", "it is on an administrative share", false},
      {"D:\\", "it is relative or a volume root", false},
      {"Quorvel\\Data", "it is relative or a volume root", false},
      {"C:\\Users\\installer\\AppData\\Roaming\\Quorvel", "", false},
      {"C:\\PROGRA~2\\COMMON~1\\Quorvel\\", "", false},
      {"C:\\Users\\ann\\AppData\\Local\\Quorvel", "", true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
    standin::LayOutProfiles();
    if (row.asSystem) standin::SetAccount(standin::Account::kLocalSystem);
    // A folder a standard user planted where the package's will be.
    PlantLink("C:\\ProgramData\\Quorvel", "C:\\Windows");
    MakeFolder(row.path);
    const bool granted = row.reason.empty();
    EXPECT_EQ(Run(row.path), granted ? kSuccess : kFailure);
    EXPECT_EQ(ActionLines(kLabel),
              granted ? FoundLines(row.path) : Plus(FoundLines(row.path), {Line(RefusalLine(row.path, row.reason))}));
    EXPECT_EQ(Starts(), granted ? 1u : 0u);
  }
}

// A link a standard user put into the tree (its folders are open to every
// user after the first grant) would carry a recursive grant to whatever it
// leads to: the tree is walked first, and the tool is told (/l) to change
// links themselves, so that one planted after the walk gives nothing away.
TEST_F(FolderPermissionTest, LinksInTheTreeAreJudgedFirstAndNeverFollowedByTheGrant) {
  const std::string kSystem32 = "C:\\Windows\\System32";
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::string refusal;  // empty: granted
    std::vector<std::string> granted;
    std::string target = kData;
  } cases[] = {
      {"a user's link",
       [] { PlantLink("C:\\Quorvel\\Data\\logs", "C:\\Windows\\System32"); },
       "it holds the link 'C:\\Quorvel\\Data\\logs'",
       {}},
      {"a user's link deeper down",
       [] { PlantLink("C:\\Quorvel\\Data\\cache\\v2\\logs", "C:\\Windows\\System32"); },
       "it holds the link 'C:\\Quorvel\\Data\\cache\\v2\\logs'",
       {}},
      {"a link whose owner cannot be read",
       [] {
         PlantLink("C:\\Quorvel\\Data\\logs", "C:\\Windows\\System32");
         standin::SetOwner("C:\\Quorvel\\Data\\logs", standin::Owner::kUnreadable);
       },
       "it holds the link 'C:\\Quorvel\\Data\\logs'",
       {}},
      {"a user's link in a tree on a share",
       [] { PlantLink("\\\\server\\share\\Data\\logs", "C:\\Windows\\System32"); },
       "it holds the link '\\\\server\\share\\Data\\logs'",
       {},
       "\\\\server\\share\\Data"},
      {"a folder that cannot be listed",
       [] {
         MakeFolder("C:\\Quorvel\\Data\\cache\\v2");
         standin::FailCall("FindFirstFileExW", ERROR_ACCESS_DENIED, 1);
       },
       "it cannot be examined (error 0x00000005)",
       {}},
      {"an administrator's link, changed itself",
       [] {
         MakeFolder("D:\\Disk\\Logs");
         PlantLink("C:\\Quorvel\\Data\\logs", "D:\\Disk");
         standin::SetOwner("C:\\Quorvel\\Data\\logs", standin::Owner::kAdministrators);
       },
       "",
       {"C:\\Quorvel\\Data", "C:\\Quorvel\\Data\\a.txt", "C:\\Quorvel\\Data\\logs"}},
      {"a user's link planted after the walk, changed itself",
       [] {
         standin::BeforeCall("CreateProcessA", [] { PlantLink("C:\\Quorvel\\Data\\logs", "C:\\Windows\\System32"); });
       },
       "",
       {"C:\\Quorvel\\Data", "C:\\Quorvel\\Data\\a.txt", "C:\\Quorvel\\Data\\logs"}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    tool_->GrantIn(sandbox_);
    MakeFolder(kSystem32 + "\\config");
    MakeFile(row.target + "\\a.txt", "data");
    row.arrange();
    const bool granted = row.refusal.empty();
    EXPECT_EQ(Run(row.target), granted ? kSuccess : kFailure);
    EXPECT_EQ(ActionLines(kLabel), granted
                                       ? FoundLines(row.target)
                                       : Plus(FoundLines(row.target), {Line(RefusalLine(row.target, row.refusal))}));
    EXPECT_EQ(Starts(), granted ? 1u : 0u);
    std::vector<std::string> reached = tool_->Granted();
    std::sort(reached.begin(), reached.end());
    EXPECT_EQ(reached, row.granted);
  }

  // What the planted link gave the Users group before the walk and /l: the
  // system folder and everything in it.
  Restart();
  tool_->GrantIn(sandbox_);
  MakeFolder(kSystem32 + "\\config");
  MakeFolder(kData);
  PlantLink("C:\\Quorvel\\Data\\logs", kSystem32);
  ASSERT_EQ(execQuietCmdLine("icacls \"C:\\Quorvel\\Data\" /t /q /grant *S-1-5-32-545:(OI)(CI)F", 60000), S_OK);
  std::vector<std::string> reached = tool_->Granted();
  std::sort(reached.begin(), reached.end());
  EXPECT_EQ(reached,
            (std::vector<std::string>{"C:\\Quorvel\\Data", "C:\\Windows\\System32", "C:\\Windows\\System32\\config"}));
}

// Such a path cannot exist on Windows, but where it can, it must not end
// the quoted argument and add switches of its own.
TEST_F(FolderPermissionTest, PathWithAQuotationMarkIsRefused) {
  const std::string path = "C:\\Quorvel\\Data\" /reset \"Quorvel";
  MakeFolder(path);
  EXPECT_EQ(Run(path), kFailure);
  EXPECT_EQ(
      ActionLines(kLabel),
      Plus(FoundLines(path), {Line("Error 0x80070057: Refusing path '" + path + "': it contains a quotation mark")}));
  EXPECT_EQ(standin::CallCount("CreateProcessA"), 0);
}

TEST_F(FolderPermissionTest, LongestPathRunsAndOneMoreIsRefusedByTheRunner) {
  const std::string longest = PathOfLength(974);
  MakeFolder(longest);
  EXPECT_EQ(Run(longest), kSuccess);
  ASSERT_EQ(Starts(), 1u);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine, "icacls \"" + longest + "\" " + kGrant);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine.size(), 1023u);

  Restart();
  const std::string tooLong = PathOfLength(975);
  MakeFolder(tooLong);
  EXPECT_EQ(Run(tooLong), kFailure);
  EXPECT_EQ(ActionLines(kLabel),
            Plus(FoundLines(tooLong),
                 {Line("Error 0x80070057: Command line of 1024 characters is too long to run (at most 1023)"),
                  Line("Error 0x80070057: execQuietCmdLine() failed")}));
  EXPECT_EQ(standin::CallCount("CreateProcessA"), 0);
}

// UTF-8 when the C runtime's locale uses it, else the file APIs' code page;
// text invalid in that code page fails the action instead of naming some
// other path.
TEST_F(FolderPermissionTest, PathIsConvertedInTheCodePageInEffect) {
  const std::vector<std::string> found = {Line("isExist=1  errorCode=00000000")};
  const std::vector<std::string> absent = {Line("isExist=0  errorCode=00000000")};
  const struct {
    unsigned crtCodePage;
    bool fileApisAnsi;
    UINT ansiCodePage;
    const char* path;
    UINT code;
    std::vector<std::string> more;
  } cases[] = {
      {CP_UTF8, true, 1252, "C:\\Caf\xC3\xA9", kSuccess, found},
      {1252, true, 1252, "C:\\Caf\xE9", kSuccess, found},
      {CP_UTF8,
       false,
       1252,
       "C:\\Caf\xE9",
       kFailure,
       {Line("Error 0x80070459: Failed to convert path 'C:\\Caf\xE9' from code page 65001")}},
      // In the OEM code page 437 the byte of 'é' is 'Θ': another folder.
      {1252, false, 1252, "C:\\Caf\xE9", kSuccess, absent},
      // 1252 defines every byte; 932 leaves a lead byte without its trail.
      {0, true, 1252, "C:\\Caf\x81", kSuccess, absent},
      {0,
       true,
       932,
       "C:\\Caf\x81",
       kFailure,
       {Line("Error 0x80070459: Failed to convert path 'C:\\Caf\x81' from code page 0")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
    std::filesystem::create_directories(sandbox_ + "/C/Caf\xC3\xA9");
    standin::SetCrtCodePage(row.crtCodePage);
    standin::SetFileApisAnsi(row.fileApisAnsi);
    standin::SetSystemCodePages(row.ansiCodePage, row.ansiCodePage == 932 ? 932 : 437);
    EXPECT_EQ(Run(row.path), row.code);
    EXPECT_EQ(ActionLines(kLabel),
              Plus({Line("Initialized."), Line(std::string("folderPath = ") + row.path)}, row.more));
    EXPECT_EQ(standin::CallCount("CreateFileW") > 0, row.code == kSuccess) << "the existence query ran";
  }
}

}  // namespace
