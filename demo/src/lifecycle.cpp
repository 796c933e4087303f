#include "lifecycle.hpp"

#include "demonstration_product.hpp"
#include "icacls_record.hpp"
#include "installer_log.hpp"
#include "machine.hpp"
#include "machine_summary.hpp"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>

namespace quorvel::demo {

namespace authoring = quorvel::authoring;
namespace icacls = quorvel::authoring::icacls;
namespace machine = quorvel::authoring::machine;
using authoring::ProductRelease;

namespace {

const std::vector<std::string> kActionLabels = {"EditEstimatedSize", "RemoveFolder", "RemoveRegistries",
                                                "ChangeQuorvelFolderPermission", "RemoveManufacturerFolder"};

// Both versions remove the older ones late, after InstallFinalize: the
// placement in which removal rows that ignore the upgrade would take the new
// version's files.
constexpr authoring::OldVersionsRemoval kRemoval = authoring::OldVersionsRemoval::Late;

struct Demonstration {
  std::string dllPath;
  std::string workFolder;
  std::string trashFolder;  // the engine's desktop trash
  const ProductRelease& first = authoring::release1();
  const ProductRelease& second = authoring::release2();
  authoring::ProductLayout layout = authoring::productLayout();
  authoring::ProductTraces traces = authoring::productTraces(layout);

  std::string packagePath(const ProductRelease& release) const {
    return workFolder + "\\package-" + release.version + "\\QuorvelDemo.msi";
  }
  std::string logPath(const std::string& run) const { return workFolder + "\\" + run + ".log"; }
};

std::string productKey(const ProductRelease& release) { return authoring::kUninstallKey + release.productCode; }

bool fail(const std::string& what) {
  std::printf("   could not %s\n", what.c_str());
  return false;
}

void describe(const authoring::InstallationPackage& package) {
  std::printf("   files:\n");
  for (const authoring::PackageFile& file : package.files) {
    std::printf("     [%s]%s (feature %s)\n", file.folder.c_str(), file.name.c_str(), file.feature.c_str());
  }
  std::printf("   the actions, deferred without impersonation, each after its type-51 setter:\n");
  for (const authoring::DeferredStep& step : package.steps) {
    std::printf("     %4d  %-30s if %-45s CustomActionData \"%s\"\n", step.sequence, step.action.c_str(),
                step.condition.c_str(), step.customActionData.c_str());
  }
}

// Writes a version's package with its source image.
bool writePackage(const Demonstration& demo, const ProductRelease& release) {
  authoring::InstallationPackage package = authoring::demonstrationProduct(demo.dllPath, release, kRemoval);
  package.oldVersionsRemovalFeatures = authoring::kRemovalAsWindowsRunsItOnWine;
  const std::string path = demo.packagePath(release);
  std::string error;
  if (!machine::createFolders(path.substr(0, path.rfind('\\'))) ||
      !authoring::buildInstallationPackage(path, package, error)) {
    return fail("write the package: " + error);
  }
  std::printf("   wrote %s: %s %s, product code %s, and its source image beside it\n", path.c_str(),
              package.productName.c_str(), release.version.c_str(), release.productCode.c_str());
  describe(package);
  return true;
}

// Starts from a machine without the product, asks for verbose lines from
// deferred actions through the Installer logging policy, and writes both
// versions' packages.
bool prepare(const Demonstration& demo) {
  std::printf("== preparing\n");
  authoring::removeLeftovers(demo.layout);
  machine::removeTree(demo.workFolder);
  if (!machine::createKey(authoring::kPolicyKey) ||
      !machine::setString(authoring::kPolicyKey, "Logging", "voicewarmup")) {
    return fail("set the Installer logging policy");
  }
  std::printf("   Installer logging policy \"voicewarmup\": deferred actions log verbosely\n");
  std::printf("   EstimatedSize %lu written into the Uninstall entry right after RegisterProduct (wine's own is 0)\n",
              authoring::kCostedEstimatedSize);
  std::printf(
      "   each version removes the older ones after InstallFinalize; wine's removal of them gets\n"
      "   UPGRADINGPRODUCTCODE on its command line, as Windows sets it, through the Upgrade row's\n"
      "   Remove column \"%s\"\n",
      authoring::kRemovalAsWindowsRunsItOnWine);
  icacls::reset();
  return writePackage(demo, demo.first) && writePackage(demo, demo.second);
}

// Runs msiexec quietly with a verbose log, then prints the actions' lines
// from the log and any tool started meanwhile (none: the grants go object by
// object, and the recording icacls stand-in would show a start).
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
  const std::vector<std::string> calls = icacls::calls();
  std::printf("   tools started: %s\n", calls.size() == callsBefore ? "none" : "");
  for (std::size_t index = callsBefore; index < calls.size(); ++index) {
    std::printf("     icacls (the recording stand-in): %s\n", calls[index].c_str());
  }
  return code == ERROR_SUCCESS;
}

std::string estimatedSize(const ProductRelease& release) {
  const std::optional<DWORD> size = machine::readDword(productKey(release), "EstimatedSize");
  return size ? std::to_string(*size) : kAbsent;
}

// The entries of the engine's desktop trash, where a deletion with undo
// would land: the deletions are permanent, so there are none.
std::string trashEntries(const std::string& trashFolder) {
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((trashFolder + "\\files\\*").c_str(), &found);
  int entries = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      entries += name != "." && name != ".." ? 1 : 0;
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  return std::to_string(entries);
}

std::string registration(const std::string& name) {
  return presence(machine::valueType(authoring::kFoldersKey, name).has_value());
}

// A fact's value at the given steps, absent at the others.
StepValues at(std::initializer_list<Step> steps, const std::string& value) {
  StepValues values;
  values.fill(kAbsent);
  for (const Step step : steps) {
    values[step] = value;
  }
  return values;
}

void addPresence(MachineSummary& summary, const std::string& what, const std::string& path, StepValues expected) {
  summary.add(
      what + " " + path, [path] { return presence(machine::exists(path)); }, std::move(expected));
}

// A version's Uninstall entry, with the EstimatedSize that
// EditEstimatedSize set to 0, at the steps where the version is installed.
void addUninstallEntry(MachineSummary& summary, const ProductRelease& release, std::initializer_list<Step> steps) {
  summary.add(
      "Uninstall entry of " + release.version + " " + release.productCode,
      [&release] { return presence(machine::keyExists(productKey(release))); }, at(steps, "yes"));
  summary.add(
      "  its EstimatedSize", [&release] { return estimatedSize(release); }, at(steps, "0"));
}

// Which version's content a file holds: its version, "yes" where both
// install the same, "other", or absent.
std::string fileVersion(const std::string& path, const std::vector<std::pair<std::string, std::string>>& contents) {
  const std::optional<std::string> content = machine::readFile(path);
  if (!content) {
    return kAbsent;
  }
  std::string found;
  for (const auto& [version, text] : contents) {
    if (*content == text) {
      found = found.empty() ? version : "yes";
    }
  }
  return found.empty() ? "other" : found;
}

// The files of the main feature of either version, each holding 1.0's
// content once installed and 2.0's once upgraded.
void addFiles(MachineSummary& summary, const Demonstration& demo) {
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> contents;
  for (const ProductRelease* release : {&demo.first, &demo.second}) {
    for (const authoring::InstalledFile& file : demo.layout.files(*release)) {
      if (file.feature == authoring::kMainFeature) {
        contents[file.path].emplace_back(release->version, file.content);
      }
    }
  }
  for (const auto& [path, versions] : contents) {
    StepValues expected = at({}, "");
    for (const auto& [version, text] : versions) {
      const bool inBoth = versions.size() == 2 && versions[0].second == versions[1].second;
      const std::string shown = inBoth ? "yes" : version;
      if (version == demo.first.version) {
        expected[kInstalled] = expected[kInUse] = shown;
      } else {
        expected[kUpgraded] = shown;
      }
    }
    summary.add(
        "file " + path, [path = path, versions = versions] { return fileVersion(path, versions); }, expected);
  }
}

// What the summary shows of the machine, and what each fact must be at
// each step.
MachineSummary machineSummary(const Demonstration& demo) {
  const StepValues installed = at({kInstalled, kInUse, kUpgraded}, "yes");
  const StepValues leftBehind = at({kInUse, kUpgraded}, "yes");
  MachineSummary summary;
  addUninstallEntry(summary, demo.first, {kInstalled, kInUse});
  addUninstallEntry(summary, demo.second, {kUpgraded});
  addPresence(summary, "folder", demo.layout.manufacturerFolder, installed);
  addPresence(summary, "folder", demo.layout.sdkFolder, installed);
  addFiles(summary, demo);
  addPresence(summary, "folder", demo.traces.cacheFolder, leftBehind);
  for (const std::string& file : demo.traces.cacheFiles) {
    addPresence(summary, "file", file, leftBehind);
  }
  addPresence(summary, "folder", demo.layout.dataManufacturerFolder, installed);
  addPresence(summary, "folder", demo.layout.dataFolder, installed);
  for (const std::string& name : demo.traces.registrations) {
    summary.add(
        "registration " + name, [name] { return registration(name); }, leftBehind);
  }
  const std::string kept = demo.traces.keptRegistration;
  summary.add(
      "registration " + kept, [kept] { return registration(kept); }, at({kInUse, kUpgraded, kUninstalled}, "yes"));
  const StepValues none = at({kBefore, kInstalled, kInUse, kUpgraded, kUninstalled}, "0");
  summary.add(
      "tools started", [] { return std::to_string(icacls::calls().size()); }, none);
  summary.add(
      "entries in the engine's trash", [trash = demo.trashFolder] { return trashEntries(trash); }, none);
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

void printChanges(const MachineSummary& summary, Step from, Step to) {
  std::printf("   what changed:\n");
  summary.printChanges(from, to);
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
  const char* trashFolder = std::getenv("DEMO_TRASH");
  Demonstration demo;
  demo.dllPath = dllPath;
  demo.workFolder = workFolder;
  demo.trashFolder = trashFolder != nullptr ? trashFolder : "";
  if (!prepare(demo)) {
    return false;
  }
  MachineSummary summary = machineSummary(demo);
  summary.observe(kBefore);

  bool done = runMsiexec("installing 1.0", "/i \"" + demo.packagePath(demo.first) + "\"", demo.logPath("install"));
  summary.observe(kInstalled);
  printChanges(summary, kBefore, kInstalled);

  done = useProduct(demo) && done;
  summary.observe(kInUse);

  done =
      runMsiexec("upgrading to 2.0", "/i \"" + demo.packagePath(demo.second) + "\"", demo.logPath("upgrade")) && done;
  std::printf("   (1.0's removal ran in an msiexec of its own after InstallFinalize: what it left shows below)\n");
  summary.observe(kUpgraded);
  printChanges(summary, kInUse, kUpgraded);

  done = runMsiexec("uninstalling 2.0", "/x " + demo.second.productCode, demo.logPath("uninstall")) && done;
  summary.observe(kUninstalled);
  printChanges(summary, kUpgraded, kUninstalled);

  std::printf("== summary\n");
  done = summary.printTable() && done;
  restore(demo);
  std::printf(done ? "Every step did its job.\n" : "Some steps did not do their job: see the lines above.\n");
  return done;
}

}  // namespace quorvel::demo
