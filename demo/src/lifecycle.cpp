#include "lifecycle.hpp"

#include "demonstration_product.hpp"
#include "icacls_record.hpp"
#include "installer_log.hpp"
#include "machine.hpp"
#include "machine_summary.hpp"

#include <cstdio>
#include <cstdlib>

namespace quorvel::demo {

namespace authoring = quorvel::authoring;
namespace icacls = quorvel::authoring::icacls;
namespace machine = quorvel::authoring::machine;

namespace {

const std::vector<std::string> kActionLabels = {"EditEstimatedSize", "RemoveFolder", "RemoveRegistries",
                                                "ChangeQuorvelFolderPermission", "RemoveManufacturerFolder"};

struct Demonstration {
  std::string dllPath;
  std::string workFolder;
  std::string productCode = authoring::kDemonstrationProductCode;
  authoring::ProductLayout layout = authoring::productLayout();
  authoring::ProductTraces traces = authoring::productTraces(layout);

  std::string packageFolder() const { return workFolder + "\\package"; }
  std::string packagePath() const { return packageFolder() + "\\QuorvelDemo.msi"; }
  std::string productKey() const { return authoring::kUninstallKey + productCode; }
};

bool fail(const std::string& what) {
  std::printf("   could not %s\n", what.c_str());
  return false;
}

void describe(const authoring::InstallationPackage& package) {
  std::printf("   files:\n");
  for (const authoring::PackageFile& file : package.files) {
    std::printf("     [%s]%s\n", file.folder.c_str(), file.name.c_str());
  }
  std::printf("   EstimatedSize %lu written into the Uninstall entry right after RegisterProduct (wine's own is 0)\n",
              authoring::kCostedEstimatedSize);
  std::printf("   the actions, deferred without impersonation, each after its type-51 setter:\n");
  for (const authoring::DeferredStep& step : package.steps) {
    std::printf("     %4d  %-30s if %-18s CustomActionData \"%s\"\n", step.sequence, step.action.c_str(),
                step.condition.c_str(), step.customActionData.c_str());
  }
}

// Starts from a machine without the product, asks for verbose lines from
// deferred actions through the Installer logging policy, and writes the
// package with its source image.
bool prepare(const Demonstration& demo) {
  std::printf("== preparing\n");
  authoring::removeLeftovers(demo.productCode, demo.layout);
  machine::removeTree(demo.packageFolder());
  if (!machine::createKey(authoring::kPolicyKey) ||
      !machine::setString(authoring::kPolicyKey, "Logging", "voicewarmup")) {
    return fail("set the Installer logging policy");
  }
  std::printf("   Installer logging policy \"voicewarmup\": deferred actions log verbosely\n");
  icacls::reset();
  const authoring::InstallationPackage package = authoring::demonstrationProduct(demo.dllPath, demo.productCode);
  std::string error;
  if (!machine::createFolders(demo.packageFolder()) ||
      !authoring::buildInstallationPackage(demo.packagePath(), package, error)) {
    return fail("write the package: " + error);
  }
  std::printf("   wrote %s, %s %s, and its source image beside it\n", demo.packagePath().c_str(),
              package.productName.c_str(), demo.productCode.c_str());
  describe(package);
  return true;
}

// Runs msiexec quietly with a verbose log, then prints the actions' lines
// from the log and the icacls command lines they ran.
bool runMsiexec(const std::string& title, const std::string& arguments, const std::string& logPath) {
  const std::string command = "msiexec " + arguments + " /qn /l*v \"" + logPath + "\"";
  std::printf("== %s: %s\n", title.c_str(), command.c_str());
  const std::size_t callsBefore = icacls::calls().size();
  const DWORD code = machine::runAndWait(command, authoring::kInstallerTimeoutMs);
  std::printf("   msiexec exit code: %lu\n", static_cast<unsigned long>(code));
  std::printf("   the actions' lines in %s:\n", logPath.c_str());
  for (const std::string& line : authoring::actionLinesInLog(machine::readFile(logPath).value_or(""), kActionLabels)) {
    std::printf("     %s\n", line.c_str());
  }
  const std::vector<icacls::Call> calls = icacls::calls();
  for (std::size_t index = callsBefore; index < calls.size(); ++index) {
    std::printf("   icacls started (the recording stand-in): %s\n", calls[index].commandLine.c_str());
  }
  return code == ERROR_SUCCESS;
}

std::string estimatedSize(const Demonstration& demo) {
  const std::optional<DWORD> size = machine::readDword(demo.productKey(), "EstimatedSize");
  return size ? std::to_string(*size) : kAbsent;
}

std::string registration(const std::string& name) {
  return presence(machine::valueType(authoring::kFoldersKey, name).has_value());
}

void addFolder(MachineSummary& summary, const std::string& path, StepValues expected) {
  summary.add(
      "folder " + path, [path] { return presence(machine::exists(path)); }, std::move(expected));
}

void addFile(MachineSummary& summary, const std::string& path, StepValues expected) {
  summary.add(
      "file " + path, [path] { return presence(machine::exists(path)); }, std::move(expected));
}

// What the summary shows of the machine, and what each fact must be at
// each step.
MachineSummary machineSummary(const Demonstration& demo) {
  const StepValues installed = {kAbsent, "yes", "yes", kAbsent};
  const StepValues leftBehind = {kAbsent, kAbsent, "yes", kAbsent};
  MachineSummary summary;
  summary.add(
      "Uninstall entry " + demo.productCode, [&demo] { return presence(machine::keyExists(demo.productKey())); },
      installed);
  summary.add("  its EstimatedSize", [&demo] { return estimatedSize(demo); }, {kAbsent, "0", "0", kAbsent});
  addFolder(summary, demo.layout.manufacturerFolder, installed);
  addFolder(summary, demo.layout.sdkFolder, installed);
  for (const std::string& file : demo.layout.files) {
    addFile(summary, file, installed);
  }
  addFolder(summary, demo.traces.cacheFolder, leftBehind);
  for (const std::string& file : demo.traces.cacheFiles) {
    addFile(summary, file, leftBehind);
  }
  addFolder(summary, demo.layout.dataManufacturerFolder, installed);
  addFolder(summary, demo.layout.dataFolder, installed);
  for (const std::string& name : demo.traces.registrations) {
    summary.add(
        "registration " + name, [name] { return registration(name); }, leftBehind);
  }
  const std::string kept = demo.traces.keptRegistration;
  summary.add("registration " + kept, [kept] { return registration(kept); }, {kAbsent, kAbsent, "yes", "yes"});
  summary.add("icacls starts", [] { return std::to_string(icacls::calls().size()); }, {"0", "1", "1", "2"});
  return summary;
}

bool useProduct(const Demonstration& demo) {
  std::printf("== using the product: what it leaves behind\n");
  if (!authoring::leaveProductTraces(demo.traces)) {
    return fail("create the cache folder and the folder registrations");
  }
  for (const std::string& file : demo.traces.cacheFiles) {
    std::printf("   cache file %s\n", file.c_str());
  }
  for (const std::string& name : demo.traces.registrations) {
    std::printf("   folder registration %s\n", name.c_str());
  }
  std::printf("   folder registration %s (outside the SDK folder: it stays)\n", demo.traces.keptRegistration.c_str());
  return true;
}

// Leaves the machine's logging policy and folder registrations as they were.
void restore(const Demonstration& demo) {
  machine::deleteValue(authoring::kPolicyKey, "Logging");
  machine::deleteValue(authoring::kFoldersKey, demo.traces.keptRegistration);
}

}  // namespace

bool runLifecycle(const std::string& dllPath, const std::string& workFolder) {
  const char* icaclsFolder = std::getenv("ICACLS_DOUBLE_DIR");
  icacls::useFolder(icaclsFolder != nullptr ? icaclsFolder : "");
  Demonstration demo;
  demo.dllPath = dllPath;
  demo.workFolder = workFolder;
  if (!prepare(demo)) {
    return false;
  }
  MachineSummary summary = machineSummary(demo);
  summary.observe(kBefore);

  bool done = runMsiexec("installing", "/i \"" + demo.packagePath() + "\"", workFolder + "\\install.log");
  summary.observe(kInstalled);
  std::printf("   what changed:\n");
  summary.printChanges(kBefore, kInstalled);

  done = useProduct(demo) && done;
  summary.observe(kInUse);

  done = runMsiexec("uninstalling", "/x " + demo.productCode, workFolder + "\\uninstall.log") && done;
  summary.observe(kUninstalled);
  std::printf("   what changed:\n");
  summary.printChanges(kInUse, kUninstalled);

  std::printf("== summary\n");
  done = summary.printTable() && done;
  restore(demo);
  std::printf(done ? "Every step did its job.\n" : "Some steps did not do their job: see the lines above.\n");
  return done;
}

}  // namespace quorvel::demo
