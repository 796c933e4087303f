// The product that the demonstration and the engine's lifecycle cases install
// and uninstall: a few files under [ProgramFiles64Folder]Quorvel Labs\Quorvel
// SDK and a data folder under [CommonAppDataFolder], with the five actions
// scheduled where their work is possible. README's scheduling section gives
// the same rows and the reasons for their places.
#pragma once

#include "installation_package.hpp"

#include <string>
#include <vector>

namespace quorvel::authoring {

constexpr const char* kProductManufacturer = "Quorvel Labs";
constexpr const char* kProductName = "Quorvel SDK";
constexpr const char* kDemonstrationProductCode = "{8F2D3C4B-5A69-4E7F-9B1C-2D3E4F5A6B7C}";
// The EstimatedSize (KiB) the package writes into its Uninstall entry, where
// the engine writes 0 (see demonstrationProduct); EditEstimatedSize makes it 0.
constexpr unsigned long kCostedEstimatedSize = 16;

// Where the product's folders and files land on this machine.
struct ProductLayout {
  std::string manufacturerFolder;      // C:\Program Files\Quorvel Labs
  std::string sdkFolder;               // its Quorvel SDK folder
  std::string dataManufacturerFolder;  // C:\ProgramData\Quorvel Labs
  std::string dataFolder;              // its Quorvel SDK folder
  std::vector<std::string> files;      // every file the package installs
};

// The package of the product with the given braced product code.
InstallationPackage demonstrationProduct(const std::string& dllPath, const std::string& productCode);

// The product's layout, from the shell's look-up of the standard folders.
ProductLayout productLayout();

// What the running product leaves behind that its package knows nothing of:
// a cache folder with files inside the SDK folder, and folder registrations
// under the Installer's Folders key (wine's Installer writes none itself).
struct ProductTraces {
  std::string cacheFolder;
  std::vector<std::string> cacheFiles;
  std::vector<std::string> registrations;  // below the SDK folder
  std::string keptRegistration;            // the data folder's, which no uninstall step takes
};

ProductTraces productTraces(const ProductLayout& layout);
bool leaveProductTraces(const ProductTraces& traces);

// Uninstalls a copy of the product that an interrupted run left installed and
// removes its folders and registrations, so that a run starts from a machine
// without the product.
void removeLeftovers(const std::string& productCode, const ProductLayout& layout);

}  // namespace quorvel::authoring
