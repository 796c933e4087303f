// An installable package of a product with files that runs the DLL's actions
// deferred: folders as Directory rows, each file in a component of its own,
// the files uncompressed in a source image beside the package, and for each
// action a type-51 action that sets its CustomActionData followed by the
// action itself, run from the script without impersonation.
#pragma once

#include <string>
#include <vector>

namespace quorvel::authoring {

// A Directory row: a folder named `name` inside the folder `parent`, which is
// another row or a standard folder property such as ProgramFiles64Folder.
struct PackageFolder {
  std::string id;
  std::string parent;
  std::string name;
};

// A file installed into a folder of the package, in a component of its own
// whose key path it is.
struct PackageFile {
  std::string folder;  // the PackageFolder's id
  std::string name;
  std::string content;
};

// A value under HKEY_LOCAL_MACHINE that the package writes right after
// RegisterProduct, in a component of its own: what an engine leaves out of
// the product's registration can be put there this way.
struct RegistrationValue {
  std::string key;
  std::string name;
  std::string value;  // formatted; "#n" is a REG_DWORD
};

struct DeferredStep {
  std::string action;            // the export name, also the CustomAction row's name
  std::string customActionData;  // formatted text: the setter's target
  std::string condition;         // of the setter and the action; empty: always
  int sequence = 0;              // the action's; its setter runs just before it
};

struct InstallationPackage {
  std::string dllPath;  // the DLL streamed into the Binary table
  std::string productName;
  std::string manufacturer;
  std::string productVersion = "1.0.0";
  std::string productCode;             // braced GUID
  std::string upgradeCode;             // braced GUID
  std::string retryPromptText;         // Error row 1306; [2] is the SDK name
  std::vector<PackageFolder> folders;  // each after its parent
  std::vector<PackageFile> files;
  std::vector<RegistrationValue> registrationValues;
  std::vector<DeferredStep> steps;
};

// CustomAction types used: a DLL from the Binary table, run in the script
// (deferred) without impersonation; and a property set from formatted text.
constexpr int kDeferredDllNoImpersonate = 1 | 0x400 | 0x800;
constexpr int kSetProperty = 51;

// Writes the package at path and its source image (the files, in the
// folders the Directory rows name as sources) beside it.
bool buildInstallationPackage(const std::string& path, const InstallationPackage& package, std::string& error);

}  // namespace quorvel::authoring
