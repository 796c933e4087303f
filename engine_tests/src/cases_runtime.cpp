// What every action shares, seen through the engine: reading
// CustomActionData, the verbosity decision and its atoms, the entry line with
// the DLL's own version, and a cancel answered to a log line.

#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace quorvel::engine {

namespace {

constexpr const wchar_t* kVerboseAtom = L"WcaVerboseLogging";
constexpr const wchar_t* kNotVerboseAtom = L"WcaNotVerboseLogging";
constexpr const char* kProduct = "7D3C2B1A-0E5F-4A6B-9C8D-112233445566";

std::string productKey() { return std::string(kUninstallKey) + "{" + kProduct + "}"; }

// Leaves no published decision and no logging policy behind.
void clearVerbosityState() {
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);
  machine::deleteValue(kPolicyKey, "Logging");
}

bool isEntryLine(const std::string& text, const std::string& label) {
  return text.compare(0, line(label, "Entering ").size(), line(label, "Entering ")) == 0;
}

struct FrameCase {
  const char* action;
  unsigned bufferBytes;
};

// The frame's argument handling, for every action: missing, empty, longest
// that fits and one too long.
void addFrameCases(Suite& suite) {
  const FrameCase actions[] = {{"EditEstimatedSize", 256},
                               {"RemoveFolder", 1024},
                               {"RemoveRegistries", 260},
                               {"ChangeQuorvelFolderPermission", 1024},
                               {"RemoveManufacturerFolder", 1024}};
  for (const FrameCase& frame : actions) {
    const std::string action = frame.action;
    const std::vector<std::optional<std::string>> missing = {std::nullopt, std::string()};
    for (const std::optional<std::string>& data : missing) {
      suite.add("frame", action + (data ? "/empty data" : "/unset data"), action, [action, data](Case& c) {
        ActionRequest request;
        request.action = action;
        request.customActionData = data;
        const ActionOutcome outcome = runAction(c, request);
        CHECK_EQ(c, outcome.code, kFailure);
        CHECK_LINES(
            c, outcome.lines,
            (std::vector<std::string>{line(action, "Initialized."),
                                      errorLine(action, 0x80070057, "MsiGetPropertyA failed with invalid argument")}));
      });
    }
    suite.add("frame", action + "/data one longer than the buffer", action, [action, frame](Case& c) {
      ActionRequest request;
      request.action = action;
      request.customActionData = "C:\\" + std::string(frame.bufferBytes - 3, 'x');
      const ActionOutcome outcome = runAction(c, request);
      CHECK_EQ(c, outcome.code, kFailure);
      CHECK_LINES(c, outcome.lines,
                  (std::vector<std::string>{line(action, "Initialized."),
                                            errorLine(action, 0x800700ea, "MsiGetPropertyA failed")}));
    });
  }
  // The longest argument that fits is read whole: the other actions show it
  // in their first line after "Initialized.". The paths lead nowhere.
  const struct {
    const char* action;
    unsigned bufferBytes;
    const char* lineHead;
    const char* tail;
  } longest[] = {{"RemoveFolder", 1024, "CustomActionData = ", "|Quorvel SDK"},
                 {"RemoveRegistries", 260, "CustomActionData = ", "\\"},
                 {"ChangeQuorvelFolderPermission", 1024, "folderPath = ", ""},
                 {"RemoveManufacturerFolder", 1024, "folderPath = ", ""}};
  for (const auto& one : longest) {
    const std::string action = one.action;
    const std::string head = std::string("C:\\QuorvelEngineTests\\");
    const std::string data =
        head + std::string(one.bufferBytes - 1 - head.size() - std::string(one.tail).size(), 'n') + one.tail;
    const std::string expected = line(action, one.lineHead + data);
    suite.add("frame", action + "/data of " + std::to_string(data.size()) + " characters is read whole", action,
              [action, data, expected](Case& c) {
                ActionRequest request;
                request.action = action;
                request.customActionData = data;
                const ActionOutcome outcome = runAction(c, request);
                SETUP_OK(c, outcome.lines.size() >= 2);
                CHECK_EQ(c, outcome.lines[0], line(action, "Initialized."));
                CHECK_EQ(c, outcome.lines[1], expected);
              });
  }

  // EditEstimatedSize shows the longest argument in the key path it logs.
  suite.add("frame", "EditEstimatedSize/data of 255 characters is read whole", "EditEstimatedSize", [](Case& c) {
    ActionRequest request;
    request.action = "EditEstimatedSize";
    const std::string data(255, 'k');
    request.customActionData = data;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kFailure);
    CHECK_LINES(c, outcome.lines,
                (std::vector<std::string>{line("EditEstimatedSize", "Initialized."),
                                          line("EditEstimatedSize", std::string(kUninstallKey) + "{" + data + "}\n"),
                                          errorLine("EditEstimatedSize", 0x80070006, "RegOpenKeyExA failed")}));
  });
}

struct VerbosityCase {
  const char* name;
  std::map<std::string, std::string> properties;
  std::optional<std::string> policy;  // HKLM Logging value
  bool verbose;
};

void addVerbosityCases(Suite& suite) {
  const VerbosityCase cases[] = {
      {"LOGVERBOSE set makes it verbose", {{"LOGVERBOSE", "1"}}, std::nullopt, true},
      {"LOGVERBOSE of 0 counts as set", {{"LOGVERBOSE", "0"}}, std::nullopt, true},
      {"MsiLogging with a v makes it verbose", {{"MsiLogging", "oicewarmupV"}}, std::nullopt, true},
      {"MsiLogging without a v leaves it to the policy", {{"MsiLogging", "oicewarmup"}}, std::nullopt, false},
      {"policy with a v makes it verbose", {}, std::string("voicewarmup"), true},
      {"policy of 15 characters is read", {}, std::string("oicewarmupxxxxv"), true},
      {"policy longer than 15 characters is ignored", {}, std::string("oicewarmupxxxxxv"), false},
      {"policy without a v", {{"MsiLogging", "oicewarmup"}}, std::string("oicewarmup"), false},
      {"nothing set is not verbose", {}, std::nullopt, false},
  };
  for (const VerbosityCase& verbosity : cases) {
    suite.add("verbosity", verbosity.name, "EditEstimatedSize", [verbosity](Case& c) {
      clearVerbosityState();
      SETUP_OK(c, machine::createKey(productKey()));
      if (verbosity.policy) {
        SETUP_OK(c, machine::createKey(kPolicyKey));
        SETUP_OK(c, machine::setString(kPolicyKey, "Logging", *verbosity.policy));
      }
      ActionRequest request;
      request.action = "EditEstimatedSize";
      request.customActionData = kProduct;
      request.properties = verbosity.properties;
      const ActionOutcome outcome = runAction(c, request);
      const bool verboseAtom = machine::atomExists(kVerboseAtom);
      const bool notVerboseAtom = machine::atomExists(kNotVerboseAtom);
      clearVerbosityState();
      machine::deleteKeyTree(productKey());

      CHECK_EQ(c, outcome.code, kSuccess);
      std::vector<std::string> actual = outcome.lines;
      if (verbosity.verbose) {
        SETUP_OK(c, !actual.empty());
        CHECK(c, isEntryLine(actual.front(), "EditEstimatedSize"));
        actual.erase(actual.begin());
      }
      CHECK_LINES(c, actual,
                  (std::vector<std::string>{line("EditEstimatedSize", "Initialized."),
                                            line("EditEstimatedSize", productKey() + "\n")}));
      // The decision is published in the global atom table, where this
      // process sees what the engine's custom-action server wrote.
      CHECK_EQ(c, verboseAtom, verbosity.verbose);
      CHECK_EQ(c, notVerboseAtom, !verbosity.verbose);
    });
  }
}

// EditEstimatedSize on the test product, with verbose lines asked for.
ActionRequest verboseRequest() {
  ActionRequest request;
  request.action = "EditEstimatedSize";
  request.customActionData = kProduct;
  request.properties = {{"LOGVERBOSE", "1"}};
  return request;
}

// The text between `head` and `tail`, when `text` is made of the three.
std::optional<std::string> between(const std::string& text, const std::string& head, const std::string& tail) {
  if (text.size() < head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
    return std::nullopt;
  }
  return text.substr(head.size(), text.size() - head.size() - tail.size());
}

// The temporary folder this process hands the Installer, without its
// trailing backslash.
std::wstring temporaryFolder() {
  wchar_t path[MAX_PATH + 1] = {0};
  const DWORD length = GetTempPathW(MAX_PATH + 1, path);
  return std::wstring(path, length > 0 && path[length - 1] == L'\\' ? length - 1 : length);
}

// The Installer extracts the DLL into the temporary folder of the process
// that opens the package (TMP, then TEMP), and the entry line names that
// copy. Its path is shown whole in the ANSI code page; a character the code
// page lacks is its default character '?'.
struct EntryLineCase {
  const char* name;
  const wchar_t* temporary;    // below the work root's Temp folder; null: the process's own
  const char* expectedFolder;  // the folder's bytes after "<work root>\Temp\"
  unsigned codePage;
};

void addEntryLineCases(Suite& suite) {
  const EntryLineCase cases[] = {
      {"entry line carries the DLL's own file version", nullptr, nullptr, kWesternCodePage},
      // 1252: é E9, Œ 8C, € 80; 機 is not in it.
      {"entry line names a temporary folder with e-acute, OE and euro whole", L"Zoë Œ€ 機", "Zo\xEB \x8C\x80 ?",
       kWesternCodePage},
      // 932: 機能 8B 40 94 5C; ë, Œ and € are not in it.
      {"entry line names a temporary folder ending in the trail byte 0x5C whole", L"Zoë Œ€ 機能",
       "Zo? ?? \x8B\x40\x94\x5C", kJapaneseCodePage},
  };
  for (const EntryLineCase& one : cases) {
    suite.add("verbosity", one.name, "EditEstimatedSize", one.codePage, [one](Case& c) {
      CHECK(c, environment().versionMs != 0 || environment().versionLs != 0);
      const std::string work = environment().workRoot + "\\Temp\\";
      const std::wstring folder = one.temporary ? wide(work) + one.temporary : temporaryFolder();
      SETUP_OK(c, machine::createFolders(folder));
      const std::string folderText = one.temporary ? work + one.expectedFolder : ansi(folder);
      const std::string head = line("EditEstimatedSize", "Entering EditEstimatedSize in " + folderText + "\\");
      const std::string tail = ", version " + dllVersionText();

      clearVerbosityState();
      SETUP_OK(c, machine::createKey(productKey()));
      ActionRequest request = verboseRequest();
      // Whether the file the entry line names is there while the action runs.
      auto named = std::make_shared<bool>(false);
      request.onInfo = [named, folder, head, tail](const Message& message) {
        if (const auto file = between(message.field0, head, tail)) {
          *named = machine::exists(folder + L"\\" + wide(*file));
        }
        return 0;
      };
      ActionOutcome outcome;
      {
        EnvironmentOverride tmp(L"TMP", folder);
        EnvironmentOverride temp(L"TEMP", folder);
        outcome = runAction(c, request);
      }
      clearVerbosityState();
      machine::deleteKeyTree(productKey());

      CHECK_EQ(c, outcome.code, kSuccess);
      SETUP_OK(c, !outcome.lines.empty());
      const std::optional<std::string> file = between(outcome.lines.front(), head, tail);
      CHECK_EQ(c, outcome.lines.front().substr(0, head.size()), head);
      CHECK(c, file.has_value() && !file->empty() && file->find('\\') == std::string::npos);
      CHECK(c, *named);
    });
  }
}

void addDecisionCases(Suite& suite) {
  struct Republish {
    const char* name;
    const wchar_t* publishedBefore;
    std::map<std::string, std::string> properties;
    const wchar_t* expectedAtom;
    const wchar_t* goneAtom;
  };
  const Republish republish[] = {
      {"a not-verbose decision replaces a published verbose one", kVerboseAtom, {}, kNotVerboseAtom, kVerboseAtom},
      {"a verbose decision replaces a published not-verbose one",
       kNotVerboseAtom,
       {{"LOGVERBOSE", "1"}},
       kVerboseAtom,
       kNotVerboseAtom},
  };
  for (const Republish& one : republish) {
    suite.add("verbosity", one.name, "EditEstimatedSize", [one](Case& c) {
      clearVerbosityState();
      machine::addAtom(one.publishedBefore);
      SETUP_OK(c, machine::createKey(productKey()));
      ActionRequest request;
      request.action = "EditEstimatedSize";
      request.customActionData = kProduct;
      request.properties = one.properties;
      const ActionOutcome outcome = runAction(c, request);
      const bool expectedPresent = machine::atomExists(one.expectedAtom);
      const bool gonePresent = machine::atomExists(one.goneAtom);
      clearVerbosityState();
      machine::deleteKeyTree(productKey());
      CHECK_EQ(c, outcome.code, kSuccess);
      CHECK(c, expectedPresent);
      CHECK(c, !gonePresent);
    });
  }

  // The engine loads the DLL afresh for every action, so the process-wide
  // decision is settled again by each call.
  suite.add("verbosity", "each action call settles the decision anew", "EditEstimatedSize", [](Case& c) {
    clearVerbosityState();
    SETUP_OK(c, machine::createKey(productKey()));
    ActionRequest request = verboseRequest();
    request.reruns = {{{"LOGVERBOSE", ""}}};
    const ActionOutcome outcome = runAction(c, request);
    const bool notVerboseAtom = machine::atomExists(kNotVerboseAtom);
    clearVerbosityState();
    machine::deleteKeyTree(productKey());
    CHECK_EQ(c, outcome.codes.size(), 2u);
    int entries = 0;
    for (const std::string& text : outcome.lines) {
      entries += isEntryLine(text, "EditEstimatedSize") ? 1 : 0;
    }
    CHECK_EQ(c, entries, 1);
    SETUP_OK(c, !outcome.lines.empty());
    CHECK(c, isEntryLine(outcome.lines.front(), "EditEstimatedSize"));
    CHECK(c, notVerboseAtom);
  });
}

// A cancel answered to any log line ends the session with 1602, after the
// action has done its work.
void addCancelCases(Suite& suite) {
  for (const int answer : {IDCANCEL, static_cast<int>(ERROR_INSTALL_USEREXIT)}) {
    suite.add("cancel", "log line answered with " + std::to_string(answer) + " ends with 1602", "EditEstimatedSize",
              [answer](Case& c) {
                SETUP_OK(c, machine::createKey(productKey()));
                SETUP_OK(c, machine::setDword(productKey(), "EstimatedSize", 4242));
                ActionRequest request;
                request.action = "EditEstimatedSize";
                request.customActionData = kProduct;
                request.onInfo = [answer](const Message& message) {
                  return message.field0 == line("EditEstimatedSize", "Initialized.") ? answer : 0;
                };
                const ActionOutcome outcome = runAction(c, request);
                const std::optional<DWORD> size = machine::readDword(productKey(), "EstimatedSize");
                machine::deleteKeyTree(productKey());
                CHECK_EQ(c, outcome.code, kUserExit);
                CHECK(c, size.has_value() && *size == 0);
                CHECK_EQ(c, outcome.lines.size(), 2u);
              });
  }
}

}  // namespace

void addRuntimeCases(Suite& suite) {
  addFrameCases(suite);
  addVerbosityCases(suite);
  addEntryLineCases(suite);
  addDecisionCases(suite);
  addCancelCases(suite);
}

}  // namespace quorvel::engine
