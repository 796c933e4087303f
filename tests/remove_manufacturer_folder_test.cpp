// RemoveManufacturerFolder over a sandboxed file system: the grant and the
// removal on one handle of the folder.
#include <windows.h>

#include "actions/exports.h"
#include "folder_action_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kLabel[] = "RemoveManufacturerFolder";
constexpr char kVendor[] = "C:\\Program Files\\Quorvel";

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
    bool file;
  } cases[] = {
      {"C:\\Program Files\\Quorvel", false},
      {"C:\\Program Files\\Quorvel\\", false},
      // A file of size 0 counts as empty.
      {"C:\\Program Files\\Quorvel.txt", true},
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
    EXPECT_EQ(standin::ProcessStarts().size(), 0u) << "no tool";
  }
}

// Each query converts the path afresh; the guard runs between the emptiness
// test and the folder's one open, on which it is checked, granted on and
// marked for deletion.
TEST_F(RemoveManufacturerFolderTest, CallsFollowTheSteps) {
  MakeFolder(kVendor);
  EXPECT_EQ(Run(kVendor), kSuccess);
  const std::vector<std::string> convert = {"AreFileApisANSI", "MultiByteToWideChar", "MultiByteToWideChar"};
  std::vector<std::string> before = Plus(convert, {"CreateFileW", "CloseHandle"});
  before = Plus(before, convert);
  before = Plus(before, {"CreateFileW", "GetFileInformationByHandle", "CloseHandle"});
  before = Plus(before, {"FindFirstFileExW", "FindNextFileW", "FindNextFileW", "FindClose"});
  ExpectGuardBetween(
      before, {"CreateFileW", "GetFileInformationByHandle", "GetFileInformationByHandleEx", "GetKernelObjectSecurity",
               "SetKernelObjectSecurity", "SetFileInformationByHandle", "CloseHandle"});
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
    EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), 0);
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
    EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), 0);
  }

  // A file with content is not empty.
  Restart();
  const std::string file = std::string(kVendor) + ".txt";
  MakeFile(file, "x");
  EXPECT_EQ(Run(file), kSuccess);
  EXPECT_EQ(ActionLines(kLabel).back(), Line("manufacturer folder not empty"));
  EXPECT_TRUE(Exists(file));
}

// The folder is removed only after the grant has succeeded.
TEST_F(RemoveManufacturerFolderTest, FailingGrantLeavesTheFolder) {
  const std::string vendor = kVendor;
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> more;
  } cases[] = {
      {"permissions cannot be read",
       [] { standin::FailCall("GetKernelObjectSecurity", ERROR_ACCESS_DENIED); },
       {Line("Error 0x80070005: Failed to read the permissions of '" + vendor + "'"),
        Line("Error 0x80070005: Failed to grant the Users group full control on '" + vendor + "'")}},
      {"permissions cannot be set, last error 0",
       [] { standin::FailCall("SetKernelObjectSecurity", 0); },
       {Line("Error 0x80004005: Failed to set the permissions of '" + vendor + "'"),
        Line("Error 0x80004005: Failed to grant the Users group full control on '" + vendor + "'")}},
      // Held open by another process without delete sharing.
      {"folder in use",
       [] { standin::LockEntry(kVendor); },
       {Line("Error 0x80070020: Failed to open '" + vendor + "'"),
        Line("Error 0x80070020: Failed to grant the Users group full control on '" + vendor + "'")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFolder(kVendor);
    row.arrange();
    EXPECT_EQ(Run(kVendor), kFailure);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(kVendor), row.more));
    EXPECT_TRUE(Exists(kVendor));
    EXPECT_EQ(standin::CallCount("SetFileInformationByHandle"), 0);
  }
}

// Nothing guards the folder before it is opened; once open, what another
// process puts in it is neither granted on nor removed.
TEST_F(RemoveManufacturerFolderTest, ChangesBeforeTheRemovalShowInIt) {
  const std::string late = std::string(kVendor) + "\\late.txt";
  const struct {
    const char* name;
    std::function<void()> arrange;
    UINT code;
    std::vector<std::string> more;
  } cases[] = {
      {"removed by someone else while it is examined",
       [] { standin::BeforeCall("GetSystemWindowsDirectoryW", [] { fs::remove(Host(kVendor)); }); },
       kSuccess,
       {Line("remove result=0  errorCode=00000000")}},
      {"filled by someone else while it is granted on",
       [late] { standin::BeforeCall("SetKernelObjectSecurity", [late] { MakeFile(late, "x"); }); },
       kFailure,
       {Line("remove result=0  errorCode=00000091"),
        Line("Error 0x80004005: std::filesystem::remove failed with code 0x00000091")}},
      {"removal denied",
       [] { standin::FailCall("SetFileInformationByHandle", ERROR_ACCESS_DENIED); },
       kFailure,
       {Line("remove result=0  errorCode=00000005"),
        Line("Error 0x80004005: std::filesystem::remove failed with code 0x00000005")}},
      {"removal fails, last error 0",
       [] { standin::FailCall("SetFileInformationByHandle", 0); },
       kFailure,
       {Line("remove result=0  errorCode=0000001f"),
        Line("Error 0x80004005: std::filesystem::remove failed with code 0x0000001f")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFolder(kVendor);
    row.arrange();
    EXPECT_EQ(Run(kVendor), row.code);
    EXPECT_EQ(ActionLines(kLabel), Plus(EmptyLines(kVendor), row.more));
    EXPECT_EQ(Exists(kVendor), row.code == kFailure);
    if (Exists(late)) {
      EXPECT_FALSE(GrantedToUsers(late)) << "nothing propagates to what came late";
    }
  }
}

// Only empty folders reach the guard: each row is one, or a link to one.
TEST_F(RemoveManufacturerFolderTest, UnsafeTargetsAreRefusedBeforeTheGrant) {
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
    EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), removed ? 1 : 0);
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
  EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), 0);
  EXPECT_TRUE(Exists("D:\\"));
}

// Where a path or its listing pattern ("\*" after it) reaches MAX_PATH
// characters, the file queries take the folder's verbatim form.
TEST_F(RemoveManufacturerFolderTest, PathsAroundMaxPathAreFoundListedAndRemoved) {
  for (size_t length : {MAX_PATH - 3, MAX_PATH - 2, MAX_PATH - 1, MAX_PATH, MAX_PATH + 40, 1023}) {
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
