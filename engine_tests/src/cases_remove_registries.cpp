// RemoveRegistries in the engine: values of the Installer's Folders key
// under a path prefix are deleted, matching at a path boundary, case by case.

#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"
#include "shell_folders.hpp"

#include <shlobj.h>

#include <algorithm>
#include <optional>
#include <set>

namespace quorvel::engine {

namespace {

constexpr const char* kLabel = "RemoveRegistries";
const std::string kRoot = "C:\\QuorvelEngineTests\\";

std::string L(const std::string& text) { return line(kLabel, text); }

// The registrations every case starts from, in this order.
std::vector<std::string> registrations() {
  return {kRoot + "App\\", kRoot + "App\\bin\\", kRoot + "App2\\", kRoot + "app\\lower\\", kRoot + "Other\\"};
}

bool registerAll(const std::vector<std::string>& names) {
  if (!machine::createKey(kFoldersKey)) {
    return false;
  }
  for (const std::string& name : names) {
    if (!machine::setString(kFoldersKey, name, "")) {
      return false;
    }
  }
  return true;
}

void unregisterAll(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    machine::deleteValue(kFoldersKey, name);
  }
}

struct PrefixCase {
  const char* name;
  std::string prefix;
  std::set<std::string> removed;
  bool verbose;
  std::vector<std::string> registered = registrations();
  unsigned codePage = kWesternCodePage;
  bool longestNameDoubleByte = false;  // the key's longest name is the last registered
};

// Registrations in code page 932, where 機能 is 8B 40 94 5C (its last byte
// that of a backslash) and 機能拡張 continues it as a sibling folder. The
// last name is the longest of the key by far and double-byte throughout:
// the key's longest name is answered in UTF-16 units, about half its bytes.
std::vector<std::string> doubleByteRegistrations() {
  std::wstring deep = L"機能\\";
  while (deep.size() < 200) {
    deep += L"表示設定ソフト";
  }
  const std::string root = kRoot + ansi(L"機能");
  return {root + "\\", root + "\\" + ansi(L"表示") + "\\", kRoot + ansi(L"機能拡張") + "\\", kRoot + ansi(deep) + "\\"};
}

void addPrefixCases(Suite& suite) {
  const std::vector<std::string> all = registrations();
  const std::vector<std::string> dbcs = doubleByteRegistrations();
  const PrefixCase cases[] = {
      {"prefix ending in a backslash removes the folder and those below",
       kRoot + "App\\",
       {kRoot + "App\\", kRoot + "App\\bin\\"},
       false},
      {"prefix without a backslash stops at a path boundary",
       kRoot + "App",
       {kRoot + "App\\", kRoot + "App\\bin\\"},
       false},
      {"prefix naming one registration exactly removes it", kRoot + "App\\bin\\", {kRoot + "App\\bin\\"}, false},
      {"prefix differing in letter case removes nothing", kRoot + "APP\\", {}, false},
      {"prefix matching nothing removes nothing", kRoot + "Missing\\", {}, false},
      {"root prefix removes every registration below it", kRoot, {all.begin(), all.end()}, false},
      {"verbose run logs each value read and each match",
       kRoot + "App\\",
       {kRoot + "App\\", kRoot + "App\\bin\\"},
       true},
      {"prefix ending in the trail byte 0x5C stops at the path boundary",
       kRoot + ansi(L"機能"),
       {dbcs[0], dbcs[1]},
       false,
       // The plain name is the longest here, so that no name buffer sized in
       // UTF-16 units is too small and the boundary alone is at stake.
       {dbcs[0], dbcs[1], dbcs[2], kRoot + "Other\\the longest name of the key is plain text\\"},
       kJapaneseCodePage},
      {"key whose longest name is double-byte is read whole and logged in verbose runs",
       kRoot + ansi(L"機能\\"),
       {dbcs[0], dbcs[1], dbcs[3]},
       true,
       dbcs,
       kJapaneseCodePage,
       true},
      {"continuing sibling named in double bytes is removed by its own prefix",
       kRoot + ansi(L"機能拡張"),
       {dbcs[2]},
       false,
       dbcs,
       kJapaneseCodePage,
       true},
      // Value names are case-insensitive: the lower-case spelling needs a
      // folder of its own to stay a value of its own.
      {"names with e-acute, OE and euro match byte for byte",
       kRoot + ansi(L"Zoë Œ€"),
       {kRoot + ansi(L"Zoë Œ€\\"), kRoot + ansi(L"Zoë Œ€\\bin\\")},
       false,
       {kRoot + ansi(L"Zoë Œ€\\"), kRoot + ansi(L"Zoë Œ€\\bin\\"), kRoot + ansi(L"Zoë Œ€2\\"),
        kRoot + ansi(L"zoë œ€\\lower\\")}},
  };
  for (const PrefixCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, one.codePage, [one](Case& c) {
      const std::vector<std::string>& all = one.registered;
      SETUP_OK(c, registerAll(all));
      // Lines follow the key's enumeration order, which the engine's
      // registry decides.
      const std::vector<std::string> order = machine::valueNames(kFoldersKey);
      // The key's longest name comes in UTF-16 units, as on Windows. Where it
      // is double-byte, a name buffer of that many bytes cannot hold it (the
      // enumeration would answer 234).
      size_t longestUnits = 0;
      for (const std::string& name : order) {
        longestUnits = std::max(longestUnits, wide(name).size());
      }
      const std::optional<DWORD> longest = machine::longestValueNameChars(kFoldersKey);
      CHECK(c, longest.has_value() && *longest == longestUnits);
      if (one.longestNameDoubleByte) {
        SETUP_OK(c, longest && one.registered.back().size() > *longest + 1);
      }
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = one.prefix;
      if (one.verbose) {
        request.properties = {{"LOGVERBOSE", "1"}};
      }
      const ActionOutcome outcome = runAction(c, request);
      std::vector<bool> present;
      for (const std::string& name : all) {
        present.push_back(registered(name));
      }
      unregisterAll(all);

      CHECK_EQ(c, outcome.code, kSuccess);
      std::vector<std::string> actual = outcome.lines;
      if (one.verbose && !actual.empty()) {
        actual.erase(actual.begin());  // the entry line
      }
      std::vector<std::string> expected = {L("Initialized."), L("CustomActionData = " + one.prefix),
                                           L(std::string(kFoldersKey) + "\n")};
      for (const std::string& name : order) {
        if (one.verbose) {
          expected.push_back(L(
              std::string(one.removed.count(name) ? "subKeyValue (push_buck): " : "subKeyValue (read only): ") + name));
        }
      }
      for (const std::string& name : order) {
        if (one.removed.count(name)) {
          expected.push_back(L("remove subKeyValue : " + name));
        }
      }
      CHECK_LINES(c, actual, expected);
      for (size_t i = 0; i < all.size(); ++i) {
        c.equal(present[i], one.removed.count(all[i]) == 0, "registered " + all[i], __FILE__, __LINE__);
      }
    });
  }
}

// Prefixes that would deregister folders no package owns are refused; only
// registry values are at stake, so the prefix's own standard folders, as the
// engine's shell names them, and a second profile can be named here.
void addGuardCases(Suite& suite) {
  struct Guard {
    const char* name;
    std::string prefix;
    std::string reason;  // after "Refusing path '<prefix>': "
  };
  const std::string is = "it is the standard folder ";
  const std::string profile = shell::folder(CSIDL_PROFILE);
  const std::string appData = shell::folder(CSIDL_APPDATA);
  const std::string commonFiles = shell::folder(CSIDL_PROGRAM_FILES_COMMON);
  const std::string startMenu = shell::folder(CSIDL_COMMON_STARTMENU);
  const std::string secondProfile = shell::profilesFolder() + "\\quorvel-ann";
  const Guard guards[] = {
      {"Windows folder is refused", "C:\\windows\\", is + "'C:\\windows'"},
      {"Program Files is refused", "C:\\Program Files", is + "'C:\\Program Files'"},
      {"AppData in upper case is refused", shell::upperCase(appData), is + "'" + appData + "'"},
      {"common Start Menu with a trailing backslash is refused", startMenu + "\\", is + "'" + startMenu + "'"},
      {"Fonts folder is refused", shell::folder(CSIDL_FONTS), is + "'" + shell::folder(CSIDL_FONTS) + "'"},
      {"temporary folder is refused", shell::temporaryFolder(), is + "'" + shell::temporaryFolder() + "'"},
      {"profiles folder is refused", shell::profilesFolder(), is + "'" + shell::profilesFolder() + "'"},
      {"short name of Common Files is refused", shell::shortPath(commonFiles), is + "'" + commonFiles + "'"},
      {"second profile's AppData is refused", secondProfile + "\\AppData\\Roaming",
       is + "'" + secondProfile + "\\AppData\\Roaming'"},
      {"folder holding AppData is refused", profile + "\\AppData",
       "it holds the standard folder '" + profile + "\\AppData\\Local'"},
      {"administrative share is refused", "\\\\localhost\\C$\\Program Files\\QuorvelEngineTests",
       "it is on an administrative share"},
      {"volume root is refused", "C:\\", "it is relative or a volume root"},
      {"relative prefix is refused", "QuorvelEngineTests\\", "it is relative or a volume root"},
      // NTFS opens the folder itself by its index stream.
      {"stream name of the Windows folder is refused", "C:\\windows::$INDEX_ALLOCATION", "it names a stream"},
  };
  for (const Guard& guard : guards) {
    suite.add(kLabel, guard.name, kLabel, [guard, secondProfile](Case& c) {
      SETUP_OK(c, !guard.prefix.empty());
      SETUP_OK(c, machine::createFolders(secondProfile + "\\AppData\\Roaming"));
      const std::string below = guard.prefix + (guard.prefix.back() == '\\' ? "" : "\\") + "QuorvelEngineTests\\";
      SETUP_OK(c, registerAll({below}));
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = guard.prefix;
      const ActionOutcome outcome = runAction(c, request);
      const bool survived = registered(below);
      unregisterAll({below});
      machine::removeTree(secondProfile);
      CHECK_EQ(c, outcome.code, kFailure);
      CHECK(c, survived);
      CHECK_LINES(c, outcome.lines,
                  (std::vector<std::string>{
                      L("Initialized."), L("CustomActionData = " + guard.prefix),
                      errorLine(kLabel, 0x80070057, "Refusing path '" + guard.prefix + "': " + guard.reason)}));
    });
  }

  suite.add(kLabel, "prefix inside AppData deregisters as before", kLabel, [appData](Case& c) {
    const std::string prefix = appData + "\\QuorvelEngineTests\\";
    SETUP_OK(c, registerAll({prefix, prefix + "bin\\"}));
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = prefix;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK(c, !registered(prefix));
    CHECK(c, !registered(prefix + "bin\\"));
    unregisterAll({prefix, prefix + "bin\\"});
  });
}

void addMissingKeyCase(Suite& suite) {
  suite.add(kLabel, "missing Folders key fails", kLabel, [](Case& c) {
    // The prefix is this test's own: put back what was registered.
    const std::vector<std::string> before = machine::valueNames(kFoldersKey);
    SETUP_OK(c, machine::deleteKeyTree(kFoldersKey));
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = kRoot;
    const ActionOutcome outcome = runAction(c, request);
    const bool createdByAction = machine::keyExists(kFoldersKey);
    registerAll(before);
    CHECK_EQ(c, outcome.code, kFailure);
    CHECK(c, !createdByAction);
    CHECK_LINES(c, outcome.lines,
                (std::vector<std::string>{L("Initialized."), L("CustomActionData = " + kRoot),
                                          L(std::string(kFoldersKey) + "\n"),
                                          errorLine(kLabel, 0x80070006, "RegOpenKeyExA failed")}));
  });
}

}  // namespace

void addRemoveRegistriesCases(Suite& suite) {
  addPrefixCases(suite);
  addGuardCases(suite);
  addMissingKeyCase(suite);
}

}  // namespace quorvel::engine
