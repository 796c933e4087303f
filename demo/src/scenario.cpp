#include "scenario.hpp"

#include "installation_package.hpp"
#include "machine.hpp"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <sstream>

namespace quorvel::demo {

namespace machine = quorvel::authoring::machine;

namespace {

constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kFoldersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr const char* kPolicyKey = "Software\\Policies\\Microsoft\\Windows\\Installer";
constexpr const char* kIcaclsCalls = "C:\\icacls-double\\calls.txt";

std::string productKey() { return std::string(kUninstallKey) + "{" + kProduct + "}"; }

const char* const kSdkFiles[] = {"bin\\quorvelc.exe", "include\\quorvel.h", "docs\\readme.txt"};

bool fail(const std::string& what) {
  std::printf("  could not %s\n", what.c_str());
  return false;
}

bool prepareFolders(const Scenario& scenario) {
  machine::removeTree(scenario.root + "\\Quorvel");
  machine::removeTree(scenario.manufacturerFolder());
  for (const char* file : kSdkFiles) {
    const std::string path = scenario.sdkFolder() + "\\" + file;
    if (!machine::createFolders(path.substr(0, path.find_last_of('\\'))) ||
        !machine::writeFile(path, std::string("quorvel demonstration: ") + file + "\n")) {
      return fail("create " + path);
    }
  }
  if (!machine::createFolders(scenario.dataFolder() + "\\config") ||
      !machine::writeFile(scenario.dataFolder() + "\\config\\settings.ini", "[quorvel]\nchannel=stable\n") ||
      !machine::createFolders(scenario.manufacturerFolder())) {
    return fail("create the data and manufacturer folders");
  }
  return true;
}

bool prepareRegistry(const Scenario& scenario) {
  machine::deleteKeyTree(productKey());
  if (!machine::createKey(productKey()) ||
      !machine::setString(productKey(), "DisplayName", "Quorvel Demonstration Product") ||
      !machine::setString(productKey(), "Publisher", "Quorvel Labs") ||
      !machine::setDword(productKey(), "EstimatedSize", kEstimatedSizeBefore)) {
    return fail("create the Uninstall entry");
  }
  if (!machine::createKey(kFoldersKey)) {
    return fail("create the Installer Folders key");
  }
  for (const std::string& name : scenario.removedRegistrations()) {
    if (!machine::setString(kFoldersKey, name, "")) {
      return fail("register " + name);
    }
  }
  if (!machine::setString(kFoldersKey, scenario.keptRegistration(), "")) {
    return fail("register " + scenario.keptRegistration());
  }
  // Deferred actions settle their verbosity from the logging policy: ask
  // for verbose lines so that each action's entry line shows in the log.
  if (!machine::createKey(kPolicyKey) || !machine::setString(kPolicyKey, "Logging", "voicewarmup")) {
    return fail("set the Installer logging policy");
  }
  machine::deleteAtom(L"WcaVerboseLogging");
  machine::deleteAtom(L"WcaNotVerboseLogging");
  DeleteFileA(kIcaclsCalls);
  return true;
}

quorvel::authoring::InstallationPackage demonstrationPackage(const Scenario& scenario, const std::string& dllPath) {
  quorvel::authoring::InstallationPackage package;
  package.dllPath = dllPath;
  package.productName = "Quorvel Demonstration";
  package.manufacturer = "Quorvel Labs";
  package.retryPromptText = "The files of [2] are in use. Close the programs using them, then choose Retry.";
  package.steps = {
      {"EditEstimatedSize", kProduct},
      {"RemoveFolder", scenario.sdkFolder() + "|" + kSdkName},
      {"RemoveRegistries", scenario.registrationPrefix()},
      {"ChangeQuorvelFolderPermission", scenario.dataFolder()},
      {"RemoveManufacturerFolder", scenario.manufacturerFolder()},
  };
  return package;
}

const char* mark(bool ok) { return ok ? "ok  " : "FAIL"; }

std::vector<std::string> icaclsCommandLines() {
  std::vector<std::string> lines;
  std::istringstream in(machine::readFile(kIcaclsCalls).value_or(""));
  std::string row;
  while (std::getline(in, row)) {
    if (row.compare(0, 8, "cmdline=") == 0) {
      lines.push_back(row.substr(8));
    }
  }
  return lines;
}

}  // namespace

std::vector<std::string> Scenario::removedRegistrations() const {
  return {sdkFolder() + "\\", sdkFolder() + "\\bin\\", sdkFolder() + "\\include\\"};
}

bool prepare(const Scenario& scenario, const std::string& dllPath) {
  std::printf("Preparing the demonstration machine under %s\n", scenario.root.c_str());
  if (!machine::createFolders(scenario.root) || !prepareFolders(scenario) || !prepareRegistry(scenario)) {
    return false;
  }
  std::printf("  Uninstall entry HKLM\\%s with EstimatedSize %lu\n", productKey().c_str(), kEstimatedSizeBefore);
  std::printf("  SDK folder %s (%zu files)\n", scenario.sdkFolder().c_str(), std::size(kSdkFiles));
  std::printf("  data folder %s\n", scenario.dataFolder().c_str());
  std::printf("  empty manufacturer folder %s\n", scenario.manufacturerFolder().c_str());
  for (const std::string& name : scenario.removedRegistrations()) {
    std::printf("  Installer folder registration %s\n", name.c_str());
  }
  std::printf("  Installer folder registration %s\n", scenario.keptRegistration().c_str());
  std::printf("  Installer logging policy \"voicewarmup\" (verbose)\n");

  std::string error;
  if (!quorvel::authoring::buildInstallationPackage(scenario.packagePath(), demonstrationPackage(scenario, dllPath),
                                                    error)) {
    std::printf("  could not write the package: %s\n", error.c_str());
    return false;
  }
  std::printf("Wrote the package %s:\n", scenario.packagePath().c_str());
  for (const quorvel::authoring::DeferredStep& step : demonstrationPackage(scenario, dllPath).steps) {
    std::printf("  Set%s sets %s's CustomActionData to \"%s\"; %s runs deferred\n", step.action.c_str(),
                step.action.c_str(), step.customActionData.c_str(), step.action.c_str());
  }
  return true;
}

bool report(const Scenario& scenario) {
  bool all = true;
  auto item = [&all](bool ok, const std::string& text) {
    all = all && ok;
    std::printf("  %s %s\n", mark(ok), text.c_str());
  };
  std::printf("What changed on the machine:\n");

  const std::optional<DWORD> size = machine::readDword(productKey(), "EstimatedSize");
  item(size && *size == 0, "EstimatedSize of {" + std::string(kProduct) + "}: " + std::to_string(kEstimatedSizeBefore) +
                               " -> " + (size ? std::to_string(*size) : std::string("(missing)")));
  item(!machine::exists(scenario.sdkFolder()),
       "SDK folder " + scenario.sdkFolder() +
           (machine::exists(scenario.sdkFolder()) ? ": still there" : ": deleted by the shell"));
  for (const std::string& name : scenario.removedRegistrations()) {
    const bool gone = !machine::valueType(kFoldersKey, name).has_value();
    item(gone, "folder registration " + name + (gone ? ": removed" : ": still registered"));
  }
  const bool kept = machine::valueType(kFoldersKey, scenario.keptRegistration()).has_value();
  item(kept, "folder registration " + scenario.keptRegistration() + (kept ? ": kept" : ": lost"));

  const std::vector<std::string> commands = icaclsCommandLines();
  item(commands.size() == 2, "icacls (the recording stand-in for the engine's stub) was started " +
                                 std::to_string(commands.size()) + " times:");
  for (const std::string& command : commands) {
    std::printf("         %s\n", command.c_str());
  }
  item(machine::exists(scenario.dataFolder() + "\\config\\settings.ini"),
       "data folder " + scenario.dataFolder() + ": kept, its grant handed to icacls");
  const bool manufacturerGone = !machine::exists(scenario.manufacturerFolder());
  item(manufacturerGone,
       "manufacturer folder " + scenario.manufacturerFolder() + (manufacturerGone ? ": removed" : ": still there"));
  const bool verbose = machine::atomExists(L"WcaVerboseLogging");
  const bool notVerbose = machine::atomExists(L"WcaNotVerboseLogging");
  item(verbose && !notVerbose, std::string("global atom published: ") + (verbose      ? "WcaVerboseLogging"
                                                                         : notVerbose ? "WcaNotVerboseLogging"
                                                                                      : "none"));

  // Leave the machine's logging policy as it was before the demonstration.
  machine::deleteValue(kPolicyKey, "Logging");
  std::printf(all ? "Every action did its job.\n" : "Some changes are missing: see the lines above.\n");
  return all;
}

}  // namespace quorvel::demo
