#include "demonstration_product.hpp"

#include "machine.hpp"

#include <windows.h>

#include <shlobj.h>

#include <iterator>
#include <map>

namespace quorvel::authoring {

namespace {

const PackageFolder kFolders[] = {
    {"ProgramFiles64Folder", "TARGETDIR", "PFiles64"},
    {"MANUFACTURERFOLDER", "ProgramFiles64Folder", kProductManufacturer},
    {"INSTALLFOLDER", "MANUFACTURERFOLDER", kProductName},
    {"BINFOLDER", "INSTALLFOLDER", "bin"},
    {"INCLUDEFOLDER", "INSTALLFOLDER", "include"},
    {"SAMPLESFOLDER", "INSTALLFOLDER", "samples"},
    {"CommonAppDataFolder", "TARGETDIR", "CAppData"},
    {"DATAMANUFACTURERFOLDER", "CommonAppDataFolder", kProductManufacturer},
    {"DATAFOLDER", "DATAMANUFACTURERFOLDER", kProductName},
};

constexpr const char* kUpgradeCode = "{0B7E5C1D-3F2A-4C69-8D4E-6A1B2C3D4E5F}";

// The files both versions install in the same place, and so in the same
// components: the data folder's settings and the samples.
const PackageFile kSettings = {"DATAFOLDER", "settings.ini", "[quorvel]\r\nchannel=stable\r\n", kMainFeature};
const PackageFile kSample = {"SAMPLESFOLDER", "hello.c", "#include <quorvel.h>\nint main(void) { return 0; }\n",
                             kSamplesFeature};

// Version 2.0's files differ in size from 1.0's, so that an engine that
// takes an unversioned file of the same size as already present still
// replaces them, and it adds a file.
const ProductRelease kRelease1 = {
    "1.0.0",
    kDemonstrationProductCode,
    {{"INSTALLFOLDER", "readme.txt", "Quorvel SDK 1.0: the command-line tool is bin\\quorvel.cmd.\r\n", kMainFeature},
     {"BINFOLDER", "quorvel.cmd", "@echo Quorvel SDK 1.0\r\n", kMainFeature},
     {"INCLUDEFOLDER", "quorvel.h", "#define QUORVEL_SDK_VERSION 0x0100\n", kMainFeature},
     kSettings,
     kSample}};
const ProductRelease kRelease2 = {
    "2.0.0",
    "{3C9A7E21-6B4D-4F8E-A1C5-7D2E9B3F6A48}",
    {{"INSTALLFOLDER", "readme.txt",
      "Quorvel SDK 2.0: the command-line tool is bin\\quorvel.cmd; it keeps a cache in Cache.\r\n", kMainFeature},
     {"BINFOLDER", "quorvel.cmd", "@echo Quorvel SDK 2.0 with its cache\r\n", kMainFeature},
     {"INCLUDEFOLDER", "quorvel.h", "#define QUORVEL_SDK_VERSION 0x0200\n#include <quorvel_cache.h>\n", kMainFeature},
     {"INCLUDEFOLDER", "quorvel_cache.h", "#define QUORVEL_CACHE_FOLDER \"Cache\"\n", kMainFeature},
     kSettings,
     kSample}};

std::string withoutBraces(const std::string& guid) { return guid.substr(1, guid.size() - 2); }

std::string shellFolder(int csidl) {
  char path[MAX_PATH] = {0};
  return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : "";
}

}  // namespace

const ProductRelease& release1() { return kRelease1; }
const ProductRelease& release2() { return kRelease2; }

InstallationPackage demonstrationProduct(const std::string& dllPath, const ProductRelease& release,
                                         OldVersionsRemoval removal) {
  InstallationPackage package;
  package.dllPath = dllPath;
  package.productName = kProductName;
  package.manufacturer = kProductManufacturer;
  package.productVersion = release.version;
  package.productCode = release.productCode;
  package.upgradeCode = kUpgradeCode;
  package.retryPromptText = "The files of [2] are in use. Close the programs using them, then choose Retry.";
  package.folders.assign(std::begin(kFolders), std::end(kFolders));
  package.features = {{kMainFeature, kProductName, 1}, {kSamplesFeature, "Samples", 2}};
  package.files = release.files;
  package.oldVersionsRemoval = removal;
  // wine's RegisterProduct writes an EstimatedSize of 0 whatever the files
  // take; a nonzero size stands for the one Windows costs, so that the
  // change EditEstimatedSize makes can be seen.
  package.registrationValues = {
      {std::string(kUninstallKey) + "[ProductCode]", "EstimatedSize", "#" + std::to_string(kCostedEstimatedSize)}};
  // The first installation of a version, and a repair, which restores what
  // the installation set up.
  const std::string installOrRepair = "NOT Installed OR REINSTALL";
  const std::string keeping = "NOT REMOVE~=\"ALL\"";
  package.steps = {
      // The product's own uninstallation: RemoveFiles and RemoveFolders have
      // taken what the package installed, so what is left is what the
      // running product made. The SDK folder goes first, its registrations
      // only once it is gone, and the manufacturer folder is empty only
      // after that. After them the uninstallation only unregisters the
      // product.
      {"RemoveFolder", std::string("[MANUFACTURERFOLDER]") + kProductName + "|" + kProductName, kUninstallingCondition,
       3610},
      {"RemoveRegistries", "[INSTALLFOLDER]", kUninstallingCondition, 3620},
      {"RemoveManufacturerFolder", "[MANUFACTURERFOLDER]", kUninstallingCondition, 3630},
      // The data folder exists once InstallFiles has run.
      {"ChangeQuorvelFolderPermission", "[DATAFOLDER]", installOrRepair, 4010},
      // Every run that keeps the product: RegisterProduct (re)writes the
      // Uninstall entry. Formatted text cannot strip the braces, so the
      // code is written out.
      {"EditEstimatedSize", withoutBraces(release.productCode), keeping, 6110},
  };
  // After every action of the installation, so that its rollback has the
  // most to undo.
  package.commands = {
      {"FailInstallationOnPurpose", "TARGETDIR", "\"[System64Folder]cmd.exe\" /c exit 1", kFailInstallationProperty,
       6590},
  };
  package.secureProperties = {kFailInstallationProperty};
  return package;
}

ProductLayout productLayout(const std::string& manufacturer, const std::string& product) {
  ProductLayout layout;
  layout.manufacturerFolder = shellFolder(CSIDL_PROGRAM_FILES) + "\\" + manufacturer;
  layout.sdkFolder = layout.manufacturerFolder + "\\" + product;
  layout.dataManufacturerFolder = shellFolder(CSIDL_COMMON_APPDATA) + "\\" + manufacturer;
  layout.dataFolder = layout.dataManufacturerFolder + "\\" + product;
  return layout;
}

ProductLayout productLayout() {
  ProductLayout layout = productLayout(kProductManufacturer, kProductName);
  // The standard folders first, then each folder of the package inside its parent.
  layout.paths = {{"ProgramFiles64Folder", shellFolder(CSIDL_PROGRAM_FILES)},
                  {"CommonAppDataFolder", shellFolder(CSIDL_COMMON_APPDATA)}};
  for (const PackageFolder& folder : kFolders) {
    if (layout.paths.count(folder.id) == 0) {
      layout.paths[folder.id] = layout.paths[folder.parent] + "\\" + folder.name;
    }
  }
  return layout;
}

std::vector<InstalledFile> ProductLayout::files(const ProductRelease& release) const {
  std::vector<InstalledFile> installed;
  for (const PackageFile& file : release.files) {
    installed.push_back({paths.at(file.folder) + "\\" + file.name, file.content, file.feature});
  }
  return installed;
}

ProductTraces productTraces(const ProductLayout& layout) {
  ProductTraces traces;
  traces.cacheFolder = layout.sdkFolder + "\\Cache";
  traces.cacheFiles = {traces.cacheFolder + "\\index.db", traces.cacheFolder + "\\session-1.log"};
  traces.registrations = {layout.sdkFolder + "\\", layout.sdkFolder + "\\bin\\", traces.cacheFolder + "\\"};
  traces.keptRegistration = layout.dataFolder + "\\";
  return traces;
}

bool leaveProductTraces(const ProductTraces& traces) {
  if (!machine::createKey(kFoldersKey)) {
    return false;
  }
  for (const std::string& file : traces.cacheFiles) {
    if (!machine::createFolders(file.substr(0, file.find_last_of('\\'))) ||
        !machine::writeFile(file, "cached by Quorvel SDK\r\n")) {
      return false;
    }
  }
  for (const std::string& name : traces.registrations) {
    if (!machine::setString(kFoldersKey, name, "")) {
      return false;
    }
  }
  return machine::setString(kFoldersKey, traces.keptRegistration, "");
}

void removeLeftovers(const ProductLayout& layout) {
  removeLeftovers(layout, {kRelease1.productCode, kRelease2.productCode});
}

void removeLeftovers(const ProductLayout& layout, const std::vector<std::string>& productCodes) {
  for (const std::string& productCode : productCodes) {
    if (machine::productInstalled(productCode)) {
      machine::runAndWait("msiexec /x " + productCode + " /qn", kInstallerTimeoutMs);
    }
  }
  machine::removeTree(layout.manufacturerFolder);
  machine::removeTree(layout.dataManufacturerFolder);
  for (const std::string& name : machine::valueNames(kFoldersKey)) {
    for (const std::string& folder : {layout.manufacturerFolder, layout.dataManufacturerFolder}) {
      if (name.compare(0, folder.size() + 1, folder + "\\") == 0) {
        machine::deleteValue(kFoldersKey, name);
      }
    }
  }
}

}  // namespace quorvel::authoring
