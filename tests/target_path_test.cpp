// The guard against what no package owns: relative paths and volume roots,
// administrative shares, the standard folders of the machine, its users and
// its profiles (and what holds them) in any spelling, and links.
#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <iostream>

#include "actions/targetpath.h"
#include "support.h"
#include "tool_double.h"

namespace {

namespace fs = std::filesystem;

using Arrangement = void (*)();

// A link in the sandbox at `windowsPath`, leading to `target`.
void PlantLink(const std::string& windowsPath, const std::string& target) {
  fs::create_directories(fs::path(*standin::HostPath(windowsPath)).parent_path());
  fs::create_directory_symlink(*standin::HostPath(target), *standin::HostPath(windowsPath));
}

void PlantPackageLink() { PlantLink("C:\\ProgramData\\Quorvel", "C:\\Windows"); }
// A folder whose name is "Café" in UTF-8, which the ANSI code page reads as
// "CafÃ©": only the file queries' reading in UTF-8 meets the link.
void PlantUtf8Link() { PlantLink("C:\\Data\\Caf\xC3\xA9", "C:\\Windows"); }
void ReadPathsAsUtf8() {
  PlantUtf8Link();
  standin::SetCrtCodePage(CP_UTF8);
}
void RunAsSystem() { standin::SetAccount(standin::Account::kLocalSystem); }
void UseJapaneseCodePages() { standin::SetSystemCodePages(932, 932); }
void DenyOpening() { standin::FailCall("CreateFileW", ERROR_ACCESS_DENIED); }
void FailFonts() { standin::FailFolder(CSIDL_FONTS, E_FAIL); }
void FailEveryLookUp() {
  standin::FailCall("SHGetFolderPathW", ERROR_FILE_NOT_FOUND);
  standin::FailCall("GetTempPathW", ERROR_FILE_NOT_FOUND);
  standin::FailCall("GetProfilesDirectoryW", ERROR_FILE_NOT_FOUND);
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
  EXPECT_EQ(RefuseUnsafeTarget(target.path), target.refusal ? E_INVALIDARG : S_OK) << target.path;
  EXPECT_EQ(Lines(), Refusal(target.path, target.refusal));
}

constexpr char kRelative[] = "it is relative or a volume root";
constexpr char kAdministrative[] = "it is on an administrative share";

INSTANTIATE_TEST_SUITE_P(
    Paths, TargetPathTest,
    ::testing::Values(
        // Packages' own folders, inside standard folders too: allowed.
        Target{"C:\\Program Files\\Quorvel"}, Target{"D:\\Data\\"}, Target{"d:/data"},
        Target{"\\\\server\\share\\folder"}, Target{"\\\\?\\C:\\Data"}, Target{"\\\\?\\UNC\\server\\share\\folder"},
        Target{"\\\\server\\data$\\folder"}, Target{"C:\\Windows\\Temp"}, Target{""}, Target{"C:\\..\\Data"},
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
        // Another spelling of the local machine's drives.
        Target{"\\\\localhost\\C$\\Windows", kAdministrative}, Target{"\\\\server\\admin$\\x", kAdministrative},
        Target{"\\\\?\\UNC\\host\\d$\\Data", kAdministrative}, Target{"//host/Z$/data", kAdministrative},
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
        Target{"C:\\Windows\\Temp\\", "it is the standard folder 'C:\\Windows\\Temp'", RunAsSystem},
        Target{"C:\\Windows\\system32\\config",
               "it holds the standard folder 'C:\\Windows\\system32\\config\\systemprofile'", RunAsSystem},
        // Short names.
        Target{"C:\\PROGRA~1", "it is the standard folder 'C:\\Program Files'"},
        Target{"C:\\progra~2\\common~1", "it is the standard folder 'C:\\Program Files (x86)\\Common Files'"},
        Target{"C:\\Users\\INSTAL~1\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'"},
        Target{"C:\\Users\\Public\\AppData\\Roaming\\MICROS~1",
               nullptr},  // no such entry: a name inside a folder, allowed
        // Links to standard folders, and a package's folder behind a planted link.
        Target{"C:\\Documents and Settings", "it runs through the link 'C:\\Documents and Settings'"},
        Target{"C:\\Documents and Settings\\ann\\AppData\\Roaming\\Quorvel",
               "it runs through the link 'C:\\Documents and Settings'"},
        Target{"c:\\users\\all users\\Quorvel", "it runs through the link 'c:\\users\\all users'"},
        Target{"C:\\Users\\Default User", "it runs through the link 'C:\\Users\\Default User'", RunAsSystem},
        Target{"C:\\ProgramData\\Quorvel\\Data", "it runs through the link 'C:\\ProgramData\\Quorvel'",
               PlantPackageLink},
        // Each reading of the narrow path: the file queries' one in UTF-8 meets the link.
        Target{"C:\\Data\\Caf\xC3\xA9\\x", "it runs through the link 'C:\\Data\\Caf\xE9'", ReadPathsAsUtf8},
        // What cannot be seen is refused; a folder that cannot be resolved is left out.
        Target{"C:\\Program Files\\Quorvel", "it cannot be examined (error 0x00000005)", DenyOpening},
        Target{"C:\\Windows\\Fonts", nullptr, FailFonts}, Target{"C:\\Windows", nullptr, FailEveryLookUp},
        Target{"C:\\", kRelative, FailEveryLookUp}));

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
    ASSERT_EQ(RefuseUnsafeTarget(run.path), run.answer);
    const uint64_t points = standin::AllocationPoints();
    std::cout << run.path << ": " << points << " allocation points\n";
    for (uint64_t failing = 1; failing <= points; ++failing) {
      SCOPED_TRACE(std::string(run.path) + ", allocation " + std::to_string(failing));
      standin::ClearMessages();
      standin::FailAllocation(failing);
      EXPECT_EQ(RefuseUnsafeTarget(run.path), E_OUTOFMEMORY);
      EXPECT_EQ(standin::LiveHeapBlocks(), 0);
      const std::vector<std::string> lines = Lines();
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().rfind("Guard:  Error 0x8007000e: Failed to allocate the ", 0), 0u) << lines.back();
    }
  }
  standin::FailAllocation(0);
}

}  // namespace
