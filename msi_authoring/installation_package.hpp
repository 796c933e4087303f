// A minimal installable package that runs the DLL's actions deferred: a
// type-51 action before each one sets its CustomActionData, and each action
// runs from the script, without impersonation, between InstallInitialize
// and InstallFinalize.
#pragma once

#include <string>
#include <vector>

namespace quorvel::authoring {

struct DeferredStep {
  std::string action;  // the export name, also the CustomAction row's name
  std::string customActionData;
};

struct InstallationPackage {
  std::string dllPath;  // the DLL streamed into the Binary table
  std::string productName = "Quorvel Demonstration";
  std::string manufacturer = "Quorvel";
  std::string productVersion = "1.0.0";
  std::string productCode;      // braced GUID; a new one when empty
  std::string retryPromptText;  // Error row 1306; [2] is the SDK name
  std::vector<DeferredStep> steps;
};

// CustomAction types used: a DLL from the Binary table, run in the script
// (deferred) without impersonation; and a property set from formatted text.
constexpr int kDeferredDllNoImpersonate = 1 | 0x400 | 0x800;
constexpr int kSetProperty = 51;

bool buildInstallationPackage(const std::string& path, const InstallationPackage& package, std::string& error);

}  // namespace quorvel::authoring
