// What every engine case shares: where the DLL under test and the scratch
// folders are, and one call that builds a package for an action, runs the
// action in the engine and hands back everything the engine reported.
#pragma once

#include "action_package.hpp"
#include "ansi_text.hpp"
#include "engine_session.hpp"
#include "harness.hpp"
#include "icacls_record.hpp"
#include "machine.hpp"

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvel::engine {

namespace machine = quorvel::authoring::machine;
namespace icacls = quorvel::authoring::icacls;
using quorvel::authoring::ansi;
using quorvel::authoring::inAnsiCodePage;
using quorvel::authoring::wide;

struct Environment {
  std::string dllPath;         // Windows path of the DLL under test
  std::string workRoot;        // scratch root, emptied at start
  std::string trashFolder;     // the engine's desktop trash (files\ below it)
  std::string notebookFolder;  // the releases of Quorvel Notebook (notebook_product/build.sh)
  DWORD versionMs = 0;         // the DLL's own file version words
  DWORD versionLs = 0;
  std::set<std::string> exports;  // names the DLL exports
};

const Environment& environment();
void setEnvironment(Environment environment);

// The five labels the actions write their lines with, and the text of the
// packages' Error row 1306.
using quorvel::authoring::kActionNames;
using quorvel::authoring::kRetryPromptText;

struct ActionRequest {
  std::string action;
  std::optional<std::string> customActionData;
  std::map<std::string, std::string> properties;  // set before the action runs
  std::vector<int> promptAnswers;                 // then IDCANCEL
  bool withRetryErrorRow = true;                  // Error table row 1306
  std::function<void(const Message&)> onPrompt;
  std::function<int(const Message&)> onInfo;
  // Further runs of the same action in the same package, each after
  // setting the given properties.
  std::vector<std::map<std::string, std::string>> reruns;
};

struct ActionOutcome {
  bool ran = false;                // package built and opened
  UINT code = 0;                   // MsiDoAction's answer (the first run)
  std::vector<UINT> codes;         // every run's answer
  std::vector<std::string> lines;  // the action's own lines, field 0 as sent
  std::vector<Message> prompts;    // error messages, with the answers given
  std::vector<Message> messages;   // everything
};

// Runs one action of the DLL in a freshly built package. Records a setup
// failure in the case when the package cannot be built or opened.
ActionOutcome runAction(Case& c, const ActionRequest& request);

// The lines of one action among the messages, field 0 as sent.
std::vector<std::string> actionLines(const std::vector<Message>& messages, const std::string& label);

// A fresh, empty scratch folder for the case, named after it.
std::string caseFolder(const Case& c);

// The DLL's file version as the entry line shows it: "major.minor.build.revision".
std::string dllVersionText();

// "Label:  text", the way every line of an action reaches the log.
std::string line(const std::string& label, const std::string& text);

// The HRESULT-style error line of an action.
std::string errorLine(const std::string& label, unsigned result, const std::string& message);

// Installer result codes.
constexpr UINT kSuccess = ERROR_SUCCESS;
constexpr UINT kFailure = ERROR_INSTALL_FAILURE;
constexpr UINT kUserExit = ERROR_INSTALL_USEREXIT;

// A drive that run.sh maps onto a scratch folder of the build: its root is a
// volume root whose loss harms nothing.
constexpr const char* kScratchRoot = "Q:\\";

// Registry locations the actions work on.
using quorvel::authoring::kFoldersKey;
using quorvel::authoring::kPolicyKey;
using quorvel::authoring::kUninstallKey;

// Whether the Installer's Folders key has a value of this name.
bool registered(const std::string& name);

}  // namespace quorvel::engine

namespace quorvel::engine {

// Holds a file or folder open, sharing only `sharing` (by default neither
// writing nor deletion), until released.
class FileLock {
 public:
  explicit FileLock(const std::string& path, DWORD sharing = FILE_SHARE_READ);
  bool held() const { return static_cast<bool>(handle_); }
  void release() { handle_.reset(); }

 private:
  quorvel::authoring::FileHandle handle_;
};

// Sets an environment variable of this process (and so of the engine's
// custom-action server started after it) for the lifetime of the object.
// Values are wide so that a folder the ANSI code page cannot spell can be
// named; narrow ones are text of the ANSI code page.
class EnvironmentOverride {
 public:
  EnvironmentOverride(std::wstring name, const std::wstring& value);
  EnvironmentOverride(const std::string& name, const std::string& value)
      : EnvironmentOverride(wide(name), wide(value)) {}
  ~EnvironmentOverride();
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

}  // namespace quorvel::engine
