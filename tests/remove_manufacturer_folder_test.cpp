// RemoveManufacturerFolder over a sandboxed file system, with the recording
// icacls double standing in for the tool.
#include <windows.h>

#include "actions/exports.h"
#include "folder_action_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kLabel[] = "RemoveManufacturerFolder";
constexpr char kVendor[] = "C:\\Program Files\\Quorvel";
constexpr char kGrant[] = "/l /q /grant *S-1-5-32-545:(OI)(CI)F";

std::string Line(const std::string& text) { return std::string(kLabel) + ":  " + text; }

// The lines of a run that found the object empty, up to the emptiness line.
std::vector<std::string> EmptyLines(const std::string& path) {
  return {Line("Initialized."), Line("folderPath = " + path), Line("isExist=1  errorCode=00000000"),
          Line("isEmpty=1  errorCode=00000000")};
}

class RemoveManufacturerFolderTest : public FolderActionTest {
 protected:
  UINT Run(const std::string& path) {
    SetArgument(path);
    return RemoveManufacturerFolder(session_);
  }
};

TEST_F(RemoveManufacturerFolderTest, EmptyObjectIsGrantedOnThenRemoved) {
  const struct {
    const char* path;
    const char* commandLine;
    bool file;
  } cases[] = {
      {"C:\\Program Files\\Quorvel", "icacls \"C:\\Program Files\\Quorvel\" /l /q /grant *S-1-5-32-545:(OI)(CI)F",
       false},
      {"C:\\Program Files\\Quorvel\\", "icacls \"C:\\Program Files\\Quorvel\\\\\" /l /q /grant *S-1-5-32-545:(OI)(CI)F",
       false},
      // A file of size 0 counts as empty.
      {"C:\\Program Files\\Quorvel.txt",
       "icacls \"C:\\Program Files\\Quorvel.txt\" /l /q /grant *S-1-5-32-545:(OI)(CI)F", true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
    if (row.file) {
      MakeFile(row.path, "");
    } else {
      MakeFolder(row.path);
    }
    EXPECT_EQ(Run(row.path), kSuccess);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(row.path), {Line("remove result=1  errorCode=00000000")}));
    EXPECT_FALSE(Exists(row.path));
    EXPECT_TRUE(Exists("C:\\Program Files"));
    ASSERT_EQ(Starts(), 1u);
    EXPECT_EQ(standin::ProcessStarts()[0].commandLine, row.commandLine);
    EXPECT_EQ(standin::WaitRequests(), std::vector<DWORD>{60000});
    EXPECT_EQ(tool_->Runs(),
              (std::vector<std::vector<std::string>>{{row.path, "/l", "/q", "/grant", "*S-1-5-32-545:(OI)(CI)F"}}));
  }
}

// Each query converts the path afresh; the guard and then the tool run
// between the emptiness test and the removal.
TEST_F(RemoveManufacturerFolderTest, CallsFollowTheSteps) {
  MakeFolder(kVendor);
  EXPECT_EQ(Run(kVendor), kSuccess);
  const std::vector<std::string> convert = {"AreFileApisANSI", "MultiByteToWideChar", "MultiByteToWideChar"};
  std::vector<std::string> before = Plus(convert, {"CreateFileW", "CloseHandle"});
  before = Plus(before, convert);
  before = Plus(before, {"CreateFileW", "GetFileInformationByHandle", "CloseHandle"});
  before = Plus(before, {"FindFirstFileExW", "FindNextFileW", "FindNextFileW", "FindClose"});
  std::vector<std::string> after = {"CreateProcessA", "CloseHandle", "WaitForSingleObject", "GetExitCodeProcess",
                                    "CloseHandle"};
  after = Plus(after, convert);
  after = Plus(after, {"GetFileAttributesW", "RemoveDirectoryW"});
  ExpectGuardBetween(before, after);
}

TEST_F(RemoveManufacturerFolderTest, AbsentOrUntestableFolderIsLeftAloneWithSuccess) {
  const struct {
    DWORD injected;  // 0: really absent
    const char* isExist;
  } cases[] = {{0, "isExist=0  errorCode=00000000"},
               {ERROR_PATH_NOT_FOUND, "isExist=0  errorCode=00000000"},
               {ERROR_ACCESS_DENIED, "isExist=0  errorCode=00000005"}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.injected);
    Restart();
    if (row.injected) {
      MakeFolder(kVendor);
      standin::FailCall("CreateFileW", row.injected);
    }
    EXPECT_EQ(Run(kVendor), kSuccess);
    EXPECT_EQ(ActionLines(kLabel),
              (std::vector<std::string>{Line("Initialized."), Line(std::string("folderPath = ") + kVendor),
                                        Line(row.isExist), Line("manufacturer folder does not exist")}));
    EXPECT_EQ(Starts(), 0u);
    EXPECT_EQ(Exists(kVendor), row.injected != 0);
  }
}

TEST_F(RemoveManufacturerFolderTest, NonEmptyOrUntestableObjectIsLeftAloneWithSuccess) {
  const struct {
    const char* name;
    std::function<void()> arrange;
    const char* isEmpty;
  } cases[] = {
      {"one file", [] { MakeFile(std::string(kVendor) + "\\a.txt", "a"); }, "isEmpty=0  errorCode=00000000"},
      {"one empty subfolder", [] { MakeFolder(std::string(kVendor) + "\\sub"); }, "isEmpty=0  errorCode=00000000"},
      {"only a two-character dot name", [] { MakeFile(std::string(kVendor) + "\\.a", ""); },
       "isEmpty=0  errorCode=00000000"},
      {"status fails", [] { standin::FailCall("CreateFileW", ERROR_ACCESS_DENIED, 1); },
       "isEmpty=0  errorCode=00000005"},
      {"listing fails", [] { standin::FailCall("FindFirstFileExW", ERROR_ACCESS_DENIED); },
       "isEmpty=0  errorCode=00000005"},
      {"listing breaks off", [] { standin::FailCall("FindNextFileW", ERROR_GEN_FAILURE); },
       "isEmpty=0  errorCode=0000001f"},
      // A failed listing says nothing about the folder, whatever its error.
      {"listing fails without an error", [] { standin::FailCall("FindFirstFileExW", 0); },
       "isEmpty=0  errorCode=0000001f"},
      {"listing finds no entry at all", [] { standin::FailCall("FindFirstFileExW", ERROR_FILE_NOT_FOUND); },
       "isEmpty=0  errorCode=00000002"},
      // Removed by someone else after the existence test.
      {"gone before the emptiness test",
       [] {
         standin::BeforeCall(
             "CreateFileW", [] { fs::remove(Host(kVendor)); }, 1);
       },
       "isEmpty=0  errorCode=00000002"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFolder(kVendor);
    row.arrange();
    EXPECT_EQ(Run(kVendor), kSuccess);
    EXPECT_EQ(ActionLines(kLabel),
              (std::vector<std::string>{Line("Initialized."), Line(std::string("folderPath = ") + kVendor),
                                        Line("isExist=1  errorCode=00000000"), Line(row.isEmpty),
                                        Line("manufacturer folder not empty")}));
    EXPECT_EQ(Starts(), 0u);
  }

  // A file with content is not empty.
  Restart();
  const std::string file = std::string(kVendor) + ".txt";
  MakeFile(file, "x");
  EXPECT_EQ(Run(file), kSuccess);
  EXPECT_EQ(ActionLines(kLabel).back(), Line("manufacturer folder not empty"));
  EXPECT_TRUE(Exists(file));
}

// The folder is removed only after the tool has succeeded.
TEST_F(RemoveManufacturerFolderTest, FailingToolLeavesTheFolder) {
  const struct {
    const char* name;
    std::function<void(ToolDouble&)> arrange;
    std::vector<std::string> more;
  } cases[] = {
      {"exit code 5",
       [](ToolDouble& tool) { tool.ExitWith("5"); },
       {Line("Error 0x80004005: error from process : exitCode = 0x00000005"),
        Line("Error 0x80004005: execQuietCmdLine() failed")}},
      // Once read as success, which removed the folder without the grant.
      {"start fails, last error 0",
       [](ToolDouble&) { standin::FailCall("CreateProcessA", 0); },
       {Line("Error 0x80004005: CreateProcessW() failed"), Line("Error 0x80004005: execQuietCmdLine() failed")}},
      {"wait fails, last error 0",
       [](ToolDouble&) { standin::FailCall("WaitForSingleObject", 0); },
       {Line("Error 0x80004005: WaitForSingleObject() failed"), Line("Error 0x80004005: execQuietCmdLine() failed")}},
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
    MakeFolder(kVendor);
    row.arrange(*tool_);
    EXPECT_EQ(Run(kVendor), kFailure);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(kVendor), row.more));
    EXPECT_TRUE(Exists(kVendor));
    // No removal is tried once the tool has failed.
    const std::vector<std::string> calls = PlatformCalls();
    const auto tool = std::find(calls.begin(), calls.end(), "CreateProcessA");
    EXPECT_EQ(std::count(tool, calls.end(), "GetFileAttributesW"), 0);
    EXPECT_EQ(standin::CallCount("RemoveDirectoryW"), 0);
  }
}

// Nothing guards the folder while the tool runs.
TEST_F(RemoveManufacturerFolderTest, ChangesWhileTheToolRunsShowInTheRemoval) {
  const struct {
    const char* name;
    std::function<void()> meanwhile;
    UINT code;
    std::vector<std::string> more;
  } cases[] = {
      {"removed by someone else",
       [] { fs::remove(Host(kVendor)); },
       kSuccess,
       {Line("remove result=0  errorCode=00000000")}},
      {"filled by someone else",
       [] { MakeFile(std::string(kVendor) + "\\late.txt", "x"); },
       kFailure,
       {Line("remove result=0  errorCode=00000091"),
        Line("Error 0x80004005: std::filesystem::remove failed with code 0x00000091")}},
      {"removal denied",
       [] { standin::FailCall("RemoveDirectoryW", ERROR_ACCESS_DENIED); },
       kFailure,
       {Line("remove result=0  errorCode=00000005"),
        Line("Error 0x80004005: std::filesystem::remove failed with code 0x00000005")}},
      {"removal fails, last error 0",
       [] { standin::FailCall("RemoveDirectoryW", 0); },
       kFailure,
       {Line("remove result=0  errorCode=0000001f"),
        Line("Error 0x80004005: std::filesystem::remove failed with code 0x0000001f")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFolder(kVendor);
    standin::BeforeCall("CreateProcessA", row.meanwhile);
    EXPECT_EQ(Run(kVendor), row.code);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(kVendor), row.more));
    EXPECT_EQ(Starts(), 1u);
  }
}

// Only empty folders reach the guard: each row is one, or a link to one.
TEST_F(RemoveManufacturerFolderTest, UnsafeOrQuotedTargetsAreRefusedBeforeTheToolRuns) {
  const char* const kIs = "it is the standard folder ";
  const struct {
    std::string path;
    std::string reason;  // empty: removed
    bool asSystem;
  } cases[] = {
      {"C:\\Windows\\Fonts\\", std::string(kIs) + "'C:\\Windows\\Fonts'", false},
      {"C:\\Users\\installer\\AppData\\Local\\Temp", std::string(kIs) + "'C:\\Users\\installer\\AppData\\Local\\Temp'",
       false},
      {"C:\\Users\\ann\\Favorites", std::string(kIs) + "'C:\\Users\\ann\\Favorites'", true},
      {"C:\\Users\\Public\\DOCUME~1", std::string(kIs) + "'C:\\Users\\Public\\Documents'", false},
      // Empty, and the ancestor of folders that the Public profile does not have.
      {"C:\\Users\\Public\\AppData", "it holds the standard folder 'C:\\Users\\Public\\AppData\\Local'", false},
      // A link removed would be the link alone, but the grant follows it.
      {"C:\\ProgramData\\Quorvel", "it runs through the link 'C:\\ProgramData\\Quorvel'", false},
      {"\\\\localhost\\C$\\Quorvel", "it is on an administrative share", false},
      {"Quorvel", "it is relative or a volume root", false},
      {"C:\\Quorvel\" /reset \"Quorvel", "it contains a quotation mark", false},
      {"C:\\Users\\installer\\AppData\\Roaming\\Quorvel", "", false},
      {"C:\\PROGRA~1\\COMMON~1\\Quorvel\\", "", false},
      {"C:\\Users\\ann\\AppData\\Local\\Quorvel", "", true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
    standin::LayOutProfiles();
    if (row.asSystem) standin::SetAccount(standin::Account::kLocalSystem);
    PlantLink("C:\\ProgramData\\Quorvel", "C:\\Windows\\Fonts");
    MakeFolder(row.path);
    const bool removed = row.reason.empty();
    EXPECT_EQ(Run(row.path), removed ? kSuccess : kFailure);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(row.path), {Line(removed ? "remove result=1  errorCode=00000000"
                                                                            : RefusalLine(row.path, row.reason))}));
    EXPECT_EQ(Starts(), removed ? 1u : 0u);
    EXPECT_EQ(Exists(row.path), !removed);
    EXPECT_TRUE(Exists("C:\\Windows\\Fonts")) << "what the link leads to stays";
  }
}

// A volume's root lists no "." or "..": an empty one lists nothing, which is
// not "empty", so a root never reaches the grant.
TEST_F(RemoveManufacturerFolderTest, EmptyVolumeRootIsLeftAlone) {
  MakeFolder("D:\\");
  EXPECT_EQ(Run("D:\\"), kSuccess);
  EXPECT_EQ(
      ActionLines(kLabel),
      (std::vector<std::string>{Line("Initialized."), Line("folderPath = D:\\"), Line("isExist=1  errorCode=00000000"),
                                Line("isEmpty=0  errorCode=00000002"), Line("manufacturer folder not empty")}));
  EXPECT_EQ(Starts(), 0u);
  EXPECT_TRUE(Exists("D:\\"));
}

TEST_F(RemoveManufacturerFolderTest, LongestPathRunsAndOneMoreIsRefusedByTheRunner) {
  const std::string longest = PathOfLength(977);
  MakeFolder(longest);
  EXPECT_EQ(Run(longest), kSuccess);
  ASSERT_EQ(Starts(), 1u);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine, "icacls \"" + longest + "\" " + kGrant);
  EXPECT_EQ(standin::ProcessStarts()[0].commandLine.size(), 1023u);
  EXPECT_FALSE(Exists(longest));

  Restart();
  const std::string tooLong = PathOfLength(978);
  MakeFolder(tooLong);
  EXPECT_EQ(Run(tooLong), kFailure);
  EXPECT_EQ(ActionLines(kLabel),
            Plus(EmptyLines(tooLong),
                 {Line("Error 0x80070057: Command line of 1024 characters is too long to run (at most 1023)"),
                  Line("Error 0x80070057: execQuietCmdLine() failed")}));
  EXPECT_EQ(standin::CallCount("CreateProcessA"), 0);
  EXPECT_TRUE(Exists(tooLong));
}

// Where a path or its listing pattern ("\*" after it) reaches MAX_PATH
// characters, the file queries take the folder's verbatim form.
TEST_F(RemoveManufacturerFolderTest, PathsAroundMaxPathAreFoundListedAndRemoved) {
  for (size_t length : {MAX_PATH - 3, MAX_PATH - 2, MAX_PATH - 1, MAX_PATH, MAX_PATH + 40}) {
    SCOPED_TRACE(length);
    Restart();
    const std::string path = PathOfLength(length);
    MakeFolder(path);
    EXPECT_EQ(Run(path), kSuccess);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(path), {Line("remove result=1  errorCode=00000000")}));
    EXPECT_FALSE(Exists(path));
  }
}

}  // namespace
