#include "action_package.hpp"

#include "package_builder.hpp"

namespace quorvel::authoring {

const char* const kActionNames[5] = {"EditEstimatedSize", "RemoveFolder", "RemoveRegistries",
                                     "ChangeQuorvelFolderPermission", "RemoveManufacturerFolder"};

bool buildActionPackage(const std::string& path, const std::string& dllPath, bool withRetryErrorRow,
                        std::string& error) {
  PackageBuilder package(path);
  package.execute(kPropertyTableSql);
  package.execute(kBinaryTableSql);
  package.execute(kCustomActionTableSql);
  package.execute(kErrorTableSql);
  package.property("ProductCode", newGuid());
  package.property("ProductName", "Quorvel engine test");
  package.property("ProductVersion", "1.0.0");
  package.property("ProductLanguage", "1033");
  package.property("Manufacturer", "Quorvel");
  package.binary("QuorvelCustomActions", dllPath);
  for (const char* name : kActionNames) {
    package.customAction(name, 1, "QuorvelCustomActions", name);
  }
  if (withRetryErrorRow) {
    package.errorMessage(1306, kRetryPromptText);
  }
  SummaryInfo summary;
  summary.packageCode = newGuid();
  package.summary(summary);
  package.commit();
  error = package.error();
  return package.ok();
}

}  // namespace quorvel::authoring
