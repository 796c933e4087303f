#include "installation_package.hpp"

#include "machine.hpp"
#include "package_builder.hpp"

#include <cctype>
#include <map>
#include <set>

namespace quorvel::authoring {

namespace {

// The standard actions of an installation that lays down and removes files
// and registers the product, at their customary sequence numbers.
const struct {
  const char* action;
  int sequence;
} kStandardActions[] = {
    {"CostInitialize", 800},     {"FileCost", 900},           {"CostFinalize", 1000},      {"InstallValidate", 1400},
    {"InstallInitialize", 1500}, {"ProcessComponents", 1600}, {"UnpublishFeatures", 1800}, {"RemoveFiles", 3500},
    {"RemoveFolders", 3600},     {"CreateFolders", 3700},     {"InstallFiles", 4000},      {"RegisterUser", 6000},
    {"RegisterProduct", 6100},   {"PublishFeatures", 6300},   {"PublishProduct", 6400},    {"InstallFinalize", 6600},
};

// Registry values are removed at the customary place and written right
// after RegisterProduct (not at the customary 5000), so that they land in the
// product's registration instead of being overwritten by it.
constexpr int kRemoveRegistryValues = 2600;
constexpr int kWriteRegistryValuesAfterRegistration = 6105;

constexpr const char* kFeature = "Main";
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

// A component of the one feature, with a fresh component code.
void addComponent(PackageBuilder& db, const std::string& component, const std::string& folder, int attributes,
                  const std::string& keyPath) {
  db.insert("Component", {{"Component", Field::text(component)},
                          {"ComponentId", Field::text(newGuid())},
                          {"Directory_", Field::text(folder)},
                          {"Attributes", Field::integer(attributes)},
                          {"Condition", Field::null()},
                          {"KeyPath", Field::text(keyPath)}});
  db.insert("FeatureComponents", {{"Feature_", Field::text(kFeature)}, {"Component_", Field::text(component)}});
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
    addComponent(db, component, file.folder, kComponent64Bit, key);
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

void addRegistrationValues(PackageBuilder& db, const InstallationPackage& package) {
  if (package.registrationValues.empty()) {
    return;
  }
  const std::string component = "Registration";
  addComponent(db, component, "TARGETDIR", kComponent64Bit | kComponentRegistryKeyPath, component + "1");
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
}

}  // namespace

bool buildInstallationPackage(const std::string& path, const InstallationPackage& package, std::string& error) {
  PackageBuilder db(path);
  for (const char* sql : {kPropertyTableSql, kBinaryTableSql, kCustomActionTableSql, kErrorTableSql,
                          kInstallExecuteSequenceTableSql, kDirectoryTableSql, kFeatureTableSql, kComponentTableSql,
                          kFeatureComponentsTableSql, kFileTableSql, kMediaTableSql, kRegistryTableSql}) {
    db.execute(sql);
  }
  db.property("ProductCode", package.productCode);
  db.property("UpgradeCode", package.upgradeCode);
  db.property("ProductName", package.productName);
  db.property("Manufacturer", package.manufacturer);
  db.property("ProductVersion", package.productVersion);
  db.property("ProductLanguage", "1033");
  db.property("ALLUSERS", "1");
  db.insert("Feature", {{"Feature", Field::text(kFeature)},
                        {"Feature_Parent", Field::null()},
                        {"Title", Field::text(package.productName)},
                        {"Description", Field::null()},
                        {"Display", Field::integer(1)},
                        {"Level", Field::integer(1)},
                        {"Directory_", Field::null()},
                        {"Attributes", Field::integer(0)}});
  db.binary("QuorvelCustomActions", package.dllPath);
  if (!package.retryPromptText.empty()) {
    db.errorMessage(1306, package.retryPromptText);
  }
  addFolders(db, package);
  if (db.ok() && !addFiles(db, package, folderOf(path), error)) {
    return false;
  }
  addRegistrationValues(db, package);
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
