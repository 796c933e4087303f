// The five actions in the life of a product with files: msiexec installs the
// demonstration product (ChangeQuorvelFolderPermission and EditEstimatedSize
// run), the running product leaves a cache folder and folder registrations
// behind, and the uninstallation runs RemoveFolder, RemoveRegistries and
// RemoveManufacturerFolder after the Installer has removed the files. The
// checks read the verbose logs and the machine after each phase.
//
// The engine still hands a deferred action a database handle (Windows gives
// 0 there), so the verbosity decision is settled from the properties a
// deferred action can read and the logging policy; the database-less session
// start is covered by the host tests only.

#include "cases.hpp"
#include "demonstration_product.hpp"
#include "fixture.hpp"
#include "installer_log.hpp"

#include <memory>
#include <optional>
#include <set>

namespace quorvel::engine {

namespace {

namespace authoring = quorvel::authoring;

constexpr const wchar_t* kVerboseAtom = L"WcaVerboseLogging";
constexpr const wchar_t* kNotVerboseAtom = L"WcaNotVerboseLogging";

// Each action's lines in one phase, the entry line left out.
using PhaseLines = std::vector<std::pair<std::string, std::vector<std::string>>>;

struct Product {
  std::string code = authoring::kDemonstrationProductCode;
  authoring::ProductLayout layout = authoring::productLayout();
  authoring::ProductTraces traces = authoring::productTraces(layout);

  std::string uninstallKey() const { return kUninstallKey + code; }
};

std::string packagePath(const std::string& folder) { return folder + "\\package\\product.msi"; }

// Starts from a machine without the product and writes its package into
// the case's folder.
bool preparePackage(const std::string& folder, const Product& product, std::string& error) {
  authoring::removeLeftovers(product.code, product.layout);
  icacls::reset();
  return machine::createFolders(folder + "\\package") &&
         authoring::buildInstallationPackage(
             packagePath(folder), authoring::demonstrationProduct(environment().dllPath, product.code), error);
}

DWORD msiexec(const std::string& arguments, const std::string& logPath, const std::string& properties) {
  return machine::runAndWait("msiexec " + arguments + " /qn /l*v \"" + logPath + "\"" + properties,
                             authoring::kInstallerTimeoutMs);
}

PhaseLines installLines(const Product& product) {
  return {
      {"ChangeQuorvelFolderPermission",
       {"Initialized.", "folderPath = " + product.layout.dataFolder + "\\", "isExist=1  errorCode=00000000"}},
      {"EditEstimatedSize", {"Initialized.", product.uninstallKey()}},
      {"RemoveFolder", {}},
      {"RemoveRegistries", {}},
      {"RemoveManufacturerFolder", {}},
  };
}

// enumerated: the Folders key's value names in its enumeration order, which
// the verbose lines and the deletions follow.
std::vector<std::string> removeFolderLines(const Product& product) {
  const std::string& sdk = product.layout.sdkFolder;
  return {"Initialized.", "CustomActionData = " + sdk + "|" + authoring::kProductName, "removePath = " + sdk,
          std::string("sdkName = ") + authoring::kProductName};
}

PhaseLines uninstallLines(const Product& product, const std::vector<std::string>& enumerated, bool verbose) {
  const std::string& sdk = product.layout.sdkFolder;
  const std::set<std::string> removed(product.traces.registrations.begin(), product.traces.registrations.end());
  std::vector<std::string> registryLines = {"Initialized.", "CustomActionData = " + sdk + "\\", kFoldersKey};
  std::vector<std::string> removals;
  for (const std::string& name : enumerated) {
    const bool match = removed.count(name) != 0;
    if (verbose) {
      registryLines.push_back((match ? "subKeyValue (push_buck): " : "subKeyValue (read only): ") + name);
    }
    if (match) {
      removals.push_back("remove subKeyValue : " + name);
    }
  }
  registryLines.insert(registryLines.end(), removals.begin(), removals.end());
  return {
      {"ChangeQuorvelFolderPermission", {}},
      {"EditEstimatedSize", {}},
      {"RemoveFolder", removeFolderLines(product)},
      {"RemoveRegistries", registryLines},
      {"RemoveManufacturerFolder",
       {"Initialized.", "folderPath = " + product.layout.manufacturerFolder + "\\", "isExist=1  errorCode=00000000",
        "isEmpty=1  errorCode=00000000", "remove result=1  errorCode=00000000"}},
  };
}

// Compares each action's lines in the log with the expected ones; verbose
// lines start with the entry line, which names the DLL's temporary copy.
void checkLogLines(Case& c, const std::string& logPath, const PhaseLines& expected, bool verbose,
                   const std::string& phase) {
  const std::string log = machine::readFile(logPath).value_or("");
  for (const auto& [label, texts] : expected) {
    std::vector<std::string> lines = authoring::actionLinesInLog(log, {label});
    if (verbose && !texts.empty()) {
      const std::string entry = line(label, "Entering " + label + " in ");
      const std::string version = ", version " + dllVersionText();
      const bool entered = !lines.empty() && lines.front().compare(0, entry.size(), entry) == 0 &&
                           lines.front().size() > version.size() &&
                           lines.front().compare(lines.front().size() - version.size(), version.size(), version) == 0;
      c.expect(entered, label + " writes its entry line first at " + phase, __FILE__, __LINE__);
      if (entered) {
        lines.erase(lines.begin());
      }
    }
    std::vector<std::string> wanted;
    for (const std::string& text : texts) {
      wanted.push_back(line(label, text));
    }
    c.lines(lines, wanted, label + " lines at " + phase, __FILE__, __LINE__);
  }
}

// The product as the installation leaves it: its files, and the Uninstall
// entry whose EstimatedSize the package wrote nonzero right after
// RegisterProduct and EditEstimatedSize then set to 0.
void checkInstalled(Case& c, const Product& product) {
  for (const std::string& file : product.layout.files) {
    c.expect(machine::exists(file), "installed " + file, __FILE__, __LINE__);
  }
  const std::optional<DWORD> size = machine::readDword(product.uninstallKey(), "EstimatedSize");
  CHECK(c, size.has_value() && *size == 0);
  const std::vector<icacls::Call> calls = icacls::calls();
  CHECK_EQ(c, calls.size(), 1u);
  if (!calls.empty()) {
    CHECK_EQ(c, calls[0].commandLine,
             icacls::expectedCommandLine(product.layout.dataFolder + "\\", icacls::kGrantOnTree));
  }
}

// Nothing of the product is left but the registration outside its SDK folder.
void checkUninstalled(Case& c, const Product& product) {
  CHECK(c, !machine::productInstalled(product.code));
  CHECK(c, !machine::keyExists(product.uninstallKey()));
  CHECK(c, !machine::exists(product.layout.manufacturerFolder));
  CHECK(c, !machine::exists(product.layout.dataManufacturerFolder));
  for (const std::string& name : product.traces.registrations) {
    c.expect(!registered(name), "deregistered " + name, __FILE__, __LINE__);
  }
  CHECK(c, registered(product.traces.keptRegistration));
  const std::vector<icacls::Call> calls = icacls::calls();
  CHECK_EQ(c, calls.size(), 2u);
  if (calls.size() == 2) {
    CHECK_EQ(c, calls[1].commandLine,
             icacls::expectedCommandLine(product.layout.manufacturerFolder + "\\", icacls::kGrantOnFolder));
  }
}

struct VerbosityCase {
  const char* name;
  std::optional<std::string> policy;
  std::string properties;  // added to both msiexec command lines
  bool verbose;
};

void runLifecycle(Case& c, const VerbosityCase& one) {
  SETUP_OK(c, icacls::installed());
  const Product product;
  const std::string folder = caseFolder(c);
  std::string error;
  SETUP_OK(c, preparePackage(folder, product, error));
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);
  machine::deleteValue(kPolicyKey, "Logging");
  if (one.policy) {
    SETUP_OK(c, machine::createKey(kPolicyKey) && machine::setString(kPolicyKey, "Logging", *one.policy));
  }

  CHECK_EQ(c, msiexec("/i \"" + packagePath(folder) + "\"", folder + "\\install.log", one.properties), 0ul);
  checkInstalled(c, product);
  checkLogLines(c, folder + "\\install.log", installLines(product), one.verbose, "install");
  CHECK_EQ(c, machine::atomExists(kVerboseAtom), one.verbose);
  CHECK_EQ(c, machine::atomExists(kNotVerboseAtom), !one.verbose);

  SETUP_OK(c, authoring::leaveProductTraces(product.traces));
  const std::vector<std::string> enumerated = machine::valueNames(kFoldersKey);
  CHECK_EQ(c, msiexec("/x " + product.code, folder + "\\uninstall.log", one.properties), 0ul);
  checkUninstalled(c, product);
  checkLogLines(c, folder + "\\uninstall.log", uninstallLines(product, enumerated, one.verbose), one.verbose,
                "uninstall");

  machine::deleteValue(kFoldersKey, product.traces.keptRegistration);
  machine::deleteValue(kPolicyKey, "Logging");
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);
}

// An uninstallation whose RemoveFolder meets a cache file held open. The
// engine's real deletion (no trash, see run.sh) fails on it and the prompt
// 1306 is answered from the runner, which drives the uninstallation itself so
// that its message handler receives the prompt.
struct LockedFileCase {
  const char* name;
  int answer;
  bool releaseOnPrompt;
  UINT code;
};

void runLockedFileUninstall(Case& c, const LockedFileCase& one) {
  SETUP_OK(c, icacls::installed() && !environment().noTrashDataHome.empty());
  const Product product;
  const std::string folder = caseFolder(c);
  std::string error;
  SETUP_OK(c, preparePackage(folder, product, error));
  SETUP_OK(c, msiexec("/i \"" + packagePath(folder) + "\"", folder + "\\install.log", "") == ERROR_SUCCESS);
  SETUP_OK(c, authoring::leaveProductTraces(product.traces));
  const std::string held = product.traces.cacheFiles.front();
  auto lock = std::make_shared<FileLock>(held);
  SETUP_OK(c, lock->held());

  std::vector<Message> messages;
  UINT code = 0;
  {
    EnvironmentOverride noTrash("XDG_DATA_HOME", environment().noTrashDataHome);
    MessageCapture capture;
    capture.scriptPromptAnswers({one.answer});
    if (one.releaseOnPrompt) {
      capture.onPrompt([lock](const Message&) { lock->release(); });
    }
    code = MsiConfigureProductExA(product.code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT, "");
    messages = capture.messages();
  }
  const bool heldFileKept = machine::exists(held);
  lock->release();

  CHECK_EQ(c, code, one.code);
  const std::vector<std::string> removeFolder = actionLines(messages, "RemoveFolder");
  std::vector<std::string> expected;
  for (const std::string& text : removeFolderLines(product)) {
    expected.push_back(line("RemoveFolder", text));
  }
  expected.push_back(line("RemoveFolder", "Selected Dialog Box Command IDs = " + std::to_string(one.answer)));
  if (one.code == kFailure) {
    // The shell's sharing violation (32) as a Result.
    expected.push_back(errorLine("RemoveFolder", 0x80070020, "SHFileOperation failed"));
  }
  CHECK_LINES(c, removeFolder, expected);
  std::vector<Message> prompts;
  for (const Message& message : messages) {
    if (message.kind == INSTALLMESSAGE_ERROR && !message.fields.empty() && message.fields[0] == "1306") {
      prompts.push_back(message);
    }
  }
  CHECK_EQ(c, prompts.size(), 1u);
  if (prompts.size() == 1) {
    CHECK_EQ(c, prompts[0].buttons, static_cast<unsigned>(MB_RETRYCANCEL));
    CHECK(c, prompts[0].fields.size() >= 2 && prompts[0].fields[1] == authoring::kProductName);
  }

  if (one.code == kSuccess) {
    checkUninstalled(c, product);
  } else {
    // The uninstallation stopped at RemoveFolder: the product stays
    // installed and registered, and neither later action ran.
    CHECK(c, heldFileKept);
    CHECK(c, actionLines(messages, "RemoveRegistries").empty());
    CHECK(c, actionLines(messages, "RemoveManufacturerFolder").empty());
    CHECK(c, machine::productInstalled(product.code));
    CHECK(c, machine::keyExists(product.uninstallKey()));
    for (const std::string& name : product.traces.registrations) {
      c.expect(registered(name), "still registered " + name, __FILE__, __LINE__);
    }
    CHECK(c, machine::exists(product.layout.manufacturerFolder));
    // Once the file is released, the product can still be uninstalled.
    CHECK_EQ(c, msiexec("/x " + product.code, folder + "\\uninstall.log", ""), 0ul);
    checkUninstalled(c, product);
  }
  machine::deleteValue(kFoldersKey, product.traces.keptRegistration);
}

}  // namespace

void addLifecycleCases(Suite& suite) {
  const VerbosityCase verbosities[] = {
      {"install and uninstall with the logging policy asking for verbose", std::string("voicewarmup"), "", true},
      {"install and uninstall without verbose logging", std::nullopt, "", false},
      // On Windows a deferred action reads no property but CustomActionData,
      // ProductCode and UserSID, so these runs would not be verbose there.
      // The engine here lets the deferred action read LOGVERBOSE, and the
      // DLL then decides as its rules say: verbose.
      {"LOGVERBOSE on the command line reaches the deferred actions here", std::nullopt, " LOGVERBOSE=1", true},
  };
  for (const VerbosityCase& one : verbosities) {
    suite.add("lifecycle", one.name, "RemoveManufacturerFolder", [one](Case& c) { runLifecycle(c, one); });
  }
  const LockedFileCase lockedFiles[] = {
      {"uninstall meeting a locked cache file, answered with Cancel, fails with 1603 and keeps the product", IDCANCEL,
       false, kFailure},
      {"uninstall meeting a locked cache file, answered with Retry once it is released, completes", IDRETRY, true,
       kSuccess},
  };
  for (const LockedFileCase& one : lockedFiles) {
    suite.add("lifecycle", one.name, "RemoveFolder", [one](Case& c) { runLockedFileUninstall(c, one); });
  }
}

}  // namespace quorvel::engine
