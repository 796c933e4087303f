// RemoveRegistries in the engine: values of the Installer's Folders key
// under a path prefix are deleted, matching at a path boundary, case by case.

#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

#include <algorithm>
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
};

void addPrefixCases(Suite& suite) {
  const std::vector<std::string> all = registrations();
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
  };
  for (const PrefixCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, [one, all](Case& c) {
      SETUP_OK(c, registerAll(all));
      // Lines follow the key's enumeration order, which the engine's
      // registry decides.
      const std::vector<std::string> order = machine::valueNames(kFoldersKey);
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
// registry values are at stake, so the principal folders can be named here.
void addGuardCases(Suite& suite) {
  struct Guard {
    const char* name;
    std::string prefix;
    std::string registration;  // must survive
  };
  const Guard guards[] = {
      {"Windows folder is refused", "C:\\windows\\", "C:\\windows\\QuorvelEngineTests\\"},
      {"Program Files is refused", "C:\\Program Files", "C:\\Program Files\\QuorvelEngineTests\\"},
      {"volume root is refused", "C:\\", kRoot + "App\\"},
      {"relative prefix is refused", "QuorvelEngineTests\\", "QuorvelEngineTests\\App\\"},
  };
  for (const Guard& guard : guards) {
    suite.add(kLabel, guard.name, kLabel, [guard](Case& c) {
      SETUP_OK(c, registerAll({guard.registration}));
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = guard.prefix;
      const ActionOutcome outcome = runAction(c, request);
      const bool survived = registered(guard.registration);
      unregisterAll({guard.registration});
      CHECK_EQ(c, outcome.code, kFailure);
      CHECK(c, survived);
      SETUP_OK(c, outcome.lines.size() == 3);
      CHECK_EQ(c, outcome.lines[1], L("CustomActionData = " + guard.prefix));
      const std::string lead = errorLine(kLabel, 0x80070057, "");
      CHECK_EQ(c, outcome.lines[2].substr(0, lead.size()), lead);
      CHECK(c, outcome.lines[2].find(guard.prefix) != std::string::npos);
    });
  }
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
