// RemoveManufacturerFolder in the engine: only an existing, empty folder is
// granted on and removed, both on one handle, and no tool starts (the
// recording icacls double in the test prefix keeps an empty record).

#include "cases.hpp"
#include "fixture.hpp"
#include "icacls_record.hpp"
#include "machine.hpp"
#include "shell_folders.hpp"

namespace quorvel::engine {

namespace {

constexpr const char* kLabel = "RemoveManufacturerFolder";

std::string L(const std::string& text) { return line(kLabel, text); }

enum class Content { Nothing, EmptyFolder, FolderWithFile, FolderWithEmptyFolder, EmptyFile, File };

bool arrange(const std::string& path, Content content) {
  switch (content) {
    case Content::Nothing:
      return true;
    case Content::EmptyFolder:
      return machine::createFolders(path);
    case Content::FolderWithFile:
      return machine::createFolders(path) && machine::writeFile(path + "\\left.txt", "x");
    case Content::FolderWithEmptyFolder:
      return machine::createFolders(path + "\\Empty");
    case Content::EmptyFile:
      return machine::writeFile(path, "");
    case Content::File:
      return machine::writeFile(path, "quorvel");
  }
  return false;
}

struct ManufacturerCase {
  const char* name;
  Content content;
  const char* suffix;              // appended to the argument only
  std::vector<std::string> lines;  // after "folderPath = ..."
  bool gone;
  const wchar_t* folder = L"Quorvel Labs";  // below the case folder
  unsigned codePage = kWesternCodePage;
};

void addContentCases(Suite& suite) {
  const std::vector<std::string> removed = {L("isExist=1  errorCode=00000000"), L("isEmpty=1  errorCode=00000000"),
                                            L("remove result=1  errorCode=00000000")};
  const std::vector<std::string> notEmpty = {L("isExist=1  errorCode=00000000"), L("isEmpty=0  errorCode=00000000"),
                                             L("manufacturer folder not empty")};
  const ManufacturerCase cases[] = {
      {"missing folder is left alone",
       Content::Nothing,
       "",
       {L("isExist=0  errorCode=00000000"), L("manufacturer folder does not exist")},
       true},
      {"folder holding a file is left alone", Content::FolderWithFile, "", notEmpty, false},
      {"folder holding an empty folder is left alone", Content::FolderWithEmptyFolder, "", notEmpty, false},
      {"file of nonzero size is left alone", Content::File, "", notEmpty, false},
      {"empty folder gets the grant and is removed", Content::EmptyFolder, "", removed, true},
      {"empty folder named with a trailing backslash is removed", Content::EmptyFolder, "\\", removed, true},
      {"file of size 0 counts as empty and is removed", Content::EmptyFile, "", removed, true},
      // é, Œ and € are E9, 8C and 80 in code page 1252; 機能 is 8B 40 94 5C in
      // 932, its last byte that of a backslash.
      {"empty folder named with e-acute, OE and euro is removed", Content::EmptyFolder, "", removed, true,
       L"Zoë Œ€ Labs"},
      {"folder named with e-acute, OE and euro holding a file is left alone", Content::FolderWithFile, "", notEmpty,
       false, L"Zoë Œ€ Labs"},
      {"empty folder ending in the trail byte 0x5C is removed", Content::EmptyFolder, "", removed, true,
       L"Quorvel 機能", kJapaneseCodePage},
      {"trailing backslash after the trail byte 0x5C names the folder", Content::EmptyFolder, "\\", removed, true,
       L"Quorvel 機能", kJapaneseCodePage},
      {"folder ending in the trail byte 0x5C holding a file is left alone", Content::FolderWithFile, "", notEmpty,
       false, L"Quorvel 機能", kJapaneseCodePage},
  };
  for (const ManufacturerCase& one : cases) {
    suite.add(kLabel, one.name, kLabel, one.codePage, [one](Case& c) {
      SETUP_OK(c, icacls::installed());
      SETUP_OK(c, inAnsiCodePage(one.folder));
      const std::string path = caseFolder(c) + "\\" + ansi(one.folder);
      SETUP_OK(c, arrange(path, one.content));
      icacls::reset();
      const std::string argument = path + one.suffix;
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = argument;
      const ActionOutcome outcome = runAction(c, request);

      CHECK_EQ(c, outcome.code, kSuccess);
      std::vector<std::string> expected = {L("Initialized."), L("folderPath = " + argument)};
      expected.insert(expected.end(), one.lines.begin(), one.lines.end());
      CHECK_LINES(c, outcome.lines, expected);
      CHECK_EQ(c, machine::exists(path), !one.gone);
      CHECK(c, icacls::calls().empty());
    });
  }
}

void addFolderStateCases(Suite& suite) {
  // Its deletion needs the folder open for deleting: another process that
  // holds it without delete sharing keeps it, before anything is granted.
  suite.add(kLabel, "empty folder held open without delete sharing is kept, and the action fails", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    const std::string path = caseFolder(c) + "\\Quorvel Labs";
    SETUP_OK(c, machine::createFolders(path));
    FileLock holder(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    SETUP_OK(c, holder.held());
    icacls::reset();
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = path;
    const ActionOutcome outcome = runAction(c, request);
    holder.release();
    CHECK_EQ(c, outcome.code, kFailure);
    CHECK(c, machine::exists(path));
    CHECK(c, icacls::calls().empty());
    CHECK_LINES(c, outcome.lines,
                (std::vector<std::string>{
                    L("Initialized."), L("folderPath = " + path), L("isExist=1  errorCode=00000000"),
                    L("isEmpty=1  errorCode=00000000"), errorLine(kLabel, 0x80070020, "Failed to open '" + path + "'"),
                    errorLine(kLabel, 0x80070020, "Failed to grant the Users group full control on '" + path + "'")}));
  });

  // A volume root has no "." and ".." entries: the listing of an empty one
  // fails with error 2, which says nothing about the folder, so it counts as
  // not empty and is left alone before the guard would be asked.
  suite.add(kLabel, "empty volume root is left alone: its listing finds nothing at all", kLabel, [](Case& c) {
    SETUP_OK(c, icacls::installed());
    SETUP_OK(c, machine::exists(kScratchRoot));
    machine::removeTree(std::string(kScratchRoot) + "witness.txt");
    icacls::reset();
    ActionRequest request;
    request.action = kLabel;
    request.customActionData = kScratchRoot;
    const ActionOutcome outcome = runAction(c, request);
    CHECK_EQ(c, outcome.code, kSuccess);
    CHECK(c, icacls::calls().empty());
    SETUP_OK(c, outcome.lines.size() == 5);
    CHECK_EQ(c, outcome.lines[3], L("isEmpty=0  errorCode=00000002"));
    CHECK_EQ(c, outcome.lines[4], L("manufacturer folder not empty"));
    CHECK(c, machine::exists(kScratchRoot));
  });
}

// An empty standard folder (the user's Templates, pointed into a scratch
// folder so that a refusal that failed removes only scratch data) is
// refused; an empty folder inside it is removed as before.
void addStandardFolderCases(Suite& suite) {
  const std::string templates = std::string(shell::kScratch) + "\\Templates";
  struct Target {
    const char* name;
    std::string path;
    bool refused;
  };
  const Target targets[] = {
      {"empty redirected Templates folder is refused before the grant", templates, true},
      {"empty folder inside redirected Templates is removed", templates + "\\Quorvel", false},
  };
  for (const Target& target : targets) {
    suite.add(kLabel, target.name, kLabel, [target, templates](Case& c) {
      SETUP_OK(c, icacls::installed());
      machine::removeTree(shell::kScratch);
      SETUP_OK(c, machine::createFolders(target.path));
      shell::UserShellFolder redirected("Templates", templates);
      SETUP_OK(c, redirected.set());
      icacls::reset();
      ActionRequest request;
      request.action = kLabel;
      request.customActionData = target.path;
      const ActionOutcome outcome = runAction(c, request);
      const bool left = machine::exists(target.path);
      machine::removeTree(shell::kScratch);
      std::vector<std::string> expected = {L("Initialized."), L("folderPath = " + target.path),
                                           L("isExist=1  errorCode=00000000"), L("isEmpty=1  errorCode=00000000")};
      expected.push_back(target.refused ? errorLine(kLabel, 0x80070057,
                                                    "Refusing path '" + target.path + "': it is the standard folder '" +
                                                        templates + "'" + shell::ofTheUser())
                                        : L("remove result=1  errorCode=00000000"));
      CHECK_LINES(c, outcome.lines, expected);
      CHECK_EQ(c, outcome.code, target.refused ? kFailure : kSuccess);
      CHECK(c, icacls::calls().empty());
      CHECK_EQ(c, left, target.refused);
    });
  }
}

}  // namespace

void addRemoveManufacturerFolderCases(Suite& suite) {
  addContentCases(suite);
  addFolderStateCases(suite);
  addStandardFolderCases(suite);
}

}  // namespace quorvel::engine
