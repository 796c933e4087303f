#include "installation_package.hpp"

#include "package_builder.hpp"

namespace quorvel::authoring {

bool buildInstallationPackage(const std::string& path, const InstallationPackage& package, std::string& error) {
  PackageBuilder db(path);
  for (const char* sql :
       {kPropertyTableSql, kBinaryTableSql, kCustomActionTableSql, kErrorTableSql, kInstallExecuteSequenceTableSql,
        kDirectoryTableSql, kFeatureTableSql, kComponentTableSql, kFeatureComponentsTableSql}) {
    db.execute(sql);
  }
  db.property("ProductCode", package.productCode.empty() ? newGuid() : package.productCode);
  db.property("UpgradeCode", newGuid());
  db.property("ProductName", package.productName);
  db.property("Manufacturer", package.manufacturer);
  db.property("ProductVersion", package.productVersion);
  db.property("ProductLanguage", "1033");
  db.property("ALLUSERS", "1");

  db.insert("Directory", {{"Directory", Field::text("TARGETDIR")},
                          {"Directory_Parent", Field::null()},
                          {"DefaultDir", Field::text("SourceDir")}});
  db.insert("Feature", {{"Feature", Field::text("Main")},
                        {"Feature_Parent", Field::null()},
                        {"Title", Field::text(package.productName)},
                        {"Description", Field::null()},
                        {"Display", Field::integer(1)},
                        {"Level", Field::integer(1)},
                        {"Directory_", Field::text("TARGETDIR")},
                        {"Attributes", Field::integer(0)}});

  db.binary("QuorvelCustomActions", package.dllPath);
  if (!package.retryPromptText.empty()) {
    db.errorMessage(1306, package.retryPromptText);
  }

  const struct {
    const char* action;
    int sequence;
  } standard[] = {{"CostInitialize", 800},   {"FileCost", 900},           {"CostFinalize", 1000},
                  {"InstallValidate", 1400}, {"InstallInitialize", 1500}, {"InstallFinalize", 6600}};
  for (const auto& step : standard) {
    db.executeSequence(step.action, "", step.sequence);
  }
  int sequence = 4000;
  for (const DeferredStep& step : package.steps) {
    const std::string setter = "Set" + step.action;
    // The deferred action reads the property named after it as its
    // CustomActionData.
    db.customAction(setter, kSetProperty, step.action, step.customActionData);
    db.customAction(step.action, kDeferredDllNoImpersonate, "QuorvelCustomActions", step.action);
    db.executeSequence(setter, "", sequence++);
    db.executeSequence(step.action, "", sequence++);
  }

  SummaryInfo summary;
  summary.title = "Installation Database";
  summary.subject = package.productName;
  summary.author = package.manufacturer;
  summary.packageCode = newGuid();
  db.summary(summary);
  db.commit();
  error = db.error();
  return db.ok();
}

}  // namespace quorvel::authoring
