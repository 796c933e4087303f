// ChangeQuorvelFolderPermission over a sandboxed file system, with the
// recording icacls double standing in for the tool.
#include <windows.h>

#include "actions/exports.h"
#include "folder_action_support.h"

namespace {

constexpr char kLabel[] = "ChangeQuorvelFolderPermission";
constexpr char kData[] = "C:\\Quorvel\\Data";
constexpr char kGrant[] = "/t /q /grant *S-1-5-32-545:(OI)(CI)F";

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
  } cases[] = {
      {"C:\\Quorvel\\Data", "icacls \"C:\\Quorvel\\Data\" /t /q /grant *S-1-5-32-545:(OI)(CI)F", false},
      {"C:\\Quorvel\\Data\\", "icacls \"C:\\Quorvel\\Data\\\\\" /t /q /grant *S-1-5-32-545:(OI)(CI)F", false},
      {"C:\\Quorvel\\Data\\\\", "icacls \"C:\\Quorvel\\Data\\\\\\\\\" /t /q /grant *S-1-5-32-545:(OI)(CI)F", false},
      {"C:\\Quorvel\\Program Files\\App",
       "icacls \"C:\\Quorvel\\Program Files\\App\" /t /q /grant "
       "*S-1-5-32-545:(OI)(CI)F",
       false},
      {"C:\\Quorvel\\notes.txt", "icacls \"C:\\Quorvel\\notes.txt\" /t /q /grant *S-1-5-32-545:(OI)(CI)F", true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
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
    EXPECT_EQ(runs[0], (std::vector<std::string>{row.path, "/t", "/q", "/grant", "*S-1-5-32-545:(OI)(CI)F"}));
  }
}

TEST_F(FolderPermissionTest, CallsConvertTestThenRunTheTool) {
  MakeFolder(kData);
  EXPECT_EQ(Run(kData), kSuccess);
  EXPECT_EQ(PlatformCalls(),
            (std::vector<std::string>{"AreFileApisANSI", "MultiByteToWideChar", "MultiByteToWideChar", "CreateFileW",
                                      "GetFileInformationByHandle", "CloseHandle", "CreateProcessA", "CloseHandle",
                                      "WaitForSingleObject", "GetExitCodeProcess", "CloseHandle"}));
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
// no package owns.
TEST_F(FolderPermissionTest, UnsafeTargetsAreRefusedAfterTheExistenceTest) {
  for (const char* path : {"C:\\Windows", "C:\\Windows\\system32\\", "C:\\Program Files", "c:\\programdata",
                           "C:\\Users\\installer", "D:\\", "Quorvel\\Data"}) {
    SCOPED_TRACE(path);
    Restart();
    MakeFolder(path);
    EXPECT_EQ(Run(path), kFailure);
    EXPECT_EQ(ActionLines(kLabel),
              Plus(FoundLines(path), {Line(std::string("Error 0x80070057: Refusing path '") + path +
                                           "': it is relative, a volume root or a principal folder")}));
    EXPECT_EQ(Starts(), 0u);
  }
}

// Such a path cannot exist on Windows, but where it can, it must not end
// the quoted argument and add switches of its own.
TEST_F(FolderPermissionTest, PathWithAQuotationMarkIsRefused) {
  const std::string path = "C:\\Quorvel\\Data\" /reset \"C:\\Quorvel";
  MakeFolder(path);
  EXPECT_EQ(Run(path), kFailure);
  EXPECT_EQ(
      ActionLines(kLabel),
      Plus(FoundLines(path), {Line("Error 0x80070057: Refusing path '" + path + "': it contains a quotation mark")}));
  EXPECT_EQ(standin::CallCount("CreateProcessA"), 0);
}

TEST_F(FolderPermissionTest, LongestPathRunsAndOneMoreIsRefusedByTheRunner) {
  const std::string longest = PathOfLength(977);
  MakeFolder(longest);
  EXPECT_EQ(Run(longest), kSuccess);
  ASSERT_EQ(Starts(), 1u);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine, "icacls \"" + longest + "\" " + kGrant);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine.size(), 1023u);

  Restart();
  const std::string tooLong = PathOfLength(978);
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
  const struct {
    unsigned crtCodePage;
    bool fileApisAnsi;
    const char* path;
    UINT code;
    std::vector<std::string> more;
  } cases[] = {
      {CP_UTF8, true, "C:\\Caf\xC3\xA9", kSuccess, {Line("isExist=1  errorCode=00000000")}},
      {1252, true, "C:\\Caf\xE9", kSuccess, {Line("isExist=1  errorCode=00000000")}},
      {CP_UTF8,
       false,
       "C:\\Caf\xE9",
       kFailure,
       {Line("Error 0x80070459: Failed to convert path 'C:\\Caf\xE9' from code page 65001")}},
      {1252,
       false,
       "C:\\Caf\xE9",
       kFailure,
       {Line("Error 0x80070459: Failed to convert path 'C:\\Caf\xE9' from code page 1")}},
      {0,
       true,
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
    EXPECT_EQ(Run(row.path), row.code);
    EXPECT_EQ(ActionLines(kLabel),
              Plus({Line("Initialized."), Line(std::string("folderPath = ") + row.path)}, row.more));
    EXPECT_EQ(standin::CallCount("CreateFileW"), row.code == kSuccess ? 1 : 0);
  }
}

}  // namespace
