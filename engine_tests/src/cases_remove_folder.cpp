// RemoveFolder in the engine: the deletion object by object, for good
// (nothing lands in the engine's desktop trash, which run.sh keeps under the
// build folder), the Retry/Cancel prompt through the package's Error row 1306
// when a file held open without delete sharing cannot be opened for its
// deletion, and the argument's split at the bar.

#include "cases.hpp"
#include "fixture.hpp"
#include "handles.hpp"
#include "machine.hpp"
#include "shell_folders.hpp"

#include <shlobj.h>

#include <functional>
#include <memory>

namespace quorvel::engine {

namespace {

constexpr const char* kLabel = "RemoveFolder";
constexpr const char* kSdk = "Quorvel SDK [1] 4.2";

std::string L(const std::string& text) { return line(kLabel, text); }

std::vector<std::string> standardLines(const std::string& data, const std::string& path, const std::string& sdk) {
  return {L("Initialized."), L("CustomActionData = " + data), L("removePath = " + path), L("sdkName = " + sdk)};
}

// A folder with a file and a subfolder holding a file.
bool makeTree(const std::string& path) {
  return machine::createFolders(path + "\\sub") && machine::writeFile(path + "\\readme.txt", "quorvel") &&
         machine::writeFile(path + "\\sub\\data.bin", "0123456789");
}

// The line of an attempt that met the file held open.
std::string heldFileLine(const std::string& folder) {
  return errorLine(kLabel, 0x80070020, "Failed to open '" + folder + "\\sub\\data.bin'");
}

bool inTrash(const std::string& name) {
  WIN32_FIND_DATAA found{};
  const std::string pattern = environment().trashFolder + "\\files\\" + name + "*";
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  FindClose(search);
  return true;
}

std::string formattedPrompt(const std::string& sdk) {
  std::string text = kRetryPromptText;
  text.replace(text.find("[2]"), 3, sdk);
  return text;
}

struct SplitCase {
  const char* name;
  std::function<std::string(const std::string& path)> argument;
  std::string expectedSdk;
  const wchar_t* folderName = L"Doomed";  // below the case folder
  unsigned codePage = kWesternCodePage;
  const char* suffix = "";  // after the folder in the path
};

void addSplitCases(Suite& suite) {
  // The SDK names are text of the pass's code page; a row's text is only
  // used in its own pass.
  const std::string westernSdk = ansi(L"Zoë SDK €");
  const std::string japaneseSdk = ansi(L"Quorvel 表示 SDK");
  const SplitCase cases[] = {
      {"folder tree is deleted", [](const std::string& folder) { return folder + "|" + kSdk; }, kSdk},
      {"argument ending with the bar gives an empty SDK name", [](const std::string& folder) { return folder + "|"; },
       ""},
      {"second bar belongs to the SDK name", [](const std::string& folder) { return folder + "|Quorvel|SDK"; },
       "Quorvel|SDK"},
      // A folder property, as "[INSTALLFOLDER]|..." gives it.
      {"folder named with a trailing backslash is deleted", [](const std::string& path) { return path + "|" + kSdk; },
       kSdk, L"Doomed", kWesternCodePage, "\\"},
      // é, Œ and € are E9, 8C and 80 in code page 1252.
      {"folder named with e-acute, OE and euro is deleted",
       [westernSdk](const std::string& folder) { return folder + "|" + westernSdk; }, westernSdk, L"Zoë Œ€"},
      // In code page 932 機能 is 8B 40 94 5C (a trail byte 0x5C) and ポ of
      // サポート is 83 7C (a trail byte 0x7C, the byte of a bar).
      {"folder ending in the trail byte 0x5C is deleted",
       [japaneseSdk](const std::string& folder) { return folder + "|" + japaneseSdk; }, japaneseSdk, L"機能",
       kJapaneseCodePage},
      {"folder holding the trail byte 0x7C is split at the real bar",
       [japaneseSdk](const std::string& folder) { return folder + "|" + japaneseSdk; }, japaneseSdk, L"サポート",
       kJapaneseCodePage},
  };
  for (const SplitCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, one.codePage, [one](Case& c) {
      SETUP_OK(c, inAnsiCodePage(one.folderName));
      const std::string folder = caseFolder(c) + "\\" + ansi(one.folderName);
      SETUP_OK(c, makeTree(folder));
      const std::string path = folder + one.suffix;
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = one.argument(path);
      const ActionOutcome outcome = runAction(c, request);
      CHECK_EQ(c, outcome.code, kSuccess);
      CHECK_LINES(c, outcome.lines, standardLines(*request.customActionData, path, one.expectedSdk));
      CHECK(c, outcome.prompts.empty());
      CHECK(c, !machine::exists(folder));
    });
  }

  suite.add(kLabel, "deleted tree is gone for good, its read-only file too: nothing in the engine's trash", kLabel,
            [](Case& c) {
              const std::string name = "GoneForGood" + std::to_string(GetTickCount());
              const std::string folder = caseFolder(c) + "\\" + name;
              const std::string readOnly = folder + "\\sub\\data.bin";
              SETUP_OK(c, makeTree(folder) && SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
              ActionRequest request;
              request.action = kLabel;
              request.customActionData = folder + "|" + kSdk;
              const ActionOutcome outcome = runAction(c, request);
              CHECK_EQ(c, outcome.code, kSuccess);
              CHECK_LINES(c, outcome.lines, standardLines(*request.customActionData, folder, kSdk));
              CHECK(c, outcome.prompts.empty());
              CHECK(c, !machine::exists(folder));
              CHECK(c, !inTrash(name));
            });

  suite.add(kLabel, "argument beginning with the bar has nothing to delete", kLabel, [](Case& c) {
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = std::string("|") + kSdk;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kSuccess);
    std::vector<std::string> expected = standardLines(*request.customActionData, "", kSdk);
    SETUP_OK(c, outcome.lines.size() == expected.size() + 1);
    CHECK_LINES(c, std::vector<std::string>(outcome.lines.begin(), outcome.lines.end() - 1), expected);
    CHECK_EQ(c, outcome.lines.back().substr(0, L("PathFileExists failed : GetLastError() = 0x").size()),
             L("PathFileExists failed : GetLastError() = 0x"));
  });

  suite.add(kLabel, "missing folder is success", kLabel, [](Case& c) {
    const std::string folder = caseFolder(c) + "\\NeverThere";
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = folder + "|" + kSdk;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kSuccess);
    std::vector<std::string> expected = standardLines(*request.customActionData, folder, kSdk);
    expected.push_back(L("PathFileExists failed : GetLastError() = 0x00000002"));
    CHECK_LINES(c, outcome.lines, expected);
  });

  // Out of reach is as good as gone: otherwise such a product could never
  // be uninstalled.
  suite.add(kLabel, "folder on a server that does not answer is success, examined no further", kLabel, [](Case& c) {
    const std::string folder = "\\\\quorvel-offline-server\\apps\\Vendor";
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = folder + "|" + kSdk;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kSuccess);
    SETUP_OK(c, outcome.lines.size() == 5);
    CHECK_LINES(c, std::vector<std::string>(outcome.lines.begin(), outcome.lines.begin() + 4),
                standardLines(*request.customActionData, folder, kSdk));
    CHECK_EQ(c, outcome.lines.back().substr(0, L("PathFileExists failed : GetLastError() = 0x").size()),
             L("PathFileExists failed : GetLastError() = 0x"));
  });

  suite.add(kLabel, "argument without a bar fails before anything is tested", kLabel, [](Case& c) {
    const std::string folder = caseFolder(c) + "\\Kept";
    SETUP_OK(c, makeTree(folder));
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = folder;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kFailure);
    CHECK_LINES(c, outcome.lines,
                (std::vector<std::string>{L("Initialized."), L("CustomActionData = " + folder),
                                          errorLine(kLabel, 0x80070057, "Parameters are missing.")}));
    CHECK(c, machine::exists(folder + "\\sub\\data.bin"));
  });
}

struct PromptCase {
  const char* name;
  std::vector<int> answers;
  bool withErrorRow;
  bool unlockOnFirstPrompt;
  std::vector<int> shownAnswers;  // what the action logs, prompt by prompt
  UINT code;
};

void addPromptCases(Suite& suite) {
  const PromptCase cases[] = {
      {"Retry then Cancel: two prompts, the folder stays, 1603",
       {IDRETRY, IDCANCEL},
       true,
       false,
       {IDRETRY, IDCANCEL},
       kFailure},
      {"Cancel at once: one attempt, 1603", {IDCANCEL}, true, false, {IDCANCEL}, kFailure},
      {"Retry after the file is released deletes the folder", {IDRETRY}, true, true, {IDRETRY}, kSuccess},
      // Without an Error row for 1306 the engine answers 0 on its own.
      {"without an Error row 1306 the engine answers 0", {IDRETRY}, false, false, {0}, kFailure},
  };
  for (const PromptCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, [one](Case& c) {
      const std::string folder = caseFolder(c) + "\\Held";
      SETUP_OK(c, makeTree(folder));
      auto lock = std::make_shared<FileLock>(folder + "\\sub\\data.bin");
      SETUP_OK(c, lock->held());
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = folder + "|" + kSdk;
      request.promptAnswers = one.answers;
      request.withRetryErrorRow = one.withErrorRow;
      if (one.unlockOnFirstPrompt) {
        request.onPrompt = [lock](const Message&) { lock->release(); };
      }
      const ActionOutcome outcome = runAction(c, request);
      lock->release();

      CHECK_EQ(c, outcome.code, one.code);
      std::vector<std::string> expected = standardLines(*request.customActionData, folder, kSdk);
      for (const int shown : one.shownAnswers) {
        expected.push_back(heldFileLine(folder));
        expected.push_back(L("Selected Dialog Box Command IDs = " + std::to_string(shown)));
      }
      if (one.code == kFailure) {
        // The sharing violation (32) as a Result, under the line log readers know.
        expected.push_back(errorLine(kLabel, 0x80070020, "SHFileOperation failed"));
      }
      CHECK_LINES(c, outcome.lines, expected);
      CHECK_EQ(c, machine::exists(folder), one.code != kSuccess);
      if (!one.withErrorRow) {
        return;
      }
      CHECK_EQ(c, outcome.prompts.size(), one.answers.size());
      for (const Message& prompt : outcome.prompts) {
        CHECK_EQ(c, prompt.buttons, static_cast<unsigned>(MB_RETRYCANCEL));
        CHECK(c, prompt.fields.size() >= 2);
        if (prompt.fields.size() >= 2) {
          CHECK_EQ(c, prompt.fields[0], "1306");
          CHECK_EQ(c, prompt.fields[1], kSdk);
        }
        // The engine formats its 1306 text with the SDK name as [2],
        // and does not expand the brackets inside the name.
        CHECK_EQ(c, prompt.formatted, formattedPrompt(kSdk));
      }
    });
  }
}

// Targets that no package owns are refused. Only harmless targets are used
// here: a volume root of the scratch drive that run.sh maps for the tests,
// and a relative folder that the engine would complete with the working
// folder it inherits from this runner. Principal folders are covered with
// RemoveRegistries and the permission grant, whose mistakes cannot harm the
// prefix.
void addGuardCases(Suite& suite) {
  struct Guard {
    const char* name;
    std::string path;     // as the argument names it
    std::string witness;  // a file that must survive
  };
  const Guard guards[] = {
      {"volume root is refused", kScratchRoot, std::string(kScratchRoot) + "witness.txt"},
      {"relative path is refused", "quorvel-relative-target", "quorvel-relative-target\\witness.txt"},
  };
  for (const Guard& guard : guards) {
    suite.add(kLabel, guard.name, kLabel, [guard](Case& c) {
      SETUP_OK(c, machine::exists(kScratchRoot));
      if (guard.path != kScratchRoot) {
        SETUP_OK(c, machine::createFolders(guard.path));
      }
      SETUP_OK(c, machine::writeFile(guard.witness, "keep"));
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = guard.path + "|" + kSdk;
      const ActionOutcome outcome = runAction(c, request);
      const bool survived = machine::exists(guard.witness);
      if (guard.path != kScratchRoot) {
        machine::removeTree(guard.path);
      }
      CHECK_EQ(c, outcome.code, kFailure);
      CHECK(c, outcome.prompts.empty());
      CHECK(c, survived);
      SETUP_OK(c, !outcome.lines.empty());
      const std::string& last = outcome.lines.back();
      const std::string lead = errorLine(kLabel, 0x80070057, "");
      CHECK_EQ(c, last.substr(0, lead.size()), lead);
      CHECK(c, last.find(guard.path) != std::string::npos);
    });
  }
}

// The standard folders that a deletion would destroy are the current
// user's shell folders pointed into a scratch folder for the case, so that a
// refusal that failed would delete only scratch data: in other spellings,
// by a short name, through a host-side link, and the folder holding them.
// A package's folder inside one is deleted as before.
void addStandardFolderCases(Suite& suite) {
  const std::string scratch = shell::kScratch;
  const std::string documents = scratch + "\\Personal Documents";
  const std::string desktop = scratch + "\\Desktop";
  const std::string roaming = scratch + "\\AppData Roaming";
  const std::string is = "it is the standard folder ";
  const std::string user = shell::ofTheUser();
  const std::string link = shell::kLinkToScratchDocuments;
  struct Refusal {
    const char* name;
    std::function<std::string()> path;  // some need the folders to exist first
    std::vector<std::string> reasons;   // the line names one of them; none: deleted
  };
  const Refusal refusals[] = {
      {"redirected Documents is refused", [documents] { return documents; }, {is + "'" + documents + "'" + user}},
      {"redirected Desktop in upper case with a trailing backslash is refused",
       [desktop] { return shell::upperCase(desktop) + "\\"; },
       {is + "'" + desktop + "'" + user}},
      {"short name of redirected Documents is refused",
       [documents] { return shell::shortPath(documents); },
       {is + "'" + documents + "'" + user}},
      {"folder holding redirected folders is refused",
       [scratch] { return scratch; },
       {"it holds the standard folder '" + desktop + "'" + user}},
      // The engine opens a host link as its target (see README.md): where
      // the guard does not see the link itself, the walk refuses what it
      // opened.
      {"host-side link to redirected Documents is refused",
       [link] { return link; },
       {"it runs through the link '" + link + "'", is + "'" + documents + "'" + user,
        "it changed while it was examined"}},
      {"folder inside redirected AppData is deleted", [roaming] { return roaming + "\\Quorvel"; }, {}},
  };
  for (const Refusal& refusal : refusals) {
    suite.add(kLabel, refusal.name, kLabel, [=](Case& c) {
      machine::removeTree(scratch);
      for (const std::string& folder : {documents, desktop, roaming}) {
        SETUP_OK(c, makeTree(folder));
      }
      SETUP_OK(c, makeTree(roaming + "\\Quorvel"));
      shell::UserShellFolder personal("Personal", documents);
      shell::UserShellFolder desk("Desktop", desktop);
      shell::UserShellFolder appData("AppData", roaming);
      SETUP_OK(c, personal.set() && desk.set() && appData.set());
      SETUP_OK(c, shell::folder(CSIDL_PERSONAL) == documents);
      const std::string path = refusal.path();
      SETUP_OK(c, !path.empty());
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = path + "|" + kSdk;
      const ActionOutcome outcome = runAction(c, request);
      const bool deleted = refusal.reasons.empty();
      const bool folderLeft = machine::exists(path);
      bool witnessesLeft = true;
      for (const std::string& folder : {documents, desktop, roaming}) {
        witnessesLeft = witnessesLeft && machine::exists(folder + "\\sub\\data.bin");
      }
      machine::removeTree(scratch);

      CHECK_EQ(c, outcome.code, deleted ? kSuccess : kFailure);
      CHECK(c, outcome.prompts.empty());
      CHECK(c, witnessesLeft);
      CHECK_EQ(c, folderLeft, !deleted);
      const std::vector<std::string> split = standardLines(*request.customActionData, path, kSdk);
      if (deleted) {
        CHECK_LINES(c, outcome.lines, split);
        return;
      }
      SETUP_OK(c, outcome.lines.size() == split.size() + 1);
      CHECK_LINES(c, std::vector<std::string>(outcome.lines.begin(), outcome.lines.end() - 1), split);
      bool named = false;
      for (const std::string& reason : refusal.reasons) {
        named =
            named || outcome.lines.back() == errorLine(kLabel, 0x80070057, "Refusing path '" + path + "': " + reason);
      }
      c.expect(named, "refusal line: " + outcome.lines.back(), __FILE__, __LINE__);
    });
  }
}

// Machine folders that the registry moved (the shell and the Installer
// follow these values, a service's environment only after a restart) are
// refused where they now are; a folder that a user's hive names under a
// name that is no known folder's (here the product's own) is deleted.
void addMovedFolderCases(Suite& suite) {
  struct Moved {
    const char* name;
    REGSAM view;
    const char* value;
    const char* folder;
  };
  const Moved moves[] = {
      {"common files folder that the registry moved is refused", KEY_WOW64_64KEY, "CommonFilesDir",
       "C:\\quorvel-moved-common"},
      {"32-bit program files folder that the registry moved is refused", KEY_WOW64_32KEY, "ProgramFilesDir",
       "C:\\quorvel-moved-programs"},
  };
  for (const Moved& move : moves) {
    suite.add(kLabel, move.name, kLabel, [move](Case& c) {
      const std::string folder = move.folder;
      SETUP_OK(c, makeTree(folder));
      ActionOutcome outcome;
      {
        shell::MovedProgramFilesValue moved(move.view, move.value, folder);
        SETUP_OK(c, moved.set());
        ActionRequest request;
        request.action = kLabel;
        request.customActionData = folder + "|" + kSdk;
        outcome = runAction(c, request);
      }
      const bool survived = machine::exists(folder + "\\sub\\data.bin");
      machine::removeTree(folder);
      CHECK_EQ(c, outcome.code, kFailure);
      CHECK(c, survived);
      SETUP_OK(c, !outcome.lines.empty());
      CHECK_EQ(
          c, outcome.lines.back(),
          errorLine(kLabel, 0x80070057, "Refusing path '" + folder + "': it is the standard folder '" + folder + "'"));
    });
  }

  suite.add(kLabel, "product folder that a user's hive names under another name is deleted", kLabel, [](Case& c) {
    const std::string product = shell::folder(CSIDL_PROGRAM_FILES) + "\\QuorvelEngineTests Product";
    SETUP_OK(c, makeTree(product));
    shell::UserShellFolder named("Quorvel Product", product);
    SETUP_OK(c, named.set());
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = product + "|" + kSdk;
    const ActionOutcome outcome = runAction(c, request);
    const bool left = machine::exists(product);
    machine::removeTree(product);
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK(c, !left);
    CHECK_LINES(c, outcome.lines, standardLines(*request.customActionData, product, kSdk));
  });
}

}  // namespace

void addRemoveFolderCases(Suite& suite) {
  addSplitCases(suite);
  addPromptCases(suite);
  addGuardCases(suite);
  addStandardFolderCases(suite);
  addMovedFolderCases(suite);
}

}  // namespace quorvel::engine
