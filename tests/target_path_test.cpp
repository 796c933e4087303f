// The guard against what no package owns: relative paths and volume roots,
// administrative shares, the standard folders of the machine, its users and
// its profiles (and what holds them) in any spelling, and links.
#include <windows.h>

#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "guard_reference.h"
#include "support.h"
#include "runtime/handles.h"
#include "runtime/result.h"
#include "targetguard/fileidentity.h"
#include "targetguard/fsquery.h"
#include "targetguard/targetguard.h"
#include "targetguard/widepath.h"
#include "tool_double.h"

namespace {

namespace fs = std::filesystem;

using Arrangement = void (*)();

HRESULT Guard(const char* path) {
  GuardedTarget passed;
  return RefuseUnsafeTarget(path, &passed);
}

// A link in the sandbox at `windowsPath`, leading to `target`.
void PlantLink(const std::string& windowsPath, const std::string& target) {
  fs::create_directories(fs::path(*standin::HostPath(windowsPath)).parent_path());
  fs::create_directory_symlink(*standin::HostPath(target), *standin::HostPath(windowsPath));
}

void PlantPackageLink() { PlantLink("C:\\ProgramData\\Quorvel", "C:\\Windows"); }
// Permissions that let nobody but the system and administrators change a link.
void ProtectLink(const std::string& link) {
  standin::SetDacl(link,
                   {{ACCESS_ALLOWED_ACE_TYPE, 0, standin::kFullControl, standin::kSystemSid},
                    {ACCESS_ALLOWED_ACE_TYPE, 0, standin::kFullControl, standin::kAdministratorsSid},
                    {ACCESS_ALLOWED_ACE_TYPE, 0, standin::kReadAndExecute, standin::kUsersSid}},
                   true);
}
// The same link made by an account that a standard user cannot act as. As
// made, it inherits what ProgramData gives users (write data and
// attributes): anybody may retarget it, unless its permissions are its own.
template <standin::Owner kOwner, bool kProtected>
void PlantOwnedLink() {
  fs::create_directories(*standin::HostPath(std::string("D:\\Quorvel Data")));
  PlantLink("C:\\ProgramData\\Quorvel", "D:\\Quorvel Data");
  standin::SetOwner("C:\\ProgramData\\Quorvel", kOwner);
  if (kProtected) ProtectLink("C:\\ProgramData\\Quorvel");
}
// A protected administrator's link in a folder where users may delete and
// add entries: anybody may put a link of their own in its place.
void PlantLinkInUsersFolder() {
  PlantOwnedLink<standin::Owner::kAdministrators, true>();
  fs::create_directories(*standin::HostPath(std::string("C:\\Shared")));
  fs::rename(*standin::HostPath(std::string("C:\\ProgramData\\Quorvel")),
             *standin::HostPath(std::string("C:\\Shared")) + "/Quorvel");
  standin::SetDacl("C:\\Shared", {{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                   standin::kFullControl, standin::kUsersSid}});
}
// A cloud placeholder folder of the user's: a reparse point, no link.
void MakeCloudFolder() {
  fs::create_directories(*standin::HostPath(std::string("D:\\Cloud\\Quorvel")));
  standin::SetReparseTag("D:\\Cloud", IO_REPARSE_TAG_CLOUD_6);
  standin::SetOwner("D:\\Cloud", standin::Owner::kInstallingUser);
}
// A profile that an administrator moved to another disk, a link left in its place.
void MoveBobToAnotherDisk() {
  standin::AddProfile("S-1-5-21-1004336348-1177238915-682003330-1003", L"C:\\Users\\bob", false);
  standin::AddProfile("S-1-5-21-1004336348-1177238915-682003330-1099", L"D:\\Profiles\\bob");
  PlantLink("C:\\Users\\bob", "D:\\Profiles\\bob");
  standin::SetOwner("C:\\Users\\bob", standin::Owner::kAdministrators);
  fs::remove_all(*standin::HostPath(std::string("D:\\Profiles\\bob")));
  fs::create_directories(*standin::HostPath(std::string("D:\\Profiles\\bob\\AppData\\Roaming")));
  standin::SetValue(standin::kProfileListKey + std::string("\\S-1-5-21-1004336348-1177238915-682003330-1099"),
                    "ProfileImagePath", REG_DWORD, {0, 0, 0, 0});  // not a path: passed over
}
// Profiles that ProfileList places outside the profiles folder.
void RegisterProfilesElsewhere() {
  standin::AddProfile("S-1-5-21-1004336348-1177238915-682003330-1004", L"D:\\Users\\carol");
  standin::AddProfile("S-1-5-21-1004336348-1177238915-682003330-1005", L"%SystemDrive%\\accounts\\dave", false);
  // Beside the profiles folder, its name continuing that folder's.
  standin::AddProfile("S-1-5-21-1004336348-1177238915-682003330-1006", L"C:\\UsersOld");
}
// The installing user moved Documents and Desktop (the Location tab, folder redirection).
void RedirectInstallersFolders() {
  const std::string key = standin::UserShellFoldersKey(standin::kInstallerSid);
  standin::SetStringValue(key, "Personal", L"D:\\Redirected\\installer\\Documents", REG_EXPAND_SZ);
  standin::SetStringValue(key, "Desktop", L"%SystemDrive%\\Redirected Desktop", REG_SZ);
  standin::SetStringValue(key, "Favorites", L"%USERPROFILE%\\Saved Links", REG_EXPAND_SZ);
}
void FailProfileList() { standin::FailCall("RegEnumKeyExW", ERROR_ACCESS_DENIED); }
// Drives and shares onto the machine's folders whose final paths keep their
// own names (wine's drive letters, shares) or lead to them.
void AliasDrives() {
  standin::AliasRoot("W:", "C:\\Windows", standin::Alias::kKeepsRoot);
  standin::AliasRoot("U:", "C:\\Users", standin::Alias::kKeepsRoot);
  standin::AliasRoot("K:", "C:\\ProgramData\\Microsoft", standin::Alias::kKeepsRoot);
  standin::AliasRoot("S:", "C:\\ProgramData\\Microsoft", standin::Alias::kLeads);
  standin::AliasRoot("\\\\localhost\\Users", "C:\\Users", standin::Alias::kKeepsRoot);
  standin::AliasRoot("\\\\localhost\\C$", "C:\\", standin::Alias::kKeepsRoot);
  standin::AliasRoot("M:", "\\\\localhost\\C$", standin::Alias::kLeads);
}
// The program-files folders that the registry moves, in either view.
void MoveProgramFiles() {
  standin::SetStringValue("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", L"D:\\Common Files");
  standin::SetStringValue("SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                          L"E:\\Apps32");
  standin::SetEnvironment(L"CommonProgramW6432", L"D:\\Common64");
  standin::SetEnvironment(L"TMP", L"D:\\Scratch\\Temp");
}
// A user's folder beside the moved temporary folder, with a shorter name,
// and the user's Desktop in it.
void PutAHiveFolderBesideTemp() {
  MoveProgramFiles();
  fs::create_directories(*standin::HostPath(std::string("D:\\Scratch\\A")));
  const std::string hive = standin::UserShellFoldersKey(standin::kInstallerSid);
  standin::SetStringValue(hive, "Personal", L"D:\\Scratch\\A");
  fs::create_directories(*standin::HostPath(std::string("D:\\Scratch\\Temp")));
  standin::SetStringValue(hive, "Desktop", L"D:\\Scratch\\Temp");
}
// The Start Menu folders of ProgramData where no registry value names them.
void ForgetCommonShellFolders() {
  for (const char* name :
       {"Common Start Menu", "Common Programs", "Common Startup", "Common Administrative Tools", "Common Templates"}) {
    standin::SetStringValue(standin::kMachineShellFoldersKey, name, L"not a path");
  }
}
// An administrator's junction below a profile: the place stays where it is spelled.
void RedirectByJunction(const std::string& profile, const std::string& redirect, const char* place) {
  fs::create_directories(*standin::HostPath(redirect + "\\" + place));
  fs::remove_all(*standin::HostPath(profile + "\\" + place));
  PlantLink(profile + "\\" + place, redirect + "\\" + place);
  standin::SetOwner(profile + "\\" + place, standin::Owner::kAdministrators);
}
void RedirectAnnsFoldersByJunction() {
  for (const char* place : {"AppData", "Documents"}) RedirectByJunction("C:\\Users\\ann", "D:\\Redirect\\ann", place);
  fs::create_directories(*standin::HostPath(std::string("D:\\Redirect\\ann\\AppData\\Roaming")));
}
// The same in a profile that ProfileList places outside the profiles folder.
void RedirectCarolsAppDataByJunction() {
  RegisterProfilesElsewhere();
  RedirectByJunction("D:\\Users\\carol", "D:\\Redirect\\carol", "AppData");
  fs::create_directories(*standin::HostPath(std::string("D:\\Redirect\\carol\\AppData\\Roaming")));
}
// What a standard user may write in the hive: values of any name, spelled
// with the user's variables, naming machine folders too.
void WriteHostileHive() {
  const std::string key = standin::UserShellFoldersKey(standin::kInstallerSid);
  fs::create_directories(*standin::HostPath(std::string("C:\\Program Files\\Quorvel")));
  fs::create_directories(*standin::HostPath(std::string("C:\\ProgramData\\Installer Docs")));
  standin::SetOwner("C:\\ProgramData\\Installer Docs", standin::Owner::kInstallingUser);
  standin::SetStringValue(key, "Quorvel Data", L"C:\\Users\\ann\\Vendor", REG_SZ);
  standin::SetStringValue(key, "Personal", L"C:\\Program Files\\Quorvel", REG_SZ);
  standin::SetStringValue(key, "My Music", L"C:\\ProgramData\\Installer Docs", REG_SZ);
  standin::SetStringValue(key, "My Video", L"C:\\ProgramData\\Absent Videos", REG_SZ);
  standin::SetStringValue(key, "Local AppData", L"%USERPROFILE%\\AppData\\Local\\Vendor", REG_EXPAND_SZ);
  standin::SetStringValue(key, "My Pictures", L"D:\\Home\\%USERNAME%\\%NOSUCHVARIABLE%", REG_EXPAND_SZ);
  standin::SetStringValue(key, "Favorites", L"D:\\Home\\%USERNAME%\\Favorites", REG_EXPAND_SZ);
  standin::SetStringValue(key, "Templates", L"D:\\Long\\" + std::wstring(1100, L'x'), REG_SZ);
  standin::SetStringValue(key, "Desktop", L"\\\\FileServer\\Home$\\installer\\Desktop", REG_SZ);
  standin::SetStringValue(key, "Start Menu", L"\\\\server\\Profiles\\installer\\Start Menu", REG_SZ);
  standin::SetUnreachable("\\\\FileServer\\Home$", ERROR_BAD_NETPATH);
  standin::SetAccount(standin::Account::kLocalSystem);
}
// An administrator's link to a profile whose final path is kFinal
// characters long ("\\?\" and all).
template <size_t kFinal>
void LinkToLongProfile() {
  const std::wstring profile = L"D:\\Deep\\" + std::wstring(kFinal - 4 - 8, L'p');
  standin::AddProfile("S-1-5-21-7-7-7-6000", profile);
  fs::create_directories(*standin::HostPath(std::string("C:\\Data")));
  fs::create_directory_symlink(*standin::HostPath(profile), *standin::HostPath(std::string("C:\\Data\\Long")));
  standin::SetOwner("C:\\Data\\Long", standin::Owner::kAdministrators);
  ProtectLink("C:\\Data\\Long");
}
// A link to a file in the profiles folder is no profile.
void PlantFileLinkAmongProfiles() {
  fs::create_directories(*standin::HostPath(std::string("C:\\Data")));
  std::ofstream(*standin::HostPath(std::string("C:\\Data\\notes.txt"))) << "notes";
  fs::create_symlink(*standin::HostPath(std::string("C:\\Data\\notes.txt")),
                     *standin::HostPath(std::string("C:\\Users\\notes.lnk")));
  standin::SetOwner("C:\\Users\\notes.lnk", standin::Owner::kAdministrators);
}
// A folder whose name is "Café" in UTF-8, which the ANSI code page reads as
// "CafÃ©": only the file queries' reading in UTF-8 meets the link.
void PlantUtf8Link() { PlantLink("C:\\Data\\Caf\xC3\xA9", "C:\\Windows"); }
void ReadPathsAsUtf8() {
  PlantUtf8Link();
  standin::SetCrtCodePage(CP_UTF8);
}
void RunAsSystem() { standin::SetAccount(standin::Account::kLocalSystem); }
void UseJapaneseCodePages() { standin::SetSystemCodePages(932, 932); }
void DenyLooking() { standin::FailCall("CreateFileW", ERROR_ACCESS_DENIED); }
void DenyLongNames() { standin::FailCall("GetLongPathNameW", ERROR_ACCESS_DENIED); }
void FailWindowsFolder() { standin::FailCall("GetSystemWindowsDirectoryW", ERROR_INVALID_PARAMETER); }
void FailEveryLookUp() {
  for (const char* call : {"GetSystemWindowsDirectoryW", "GetSystemDirectoryW", "GetSystemWow64DirectoryW",
                           "ExpandEnvironmentStringsW", "GetTempPathW", "RegOpenKeyExW", "RegEnumKeyExW"}) {
    standin::FailCall(call, ERROR_ACCESS_DENIED);
  }
}

struct Target {
  const char* path;
  const char* refusal = nullptr;  // after "Refusing path '<path>': "; nullptr: allowed
  Arrangement arrange = nullptr;
};

class TargetPathTest : public HostTest, public ::testing::WithParamInterface<Target> {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_FALSE(folder_.Path().empty());
    standin::SetSandbox(folder_.Path());
    standin::LayOutProfiles();
    ASSERT_EQ(WcaInitialize(standin::NewSession(false), "Guard"), S_OK);
  }
  void TearDown() override {
    FinishSession(0);
    HostTest::TearDown();
  }

  static std::vector<std::string> Refusal(const std::string& path, const char* refusal) {
    if (!refusal) return {};
    return {"Guard:  Error 0x80070057: Refusing path '" + path + "': " + refusal};
  }

  TemporaryFolder folder_;
};

TEST_P(TargetPathTest, RefusesWhatNoPackageOwns) {
  const Target& target = GetParam();
  if (target.arrange) target.arrange();
  EXPECT_EQ(Guard(target.path), target.refusal ? E_INVALIDARG : S_OK) << target.path;
  EXPECT_EQ(Lines(), Refusal(target.path, target.refusal));
  EXPECT_EQ(standin::UnreachableAttempts(), 0) << "no server that a hive names is asked";
}

constexpr char kRelative[] = "it is relative or a volume root";
constexpr char kAdministrative[] = "it is on an administrative share";
constexpr char kStream[] = "it names a stream";
#define OF_THE_INSTALLER " (of the user S-1-5-21-1004336348-1177238915-682003330-1001)"
// A profile below D:\Deep whose final path is `final` characters long.
std::string DeepMusicRefusal(size_t final) {
  return "it is the standard folder 'D:\\Deep\\" + std::string(final - 12, 'p') + "\\Music'";
}
const std::string kDeepMusic[] = {DeepMusicRefusal(259), DeepMusicRefusal(260), DeepMusicRefusal(261)};
const std::string kLongRefusal =
    "it holds the standard folder 'D:\\Long\\" + std::string(1100, 'x') + "'" OF_THE_INSTALLER;

INSTANTIATE_TEST_SUITE_P(
    Paths, TargetPathTest,
    ::testing::Values(
        // Packages' own folders, inside standard folders too: allowed.
        Target{"C:\\Program Files\\Quorvel"}, Target{"D:\\Data\\"}, Target{"d:/data"},
        Target{"\\\\server\\share\\folder"}, Target{"\\\\?\\C:\\Data"}, Target{"\\\\?\\UNC\\server\\share\\folder"},
        Target{"\\\\server\\data$\\folder"}, Target{"C:\\Windows\\Temp\\Quorvel"}, Target{""}, Target{"C:\\..\\Data"},
        Target{"C:\\Users\\installer\\AppData\\Roaming\\Quorvel"}, Target{"C:\\PROGRA~2\\COMMON~1\\Quorvel\\"},
        Target{"C:\\ProgramData\\Quorvel"}, Target{"C:\\Users\\ann\\AppData\\Roaming\\Quorvel", nullptr, RunAsSystem},
        Target{"C:\\Data\\Caf\xC3\xA9\\x", nullptr, PlantUtf8Link},
        // Volume roots and what resolves to them.
        Target{"D:\\", kRelative}, Target{"D:\\\\\\", kRelative}, Target{"D:", kRelative},
        Target{"\\\\server\\share", kRelative}, Target{"\\\\server\\share\\", kRelative},
        Target{"\\\\?\\D:\\", kRelative}, Target{"\\\\?\\UNC\\server\\share", kRelative},
        Target{"C:\\Data\\..", kRelative}, Target{"C:\\.\\", kRelative},
        // Not fully qualified: the current folder or drive would complete them.
        Target{"Data", kRelative}, Target{"Data\\Sub", kRelative}, Target{"\\Data", kRelative},
        Target{"D:Data", kRelative}, Target{".\\Data", kRelative}, Target{"\\\\server", kRelative},
        Target{"\\\\.\\C:\\Data", kRelative}, Target{"\\\\?\\Volume{0}\\Data", kRelative},
        Target{"\\\\server\\\\x", kRelative}, Target{"\\\\?\\UNC\\server\\\\x", kRelative},
        Target{"\\\\?\\C:Data", kRelative}, Target{"\\\\?\\ab\\x", kRelative},
        // Stream names: the index stream of a folder is the folder itself.
        Target{"C:\\Windows::$INDEX_ALLOCATION", kStream}, Target{"C:\\Windows:$I30:$INDEX_ALLOCATION", kStream},
        Target{"\\\\?\\C:\\Windows::$INDEX_ALLOCATION", kStream}, Target{"C:\\Data\\x:y\\z", kStream},
        Target{"\\\\server\\share\\a:b", kStream},
        // Another spelling of the local machine's drives.
        Target{"\\\\localhost\\C$\\Windows", kAdministrative}, Target{"\\\\server\\admin$\\x", kAdministrative},
        Target{"\\\\?\\UNC\\host\\d$\\Data", kAdministrative}, Target{"//host/Z$/data", kAdministrative},
        Target{"\\\\server\\1$\\x"}, Target{"\\\\server\\$$\\x"},
        // Drives and shares that lead onto the machine's folders: an
        // administrative share wherever the walk is led, the rest by identity.
        Target{"M:\\Windows", kAdministrative, AliasDrives}, Target{"M:\\Data", kAdministrative, AliasDrives},
        Target{"W:\\system32", "it is the standard folder 'C:\\Windows\\system32'", AliasDrives},
        Target{"W:\\Fonts\\", "it is the standard folder 'C:\\Windows\\Fonts'", AliasDrives},
        Target{"w:\\system32\\config", "it holds the standard folder 'C:\\Windows\\system32\\config\\systemprofile'",
               AliasDrives},
        Target{"W:\\Quorvel", nullptr, AliasDrives},
        Target{"U:\\Public", "it is the standard folder 'C:\\Users\\Public'", AliasDrives},
        Target{"U:\\ann\\AppData\\Roaming", "it is the standard folder 'C:\\Users\\ann\\AppData\\Roaming'",
               AliasDrives},
        Target{"\\\\localhost\\users\\ann\\Documents", "it is the standard folder 'C:\\Users\\ann\\Documents'",
               AliasDrives},
        Target{"K:\\Windows", "it holds the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Templates'",
               AliasDrives},
        Target{"S:\\Windows", "it holds the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Templates'",
               AliasDrives},
        Target{"K:\\Quorvel", nullptr, AliasDrives},
        // Standard folders of each kind, in mixed spellings.
        Target{"C:\\Windows", "it is the standard folder 'C:\\Windows'"},
        Target{"c:\\windows\\", "it is the standard folder 'C:\\Windows'"},
        Target{"C:\\Windows.", "it is the standard folder 'C:\\Windows'"},
        Target{"C:\\Windows\\\\", "it is the standard folder 'C:\\Windows'"},
        Target{"\\\\?\\C:\\Windows", "it is the standard folder 'C:\\Windows'"},
        Target{"C:\\Windows\\System32", "it is the standard folder 'C:\\Windows\\system32'"},
        Target{"C:\\Windows\\SysWOW64\\", "it is the standard folder 'C:\\Windows\\SysWOW64'"},
        Target{"C:\\Windows\\Fonts", "it is the standard folder 'C:\\Windows\\Fonts'"},
        Target{"C:/Program Files/", "it is the standard folder 'C:\\Program Files'"},
        Target{"C:\\Program Files\\Quorvel\\..", "it is the standard folder 'C:\\Program Files'"},
        // In code page 932 the last byte of 機能 (8B 40 94 5C) is no separator:
        // the ".." climbs out of 機能 itself.
        Target{"C:\\Program Files\\\x8b\x40\x94\x5c\\..", "it is the standard folder 'C:\\Program Files'",
               UseJapaneseCodePages},
        Target{"C:\\Program Files\\\x8b\x40\x94\x5c\\.\\", nullptr, UseJapaneseCodePages},
        Target{"C:\\Program Files (x86)\\", "it is the standard folder 'C:\\Program Files (x86)'"},
        Target{"C:\\Program Files\\common files", "it is the standard folder 'C:\\Program Files\\Common Files'"},
        // Folders the registry or the environment moved, and the temporary folder where it is.
        Target{"D:\\Common Files", "it is the standard folder 'D:\\Common Files'", MoveProgramFiles},
        Target{"E:\\Apps32\\", "it is the standard folder 'E:\\Apps32'", MoveProgramFiles},
        Target{"D:\\Common64", "it is the standard folder 'D:\\Common64'", MoveProgramFiles},
        Target{"D:\\Scratch\\Temp", "it is the standard folder 'D:\\Scratch\\Temp'", MoveProgramFiles},
        Target{"D:\\Common Files\\Quorvel", nullptr, MoveProgramFiles},
        // The nearest folder it holds is named, a user's or not.
        Target{"D:\\Scratch", "it holds the standard folder 'D:\\Scratch\\A'" OF_THE_INSTALLER,
               PutAHiveFolderBesideTemp},
        // A folder that the machine and a user both name is named as the machine's.
        Target{"D:\\Scratch\\Temp", "it is the standard folder 'D:\\Scratch\\Temp'", PutAHiveFolderBesideTemp},
        Target{"C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
               "it is the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Start Menu'", ForgetCommonShellFolders},
        Target{"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
               "it is the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs'",
               ForgetCommonShellFolders},
        Target{"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
               "it is the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup'",
               ForgetCommonShellFolders},
        Target{"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
               "it is the standard folder "
               "'C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools'",
               ForgetCommonShellFolders},
        Target{"C:\\ProgramData\\Microsoft\\Windows\\Templates",
               "it is the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Templates'", ForgetCommonShellFolders},
        Target{"C:\\ProgramData", "it is the standard folder 'C:\\ProgramData'"},
        Target{"c:\\programdata\\microsoft\\windows\\start menu\\programs\\startup",
               "it is the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup'"},
        Target{"C:\\Users", "it is the standard folder 'C:\\Users'"},
        Target{"C:\\Users\\Installer", "it is the standard folder 'C:\\Users\\installer'"},
        Target{"C:\\USERS\\INSTALLER\\APPDATA\\ROAMING\\",
               "it is the standard folder 'C:\\Users\\installer\\AppData\\Roaming'"},
        Target{"C:\\Users\\installer\\Documents\\..\\Desktop",
               "it is the standard folder 'C:\\Users\\installer\\Desktop'"},
        Target{"C:\\Users\\installer\\AppData\\Local\\Temp\\",
               "it is the standard folder 'C:\\Users\\installer\\AppData\\Local\\Temp'"},
        Target{"C:\\Users\\Public", "it is the standard folder 'C:\\Users\\Public'"},
        Target{"C:\\Users\\Public\\Documents", "it is the standard folder 'C:\\Users\\Public\\Documents'"},
        Target{"C:\\Users\\Default", "it is the standard folder 'C:\\Users\\Default'"},
        // Other profiles' per-user folders, those that exist and those that do not.
        Target{"C:\\Users\\ann\\AppData\\Roaming", "it is the standard folder 'C:\\Users\\ann\\AppData\\Roaming'"},
        Target{"C:\\Users\\Public\\AppData\\Roaming\\",
               "it is the standard folder 'C:\\Users\\Public\\AppData\\Roaming'"},
        // Ancestors: the nearest folder they hold is named.
        Target{"C:\\Users\\installer\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'"},
        Target{"C:\\ProgramData\\Microsoft",
               "it holds the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Templates'"},
        Target{"C:\\Users\\Public\\AppData", "it holds the standard folder 'C:\\Users\\Public\\AppData\\Local'"},
        // Under the local system account, whose profile is below the system folder.
        Target{"C:\\Users\\ann\\AppData\\Roaming", "it is the standard folder 'C:\\Users\\ann\\AppData\\Roaming'",
               RunAsSystem},
        Target{"C:\\Users\\installer\\Documents", "it is the standard folder 'C:\\Users\\installer\\Documents'",
               RunAsSystem},
        Target{"C:\\Windows\\Temp\\", "it is the standard folder 'C:\\Windows\\Temp'"},
        Target{"C:\\Windows\\system32\\config",
               "it holds the standard folder 'C:\\Windows\\system32\\config\\systemprofile'", RunAsSystem},
        // Short names.
        Target{"C:\\PROGRA~1", "it is the standard folder 'C:\\Program Files'"},
        Target{"C:\\progra~2\\common~1", "it is the standard folder 'C:\\Program Files (x86)\\Common Files'"},
        Target{"C:\\Users\\INSTAL~1\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'"},
        Target{"C:\\Users\\Public\\AppData\\Roaming\\MICROS~1",
               nullptr},  // no such entry: a name inside a folder, allowed
        // Links: those the system or an administrator made are followed and
        // what they lead to is judged; one a standard user made is refused.
        Target{"C:\\Documents and Settings", "it is the standard folder 'C:\\Users'"},
        Target{"C:\\Documents and Settings\\ann\\AppData\\Roaming",
               "it is the standard folder 'C:\\Users\\ann\\AppData\\Roaming'"},
        Target{"C:\\Documents and Settings\\ann\\AppData\\Roaming\\Quorvel"}, Target{"c:\\users\\all users\\Quorvel"},
        Target{"c:\\users\\all users", "it is the standard folder 'C:\\ProgramData'"},
        Target{"C:\\Users\\Default User", "it is the standard folder 'C:\\Users\\Default'", RunAsSystem},
        Target{"C:\\ProgramData\\Quorvel\\Data", "it runs through the link 'C:\\ProgramData\\Quorvel'",
               PlantPackageLink},
        Target{"C:\\ProgramData\\Quorvel\\Data", "it runs through the link 'C:\\ProgramData\\Quorvel'",
               PlantOwnedLink<standin::Owner::kAdministrators, false>},
        Target{"C:\\ProgramData\\Quorvel\\Data", nullptr, PlantOwnedLink<standin::Owner::kAdministrators, true>},
        Target{"C:\\ProgramData\\Quorvel\\Data", nullptr, PlantOwnedLink<standin::Owner::kSystem, true>},
        Target{"C:\\ProgramData\\Quorvel", nullptr, PlantOwnedLink<standin::Owner::kTrustedInstaller, true>},
        Target{"C:\\ProgramData\\Quorvel\\Data", "it runs through the link 'C:\\ProgramData\\Quorvel'",
               PlantOwnedLink<standin::Owner::kUnreadable, true>},
        Target{"C:\\Shared\\Quorvel\\Data", "it runs through the link 'C:\\Shared\\Quorvel'", PlantLinkInUsersFolder},
        Target{"D:\\Cloud\\Quorvel", nullptr, MakeCloudFolder},
        // A moved profile: what really holds it, and its folders where they are.
        Target{"D:\\Profiles", "it holds the standard folder 'C:\\Users\\bob'", MoveBobToAnotherDisk},
        Target{"D:\\Profiles\\bob", "it is the standard folder 'C:\\Users\\bob'", MoveBobToAnotherDisk},
        Target{"d:\\profiles\\BOB\\AppData\\Roaming", "it is the standard folder 'C:\\Users\\bob\\AppData\\Roaming'",
               MoveBobToAnotherDisk},
        Target{"D:\\Profiles\\bob\\Quorvel", nullptr, MoveBobToAnotherDisk},
        // An administrator's junctions below a profile: the places stay where they are spelled.
        Target{"C:\\Users\\ann\\AppData\\Roaming", "it is the standard folder 'C:\\Users\\ann\\AppData\\Roaming'",
               RedirectAnnsFoldersByJunction},
        Target{"C:\\Users\\ann\\Documents", "it is the standard folder 'C:\\Users\\ann\\Documents'",
               RedirectAnnsFoldersByJunction},
        Target{"D:\\Users\\carol\\AppData\\Roaming", "it is the standard folder 'D:\\Users\\carol\\AppData\\Roaming'",
               RedirectCarolsAppDataByJunction},
        // Ann may replace a junction in her own profile with one of her own.
        Target{"C:\\Users\\ann\\AppData\\Roaming\\Quorvel", "it runs through the link 'C:\\Users\\ann\\AppData'",
               RedirectAnnsFoldersByJunction},
        // A link whose final path is about MAX_PATH characters long.
        Target{"C:\\Data\\Long\\Music", kDeepMusic[0].c_str(), LinkToLongProfile<259>},
        Target{"C:\\Data\\Long\\Music", kDeepMusic[1].c_str(), LinkToLongProfile<260>},
        Target{"C:\\Data\\Long\\Music", kDeepMusic[2].c_str(), LinkToLongProfile<261>},
        // ProfileList's profiles outside the profiles folder, and everything in them.
        Target{"D:\\Users\\carol", "it is the standard folder 'D:\\Users\\carol'", RegisterProfilesElsewhere},
        Target{"D:\\Users", "it holds the standard folder 'D:\\Users\\carol'", RegisterProfilesElsewhere},
        Target{"D:\\Users\\carol\\Music", "it is the standard folder 'D:\\Users\\carol\\Music'",
               RegisterProfilesElsewhere},
        Target{"C:\\accounts\\dave\\AppData\\Local\\Temp",
               "it is the standard folder 'C:\\accounts\\dave\\AppData\\Local\\Temp'", RegisterProfilesElsewhere},
        Target{"C:\\accounts", "it holds the standard folder 'C:\\accounts\\dave'", RegisterProfilesElsewhere},
        Target{"D:\\Users\\carol\\Quorvel", nullptr, RegisterProfilesElsewhere},
        Target{"C:\\UsersOld", "it is the standard folder 'C:\\UsersOld'", RegisterProfilesElsewhere},
        Target{"D:\\Users\\carol", nullptr, FailProfileList},
        // A loaded hive's folders, moved or not.
        Target{"D:\\Redirected\\installer\\Documents",
               "it is the standard folder 'D:\\Redirected\\installer\\Documents'" OF_THE_INSTALLER,
               RedirectInstallersFolders},
        Target{"D:\\Redirected", "it holds the standard folder 'D:\\Redirected\\installer\\Documents'" OF_THE_INSTALLER,
               RedirectInstallersFolders},
        Target{"C:\\Redirected Desktop", "it is the standard folder 'C:\\Redirected Desktop'" OF_THE_INSTALLER,
               RedirectInstallersFolders},
        Target{"C:\\Users\\installer\\Saved Links",
               "it is the standard folder 'C:\\Users\\installer\\Saved Links'" OF_THE_INSTALLER,
               RedirectInstallersFolders},
        // A user's hive names that user's folders, not other users'.
        Target{"C:\\Users\\ann\\Saved Links", nullptr, RedirectInstallersFolders},
        // Only known folders; in a machine folder only the user's own; the
        // user's variables; values of any length; shares as spelled.
        Target{"C:\\Users\\ann\\Vendor", nullptr, WriteHostileHive},
        Target{"C:\\Program Files\\Quorvel", nullptr, WriteHostileHive},
        Target{"C:\\ProgramData\\Absent Videos", nullptr, WriteHostileHive},
        Target{"C:\\ProgramData\\Installer Docs",
               "it is the standard folder 'C:\\ProgramData\\Installer Docs'" OF_THE_INSTALLER, WriteHostileHive},
        Target{"C:\\Users\\installer\\AppData\\Local\\Vendor",
               "it is the standard folder 'C:\\Users\\installer\\AppData\\Local\\Vendor'" OF_THE_INSTALLER,
               WriteHostileHive},
        Target{"C:\\Users\\ann\\AppData\\Local\\Vendor", nullptr, WriteHostileHive},
        Target{"D:\\Home\\installer\\Favorites",
               "it is the standard folder 'D:\\Home\\installer\\Favorites'" OF_THE_INSTALLER, WriteHostileHive},
        Target{"D:\\Home\\QUORVEL-PC$\\Favorites", nullptr, WriteHostileHive},
        Target{"D:\\Home\\installer", "it holds the standard folder 'D:\\Home\\installer\\Favorites'" OF_THE_INSTALLER,
               WriteHostileHive},
        Target{"D:\\Long", kLongRefusal.c_str(), WriteHostileHive},
        Target{"\\\\SERVER\\profiles\\installer\\Start Menu",
               "it is the standard folder '\\\\server\\Profiles\\installer\\Start Menu'" OF_THE_INSTALLER,
               WriteHostileHive},
        // Every profile's user-data folders.
        Target{"C:\\Users\\ann\\Downloads", "it is the standard folder 'C:\\Users\\ann\\Downloads'"},
        Target{"C:\\Users\\ann\\AppData\\LocalLow", "it is the standard folder 'C:\\Users\\ann\\AppData\\LocalLow'"},
        Target{"C:\\Users\\Default\\OneDrive", "it is the standard folder 'C:\\Users\\Default\\OneDrive'"},
        Target{"C:\\Windows\\system32\\config\\systemprofile\\Saved Games",
               "it is the standard folder 'C:\\Windows\\system32\\config\\systemprofile\\Saved Games'"},
        Target{"C:\\Users\\ann\\Videos\\Quorvel"},
        // Each reading of the narrow path: the file queries' one in UTF-8 meets the link.
        Target{"C:\\Data\\Caf\xC3\xA9\\x", "it runs through the link 'C:\\Data\\Caf\xE9'", ReadPathsAsUtf8},
        // What cannot be seen is refused; a folder that cannot be resolved is left out.
        Target{"C:\\Program Files\\Quorvel", "it cannot be examined (error 0x00000005)", DenyLooking},
        Target{"C:\\PROGRA~1\\Quorvel", "it cannot be examined (error 0x00000005)", DenyLongNames},
        Target{"C:\\Program Files\\Quorvel", nullptr, DenyLongNames},
        Target{"C:\\Data\\notes.txt", nullptr, PlantFileLinkAmongProfiles},
        Target{"C:\\Windows\\Fonts", nullptr, FailWindowsFolder}, Target{"C:\\Windows", nullptr, FailEveryLookUp},
        Target{"C:\\", kRelative, FailEveryLookUp}));

// The pieces under the guard that the actions call too: the wide path a
// conversion gives (whatever the text held before, nothing for nothing)
// and the line of a failed emptiness query.
TEST_F(TargetPathTest, ConversionsAndQueriesUnderTheGuard) {
  WideText wide;
  ASSERT_EQ(wide.Assign(L"left over"), S_OK);
  EXPECT_EQ(WidePathFromNarrow("C:\\Data", CP_ACP, 0, &wide), S_OK);
  EXPECT_EQ(std::wstring(wide.Get()), L"C:\\Data");
  EXPECT_EQ(WidePathFromNarrow("", CP_ACP, MB_ERR_INVALID_CHARS, &wide), S_OK);
  EXPECT_EQ(wide.Length(), 0u);
  // The conversion failing after its measure succeeded.
  standin::FailCall("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, 1, 1);
  EXPECT_EQ(WidePathFromNarrow("C:\\Data", CP_ACP, 0, &wide), ResultFromWin32(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(Lines(),
            std::vector<std::string>{"Guard:  Error 0x80070459: Failed to convert path 'C:\\Data' from code page 0"});
  standin::ClearMessages();

  fs::create_directories(*standin::HostPath(std::string("C:\\Data\\Empty")));
  FsAnswer empty = {};
  standin::FailAllocation(1);
  EXPECT_EQ(FsIsEmpty(L"C:\\Data\\Empty", &empty), E_OUTOFMEMORY);
  standin::FailAllocation(0);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "Guard:  Error 0x8007000e: Failed to allocate the listing pattern of 'C:\\Data\\Empty'"});
  EXPECT_EQ(FsIsEmpty(L"C:\\Data\\Empty", &empty), S_OK);
  EXPECT_TRUE(empty.flag);
}

// File IDs repeat from volume to volume: a place answers for an identity
// only where it is on the volume asked for, and only while it holds the
// object it was found with.
TEST_F(TargetPathTest, IdentityIndexAnswersForTheVolumeItWasFoundOn) {
  fs::create_directories(*standin::HostPath(std::string("C:\\Found")));
  fs::create_directories(*standin::HostPath(std::string("C:\\Replaced")));
  FileIdentity found = {};
  {
    const FileHandle object(
        CreateFileW(L"C:\\Found", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_EQ(ReadIdentity(object.Get(), &found), 0u);
    FileIdentity fileId = {};
    ASSERT_EQ(ReadFileId(object.Get(), &fileId), 0u);
    EXPECT_EQ(fileId.volume, 0u);
    EXPECT_TRUE(fileId.high == found.high && fileId.low == found.low);
  }
  const FileIdentity fileId = {0, found.high, found.low};
  IdentityIndex index;
  ASSERT_EQ(index.Add(fileId, L"C:\\Replaced", 11), S_OK);  // another object there now
  ASSERT_EQ(index.Add(fileId, L"C:\\Found", 8), S_OK);
  ASSERT_EQ(index.Add(fileId, L"C:\\FOUND", 8), S_OK);  // the same place, from another folder's walk
  index.Seal();
  struct Case {
    FileIdentity asked;
    HRESULT answer;
  };
  for (const Case& test : {Case{found, S_OK}, Case{{found.volume + 1, found.high, found.low}, S_FALSE},
                           Case{{found.volume, found.high, found.low + 1}, S_FALSE}, Case{found, S_OK}}) {
    const WCHAR* path = nullptr;
    SIZE_T length = 0;
    EXPECT_EQ(index.Find(test.asked, &path, &length), test.answer);
    if (test.answer == S_OK) {
      EXPECT_EQ(std::wstring(path, length), L"C:\\Found");
    }
  }
  EXPECT_EQ(standin::CallCount("GetFileInformationByHandle"), 3) << "each place's volume is read once";
}

// A registered folder's prefix is a name: its spelling decides, short names
// expanded, links not walked.
TEST_F(TargetPathTest, PrefixIsDecidedByItsLongSpelling) {
  const struct {
    const char* prefix;
    const char* refusal;
  } cases[] = {
      {"C:\\PROGRA~1\\", "it is the standard folder 'C:\\Program Files'"},
      {"c:\\progra~3\\microsoft", "it holds the standard folder 'C:\\ProgramData\\Microsoft\\Windows\\Templates'"},
      {"C:\\Users\\Public\\AppData", "it holds the standard folder 'C:\\Users\\Public\\AppData\\Local'"},
      {"\\\\localhost\\c$\\Quorvel", kAdministrative},
      {"Quorvel\\", kRelative},
      {"C:\\PROGRA~1\\Quorvel", nullptr},
      {"C:\\Documents and Settings\\ann\\Quorvel", nullptr},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.prefix);
    standin::ClearMessages();
    EXPECT_EQ(RefuseUnsafePrefix(row.prefix), row.refusal ? E_INVALIDARG : S_OK);
    EXPECT_EQ(Lines(), Refusal(row.prefix, row.refusal));
  }
  EXPECT_EQ(standin::CallCount("CreateFileW"), 0) << "no link walk, no identity";
}

// Every allocation the guard makes can fail: the call then ends with
// E_OUTOFMEMORY and a line naming what was being built, and leaks nothing.
TEST_F(TargetPathTest, EveryAllocationFailureIsReportedAndLeaksNothing) {
  const struct {
    const char* path;
    HRESULT answer;
  } runs[] = {{"C:\\Users\\installer\\AppData", E_INVALIDARG}, {"C:\\Users\\Public\\AppData\\Quorvel", S_OK}};
  for (const auto& run : runs) {
    standin::FailAllocation(0);
    ASSERT_EQ(Guard(run.path), run.answer);
    const uint64_t points = standin::AllocationPoints();
    std::cout << run.path << ": " << points << " allocation points\n";
    for (uint64_t failing = 1; failing <= points; ++failing) {
      SCOPED_TRACE(std::string(run.path) + ", allocation " + std::to_string(failing));
      standin::ClearMessages();
      standin::FailAllocation(failing);
      EXPECT_EQ(Guard(run.path), E_OUTOFMEMORY);
      EXPECT_EQ(standin::LiveHeapBlocks(), 0);
      const std::vector<std::string> lines = Lines();
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().rfind("Guard:  Error 0x8007000e: Failed to allocate the ", 0), 0u) << lines.back();
    }
  }
  standin::FailAllocation(0);
}

}  // namespace

namespace {

// Each extra profile costs the guard one entry of the profiles folder's
// listing and the reading of its ProfileList entry, and nothing else: the
// decision itself looks at no profile it is not in.
TEST_F(TargetPathTest, WorkIsFlatInTheProfileCountBeyondReadingTheirList) {
  fs::create_directories(*standin::HostPath(std::string("C:\\Program Files\\Quorvel\\SDK")));
  const auto addProfiles = [](int from, int to) {
    for (int i = from; i < to; ++i) {
      const std::string name = "user" + std::to_string(i);
      standin::AddProfile("S-1-5-21-7-7-7-" + std::to_string(2000 + i),
                          L"C:\\Users\\" + std::wstring(name.begin(), name.end()), false);
      fs::create_directories(*standin::HostPath("C:\\Users\\" + name));
    }
  };
  const char* const fileQueries[] = {
      "CreateFileW",      "GetFileAttributesW",        "FindFirstFileExW", "FindNextFileW", "GetFinalPathNameByHandleW",
      "GetLongPathNameW", "GetFileInformationByHandle"};
  struct Work {
    int files = 0;
    int listed = 0;
    int comparisons = 0;
    int listReads = 0;
  };
  const auto measure = [&](const char* path) {
    standin::ClearCalls();
    EXPECT_EQ(Guard(path), S_OK) << path;
    Work work;
    for (const char* query : fileQueries) work.files += standin::CallCount(query);
    work.listed = standin::CallCount("FindNextFileW");
    work.comparisons = standin::CallCount("CompareStringOrdinal");
    work.listReads = standin::CallCount("RegEnumKeyExW") + standin::CallCount("RegGetValueW");
    return work;
  };
  const char* const paths[] = {"C:\\Program Files\\Quorvel\\SDK", "C:\\Users\\user3\\Quorvel"};
  addProfiles(0, 5);
  const Work few[] = {measure(paths[0]), measure(paths[1])};
  addProfiles(5, 205);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(paths[i]);
    const Work many = measure(paths[i]);
    EXPECT_EQ(many.listed - few[i].listed, 200) << "one listing entry per profile";
    EXPECT_EQ(many.files - few[i].files, 200) << "no other file query";
    EXPECT_EQ(many.listReads - few[i].listReads, 400) << "its ProfileList entry read once";
    EXPECT_EQ(many.comparisons - few[i].comparisons, 200) << "one comparison with the profiles folder per entry";
    std::cout << paths[i] << ": " << few[i].files << " file queries and " << few[i].comparisons
              << " comparisons with 5 extra profiles\n";
  }
}

}  // namespace

namespace {

// What the guard answers, in the reference's terms; nullopt for a refusal
// of another kind (a relative path, a root, an administrative share).
std::optional<guard_reference::Verdict> GuardVerdict(const std::string& path) {
  standin::ClearMessages();
  standin::ClearCalls();
  const HRESULT result = Guard(path.c_str());
  if (result == S_OK) return guard_reference::Verdict::kAllowed;
  const std::vector<std::string> lines = standin::LogLines();
  const std::string line = lines.empty() ? "" : lines.back();
  if (line.find("': it is the standard folder '") != std::string::npos) return guard_reference::Verdict::kIs;
  if (line.find("': it holds the standard folder '") != std::string::npos) return guard_reference::Verdict::kHolds;
  if (line.find("': it runs through the link '") != std::string::npos) return guard_reference::Verdict::kLink;
  if (line.find("': it is relative or a volume root") != std::string::npos) return guard_reference::Verdict::kRelative;
  if (line.find("': it is on an administrative share") != std::string::npos) {
    return guard_reference::Verdict::kAdministrative;
  }
  if (line.find("': it names a stream") != std::string::npos) return guard_reference::Verdict::kStream;
  return std::nullopt;
}

// Every standard folder of a machine with many profiles, links and short
// names, in the spellings and places a package could name it by, decided
// as the simple reference decides: by identity.
TEST(GuardReferenceTest, GuardAgreesWithTheDecisionByIdentity) {
  standin::Reset();
  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  TemporaryFolder folder;
  standin::SetSandbox(folder.Path());
  guard_reference::ReferenceMachine machine;
  machine.LayOut(6);
  ASSERT_EQ(WcaInitialize(standin::NewSession(false), "Guard"), S_OK);
  int compared = 0;
  for (const std::wstring& standard : machine.StandardFolders()) {
    std::vector<std::wstring> spellings = {standard, standard + L"\\", standard + L"\\Vendor"};
    const size_t parent = standard.rfind(L'\\');
    if (parent > 2) spellings.push_back(standard.substr(0, parent));
    std::wstring upper = standard;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
    spellings.push_back(upper + L".");
    WCHAR shortPath[MAX_PATH];
    const DWORD shortChars = GetShortPathNameW(standard.c_str(), shortPath, MAX_PATH);
    if (shortChars && shortChars < MAX_PATH) spellings.emplace_back(shortPath, shortChars);
    if (standard.rfind(L"C:\\Users\\", 0) == 0) spellings.push_back(L"C:\\Documents and Settings" + standard.substr(8));
    // Through the drives and shares that lead onto the machine's folders, and as a stream.
    if (standard.rfind(L"C:\\Windows\\", 0) == 0) spellings.push_back(L"W:" + standard.substr(10));
    if (standard.rfind(L"C:\\Users\\", 0) == 0) spellings.push_back(L"\\\\localhost\\Users" + standard.substr(8));
    if (standard.rfind(L"C:\\", 0) == 0) spellings.push_back(L"M:" + standard.substr(2));
    spellings.push_back(standard + L"::$INDEX_ALLOCATION");
    spellings.push_back(standard + L"\\Absent\\Vendor");
    for (const std::wstring& spelling : spellings) {
      const guard_reference::Verdict expected = machine.Decide(spelling);
      if (expected == guard_reference::Verdict::kAbsent) continue;
      const std::string narrow(spelling.begin(), spelling.end());
      SCOPED_TRACE(narrow);
      EXPECT_EQ(GuardVerdict(narrow), std::optional<guard_reference::Verdict>(expected));
      ++compared;
    }
  }
  for (const char* path : {"C:\\Data\\Planted\\Vendor",
                           "C:\\Data\\Mounted\\Vendor",
                           "C:\\Data\\Mounted",
                           "C:\\ProgramData\\Vendor Shared",
                           "D:\\Profiles",
                           "D:\\Profiles\\mover\\AppData",
                           "C:\\accounts",
                           "D:\\Redirected\\installer",
                           "S:\\Windows",
                           "S:\\Vendor",
                           "W:\\Vendor",
                           "C:\\Users\\ann\\AppData\\Roaming",
                           "C:\\Users\\ann\\AppData\\Roaming\\Vendor",
                           "D:\\Common Files",
                           "E:\\Apps32\\Vendor",
                           "C:\\Program Files\\Vendor",
                           "C:\\Program Files (x86)\\Vendor App",
                           "C:\\Users\\installer\\AppData\\Local\\Vendor",
                           "C:\\Users\\ann\\AppData\\Local\\Vendor",
                           "\\\\server\\\\x",
                           "\\\\?\\C:Data",
                           "C:\\Vendor\\Absent",
                           "D:\\Nowhere\\Vendor"}) {
    SCOPED_TRACE(path);
    const guard_reference::Verdict expected = machine.Decide(std::wstring(path, path + std::strlen(path)));
    ASSERT_NE(expected, guard_reference::Verdict::kAbsent);
    EXPECT_EQ(GuardVerdict(path), std::optional<guard_reference::Verdict>(expected));
    ++compared;
  }
  std::cout << compared << " spellings compared\n";
  EXPECT_GT(compared, 1000);
  FinishSession(0);
  EXPECT_EQ(standin::LiveHeapBlocks(), 0);
  EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

}  // namespace
