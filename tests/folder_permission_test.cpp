// ChangeQuorvelFolderPermission over a sandboxed file system: the grant made
// on each object's handle, read back from the objects' security descriptors.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "actions/exports.h"
#include "folder_action_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kLabel[] = "ChangeQuorvelFolderPermission";
constexpr char kData[] = "C:\\Quorvel\\Data";
constexpr char kSystem32[] = "C:\\Windows\\System32";

std::string Line(const std::string& text) { return std::string(kLabel) + ":  " + text; }

// The lines of a run that found the object, up to the existence line.
std::vector<std::string> FoundLines(const std::string& path) {
  return {Line("Initialized."), Line("folderPath = " + path), Line("isExist=1  errorCode=00000000")};
}

std::string Counted(int folders, int files, int links) {
  return Line("Granted the Users group full control on " + std::to_string(folders) + " folders, " +
              std::to_string(files) + " files and " + std::to_string(links) + " links");
}

std::string LinkLine(const std::string& link) {
  return Line("Not following the link '" + link + "': granted on the link itself");
}

// Explicit entries that fill an ACL but for one entry of the Users group:
// 2,728 of 24 bytes and one of 28, after the ACL's 8.
std::vector<standin::Ace> FullButOneEntry() {
  std::vector<standin::Ace> entries(2728, {ACCESS_DENIED_ACE_TYPE, 0, DELETE, "S-1-5-32-546"});
  entries.push_back({ACCESS_DENIED_ACE_TYPE, 0, DELETE, "S-1-5-21-7-7"});
  return entries;
}

class FolderPermissionTest : public FolderActionTest {
 protected:
  UINT Run(const std::string& path) {
    SetArgument(path);
    return ChangeQuorvelFolderPermission(session_);
  }
};

// What the tool's grant gives: the explicit entry first, every entry the
// object had kept, whether it inherits kept; granting again changes nothing.
TEST_F(FolderPermissionTest, ExistingObjectsAreGrantedOnAsTheToolGrants) {
  const standin::Ace annReads = {ACCESS_ALLOWED_ACE_TYPE, 0, standin::kReadAndExecute,
                                 "S-1-5-21-1004336348-1177238915-682003330-1002"};
  const standin::Ace denyGuests = {ACCESS_DENIED_ACE_TYPE, 0, WRITE_DAC, "S-1-5-32-546"};
  const standin::Ace usersRead = {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                  standin::kReadAndExecute, standin::kUsersSid};
  const struct {
    const char* path;
    bool file;
    std::vector<standin::Ace> explicitEntries;
    bool isProtected;
    std::vector<standin::Ace> explicitAfter;  // the explicit entries after the grant
    UINT ansiCodePage = 1252;
    const char* spelled = nullptr;  // the path in UTF-8, when it is not ASCII
  } cases[] = {
      {"C:\\Quorvel\\Data", false, {}, false, {UsersGrant(true)}},
      {"C:\\Quorvel\\Data\\", false, {}, false, {UsersGrant(true)}},
      {"C:\\Quorvel\\notes.txt", true, {}, false, {UsersGrant(false)}},
      // After the denials and allowances it had, before what it inherits.
      {"C:\\Quorvel\\Data", false, {denyGuests, annReads}, false, {denyGuests, annReads, UsersGrant(true)}},
      {"C:\\Quorvel\\Data", false, {annReads}, true, {annReads, UsersGrant(true)}},
      // An ACL that the grant fills to its last byte (65,532).
      {"C:\\Quorvel\\Data", false, FullButOneEntry(), true, Plus(FullButOneEntry(), {UsersGrant(true)})},
      // The group's own entry is widened, not repeated.
      {"C:\\Quorvel\\Data", false, {usersRead, annReads}, false, {UsersGrant(true), annReads}},
      // Code page 932: the last byte of 機能 (8B 40 94 5C) is no backslash.
      {"C:\\Quorvel\\\x8b\x40\x94\x5c\\", false, {}, false, {UsersGrant(true)}, 932, u8"C:\\Quorvel\\機能"},
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
    const std::string spelled = row.spelled ? row.spelled : row.path;
    standin::SetDacl(spelled, row.explicitEntries, row.isProtected);
    std::vector<standin::Ace> expected = row.explicitAfter;
    const std::vector<standin::Ace> before = standin::Dacl(spelled).value();
    for (const standin::Ace& ace : before) {
      if (ace.flags & INHERITED_ACE) expected.push_back(ace);
    }

    EXPECT_EQ(Run(row.path), kSuccess);
    EXPECT_EQ(ActionLines(kLabel), Plus(FoundLines(row.path), {Counted(row.file ? 0 : 1, row.file ? 1 : 0, 0)}));
    EXPECT_EQ(standin::Dacl(spelled), expected);

    // A repair grants again: nothing is added twice, nothing is written.
    const int writes = standin::CallCount("SetKernelObjectSecurity");
    standin::ClearMessages();
    EXPECT_EQ(Run(row.path), kSuccess);
    EXPECT_EQ(standin::Dacl(spelled), expected);
    EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), writes);
    EXPECT_EQ(standin::ProcessStarts().size(), 0u) << "no tool";
  }
}

// The existence test, the guard, then the walk: the target opened, checked
// where it is, granted on, listed through its handle, and what it holds
// opened relative to that handle.
TEST_F(FolderPermissionTest, CallsConvertTestGuardThenWalkByHandle) {
  MakeFile(std::string(kData) + "\\a.txt", "a");
  EXPECT_EQ(Run(kData), kSuccess);
  const std::vector<std::string> grant = {"GetKernelObjectSecurity", "SetKernelObjectSecurity"};
  // The folder's attributes, then for the file its names too.
  std::vector<std::string> after = {"CreateFileW", "GetFileInformationByHandle", "GetFileInformationByHandleEx"};
  after = Plus(after, grant);
  after = Plus(after, {"GetFileInformationByHandleEx", "NtOpenFile", "GetFileInformationByHandleEx",
                       "GetFileInformationByHandleEx"});
  after = Plus(after, grant);
  after = Plus(after, {"CloseHandle", "GetFileInformationByHandleEx", "CloseHandle"});
  ExpectGuardBetween({"AreFileApisANSI", "MultiByteToWideChar", "MultiByteToWideChar", "CreateFileW", "CloseHandle"},
                     after);
}

TEST_F(FolderPermissionTest, MissingPathGrantsNothing) {
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
  EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), 0);
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
    EXPECT_EQ(standin::CallCount("SetKernelObjectSecurity"), 0);
  }
}

// The first object that cannot be granted on ends the walk; what was granted
// before it stays granted.
TEST_F(FolderPermissionTest, FailingGrantFailsTheAction) {
  const std::string file = std::string(kData) + "\\a.txt";
  const std::string failed =
      "Error 0x80070005: Failed to grant the Users group full control on '" + std::string(kData) + "'";
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> more;
  } cases[] = {
      {"permissions cannot be read",
       [] { standin::FailCall("GetKernelObjectSecurity", ERROR_ACCESS_DENIED); },
       {Line("Error 0x80070005: Failed to read the permissions of '" + std::string(kData) + "'"), Line(failed)}},
      // A failure that leaves no last error is still a failure.
      {"permissions cannot be set, last error 0",
       [] { standin::FailCall("SetKernelObjectSecurity", 0); },
       {Line("Error 0x80004005: Failed to set the permissions of '" + std::string(kData) + "'"),
        Line("Error 0x80004005: Failed to grant the Users group full control on '" + std::string(kData) + "'")}},
      {"an entry cannot be opened",
       [] { standin::FailCall("NtOpenFile", ERROR_ACCESS_DENIED); },
       {Line("Error 0x80070005: Failed to open '" + file + "'"), Line(failed)}},
      {"a folder cannot be listed",
       [] { standin::FailCall("GetFileInformationByHandleEx", ERROR_ACCESS_DENIED, 1); },
       {Line("Error 0x80070005: Failed to list '" + std::string(kData) + "'"), Line(failed)}},
      // 2,730 entries fill an ACL but for 4 bytes: one more does not fit.
      {"the permissions are full",
       [] {
         standin::SetDacl(kData, std::vector<standin::Ace>(2730, {ACCESS_DENIED_ACE_TYPE, 0, DELETE, "S-1-5-32-546"}),
                          true);
       },
       {Line("Error 0x80070540: Failed to add the grant to the permissions of '" + std::string(kData) + "'"),
        Line("Error 0x80070540: Failed to grant the Users group full control on '" + std::string(kData) + "'")}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFile(file, "a");
    row.arrange();
    EXPECT_EQ(Run(kData), kFailure);
    EXPECT_EQ(ActionLines(kLabel), Plus(FoundLines(kData), row.more));
    EXPECT_FALSE(GrantedToUsers(file));
  }
}

// A recursive grant there would give every user full control of data that
// no package owns; inside those folders, packages keep their own. An
// administrator's link is followed only where no user may change it.
TEST_F(FolderPermissionTest, UnsafeTargetsAreRefusedAfterTheExistenceTest) {
  const char* const kIs = "it is the standard folder ";
  const auto adminLink = [] {
    MakeFolder("D:\\Vendor Data\\Data");
    PlantLink("C:\\ProgramData\\Vendor", "D:\\Vendor Data");
    standin::SetOwner("C:\\ProgramData\\Vendor", standin::Owner::kAdministrators);
  };
  const struct {
    std::string path;
    std::string reason;  // empty: granted
    bool asSystem = false;
    std::function<void()> arrange = [] {};
  } cases[] = {
      {"C:\\Windows", std::string(kIs) + "'C:\\Windows'"},
      {"C:\\Windows\\System32\\", std::string(kIs) + "'C:\\Windows\\system32'"},
      {"c:\\programdata", std::string(kIs) + "'C:\\ProgramData'"},
      {"C:\\Users\\installer", std::string(kIs) + "'C:\\Users\\installer'"},
      {"C:\\Users\\installer\\AppData\\Local\\Temp\\",
       std::string(kIs) + "'C:\\Users\\installer\\AppData\\Local\\Temp'"},
      {"C:\\Users\\ann\\AppData\\Roaming", std::string(kIs) + "'C:\\Users\\ann\\AppData\\Roaming'", true},
      {"C:\\Users\\installer\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'"},
      {"C:\\PROGRA~1", std::string(kIs) + "'C:\\Program Files'"},
      // The system's link is followed, the user's planted one behind it is not.
      {"C:\\Users\\All Users\\Quorvel", "it runs through the link 'C:\\Users\\All Users\\Quorvel'"},
      {"C:\\ProgramData\\Quorvel\\Data", "it runs through the link 'C:\\ProgramData\\Quorvel'"},
      // An administrator's junction that inherits what ProgramData gives
      // users (write data and attributes) is anybody's to retarget.
      {"C:\\ProgramData\\Vendor\\Data", "it runs through the link 'C:\\ProgramData\\Vendor'", false, adminLink},
      {"C:\\ProgramData\\Vendor\\Data", "", false,
       [adminLink] {
         adminLink();
         standin::SetDacl("C:\\ProgramData\\Vendor",
                          {{ACCESS_ALLOWED_ACE_TYPE, 0, standin::kFullControl, standin::kAdministratorsSid},
                           {ACCESS_ALLOWED_ACE_TYPE, 0, standin::kReadAndExecute, standin::kUsersSid}},
                          true);
       }},
      {"\\\\localhost\\C$\\Quorvel", "it is on an administrative share"},
      {"D:\\", "it is relative or a volume root"},
      {"Quorvel\\Data", "it is relative or a volume root"},
      {"C:\\Users\\installer\\AppData\\Roaming\\Quorvel", ""},
      {"C:\\PROGRA~2\\COMMON~1\\Quorvel\\", ""},
      {"C:\\Users\\ann\\AppData\\Local\\Quorvel", "", true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    Restart();
    standin::LayOutProfiles();
    if (row.asSystem) standin::SetAccount(standin::Account::kLocalSystem);
    // A folder a standard user planted where the package's will be.
    PlantLink("C:\\ProgramData\\Quorvel", "C:\\Windows");
    row.arrange();
    MakeFolder(row.path);
    const bool granted = row.reason.empty();
    EXPECT_EQ(Run(row.path), granted ? kSuccess : kFailure);
    EXPECT_EQ(ActionLines(kLabel), granted ? Plus(FoundLines(row.path), {Counted(1, 0, 0)})
                                           : Plus(FoundLines(row.path), {Line(RefusalLine(row.path, row.reason))}));
    EXPECT_EQ(GrantedToUsers(row.path), granted);
  }

  // The threat the refusal meets: a standard user retargets the inheriting
  // link, not the protected one.
  Restart();
  standin::LayOutProfiles();
  adminLink();
  MakeFolder("C:\\Windows\\Data");
  EXPECT_TRUE(standin::RetargetLinkAsUser("C:\\ProgramData\\Vendor", "C:\\Windows"));
  standin::SetDacl("C:\\ProgramData\\Vendor", {}, true);
  EXPECT_FALSE(standin::RetargetLinkAsUser("C:\\ProgramData\\Vendor", "D:\\Vendor Data"));
}

// The tree is open to every user after the first grant: whatever a user put
// or swapped into it, the walk grants on the tree's own objects and on
// links themselves, never on what they lead to.
TEST_F(FolderPermissionTest, NothingInTheTreeLeadsTheGrantOutOfIt) {
  const std::string cache = std::string(kData) + "\\cache";
  const std::string logs = std::string(kData) + "\\logs";
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> more;
    std::vector<std::string> granted;
    std::string target = kData;
  } cases[] = {
      {"a user's link", [logs] { PlantLink(logs, kSystem32); }, {LinkLine(logs), Counted(3, 1, 1)}, {logs}},
      {"a user's link deeper down",
       [cache] { PlantLink(cache + "\\v2\\logs", kSystem32); },
       {LinkLine(cache + "\\v2\\logs"), Counted(4, 1, 1)},
       {cache + "\\v2\\logs"}},
      {"a link whose owner cannot be read",
       [logs] {
         PlantLink(logs, kSystem32);
         standin::SetOwner(logs, standin::Owner::kUnreadable);
       },
       {LinkLine(logs), Counted(3, 1, 1)},
       {logs}},
      {"a user's link in a tree on a share",
       [] { PlantLink("\\\\server\\share\\Data\\logs", kSystem32); },
       {LinkLine("\\\\server\\share\\Data\\logs"), Counted(1, 1, 1)},
       {"\\\\server\\share\\Data\\logs"},
       "\\\\server\\share\\Data"},
      // Swapped after the listing, as the folder is opened: the link is
      // opened itself.
      {"a folder swapped for a junction as it is opened",
       [cache] { standin::HoldOpportunisticLock(cache, [cache] { standin::SwapForLink(cache, kSystem32); }); },
       {LinkLine(cache), Counted(1, 1, 1)},
       {cache}},
      // Swapped once open: what it held is reached through its handle, where
      // it now is.
      {"a folder swapped for a junction while it is listed",
       [cache] {
         standin::HoldOpportunisticLock(cache + "\\config", [cache] { standin::SwapForLink(cache, kSystem32); });
       },
       {Counted(3, 1, 0)},
       {cache + ".moved\\config"}},
      // Checked where the guard found it: a folder on its way swapped for a
      // link since then is refused, nothing granted where the link leads.
      {"a folder on the target's way swapped after the checks",
       [] {
         MakeFolder("C:\\Windows\\Data\\config");
         standin::HoldOpportunisticLock(kData, [] { standin::SwapForLink("C:\\Quorvel", "C:\\Windows"); });
       },
       {Line("Error 0x80070057: Refusing path 'C:\\Quorvel\\Data': it changed while it was examined"),
        Line("Error 0x80070057: Failed to grant the Users group full control on 'C:\\Quorvel\\Data'")},
       {}},
      {"a deduplicated file, a compressed file and a cloud placeholder",
       [cache] {
         MakeFile(std::string(kData) + "\\deduplicated.bin", "d");
         MakeFile(std::string(kData) + "\\compressed.exe", "c");
         standin::SetReparseTag(std::string(kData) + "\\deduplicated.bin", IO_REPARSE_TAG_DEDUP);
         standin::SetReparseTag(std::string(kData) + "\\compressed.exe", IO_REPARSE_TAG_WOF);
         standin::SetReparseTag(cache, IO_REPARSE_TAG_CLOUD_6);
       },
       {Counted(3, 3, 0)},
       {std::string(kData) + "\\deduplicated.bin", std::string(kData) + "\\compressed.exe", cache + "\\config"}},
      // The permissions are no data: a file a process holds open sharing
      // nothing is granted on all the same.
      {"a file a process holds open sharing nothing",
       [] { standin::LockEntry(std::string(kData) + "\\a.txt", -1, 0); },
       {Counted(3, 1, 0)},
       {std::string(kData) + "\\a.txt"}},
      // More folders than the walk keeps before it drops those it is done with.
      {"a tree wider than the folders kept at once",
       [] {
         for (int i = 0; i < 1100; ++i) MakeFile(std::string(kData) + "\\wide\\" + std::to_string(i) + "\\x", "x");
       },
       {Counted(1104, 1101, 0)},
       {std::string(kData) + "\\wide\\0\\x", std::string(kData) + "\\wide\\1099\\x"}},
      {"a file that is also a system file",
       [] {
         MakeFile(std::string(kSystem32) + "\\config\\SAM", "hive");
         fs::create_hard_link(Host(std::string(kSystem32) + "\\config\\SAM"), Host(std::string(kData) + "\\sam"));
       },
       {Line("Leaving '" + std::string(kData) + "\\sam' alone: the file has 2 names"), Counted(3, 1, 0)},
       {cache + "\\config"}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Restart();
    MakeFolder(std::string(kSystem32) + "\\config");
    MakeFile(row.target + "\\a.txt", "data");
    if (row.target == kData) MakeFolder(cache + "\\config");
    row.arrange();
    EXPECT_EQ(Run(row.target), row.granted.empty() ? kFailure : kSuccess);
    EXPECT_EQ(ActionLines(kLabel), Plus(FoundLines(row.target), row.more));
    for (const std::string& object : row.granted) EXPECT_TRUE(GrantedToUsers(object)) << object;
    for (const std::string& outside : {std::string(kSystem32), std::string(kSystem32) + "\\config",
                                       std::string(kSystem32) + "\\config\\SAM", std::string("C:\\Windows\\Data")}) {
      EXPECT_FALSE(GrantedToUsers(outside)) << outside;
    }
  }
}

// What the tool, which lists a folder and then goes on by full paths, gave
// the Users group when a folder it had listed was swapped for a junction to
// the system folder: the system folder's own folders.
TEST_F(FolderPermissionTest, TheToolWalkingByNameWasLedOutOfTheTree) {
  ToolDouble tool(folder_.Path());
  tool.GrantIn(sandbox_);
  const std::string cache = std::string(kData) + "\\cache";
  MakeFolder(std::string(kSystem32) + "\\config");
  MakeFolder(cache + "\\config");
  tool.SwapAfterListing(cache, kSystem32);
  ASSERT_EQ(std::system("icacls 'C:\\Quorvel\\Data' /t /l /q /grant '*S-1-5-32-545:(OI)(CI)F'"), 0);
  std::vector<std::string> reached = tool.Granted();
  std::sort(reached.begin(), reached.end());
  EXPECT_EQ(reached, (std::vector<std::string>{kData, cache, "C:\\Windows\\System32\\config"}));
}

// UTF-8 when the C runtime's locale uses it, else the file APIs' code page;
// text invalid in that code page fails the action instead of naming some
// other path.
TEST_F(FolderPermissionTest, PathIsConvertedInTheCodePageInEffect) {
  const std::vector<std::string> found = {Line("isExist=1  errorCode=00000000"), Counted(1, 0, 0)};
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
