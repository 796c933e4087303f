// The product that the demonstration and the engine's lifecycle cases
// install, change, repair, upgrade and uninstall, in two versions: a few
// files under [ProgramFiles64Folder]Quorvel Labs\Quorvel SDK, a samples
// feature installed on request and a data folder under
// [CommonAppDataFolder], with the five actions scheduled where their work is
// possible and where they survive the product's lifecycle. README's
// scheduling section gives the same rows and the reasons for their places.
#pragma once

#include "installation_package.hpp"

#include <map>
#include <string>
#include <vector>

namespace quorvel::authoring {

constexpr const char* kProductManufacturer = "Quorvel Labs";
constexpr const char* kProductName = "Quorvel SDK";
// Version 1.0's product code; each version has its own (a major upgrade).
constexpr const char* kDemonstrationProductCode = "{8F2D3C4B-5A69-4E7F-9B1C-2D3E4F5A6B7C}";
// The EstimatedSize (KiB) the package writes into its Uninstall entry, where
// the engine writes 0 (see demonstrationProduct); EditEstimatedSize makes it 0.
constexpr unsigned long kCostedEstimatedSize = 16;

// The feature installed by default, and the one that a change adds
// (ADDLOCAL) or takes away (REMOVE).
constexpr const char* kMainFeature = "Main";
constexpr const char* kSamplesFeature = "Samples";

// The condition of the three removals: the product's own uninstallation, and
// not the removal of an older version that a major upgrade runs, where the
// Installer sets UPGRADINGPRODUCTCODE.
constexpr const char* kUninstallingCondition = "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE";

// wine's RemoveExistingProducts runs the older version's removal as
// "msiexec /qn /i {old} REMOVE=<the Upgrade row's Remove column>", without
// the UPGRADINGPRODUCTCODE that Windows sets in it. As the Remove column,
// this puts the property on that command line, so that the removal runs as
// on Windows. On Windows the column names features and stays empty.
constexpr const char* kRemovalAsWindowsRunsItOnWine = "ALL UPGRADINGPRODUCTCODE=[ProductCode]";

// The public property that makes a deferred command fail right before
// InstallFinalize, after the grant and every other action of the
// installation, so that the Installer rolls the installation back.
constexpr const char* kFailInstallationProperty = "QUORVEL_TEST_FAIL_INSTALLATION";

// One version of the product: its ProductVersion, its product code and the
// files it installs.
struct ProductRelease {
  std::string version;
  std::string productCode;  // braced
  std::vector<PackageFile> files;
};

const ProductRelease& release1();
const ProductRelease& release2();

// The package of a version, removing older versions where `removal` says.
InstallationPackage demonstrationProduct(const std::string& dllPath, const ProductRelease& release,
                                         OldVersionsRemoval removal);

// A file on this machine as a version installs it.
struct InstalledFile {
  std::string path;
  std::string content;
  std::string feature;
};

// Where the product's folders and files land on this machine.
struct ProductLayout {
  std::string manufacturerFolder;            // C:\Program Files\Quorvel Labs
  std::string sdkFolder;                     // its Quorvel SDK folder
  std::string dataManufacturerFolder;        // C:\ProgramData\Quorvel Labs
  std::string dataFolder;                    // its Quorvel SDK folder
  std::map<std::string, std::string> paths;  // every Directory row's folder

  std::vector<InstalledFile> files(const ProductRelease& release) const;
};

// The product's layout, from the shell's look-up of the standard folders.
ProductLayout productLayout();
// The four folders of another product laid out the same way,
// [ProgramFiles64Folder]<manufacturer>\<product> and
// [CommonAppDataFolder]<manufacturer>\<product>; no Directory row's path.
ProductLayout productLayout(const std::string& manufacturer, const std::string& product);

// What the running product leaves behind that its package knows nothing of:
// a cache folder with files inside the SDK folder, and folder registrations
// under the Installer's Folders key (wine's Installer writes none itself).
struct ProductTraces {
  std::string cacheFolder;
  std::vector<std::string> cacheFiles;     // each made with the folders above it
  std::vector<std::string> registrations;  // below the SDK folder
  std::string keptRegistration;            // the data folder's, which no uninstall step takes
};

ProductTraces productTraces(const ProductLayout& layout);
bool leaveProductTraces(const ProductTraces& traces);

// Uninstalls every version that an interrupted run left installed and
// removes its folders and registrations, so that a run starts from a machine
// without the product: the demonstration product, or another one laid out
// the same way with the product codes of its versions.
void removeLeftovers(const ProductLayout& layout);
void removeLeftovers(const ProductLayout& layout, const std::vector<std::string>& productCodes);

}  // namespace quorvel::authoring
