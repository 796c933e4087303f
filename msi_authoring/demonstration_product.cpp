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
    {"CommonAppDataFolder", "TARGETDIR", "CAppData"},
    {"DATAMANUFACTURERFOLDER", "CommonAppDataFolder", kProductManufacturer},
    {"DATAFOLDER", "DATAMANUFACTURERFOLDER", kProductName},
};

const PackageFile kFiles[] = {
    {"INSTALLFOLDER", "readme.txt", "Quorvel SDK 1.0: the command-line tool is bin\\quorvel.cmd.\r\n"},
    {"BINFOLDER", "quorvel.cmd", "@echo Quorvel SDK 1.0\r\n"},
    {"INCLUDEFOLDER", "quorvel.h", "#define QUORVEL_SDK_VERSION 0x0100\n"},
    {"DATAFOLDER", "settings.ini", "[quorvel]\r\nchannel=stable\r\n"},
};

std::string withoutBraces(const std::string& guid) { return guid.substr(1, guid.size() - 2); }

std::string shellFolder(int csidl) {
  char path[MAX_PATH] = {0};
  return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : "";
}

}  // namespace

InstallationPackage demonstrationProduct(const std::string& dllPath, const std::string& productCode) {
  InstallationPackage package;
  package.dllPath = dllPath;
  package.productName = kProductName;
  package.manufacturer = kProductManufacturer;
  package.productCode = productCode;
  package.upgradeCode = "{0B7E5C1D-3F2A-4C69-8D4E-6A1B2C3D4E5F}";
  package.retryPromptText = "The files of [2] are in use. Close the programs using them, then choose Retry.";
  package.folders.assign(std::begin(kFolders), std::end(kFolders));
  package.files.assign(std::begin(kFiles), std::end(kFiles));
  // wine's RegisterProduct writes an EstimatedSize of 0 whatever the files
  // take; a nonzero size stands for the one Windows costs, so that the
  // change EditEstimatedSize makes can be seen.
  package.registrationValues = {
      {std::string(kUninstallKey) + "[ProductCode]", "EstimatedSize", "#" + std::to_string(kCostedEstimatedSize)}};
  const std::string install = "NOT Installed";
  const std::string notRemoving = "NOT REMOVE~=\"ALL\"";
  const std::string removing = "REMOVE~=\"ALL\"";
  package.steps = {
      // Install: the data folder exists once InstallFiles has run.
      {"ChangeQuorvelFolderPermission", "[DATAFOLDER]", install, 4010},
      // Every run that keeps the product: RegisterProduct (re)writes the
      // Uninstall entry. Formatted text cannot strip the braces, so the
      // code is written out.
      {"EditEstimatedSize", withoutBraces(productCode), notRemoving, 6110},
      // Uninstall: RemoveFiles and RemoveFolders have taken what the package
      // installed, so what is left is what the running product made. The SDK
      // folder goes first, its registrations only once it is gone, and the
      // manufacturer folder is empty only after that.
      {"RemoveFolder", std::string("[MANUFACTURERFOLDER]") + kProductName + "|" + kProductName, removing, 3610},
      {"RemoveRegistries", "[INSTALLFOLDER]", removing, 3620},
      {"RemoveManufacturerFolder", "[MANUFACTURERFOLDER]", removing, 3630},
  };
  return package;
}

ProductLayout productLayout() {
  // The standard folders first, then each folder of the package inside its parent.
  std::map<std::string, std::string> paths = {{"ProgramFiles64Folder", shellFolder(CSIDL_PROGRAM_FILES)},
                                              {"CommonAppDataFolder", shellFolder(CSIDL_COMMON_APPDATA)}};
  for (const PackageFolder& folder : kFolders) {
    if (paths.count(folder.id) == 0) {
      paths[folder.id] = paths[folder.parent] + "\\" + folder.name;
    }
  }
  ProductLayout layout;
  layout.manufacturerFolder = paths["MANUFACTURERFOLDER"];
  layout.sdkFolder = paths["INSTALLFOLDER"];
  layout.dataManufacturerFolder = paths["DATAMANUFACTURERFOLDER"];
  layout.dataFolder = paths["DATAFOLDER"];
  for (const PackageFile& file : kFiles) {
    layout.files.push_back(paths[file.folder] + "\\" + file.name);
  }
  return layout;
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
  if (!machine::createFolders(traces.cacheFolder) || !machine::createKey(kFoldersKey)) {
    return false;
  }
  for (const std::string& file : traces.cacheFiles) {
    if (!machine::writeFile(file, "cached by Quorvel SDK\r\n")) {
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

void removeLeftovers(const std::string& productCode, const ProductLayout& layout) {
  if (machine::productInstalled(productCode)) {
    machine::runAndWait("msiexec /x " + productCode + " /qn", kInstallerTimeoutMs);
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
