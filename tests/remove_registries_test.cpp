// RemoveRegistries: deregisters the folders under a prefix from the
// Installer's Folders key, collecting the names before deleting any.
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "action_support.h"
#include "actions/exports.h"
#include "tool_double.h"

namespace {

constexpr char kFolders[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";

std::string Line(const std::string& text) { return "RemoveRegistries:  " + text; }

std::vector<std::string> Plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// The lines every run that reaches the key begins with.
std::vector<std::string> OpeningLines(const std::string& prefix) {
  return {Line("Initialized."), Line("CustomActionData = " + prefix), Line(std::string(kFolders) + "\n")};
}

const std::set<std::string> kRegistryCalls = {"RegOpenKeyExA", "RegQueryInfoKeyA", "RegEnumValueA", "RegDeleteValueA",
                                              "RegCloseKey"};

class RemoveRegistriesTest : public ActionTest {
 protected:
  static void Register(const std::vector<std::string>& folders) {
    standin::CreateKey(kFolders);
    for (const std::string& folder : folders) standin::SetStringValue(kFolders, folder, L"");
  }

  static std::vector<std::string> Registered() { return standin::ValueNames(kFolders); }

  // The verbosity decision holds for the process, so each setting is a test of
  // its own.
  void ExpectDeletesUnderThePrefix(bool verbose) {
    if (verbose) LogVerbose();
    SetArgument("C:\\Vendor\\App");
    Register({"C:\\Other\\", "C:\\Vendor\\App\\", "C:\\Vendor\\App2\\", "C:\\Vendor\\App\\bin\\"});

    EXPECT_EQ(RemoveRegistries(session_), kSuccess);
    EXPECT_EQ(Registered(), (std::vector<std::string>{"C:\\Other\\", "C:\\Vendor\\App2\\"}));
    std::vector<std::string> expected = OpeningLines("C:\\Vendor\\App");
    if (verbose) {
      expected = Plus(expected,
                      {Line("subKeyValue (read only): C:\\Other\\"), Line("subKeyValue (push_buck): C:\\Vendor\\App\\"),
                       Line("subKeyValue (read only): C:\\Vendor\\App2\\"),
                       Line("subKeyValue (push_buck): C:\\Vendor\\App\\bin\\")});
    }
    expected = Plus(expected, {Line("remove subKeyValue : C:\\Vendor\\App\\"),
                               Line("remove subKeyValue : C:\\Vendor\\App\\bin\\")});
    EXPECT_EQ(ActionLines("RemoveRegistries"), expected);
  }
};

TEST_F(RemoveRegistriesTest, DeletesWhatLiesUnderThePrefix) { ExpectDeletesUnderThePrefix(false); }

TEST_F(RemoveRegistriesTest, VerboseLoggingNamesEveryValueInEnumerationOrder) { ExpectDeletesUnderThePrefix(true); }

TEST_F(RemoveRegistriesTest, CollectsEveryNameBeforeDeletingAny) {
  // Deleting while enumerating by index would skip every other match.
  Register({"C:\\Vendor\\App\\a\\", "C:\\Vendor\\App\\b\\", "C:\\Vendor\\App\\c\\", "C:\\Vendor\\App\\d\\"});
  SetArgument("C:\\Vendor\\App\\");

  EXPECT_EQ(RemoveRegistries(session_), kSuccess);
  EXPECT_TRUE(Registered().empty());
  // The action's own calls, from its key's open on: the guard's reads come before.
  std::vector<std::string> calls = CallsAmong(kRegistryCalls);
  calls.erase(calls.begin(), std::find(calls.begin(), calls.end(), "RegOpenKeyExA"));
  EXPECT_EQ(calls, (std::vector<std::string>{"RegOpenKeyExA", "RegQueryInfoKeyA", "RegEnumValueA", "RegEnumValueA",
                                             "RegEnumValueA", "RegEnumValueA", "RegEnumValueA", "RegDeleteValueA",
                                             "RegDeleteValueA", "RegDeleteValueA", "RegDeleteValueA", "RegCloseKey"}));
}

struct Boundary {
  std::string prefix;
  std::vector<std::string> removed;
  std::vector<std::string> kept;
  UINT ansiCodePage = 1252;
};

// Code page 932: 機能 is 8B 40 94 5C, 拡張 8A 67 92 A3, 設定 90 DD 92 E8. The
// second byte of 能 is the byte of a backslash and no path boundary.
const std::string kKinou = "\x8b\x40\x94\x5c";
const std::string kKakuchou = "\x8a\x67\x92\xa3";
const std::string kSettei = "\x90\xdd\x92\xe8";
const std::string kP = "C:\\P\\";

TEST_F(RemoveRegistriesTest, MatchesCaseSensitivelyAndOnlyAtAPathBoundary) {
  const Boundary table[] = {
      // Without a trailing backslash: the folder itself and what lies below
      // it, but not a sibling whose name continues the prefix.
      {"C:\\Vendor\\App",
       {"C:\\Vendor\\App", "C:\\Vendor\\App\\", "C:\\Vendor\\App\\bin\\"},
       {"C:\\Vendor\\App2\\", "C:\\Vendor\\Apple", "C:\\Vendor\\Ap", "C:\\Vendor\\APP\\x\\", "c:\\vendor\\app\\y\\"}},
      // With one: only what lies below.
      {"C:\\Vendor\\App\\",
       {"C:\\Vendor\\App\\", "C:\\Vendor\\App\\bin", "C:\\Vendor\\App\\bin\\"},
       {"C:\\Vendor\\App", "C:\\Vendor\\App2\\", "C:\\Vendor\\app\\lib\\"}},
      {"D:\\data\\Tools", {"D:\\data\\Tools\\x\\"}, {"D:\\Data\\Tools\\y\\", "D:\\data\\ToolsX\\", "D:\\data\\Tool"}},
      // The longest name is 11 UTF-16 units and 16 bytes: its buffer is sized in bytes.
      {kP + kKinou,
       {kP + kKinou, kP + kKinou + "\\", kP + kKinou + "\\" + kSettei + "\\"},
       {kP + kKinou + kKakuchou + "\\", kP + kKinou + kSettei + kKakuchou + "\\"},
       932},
      {kP + kKinou + "\\", {kP + kKinou + "\\" + kSettei + "\\"}, {kP + kKinou, kP + kKinou + kKakuchou + "\\"}, 932},
      // A prefix cut inside a character: the byte after it is a trail byte.
      {kP + "\x94", {kP + "\x94"}, {kP + "\x94\x5c\\"}, 932},
  };
  // Value names within one key differ in more than letter case, as on Windows.
  for (const Boundary& row : table) {
    SCOPED_TRACE(row.prefix);
    Restart();
    standin::SetSystemCodePages(row.ansiCodePage, row.ansiCodePage == 932 ? 932 : 437);
    std::vector<std::string> all = row.kept;
    all.insert(all.end(), row.removed.begin(), row.removed.end());
    Register(all);
    SetArgument(row.prefix);

    EXPECT_EQ(RemoveRegistries(session_), kSuccess);
    EXPECT_EQ(Registered(), row.kept);
    std::vector<std::string> removedLines;
    for (const std::string& name : row.removed) removedLines.push_back(Line("remove subKeyValue : " + name));
    EXPECT_EQ(ActionLines("RemoveRegistries"), Plus(OpeningLines(row.prefix), removedLines));
  }
}

TEST_F(RemoveRegistriesTest, NothingToRemoveIsSuccess) {
  struct Row {
    const char* name;
    std::vector<std::string> folders;
  };
  const Row rows[] = {{"no values", {}}, {"no match", {"C:\\Other\\", "C:\\Vendor\\App2\\"}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Restart();
    LogVerbose();
    Register(row.folders);
    SetArgument("C:\\Vendor\\App");

    EXPECT_EQ(RemoveRegistries(session_), kSuccess);
    EXPECT_EQ(Registered(), row.folders);
    std::vector<std::string> expected = OpeningLines("C:\\Vendor\\App");
    for (const std::string& name : row.folders) expected.push_back(Line("subKeyValue (read only): " + name));
    EXPECT_EQ(ActionLines("RemoveRegistries"), expected);
    EXPECT_EQ(standin::CallCount("RegDeleteValueA"), 0);
  }
}

struct Failure {
  const char* name;
  bool keyExists;
  const char* call;  // nullptr: nothing injected
  DWORD error;
  int skip;
  int times;
  std::vector<std::string> lines;  // after the opening lines
  std::vector<std::string> left;   // registered afterwards
  bool closedBeforeErrorLine;      // for a key that was opened and queried
  bool keyHandedBack = false;      // a failed open still hands back a key
};

TEST_F(RemoveRegistriesTest, EveryFailureIsLoggedClosesTheKeyAndFails) {
  const std::vector<std::string> three = {"C:\\Vendor\\App\\a\\", "C:\\Vendor\\App\\b\\", "C:\\Vendor\\App\\c\\"};
  const std::string denied = "Error 0x80070005: ";
  const std::string noHandle = "Error 0x80070006: RegOpenKeyExA failed";
  // clang-format off
  const Failure table[] = {
      {"no Folders key",    false, nullptr,            0,                   0, -1, {Line(noHandle)}, {},    false},
      {"open denied",       true,  "RegOpenKeyExA",    ERROR_ACCESS_DENIED, 0, -1, {Line(noHandle)}, three, false},
      {"open without a key", true, "RegOpenKeyExA",    0,                   0, -1, {Line(noHandle)}, three, false},
      {"open denied with a key", true, "RegOpenKeyExA", ERROR_ACCESS_DENIED, 0, -1,
       {Line(denied + "RegOpenKeyExA failed")}, three, false, true},
      {"query denied",      true,  "RegQueryInfoKeyA", ERROR_ACCESS_DENIED, 0, -1,
       {Line(denied + "RegQueryInfoKeyA failed")}, three, false},
      {"enumeration fails on the second name", true, "RegEnumValueA", ERROR_MORE_DATA, 1, -1,
       {Line("Error 0x800700ea: RegEnumKeyExA failed")}, three, true},
      {"second of three deletions fails", true, "RegDeleteValueA", ERROR_ACCESS_DENIED, 1, 1,
       {Line("remove subKeyValue : C:\\Vendor\\App\\a\\"), Line("remove failed subKeyValue : C:\\Vendor\\App\\b\\"),
        Line(denied + "RegDeleteValueA failed")},
       {"C:\\Vendor\\App\\b\\", "C:\\Vendor\\App\\c\\"}, true},
  };
  // clang-format on
  for (const Failure& row : table) {
    SCOPED_TRACE(row.name);
    Restart();
    if (row.keyExists) Register(three);
    if (row.call) standin::FailCall(row.call, row.error, row.skip, row.times);
    standin::HandBackKeyWithFailedOpen(row.keyHandedBack);
    SetArgument("C:\\Vendor\\App");

    EXPECT_EQ(RemoveRegistries(session_), kFailure);
    EXPECT_EQ(ActionLines("RemoveRegistries"), Plus(OpeningLines("C:\\Vendor\\App"), row.lines));
    EXPECT_EQ(Registered(), row.left);
    EXPECT_FALSE(standin::KeyExists(kFolders) && !row.keyExists) << "the key must never be created";
    EXPECT_EQ(standin::OpenRegistryKeys(), 0) << "the key is closed on every path";
    const std::vector<std::string> calls = CallsAmong({"RegCloseKey", "MsiProcessMessage"});
    if (standin::CallCount("RegQueryInfoKeyA") > 0) {
      ASSERT_GE(calls.size(), 2u);
      EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
                row.closedBeforeErrorLine ? (std::vector<std::string>{"RegCloseKey", "MsiProcessMessage"})
                                          : (std::vector<std::string>{"MsiProcessMessage", "RegCloseKey"}));
    }
  }
}

// A prefix is a name: its long spelling decides, and a package's folder
// inside a standard folder is deregistered as before.
TEST_F(RemoveRegistriesTest, RefusesWhatNoPackageOwnsBeforeOpeningTheKey) {
  const char* const kIs = "it is the standard folder ";
  const char* const kRelative = "it is relative or a volume root";
  const struct {
    std::string prefix;
    std::string reason;  // empty: deregistered
    bool asSystem;
  } cases[] = {
      {"C:\\", kRelative, false},
      {"C:", kRelative, false},
      {"D:\\\\", kRelative, false},
      {"Vendor\\App", kRelative, false},
      {"\\Vendor", kRelative, false},
      {"C:\\Users", std::string(kIs) + "'C:\\Users'", false},
      {"C:\\Windows\\", std::string(kIs) + "'C:\\Windows'", false},
      {"C:\\Program Files", std::string(kIs) + "'C:\\Program Files'", false},
      {"C:\\Program Files (x86)\\", std::string(kIs) + "'C:\\Program Files (x86)'", false},
      {"C:\\ProgramData", std::string(kIs) + "'C:\\ProgramData'", false},
      {"c:\\users\\installer\\appdata\\roaming\\", std::string(kIs) + "'C:\\Users\\installer\\AppData\\Roaming'",
       false},
      {"C:\\Users\\ann\\AppData\\Local", std::string(kIs) + "'C:\\Users\\ann\\AppData\\Local'", true},
      {"C:\\PROGRA~1", std::string(kIs) + "'C:\\Program Files'", false},
      {"C:\\Users\\installer\\AppData", "it holds the standard folder 'C:\\Users\\installer\\AppData\\Local'", false},
      {"C:\\Users\\Public\\AppData", "it holds the standard folder 'C:\\Users\\Public\\AppData\\Local'", false},
      {"\\\\localhost\\C$\\Program Files\\Vendor", "it is on an administrative share", false},
      {"C:\\Program Files\\Vendor\\", "", false},
      {"C:\\Users\\installer\\AppData\\Roaming\\Vendor", "", false},
  };
  TemporaryFolder machine;
  for (const auto& row : cases) {
    SCOPED_TRACE(row.prefix);
    Restart();
    std::filesystem::remove_all(machine.Path() + "/C");
    standin::SetSandbox(machine.Path());
    standin::LayOutProfiles();
    if (row.asSystem) standin::SetAccount(standin::Account::kLocalSystem);
    const std::vector<std::string> others = {"C:\\ProgramData\\Vendor\\", "C:\\Users\\ann\\AppData\\Local\\App\\",
                                             "C:\\Windows\\system32\\Vendor\\App\\", "D:\\Data\\"};
    const std::vector<std::string> under = {"C:\\Program Files\\Vendor\\", "C:\\Program Files\\Vendor\\bin\\",
                                            "C:\\Users\\installer\\AppData\\Roaming\\Vendor\\"};
    Register(Plus(others, under));
    SetArgument(row.prefix);

    const bool deregistered = row.reason.empty();
    EXPECT_EQ(RemoveRegistries(session_), deregistered ? kSuccess : kFailure);
    if (deregistered) {
      std::vector<std::string> left = others;
      for (const std::string& name : under) {
        if (name.rfind(row.prefix, 0) != 0) left.push_back(name);
      }
      EXPECT_EQ(Registered(), left);
      EXPECT_EQ(standin::CallCount("RegOpenKeyExA"), 1);
    } else {
      EXPECT_EQ(
          ActionLines("RemoveRegistries"),
          (std::vector<std::string>{Line("Initialized."), Line("CustomActionData = " + row.prefix),
                                    Line("Error 0x80070057: Refusing path '" + row.prefix + "': " + row.reason)}));
      EXPECT_EQ(standin::CallCount("RegOpenKeyExA"), 0);
      EXPECT_EQ(Registered(), Plus(others, under));
    }
  }
}

}  // namespace
