#include "installation_package.hpp"

#include "machine.hpp"
#include "package_builder.hpp"

#include <cctype>
#include <map>
#include <set>

namespace quorvel::authoring {

namespace {

// The standard actions of an installation that finds and removes older
// versions, lays down and removes files and registers the product, at their
// customary sequence numbers.
const struct {
  const char* action;
  int sequence;
} kStandardActions[] = {
    {"FindRelatedProducts", 200},   {"CostInitialize", 800},   {"FileCost", 900},           {"CostFinalize", 1000},
    {"MigrateFeatureStates", 1200}, {"InstallValidate", 1400}, {"InstallInitialize", 1500}, {"ProcessComponents", 1600},
    {"UnpublishFeatures", 1800},    {"RemoveFiles", 3500},     {"RemoveFolders", 3600},     {"CreateFolders", 3700},
    {"InstallFiles", 4000},         {"RegisterUser", 6000},    {"RegisterProduct", 6100},   {"PublishFeatures", 6300},
    {"PublishProduct", 6400},       {"InstallFinalize", 6600},
};

// The property that FindRelatedProducts sets to the older versions it finds.
constexpr const char* kOlderVersionsProperty = "QUORVEL_OLDER_VERSIONS";

// RemoveExistingProducts: between InstallValidate and InstallInitialize, or
// after InstallFinalize.
constexpr int kEarlyOldVersionsRemoval = 1450;
constexpr int kLateOldVersionsRemoval = 6650;

// Registry values are removed at the customary place and written right
// after RegisterProduct (not at the customary 5000), so that they land in the
// product's registration instead of being overwritten by it.
constexpr int kRemoveRegistryValues = 2600;
constexpr int kWriteRegistryValuesAfterRegistration = 6105;

constexpr int kComponent64Bit = 256;
constexpr int kComponentRegistryKeyPath = 4;
constexpr int kLocalMachine = 2;
constexpr int kLongNamesUncompressed = 0;

bool isShortName(const std::string& name) {
  const std::size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3 || extension.find('.') != std::string::npos) {
    return false;
  }
  for (const char ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '.' && ch != '_' && ch != '-' && ch != '~') {
      return false;
    }
  }
  return true;
}

// Up to `length` letters and digits of text, in upper case.
std::string shortPart(const std::string& text, std::size_t length) {
  std::string part;
  for (const char ch : text) {
    if (std::isalnum(static_cast<unsigned char>(ch)) && part.size() < length) {
      part += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
  }
  return part;
}

// The Filename column: "SHORT~n.EXT|long name" where the long name is not a
// valid short one. `taken` holds the short names already used beside it.
std::string filenameColumn(const std::string& name, std::set<std::string>& taken) {
  if (isShortName(name)) {
    taken.insert(name);
    return name;
  }
  const std::size_t dot = name.rfind('.');
  const std::string base = shortPart(name.substr(0, dot), 6);
  const std::string extension = dot == std::string::npos ? "" : shortPart(name.substr(dot + 1), 3);
  for (int index = 1;; ++index) {
    const std::string candidate = base + "~" + std::to_string(index) + (extension.empty() ? "" : "." + extension);
    if (taken.insert(candidate).second) {
      return candidate + "|" + name;
    }
  }
}

// Where each folder's files lie in the source image, relative to the
// package's own folder: the chain of folder names below TARGETDIR.
std::map<std::string, std::string> sourcePaths(const std::vector<PackageFolder>& folders) {
  std::map<std::string, std::string> paths = {{"TARGETDIR", ""}};
  for (const PackageFolder& folder : folders) {
    const std::string& parent = paths[folder.parent];
    paths[folder.id] = parent.empty() ? folder.name : parent + "\\" + folder.name;
  }
  return paths;
}

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

void addFolders(PackageBuilder& db, const InstallationPackage& package) {
  db.insert("Directory", {{"Directory", Field::text("TARGETDIR")},
                          {"Directory_Parent", Field::null()},
                          {"DefaultDir", Field::text("SourceDir")}});
  std::map<std::string, std::set<std::string>> takenByParent;
  for (const PackageFolder& folder : package.folders) {
    db.insert("Directory", {{"Directory", Field::text(folder.id)},
                            {"Directory_Parent", Field::text(folder.parent)},
                            {"DefaultDir", Field::text(filenameColumn(folder.name, takenByParent[folder.parent]))}});
  }
}

struct ComponentRow {
  std::string name;
  std::string place;  // where its resource lies: what fixes its code
  std::string folder;
  int attributes;
  std::string keyPath;
  std::string feature;
};

// A component whose code the product family and its place fix, so that every
// build and version that installs the resource there shares it.
bool addComponent(PackageBuilder& db, const InstallationPackage& package, const ComponentRow& row, std::string& error) {
  const std::string code = stableGuid(package.upgradeCode, row.place);
  if (code.empty()) {
    error = "hashing the component code of " + row.place + " failed";
    return false;
  }
  db.insert("Component", {{"Component", Field::text(row.name)},
                          {"ComponentId", Field::text(code)},
                          {"Directory_", Field::text(row.folder)},
                          {"Attributes", Field::integer(row.attributes)},
                          {"Condition", Field::null()},
                          {"KeyPath", Field::text(row.keyPath)}});
  db.insert("FeatureComponents", {{"Feature_", Field::text(row.feature)}, {"Component_", Field::text(row.name)}});
  return true;
}

void addFeatures(PackageBuilder& db, const InstallationPackage& package) {
  for (const PackageFeature& feature : package.features) {
    db.insert("Feature", {{"Feature", Field::text(feature.id)},
                          {"Feature_Parent", Field::null()},
                          {"Title", Field::text(feature.title)},
                          {"Description", Field::null()},
                          {"Display", Field::integer(1)},
                          {"Level", Field::integer(feature.level)},
                          {"Directory_", Field::null()},
                          {"Attributes", Field::integer(0)}});
  }
}

bool addFiles(PackageBuilder& db, const InstallationPackage& package, const std::string& sourceRoot,
              std::string& error) {
  const std::map<std::string, std::string> sources = sourcePaths(package.folders);
  std::map<std::string, std::set<std::string>> takenByFolder;
  int sequence = 0;
  for (const PackageFile& file : package.files) {
    ++sequence;
    const std::string key = "File" + std::to_string(sequence);
    const std::string component = "Component" + std::to_string(sequence);
    if (!addComponent(db, package,
                      {component, "[" + file.folder + "]" + file.name, file.folder, kComponent64Bit, key, file.feature},
                      error)) {
      return false;
    }
    db.insert("File", {{"File", Field::text(key)},
                       {"Component_", Field::text(component)},
                       {"FileName", Field::text(filenameColumn(file.name, takenByFolder[file.folder]))},
                       {"FileSize", Field::integer(static_cast<int>(file.content.size()))},
                       {"Version", Field::null()},
                       {"Language", Field::null()},
                       {"Attributes", Field::integer(0)},
                       {"Sequence", Field::integer(sequence)}});
    const auto source = sources.find(file.folder);
    const std::string path = sourceRoot + "\\" + (source != sources.end() ? source->second + "\\" : "") + file.name;
    if (!machine::createFolders(folderOf(path)) || !machine::writeFile(path, file.content)) {
      error = "writing the source file " + path + " failed";
      return false;
    }
  }
  db.insert("Media", {{"DiskId", Field::integer(1)},
                      {"LastSequence", Field::integer(sequence)},
                      {"DiskPrompt", Field::null()},
                      {"Cabinet", Field::null()},
                      {"VolumeLabel", Field::null()},
                      {"Source", Field::null()}});
  return db.ok();
}

bool addRegistrationValues(PackageBuilder& db, const InstallationPackage& package, std::string& error) {
  if (package.registrationValues.empty()) {
    return true;
  }
  // The values belong to one product's registration, so each product code
  // has a component of its own.
  const std::string component = "Registration";
  if (!addComponent(db, package,
                    {component, "registration of " + package.productCode, "TARGETDIR",
                     kComponent64Bit | kComponentRegistryKeyPath, component + "1", package.features.front().id},
                    error)) {
    return false;
  }
  int index = 0;
  for (const RegistrationValue& value : package.registrationValues) {
    db.insert("Registry", {{"Registry", Field::text(component + std::to_string(++index))},
                           {"Root", Field::integer(kLocalMachine)},
                           {"Key", Field::text(value.key)},
                           {"Name", Field::text(value.name)},
                           {"Value", Field::text(value.value)},
                           {"Component_", Field::text(component)}});
  }
  db.executeSequence("RemoveRegistryValues", "", kRemoveRegistryValues);
  db.executeSequence("WriteRegistryValues", "", kWriteRegistryValuesAfterRegistration);
  return true;
}

// Every version finds the older ones of its family (same UpgradeCode, a
// lower ProductVersion) and removes them.
void addMajorUpgrade(PackageBuilder& db, const InstallationPackage& package) {
  db.insert("Upgrade", {{"UpgradeCode", Field::text(package.upgradeCode)},
                        {"VersionMin", Field::null()},
                        {"VersionMax", Field::text(package.productVersion)},
                        {"Language", Field::null()},
                        {"Attributes", Field::integer(0)},
                        {"Remove", Field::text(package.oldVersionsRemovalFeatures)},
                        {"ActionProperty", Field::text(kOlderVersionsProperty)}});
  db.executeSequence(
      "RemoveExistingProducts", "",
      package.oldVersionsRemoval == OldVersionsRemoval::Early ? kEarlyOldVersionsRemoval : kLateOldVersionsRemoval);
}

// The public properties that the server-side sequence reads: a per-machine
// installation passes only these from its client side.
std::string secureProperties(const InstallationPackage& package) {
  std::string names = kOlderVersionsProperty;
  for (const std::string& name : package.secureProperties) {
    names += ";" + name;
  }
  return names;
}

void addSteps(PackageBuilder& db, const InstallationPackage& package) {
  for (const auto& standard : kStandardActions) {
    db.executeSequence(standard.action, "", standard.sequence);
  }
  for (const DeferredStep& step : package.steps) {
    // The deferred action reads the property named after it as its
    // CustomActionData.
    const std::string setter = "Set" + step.action;
    db.customAction(setter, kSetProperty, step.action, step.customActionData);
    db.customAction(step.action, kDeferredDllNoImpersonate, "QuorvelCustomActions", step.action);
    db.executeSequence(setter, step.condition, step.sequence - 1);
    db.executeSequence(step.action, step.condition, step.sequence);
  }
  for (const DeferredCommand& command : package.commands) {
    db.customAction(command.name, kDeferredCommandNoImpersonate, command.folder, command.commandLine);
    db.executeSequence(command.name, command.condition, command.sequence);
  }
}

}  // namespace

bool buildInstallationPackage(const std::string& path, const InstallationPackage& package, std::string& error) {
  if (package.features.empty()) {
    error = "the package has no feature";
    return false;
  }
  PackageBuilder db(path);
  for (const char* sql :
       {kPropertyTableSql, kBinaryTableSql, kCustomActionTableSql, kErrorTableSql, kInstallExecuteSequenceTableSql,
        kDirectoryTableSql, kFeatureTableSql, kComponentTableSql, kFeatureComponentsTableSql, kFileTableSql,
        kMediaTableSql, kRegistryTableSql, kUpgradeTableSql}) {
    db.execute(sql);
  }
  db.property("ProductCode", package.productCode);
  db.property("UpgradeCode", package.upgradeCode);
  db.property("ProductName", package.productName);
  db.property("Manufacturer", package.manufacturer);
  db.property("ProductVersion", package.productVersion);
  db.property("ProductLanguage", "1033");
  db.property("ALLUSERS", "1");
  db.property("SecureCustomProperties", secureProperties(package));
  addFeatures(db, package);
  db.binary("QuorvelCustomActions", package.dllPath);
  if (!package.retryPromptText.empty()) {
    db.errorMessage(1306, package.retryPromptText);
  }
  addFolders(db, package);
  if (db.ok() && !addFiles(db, package, folderOf(path), error)) {
    return false;
  }
  if (db.ok() && !addRegistrationValues(db, package, error)) {
    return false;
  }
  addMajorUpgrade(db, package);
  addSteps(db, package);

  SummaryInfo summary;
  summary.subject = package.productName;
  summary.author = package.manufacturer;
  summary.packageCode = newGuid();
  summary.sourceFlags = kLongNamesUncompressed;
  db.summary(summary);
  db.commit();
  error = db.error();
  return db.ok();
}

}  // namespace quorvel::authoring
