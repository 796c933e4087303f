// The five actions in a real installation: msiexec installs a package that
// sets each action's CustomActionData with a type-51 action and runs the
// action deferred, without impersonation, from the script. The checks read
// the verbose log file and the machine state afterwards.
//
// The engine still hands a deferred action a database handle (Windows gives
// 0 there), so the verbosity decision is settled from the properties a
// deferred action can read and the logging policy; the database-less session
// start is covered by the host tests only.

#include "cases.hpp"
#include "fixture.hpp"
#include "handles.hpp"
#include "icacls_record.hpp"
#include "installation_package.hpp"
#include "package_builder.hpp"
#include "machine.hpp"

#include <optional>
#include <sstream>

namespace quorvel::engine {

namespace {

constexpr const wchar_t* kVerboseAtom = L"WcaVerboseLogging";
constexpr const wchar_t* kNotVerboseAtom = L"WcaNotVerboseLogging";

DWORD runAndWait(const std::string& commandLine) {
  std::string buffer = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return GetLastError();
  }
  quorvel::authoring::KernelHandle process(info.hProcess);
  quorvel::authoring::KernelHandle thread(info.hThread);
  if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
    return WAIT_TIMEOUT;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

// The lines of one action in the log, in order; a line that the action
// ended with a newline shows up without it.
std::vector<std::string> actionLinesInLog(const std::string& log, const std::string& label) {
  std::vector<std::string> found;
  std::istringstream in(log);
  std::string row;
  const std::string prefix = label + ":  ";
  while (std::getline(in, row)) {
    if (!row.empty() && row.back() == '\r') {
      row.pop_back();
    }
    if (row.compare(0, prefix.size(), prefix) == 0) {
      found.push_back(row);
    }
  }
  return found;
}

std::string withoutBraces(const std::string& guid) { return guid.substr(1, guid.size() - 2); }

struct InstallationCase {
  const char* name;
  std::optional<std::string> policy;
  std::string properties;  // added to the msiexec command line
  bool verbose;
};

void runInstallation(Case& c, const InstallationCase& one) {
  SETUP_OK(c, icacls::installed());
  const std::string folder = caseFolder(c);
  const std::string product = withoutBraces(quorvel::authoring::newGuid());
  const std::string productKey = std::string(kUninstallKey) + "{" + product + "}";
  const std::string sdkFolder = folder + "\\Sdk\\4.2";
  const std::string appRegistration = folder + "\\App\\";
  const std::vector<std::string> registrations = {appRegistration, folder + "\\App\\bin\\", folder + "\\App2\\"};
  const std::string dataFolder = folder + "\\Data";
  const std::string manufacturerFolder = folder + "\\Manufacturer";

  SETUP_OK(c, machine::createKey(productKey) && machine::setDword(productKey, "EstimatedSize", 2048));
  SETUP_OK(c, machine::createFolders(sdkFolder + "\\bin") && machine::writeFile(sdkFolder + "\\bin\\tool.exe", "x"));
  SETUP_OK(c, machine::createKey(kFoldersKey));
  for (const std::string& name : registrations) {
    SETUP_OK(c, machine::setString(kFoldersKey, name, ""));
  }
  SETUP_OK(c, machine::createFolders(dataFolder + "\\config"));
  SETUP_OK(c, machine::createFolders(manufacturerFolder));
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);
  machine::deleteValue(kPolicyKey, "Logging");
  if (one.policy) {
    SETUP_OK(c, machine::createKey(kPolicyKey) && machine::setString(kPolicyKey, "Logging", *one.policy));
  }
  icacls::reset();
  // Verbose lines of RemoveRegistries follow the key's enumeration order.
  const std::vector<std::string> enumerated = machine::valueNames(kFoldersKey);

  quorvel::authoring::InstallationPackage package;
  package.dllPath = environment().dllPath;
  package.retryPromptText = kRetryPromptText;
  package.steps = {{"EditEstimatedSize", product},
                   {"RemoveFolder", sdkFolder + "|Quorvel SDK 4.2"},
                   {"RemoveRegistries", folder + "\\App"},
                   {"ChangeQuorvelFolderPermission", dataFolder},
                   {"RemoveManufacturerFolder", manufacturerFolder}};
  const std::string packagePath = folder + "\\install.msi";
  const std::string logPath = folder + "\\install.log";
  std::string error;
  SETUP_OK(c, quorvel::authoring::buildInstallationPackage(packagePath, package, error));

  const DWORD code = runAndWait("msiexec /i \"" + packagePath + "\" /qn /l*v \"" + logPath + "\"" + one.properties);

  const std::string log = machine::readFile(logPath).value_or("");
  const bool verboseAtom = machine::atomExists(kVerboseAtom);
  const bool notVerboseAtom = machine::atomExists(kNotVerboseAtom);
  const std::optional<DWORD> estimatedSize = machine::readDword(productKey, "EstimatedSize");
  std::vector<bool> stillRegistered;
  for (const std::string& name : registrations) {
    stillRegistered.push_back(machine::valueType(kFoldersKey, name).has_value());
    machine::deleteValue(kFoldersKey, name);
  }
  const std::vector<icacls::Call> calls = icacls::calls();
  machine::deleteKeyTree(productKey);
  machine::deleteValue(kPolicyKey, "Logging");
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);

  CHECK_EQ(c, code, 0ul);
  CHECK(c, estimatedSize.has_value() && *estimatedSize == 0);
  CHECK(c, !machine::exists(sdkFolder));
  CHECK(c, !stillRegistered[0] && !stillRegistered[1] && stillRegistered[2]);
  CHECK(c, machine::exists(dataFolder + "\\config"));
  CHECK(c, !machine::exists(manufacturerFolder));
  CHECK_EQ(c, calls.size(), 2u);
  if (calls.size() == 2) {
    CHECK_EQ(c, calls[0].commandLine, icacls::expectedCommandLine(dataFolder, icacls::kGrantOnTree));
    CHECK_EQ(c, calls[1].commandLine, icacls::expectedCommandLine(manufacturerFolder, icacls::kGrantOnFolder));
  }
  CHECK_EQ(c, verboseAtom, one.verbose);
  CHECK_EQ(c, notVerboseAtom, !one.verbose);

  std::vector<std::string> registryLines = {"Initialized.", "CustomActionData = " + package.steps[2].customActionData,
                                            kFoldersKey};
  for (const std::string& name : enumerated) {
    if (one.verbose) {
      const bool match = name == registrations[0] || name == registrations[1];
      registryLines.push_back((match ? "subKeyValue (push_buck): " : "subKeyValue (read only): ") + name);
    }
  }
  registryLines.push_back("remove subKeyValue : " + registrations[0]);
  registryLines.push_back("remove subKeyValue : " + registrations[1]);

  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"EditEstimatedSize", {"Initialized.", productKey}},
      {"RemoveFolder",
       {"Initialized.", "CustomActionData = " + package.steps[1].customActionData, "removePath = " + sdkFolder,
        "sdkName = Quorvel SDK 4.2"}},
      {"RemoveRegistries", registryLines},
      {"ChangeQuorvelFolderPermission",
       {"Initialized.", "folderPath = " + dataFolder, "isExist=1  errorCode=00000000"}},
      {"RemoveManufacturerFolder",
       {"Initialized.", "folderPath = " + manufacturerFolder, "isExist=1  errorCode=00000000",
        "isEmpty=1  errorCode=00000000", "remove result=1  errorCode=00000000"}},
  };
  for (const auto& [label, texts] : expected) {
    std::vector<std::string> lines = actionLinesInLog(log, label);
    if (one.verbose) {
      const std::string entry = line(label, "Entering " + label + " in ");
      const std::string version = ", version " + dllVersionText();
      const bool entered = !lines.empty() && lines.front().compare(0, entry.size(), entry) == 0 &&
                           lines.front().size() > version.size() &&
                           lines.front().compare(lines.front().size() - version.size(), version.size(), version) == 0;
      c.expect(entered, label + " writes its entry line first", __FILE__, __LINE__);
      if (entered) {
        lines.erase(lines.begin());
      }
    }
    std::vector<std::string> wanted;
    for (const std::string& text : texts) {
      wanted.push_back(line(label, text));
    }
    c.lines(lines, wanted, label + " lines in the log", __FILE__, __LINE__);
  }
}

}  // namespace

void addInstallationCases(Suite& suite) {
  const InstallationCase cases[] = {
      {"five deferred actions without verbose logging", std::nullopt, "", false},
      {"five deferred actions with the logging policy asking for verbose", std::string("voicewarmup"), "", true},
      // On Windows a deferred action reads no property but CustomActionData,
      // ProductCode and UserSID, so this installation would not be verbose
      // there. The engine here lets the deferred action read LOGVERBOSE,
      // and the DLL then decides as its rules say: verbose.
      {"LOGVERBOSE on the command line reaches the deferred actions here", std::nullopt, " LOGVERBOSE=1", true},
  };
  for (const InstallationCase& one : cases) {
    suite.add("installation", one.name, "RemoveManufacturerFolder", [one](Case& c) { runInstallation(c, one); });
  }
}

}  // namespace quorvel::engine
