// The five actions in the life of a product with files, the demonstration
// product in its versions 1.0 and 2.0, driven by msiexec: installation,
// uninstallation, repair, change, major upgrade with the older version
// removed early and late, a failed installation rolled back, and
// uninstallations that meet a locked cache file; and Quorvel Notebook, the
// product an installer engineer builds from the package's table files, from
// its installation to its uninstallation. Between the runs the running
// product leaves files and folder registrations behind. The checks read the
// verbose logs and the machine after each run.
//
// The engine still hands a deferred action a database handle (Windows gives
// 0 there), so the verbosity decision is settled from the properties a
// deferred action can read and the logging policy; the database-less session
// start is covered by the host tests only.

#include "cases.hpp"
#include "demonstration_product.hpp"
#include "fixture.hpp"
#include "installer_log.hpp"
#include "package_builder.hpp"

#include <algorithm>
#include <memory>
#include <optional>

namespace quorvel::engine {

namespace {

namespace authoring = quorvel::authoring;
using authoring::OldVersionsRemoval;
using authoring::ProductRelease;

constexpr const wchar_t* kVerboseAtom = L"WcaVerboseLogging";
constexpr const wchar_t* kNotVerboseAtom = L"WcaNotVerboseLogging";

using authoring::kRemovalAsWindowsRunsItOnWine;
// The removals' condition before it took the upgrade into account.
constexpr const char* kUninstallingConditionOfOld = "REMOVE~=\"ALL\"";

// Each action's lines in one run, the entry line left out.
using RunLines = std::vector<std::pair<std::string, std::vector<std::string>>>;

// A product that a case installs: where its folders lie, what it leaves
// behind while it runs, and the product codes of its versions.
struct Product {
  authoring::ProductLayout layout;
  authoring::ProductTraces traces;
  std::vector<std::string> productCodes;
};

Product demonstration() {
  Product product{
      authoring::productLayout(), {}, {authoring::release1().productCode, authoring::release2().productCode}};
  product.traces = authoring::productTraces(product.layout);
  return product;
}

// One case's scene: a machine without the product, the logging policy or
// the atoms of earlier cases, the case's own folder for packages and logs,
// and where the product's folders and traces lie. The registration that no
// uninstallation takes, the logging policy and the atoms go with the scene.
struct Scene {
  explicit Scene(const Case& c, const Product& product = demonstration());
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  std::string log(const std::string& run) const { return folder + "\\" + run + ".log"; }

  authoring::ProductLayout layout;
  authoring::ProductTraces traces;
  std::string folder;
};

std::string uninstallKey(const ProductRelease& release) { return kUninstallKey + release.productCode; }

// How a case authors the removals of a version's package.
struct RemovalAuthoring {
  OldVersionsRemoval removal = OldVersionsRemoval::Early;
  std::string removalFeatures;  // the Upgrade row's Remove column
  bool removalsOfOld = false;   // the removals on REMOVE~="ALL" alone
};

// Writes the package of a version into the case's folder and answers its path.
std::optional<std::string> writePackage(Case& c, const Scene& scene, const ProductRelease& release,
                                        const RemovalAuthoring& how) {
  authoring::InstallationPackage package = authoring::demonstrationProduct(environment().dllPath, release, how.removal);
  package.oldVersionsRemovalFeatures = how.removalFeatures;
  if (how.removalsOfOld) {
    for (authoring::DeferredStep& step : package.steps) {
      if (step.condition == authoring::kUninstallingCondition) {
        step.condition = kUninstallingConditionOfOld;
      }
    }
  }
  const std::string path = scene.folder + "\\" + release.version + "\\product.msi";
  std::string error;
  if (!machine::createFolders(scene.folder + "\\" + release.version) ||
      !authoring::buildInstallationPackage(path, package, error)) {
    c.setupFailed("writing " + path + ": " + error, __FILE__, __LINE__);
    return std::nullopt;
  }
  return path;
}

Scene::Scene(const Case& c, const Product& product) : layout(product.layout), traces(product.traces) {
  authoring::removeLeftovers(layout, product.productCodes);
  icacls::reset();
  machine::deleteValue(kPolicyKey, "Logging");
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);
  folder = caseFolder(c);
}

Scene::~Scene() {
  machine::deleteValue(kFoldersKey, traces.keptRegistration);
  machine::deleteValue(kPolicyKey, "Logging");
  machine::deleteAtom(kVerboseAtom);
  machine::deleteAtom(kNotVerboseAtom);
}

DWORD msiexec(const std::string& arguments, const std::string& logPath, const std::string& properties = "") {
  return machine::runAndWait("msiexec " + arguments + " /qn /l*v \"" + logPath + "\"" + properties,
                             authoring::kInstallerTimeoutMs);
}

std::string install(const std::string& package) { return "/i \"" + package + "\""; }
std::string uninstall(const ProductRelease& release) { return "/x " + release.productCode; }

// The grant on a data folder (its property, with the trailing backslash)
// that holds `folders` folders, itself included, and `files` files.
std::vector<std::string> grantLines(const std::string& dataFolder, size_t folders, size_t files) {
  return {"Initialized.", "folderPath = " + dataFolder + "\\", "isExist=1  errorCode=00000000",
          "Granted the Users group full control on " + std::to_string(folders) + " folders, " + std::to_string(files) +
              " files and 0 links"};
}

// The grant on the data folder, which holds the version's files there and
// `userFiles` more.
std::vector<std::string> grantLines(const Scene& scene, const ProductRelease& release, size_t userFiles) {
  size_t files = userFiles;
  const std::string inData = scene.layout.dataFolder + "\\";
  for (const authoring::InstalledFile& file : scene.layout.files(release)) {
    files += file.path.compare(0, inData.size(), inData) == 0 ? 1 : 0;
  }
  return grantLines(scene.layout.dataFolder, 1, files);
}

std::vector<std::string> sizeLines(const ProductRelease& release) { return {"Initialized.", uninstallKey(release)}; }

// The lines of a run that keeps the product: the grant where it runs, the
// size after RegisterProduct, no removal.
RunLines keepingLines(const Scene& scene, const ProductRelease& release, bool granted, size_t userFiles = 0) {
  return {
      {"ChangeQuorvelFolderPermission", granted ? grantLines(scene, release, userFiles) : std::vector<std::string>{}},
      {"EditEstimatedSize", sizeLines(release)},
      {"RemoveFolder", {}},
      {"RemoveRegistries", {}},
      {"RemoveManufacturerFolder", {}},
  };
}

std::vector<std::string> removeFolderLines(const std::string& path, const std::string& name) {
  return {"Initialized.", "CustomActionData = " + path + "|" + name, "removePath = " + path, "sdkName = " + name};
}

std::vector<std::string> removeFolderLines(const Scene& scene) {
  return removeFolderLines(scene.layout.sdkFolder, authoring::kProductName);
}

// enumerated: the Folders key's value names in its enumeration order, which
// the verbose lines and the deletions follow; the scene's registrations
// that start with the prefix go.
std::vector<std::string> removeRegistriesLines(const Scene& scene, const std::string& prefix,
                                               const std::vector<std::string>& enumerated, bool verbose) {
  std::vector<std::string> lines = {"Initialized.", "CustomActionData = " + prefix, kFoldersKey};
  std::vector<std::string> removals;
  for (const std::string& name : enumerated) {
    const bool match = name.compare(0, prefix.size(), prefix) == 0 &&
                       std::count(scene.traces.registrations.begin(), scene.traces.registrations.end(), name) != 0;
    if (verbose) {
      lines.push_back((match ? "subKeyValue (push_buck): " : "subKeyValue (read only): ") + name);
    }
    if (match) {
      removals.push_back("remove subKeyValue : " + name);
    }
  }
  lines.insert(lines.end(), removals.begin(), removals.end());
  return lines;
}

// The lines of an empty manufacturer folder's removal.
std::vector<std::string> removeManufacturerFolderLines(const std::string& folder) {
  return {"Initialized.", "folderPath = " + folder + "\\", "isExist=1  errorCode=00000000",
          "isEmpty=1  errorCode=00000000", "remove result=1  errorCode=00000000"};
}

RunLines uninstallLines(const Scene& scene, const std::vector<std::string>& enumerated, bool verbose) {
  return {
      {"ChangeQuorvelFolderPermission", {}},
      {"EditEstimatedSize", {}},
      {"RemoveFolder", removeFolderLines(scene)},
      {"RemoveRegistries", removeRegistriesLines(scene, scene.layout.sdkFolder + "\\", enumerated, verbose)},
      {"RemoveManufacturerFolder", removeManufacturerFolderLines(scene.layout.manufacturerFolder)},
  };
}

// Compares each action's lines in the log with the expected ones; verbose
// lines start with the entry line, which names the DLL's temporary copy.
void checkLogLines(Case& c, const std::string& logPath, const RunLines& expected, bool verbose,
                   const std::string& run) {
  const std::string log = machine::readFile(logPath).value_or("");
  for (const auto& [label, texts] : expected) {
    std::vector<std::string> lines = authoring::actionLinesInLog(log, {label});
    if (verbose && !texts.empty()) {
      const std::string entry = line(label, "Entering " + label + " in ");
      const std::string version = ", version " + dllVersionText();
      const bool entered = !lines.empty() && lines.front().compare(0, entry.size(), entry) == 0 &&
                           lines.front().size() > version.size() &&
                           lines.front().compare(lines.front().size() - version.size(), version.size(), version) == 0;
      c.expect(entered, label + " writes its entry line first at " + run, __FILE__, __LINE__);
      if (entered) {
        lines.erase(lines.begin());
      }
    }
    std::vector<std::string> wanted;
    for (const std::string& text : texts) {
      wanted.push_back(line(label, text));
    }
    c.lines(lines, wanted, label + " lines at " + run, __FILE__, __LINE__);
  }
}

// No run of the case started a tool: the grants went object by object.
void checkNoToolStarted(Case& c) { c.lines(icacls::calls(), {}, "tools started", __FILE__, __LINE__); }

// A version as a run that keeps it leaves it: registered, every file of its
// installed features with its content, and the Uninstall entry whose
// EstimatedSize the package wrote nonzero right after RegisterProduct and
// EditEstimatedSize then set to 0.
void checkInstalled(Case& c, const Scene& scene, const ProductRelease& release, bool withSamples = false) {
  c.expect(machine::productInstalled(release.productCode), release.version + " installed", __FILE__, __LINE__);
  for (const authoring::InstalledFile& file : scene.layout.files(release)) {
    const bool wanted = file.feature == authoring::kMainFeature || withSamples;
    const std::optional<std::string> content = machine::readFile(file.path);
    if (wanted) {
      c.expect(content == file.content, "installed with " + release.version + "'s content: " + file.path, __FILE__,
               __LINE__);
    } else {
      c.expect(!content, "not installed: " + file.path, __FILE__, __LINE__);
    }
  }
  const std::optional<DWORD> size = machine::readDword(uninstallKey(release), "EstimatedSize");
  c.expect(size.has_value() && *size == 0, "EstimatedSize 0 for " + release.version, __FILE__, __LINE__);
}

// What the running product made: there, or all gone.
void checkTraces(Case& c, const Scene& scene, bool present) {
  const std::string state = present ? "kept " : "gone ";
  for (const std::string& file : scene.traces.cacheFiles) {
    c.expect(machine::exists(file) == present, state + file, __FILE__, __LINE__);
  }
  for (const std::string& name : scene.traces.registrations) {
    c.expect(registered(name) == present, state + "registration " + name, __FILE__, __LINE__);
  }
  c.expect(registered(scene.traces.keptRegistration), "kept " + scene.traces.keptRegistration, __FILE__, __LINE__);
}

// Nothing of the product is left but the registration outside its SDK folder.
void checkUninstalled(Case& c, const Scene& scene, const ProductRelease& release) {
  c.expect(!machine::productInstalled(release.productCode), release.version + " uninstalled", __FILE__, __LINE__);
  CHECK(c, !machine::keyExists(uninstallKey(release)));
  CHECK(c, !machine::exists(scene.layout.manufacturerFolder));
  CHECK(c, !machine::exists(scene.layout.dataManufacturerFolder));
  for (const std::string& name : scene.traces.registrations) {
    c.expect(!registered(name), "deregistered " + name, __FILE__, __LINE__);
  }
  CHECK(c, registered(scene.traces.keptRegistration));
}

// Installs a version from its package and leaves behind what the running
// product makes.
bool installInUse(Case& c, const Scene& scene, const std::string& package, const std::string& logPath) {
  const DWORD code = msiexec(install(package), logPath);
  c.equal(code, 0ul, "installing " + package, __FILE__, __LINE__);
  return code == 0 && authoring::leaveProductTraces(scene.traces);
}

struct VerbosityCase {
  const char* name;
  std::optional<std::string> policy;
  std::string properties;  // added to both msiexec command lines
  bool verbose;
};

void runVerbosity(Case& c, const VerbosityCase& one) {
  SETUP_OK(c, icacls::installed());
  const Scene scene(c);
  const ProductRelease& release = authoring::release1();
  const std::optional<std::string> package = writePackage(c, scene, release, {});
  SETUP_OK(c, package);
  if (one.policy) {
    SETUP_OK(c, machine::createKey(kPolicyKey) && machine::setString(kPolicyKey, "Logging", *one.policy));
  }

  CHECK_EQ(c, msiexec(install(*package), scene.log("install"), one.properties), 0ul);
  checkInstalled(c, scene, release);
  checkLogLines(c, scene.log("install"), keepingLines(scene, release, true), one.verbose, "install");
  CHECK_EQ(c, machine::atomExists(kVerboseAtom), one.verbose);
  CHECK_EQ(c, machine::atomExists(kNotVerboseAtom), !one.verbose);

  SETUP_OK(c, authoring::leaveProductTraces(scene.traces));
  const std::vector<std::string> enumerated = machine::valueNames(kFoldersKey);
  CHECK_EQ(c, msiexec(uninstall(release), scene.log("uninstall"), one.properties), 0ul);
  checkUninstalled(c, scene, release);
  checkLogLines(c, scene.log("uninstall"), uninstallLines(scene, enumerated, one.verbose), one.verbose, "uninstall");
  checkNoToolStarted(c);
}

// A repair restores a deleted file and gives the grant again; a change adds
// the samples feature and takes it away. Neither touches what the running
// product made, and no removal runs in them.
void runRepairAndChange(Case& c) {
  SETUP_OK(c, icacls::installed());
  const Scene scene(c);
  const ProductRelease& release = authoring::release1();
  const std::optional<std::string> package = writePackage(c, scene, release, {});
  SETUP_OK(c, package && installInUse(c, scene, *package, scene.log("install")));
  const std::string deleted = scene.layout.files(release).front().path;
  SETUP_OK(c, DeleteFileA(deleted.c_str()));

  const std::string samples = authoring::kSamplesFeature;
  const struct {
    const char* name;
    std::string properties;
    bool withSamples;  // afterwards
    bool granted;
  } runs[] = {
      // What msiexec /fa sets; the engine's msiexec /f takes no product code.
      {"repair", " REINSTALL=ALL REINSTALLMODE=a", false, true},
      {"adding-samples", " ADDLOCAL=" + samples, true, false},
      {"removing-samples", " REMOVE=" + samples, false, false},
  };
  for (const auto& run : runs) {
    CHECK_EQ(c, msiexec("/i " + release.productCode, scene.log(run.name), run.properties), 0ul);
    checkInstalled(c, scene, release, run.withSamples);
    checkTraces(c, scene, true);
    checkLogLines(c, scene.log(run.name), keepingLines(scene, release, run.granted), false, run.name);
  }
  CHECK_EQ(c, msiexec(uninstall(release), scene.log("uninstall")), 0ul);
  checkUninstalled(c, scene, release);
  checkNoToolStarted(c);
}

// What 1.0's removal inside the upgrade leaves.
enum class UpgradeOutcome {
  // 2.0 whole, with the cache and the registrations: no removal ran.
  Kept,
  // 2.0 whole, but the removals ran before it was installed and took the
  // cache, the registrations and the then empty manufacturer folder.
  RemovedBeforeInstallation,
  // The removals ran after 2.0 was installed: the SDK folder went with 2.0's
  // files, and so did the registrations and the manufacturer folder.
  SdkFolderTaken,
};

struct UpgradeCase {
  const char* name;
  RemovalAuthoring authoring;  // of both versions
  UpgradeOutcome outcome;
};

// 1.0 installed and in use, then 2.0's installation upgrades it; 2.0 is then
// uninstalled as a product of its own.
void runUpgrade(Case& c, const UpgradeCase& one) {
  SETUP_OK(c, icacls::installed());
  const Scene scene(c);
  const ProductRelease& old = authoring::release1();
  const ProductRelease& next = authoring::release2();
  const std::optional<std::string> oldPackage = writePackage(c, scene, old, one.authoring);
  const std::optional<std::string> nextPackage = writePackage(c, scene, next, one.authoring);
  SETUP_OK(c, oldPackage && nextPackage && installInUse(c, scene, *oldPackage, scene.log("install")));

  CHECK_EQ(c, msiexec(install(*nextPackage), scene.log("upgrade")), 0ul);
  c.expect(!machine::productInstalled(old.productCode), "1.0 removed by the upgrade", __FILE__, __LINE__);
  CHECK(c, !machine::keyExists(uninstallKey(old)));
  // The new version's own run: the grant (it is its first installation)
  // and the size.
  checkLogLines(c, scene.log("upgrade"), keepingLines(scene, next, true), false, "upgrade");
  if (one.outcome == UpgradeOutcome::SdkFolderTaken) {
    c.expect(machine::productInstalled(next.productCode), "2.0 registered", __FILE__, __LINE__);
    CHECK(c, !machine::exists(scene.layout.manufacturerFolder));
  } else {
    checkInstalled(c, scene, next);
  }
  checkTraces(c, scene, one.outcome == UpgradeOutcome::Kept);

  CHECK_EQ(c, msiexec(uninstall(next), scene.log("uninstall")), 0ul);
  checkUninstalled(c, scene, next);
  checkNoToolStarted(c);
}

// An installation that fails after the grant and every other action: the
// Installer takes back what it did itself, the grant stays given. The data
// folder already holds a user's file, so that it outlives the rollback.
void runFailedInstallation(Case& c) {
  SETUP_OK(c, icacls::installed());
  const Scene scene(c);
  const ProductRelease& release = authoring::release1();
  const std::optional<std::string> package = writePackage(c, scene, release, {});
  const std::string userFile = scene.layout.dataFolder + "\\user.ini";
  SETUP_OK(c, package && machine::createFolders(scene.layout.dataFolder) && machine::writeFile(userFile, "[user]\r\n"));

  // The engine's msiexec answers 1627 when a program that a custom action
  // runs fails (Windows: 1603).
  CHECK_EQ(
      c,
      msiexec(install(*package), scene.log("install"), std::string(" ") + authoring::kFailInstallationProperty + "=1"),
      static_cast<DWORD>(ERROR_FUNCTION_FAILED));
  // Both actions ran before the failure, the grant on the user's file too.
  checkLogLines(c, scene.log("install"), keepingLines(scene, release, true, 1), false, "failed install");
  checkNoToolStarted(c);
  // The rollback: no product, no Uninstall entry, none of its files.
  CHECK(c, !machine::productInstalled(release.productCode));
  CHECK(c, !machine::keyExists(uninstallKey(release)));
  for (const authoring::InstalledFile& file : scene.layout.files(release)) {
    c.expect(!machine::exists(file.path), "rolled back " + file.path, __FILE__, __LINE__);
  }
  CHECK(c, !machine::exists(scene.layout.manufacturerFolder));
  CHECK(c, machine::readFile(userFile) == std::optional<std::string>("[user]\r\n"));
  machine::removeTree(scene.layout.dataManufacturerFolder);
}

// An uninstallation whose RemoveFolder meets a cache file held open without
// delete sharing: the file cannot be opened for its deletion.
struct LockedFileCase {
  const char* name;
  bool silent;  // msiexec /qn: no one answers the prompt
  int answer;   // otherwise the runner answers it
  bool releaseOnPrompt;
  UINT code;
};

// The uninstallation with the file held: through msiexec /qn, or driven by
// the runner so that its message handler receives the 1306 prompt.
UINT uninstallHoldingFile(const LockedFileCase& one, const ProductRelease& release, const std::string& logPath,
                          const std::shared_ptr<FileLock>& lock, std::vector<Message>& messages) {
  if (one.silent) {
    return msiexec(uninstall(release), logPath);
  }
  MessageCapture capture;
  capture.scriptPromptAnswers({one.answer});
  if (one.releaseOnPrompt) {
    capture.onPrompt([lock](const Message&) { lock->release(); });
  }
  const UINT code = MsiConfigureProductExA(release.productCode.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT, "");
  messages = capture.messages();
  return code;
}

void runLockedFileUninstall(Case& c, const LockedFileCase& one) {
  SETUP_OK(c, icacls::installed());
  const Scene scene(c);
  const ProductRelease& release = authoring::release1();
  const std::optional<std::string> package = writePackage(c, scene, release, {});
  SETUP_OK(c, package && installInUse(c, scene, *package, scene.log("install")));
  const std::string held = scene.traces.cacheFiles.front();
  auto lock = std::make_shared<FileLock>(held);
  SETUP_OK(c, lock->held());

  std::vector<Message> messages;
  const std::string logPath = scene.log("uninstall");
  const UINT code = uninstallHoldingFile(one, release, logPath, lock, messages);
  const bool heldFileKept = machine::exists(held);
  lock->release();

  CHECK_EQ(c, code, one.code);
  // Under /qn the engine answers the prompt itself.
  const int answer = one.silent ? 0 : one.answer;
  std::vector<std::string> expected;
  for (const std::string& text : removeFolderLines(scene)) {
    expected.push_back(line("RemoveFolder", text));
  }
  expected.push_back(errorLine("RemoveFolder", 0x80070020, "Failed to open '" + held + "'"));
  expected.push_back(line("RemoveFolder", "Selected Dialog Box Command IDs = " + std::to_string(answer)));
  if (one.code == kFailure) {
    // The sharing violation (32) as a Result, under the line log readers know.
    expected.push_back(errorLine("RemoveFolder", 0x80070020, "SHFileOperation failed"));
  }
  if (one.silent) {
    CHECK_LINES(c, authoring::actionLinesInLog(machine::readFile(logPath).value_or(""), {"RemoveFolder"}), expected);
  } else {
    CHECK_LINES(c, actionLines(messages, "RemoveFolder"), expected);
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
  }

  if (one.code == kSuccess) {
    checkUninstalled(c, scene, release);
  } else {
    // The uninstallation stopped at RemoveFolder: the product stays
    // installed and registered, and neither later action ran.
    CHECK(c, heldFileKept);
    const std::string log = one.silent ? machine::readFile(logPath).value_or("") : "";
    for (const char* later : {"RemoveRegistries", "RemoveManufacturerFolder"}) {
      const bool ran =
          one.silent ? !authoring::actionLinesInLog(log, {later}).empty() : !actionLines(messages, later).empty();
      c.expect(!ran, std::string(later) + " did not run", __FILE__, __LINE__);
    }
    CHECK(c, machine::productInstalled(release.productCode));
    CHECK(c, machine::keyExists(uninstallKey(release)));
    for (const std::string& name : scene.traces.registrations) {
      c.expect(registered(name), "still registered " + name, __FILE__, __LINE__);
    }
    CHECK(c, machine::exists(scene.layout.manufacturerFolder));
    // Once the file is released, the product can still be uninstalled.
    CHECK_EQ(c, msiexec(uninstall(release), scene.log("uninstall-again")), 0ul);
    checkUninstalled(c, scene, release);
  }
  checkNoToolStarted(c);
}

// Quorvel Notebook, as notebook_product/build.sh makes its releases from the
// package's table files: an install folder and a data folder, each removed
// by its own instance of the three removals, whose folder arguments are
// folder properties and so end in a backslash.
constexpr const char* kNotebookManufacturer = "Quorvel Works";
constexpr const char* kNotebookName = "Quorvel Notebook";
// build.sh's releases: 2.0.0 removes 1.0.0 early, 3.0.0 removes 2.0.0 late.
constexpr const char* kNotebookVersions[] = {"1.0.0", "2.0.0", "3.0.0"};

// How a release's package is made from its filled tables.
enum class TableImport { Msibuild, MsiDatabaseImport };

struct NotebookRelease {
  std::string version;
  std::string folder;  // build.sh's: the tables, the package and its source image
  std::string package;
  std::string productCode;
};

// The package that msibuild made, or one that the Installer's own
// MsiDatabaseImportW makes here from the same tables, beside the same source
// image.
std::optional<NotebookRelease> notebookRelease(Case& c, const std::string& version, TableImport import) {
  NotebookRelease release{version, environment().notebookFolder + "\\" + version, "", ""};
  release.package = release.folder + (import == TableImport::Msibuild ? "\\notebook.msi" : "\\imported.msi");
  std::string error;
  if (import == TableImport::MsiDatabaseImport &&
      !authoring::importTables(release.package, release.folder + "\\tables", error)) {
    c.setupFailed(error, __FILE__, __LINE__);
    return std::nullopt;
  }
  release.productCode = authoring::packageProperty(release.package, "ProductCode");
  if (release.productCode.empty()) {
    c.setupFailed("no ProductCode in " + release.package, __FILE__, __LINE__);
    return std::nullopt;
  }
  return release;
}

// The running notebook keeps a cache in its install folder and the users'
// notes in its data folder, and registers both folders and those below them.
// A folder beside the install folder stays registered: the trailing
// backslash of the folder property ends RemoveRegistries' prefix there.
Product notebook(const std::vector<NotebookRelease>& releases) {
  Product product{authoring::productLayout(kNotebookManufacturer, kNotebookName), {}, {}};
  const std::string& install = product.layout.sdkFolder;
  const std::string& data = product.layout.dataFolder;
  authoring::ProductTraces& traces = product.traces;
  traces.cacheFolder = install + "\\Cache";
  traces.cacheFiles = {traces.cacheFolder + "\\index.db", data + "\\notes\\note-1.txt"};
  traces.registrations = {install + "\\", traces.cacheFolder + "\\", data + "\\", data + "\\notes\\"};
  traces.keptRegistration = install + " Extras\\";
  for (const NotebookRelease& release : releases) {
    product.productCodes.push_back(release.productCode);
  }
  return product;
}

// A run that keeps the product: the grant over the data folder's tree, the
// size of the running release's own entry, no removal.
RunLines notebookKeepingLines(const Scene& scene, const NotebookRelease& release, int folders, int files) {
  return {
      {"ChangeQuorvelFolderPermission", grantLines(scene.layout.dataFolder, folders, files)},
      {"EditEstimatedSize", {"Initialized.", kUninstallKey + release.productCode}},
      {"RemoveFolder", {}},
      {"RemoveRegistries", {}},
      {"RemoveManufacturerFolder", {}},
  };
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Each removal twice, the install folder's instance first.
RunLines notebookUninstallLines(const Scene& scene, const std::vector<std::string>& enumerated) {
  const authoring::ProductLayout& layout = scene.layout;
  const std::string install = layout.sdkFolder + "\\";
  const std::string data = layout.dataFolder + "\\";
  return {
      {"ChangeQuorvelFolderPermission", {}},
      {"EditEstimatedSize", {}},
      {"RemoveFolder", joined(removeFolderLines(install, kNotebookName),
                              removeFolderLines(data, std::string(kNotebookName) + " data"))},
      {"RemoveRegistries", joined(removeRegistriesLines(scene, install, enumerated, false),
                                  removeRegistriesLines(scene, data, enumerated, false))},
      {"RemoveManufacturerFolder", joined(removeManufacturerFolderLines(layout.manufacturerFolder),
                                          removeManufacturerFolderLines(layout.dataManufacturerFolder))},
  };
}

// Only this release installed, its files with the content of its source image.
void checkNotebookInstalled(Case& c, const Scene& scene, const std::vector<NotebookRelease>& releases,
                            const NotebookRelease& installed) {
  for (const NotebookRelease& release : releases) {
    const bool wanted = release.productCode == installed.productCode;
    c.expect(machine::productInstalled(release.productCode) == wanted,
             release.version + (wanted ? " installed" : " not installed"), __FILE__, __LINE__);
  }
  const std::string source = installed.folder + "\\";
  const std::string sourceFolder = std::string(kNotebookManufacturer) + "\\" + kNotebookName + "\\";
  const std::pair<std::string, std::string> files[] = {
      {scene.layout.sdkFolder + "\\notebook.txt", source + "PFiles64\\" + sourceFolder + "notebook.txt"},
      {scene.layout.dataFolder + "\\settings.ini", source + "CAppData\\" + sourceFolder + "settings.ini"},
  };
  for (const auto& [path, sourcePath] : files) {
    const std::optional<std::string> content = machine::readFile(path);
    c.expect(content && content == machine::readFile(sourcePath), "installed as " + sourcePath + ": " + path, __FILE__,
             __LINE__);
  }
}

void runKeepingNotebook(Case& c, const Scene& scene, const std::vector<NotebookRelease>& releases,
                        const std::string& run, const std::string& arguments, const NotebookRelease& release,
                        int grantedFolders, int grantedFiles) {
  CHECK_EQ(c, msiexec(arguments, scene.log(run)), 0ul);
  checkLogLines(c, scene.log(run), notebookKeepingLines(scene, release, grantedFolders, grantedFiles), false, run);
  checkNotebookInstalled(c, scene, releases, release);
}

// Installation, then the notebook in use and its program file lost, a
// repair, the two upgrades and the uninstallation, which takes the folders,
// what the running notebook made and its registrations, for good.
void runNotebook(Case& c, TableImport import) {
  SETUP_OK(c, icacls::installed() && !environment().notebookFolder.empty());
  std::vector<NotebookRelease> releases;
  for (const char* version : kNotebookVersions) {
    const std::optional<NotebookRelease> release = notebookRelease(c, version, import);
    SETUP_OK(c, release);
    releases.push_back(*release);
  }
  const Scene scene(c, notebook(releases));
  const NotebookRelease& first = releases.front();

  runKeepingNotebook(c, scene, releases, "install", install(first.package), first, 1, 1);
  const std::string program = scene.layout.sdkFolder + "\\notebook.txt";
  SETUP_OK(c, authoring::leaveProductTraces(scene.traces) && DeleteFileA(program.c_str()));
  runKeepingNotebook(c, scene, releases, "repair", "/i " + first.productCode + " REINSTALL=ALL REINSTALLMODE=a", first,
                     2, 2);
  checkTraces(c, scene, true);
  for (std::size_t next = 1; next < releases.size(); ++next) {
    runKeepingNotebook(c, scene, releases, "upgrade-to-" + releases[next].version, install(releases[next].package),
                       releases[next], 2, 2);
    checkTraces(c, scene, true);
  }

  const std::vector<std::string> enumerated = machine::valueNames(kFoldersKey);
  CHECK_EQ(c, msiexec("/x " + releases.back().productCode, scene.log("uninstall")), 0ul);
  checkLogLines(c, scene.log("uninstall"), notebookUninstallLines(scene, enumerated), false, "uninstall");
  for (const NotebookRelease& release : releases) {
    c.expect(!machine::productInstalled(release.productCode), "uninstalled " + release.version, __FILE__, __LINE__);
  }
  for (const std::string& folder : {scene.layout.manufacturerFolder, scene.layout.dataManufacturerFolder}) {
    c.expect(!machine::exists(folder), "gone " + folder, __FILE__, __LINE__);
  }
  checkTraces(c, scene, false);
  CHECK(c, !machine::exists(environment().trashFolder + "\\files\\" + kNotebookName));
  checkNoToolStarted(c);
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
    suite.add("lifecycle", one.name, "RemoveManufacturerFolder", [one](Case& c) { runVerbosity(c, one); });
  }
  suite.add("lifecycle", "repair restores a file and grants again, a change adds and removes a feature",
            "RemoveManufacturerFolder", runRepairAndChange);
  const UpgradeCase upgrades[] = {
      {"major upgrade, 1.0 removed early as Windows removes it: 2.0 whole, cache and registrations kept",
       {OldVersionsRemoval::Early, kRemovalAsWindowsRunsItOnWine, false},
       UpgradeOutcome::Kept},
      {"major upgrade, 1.0 removed late as Windows removes it: 2.0 whole, cache and registrations kept",
       {OldVersionsRemoval::Late, kRemovalAsWindowsRunsItOnWine, false},
       UpgradeOutcome::Kept},
      // The engine's own removal of 1.0 lacks UPGRADINGPRODUCTCODE, so the
      // removals run in it, as they do on Windows with the rows of old.
      {"major upgrade, 1.0 removed early as this engine removes it: the removals run before 2.0 is installed",
       {OldVersionsRemoval::Early, "", false},
       UpgradeOutcome::RemovedBeforeInstallation},
      {"major upgrade, 1.0 removed late as this engine removes it: the removals take 2.0's folder",
       {OldVersionsRemoval::Late, "", false},
       UpgradeOutcome::SdkFolderTaken},
      {"major upgrade, 1.0 removed late as Windows removes it, rows on REMOVE~=\"ALL\" alone: 2.0's folder taken",
       {OldVersionsRemoval::Late, kRemovalAsWindowsRunsItOnWine, true},
       UpgradeOutcome::SdkFolderTaken},
  };
  for (const UpgradeCase& one : upgrades) {
    suite.add("lifecycle", one.name, "RemoveManufacturerFolder", [one](Case& c) { runUpgrade(c, one); });
  }
  suite.add("lifecycle", "a failed installation is rolled back and leaves the grant given", "RemoveManufacturerFolder",
            runFailedInstallation);
  const LockedFileCase lockedFiles[] = {
      {"uninstall meeting a locked cache file, answered with Cancel, fails with 1603 and keeps the product", false,
       IDCANCEL, false, kFailure},
      {"uninstall meeting a locked cache file, answered with Retry once it is released, completes", false, IDRETRY,
       true, kSuccess},
      {"silent uninstall (/qn) meeting a locked cache file fails with 1603 after one attempt and keeps the product",
       true, 0, false, kFailure},
  };
  for (const LockedFileCase& one : lockedFiles) {
    suite.add("lifecycle", one.name, "RemoveFolder", [one](Case& c) { runLockedFileUninstall(c, one); });
  }
  const struct {
    const char* name;
    TableImport import;
  } notebooks[] = {
      {"Quorvel Notebook from the package's tables built with msibuild: install to uninstall", TableImport::Msibuild},
      {"Quorvel Notebook from the package's tables imported with MsiDatabaseImport: install to uninstall",
       TableImport::MsiDatabaseImport},
  };
  for (const auto& one : notebooks) {
    const TableImport import = one.import;
    suite.add("lifecycle", one.name, "RemoveManufacturerFolder", [import](Case& c) { runNotebook(c, import); });
  }
}

}  // namespace quorvel::engine
