// An installable package of a product with files that runs the DLL's actions
// deferred: folders as Directory rows, each file in a component of its own
// whose code stays the same in every build and version that installs the file
// in the same place, the files uncompressed in a source image beside the
// package, and for each action a type-51 action that sets its
// CustomActionData followed by the action itself, run from the script without
// impersonation. Every version of the product removes the older ones it finds
// (a major upgrade).
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

// A Feature row. Level 1 is installed by default; a higher level only on
// request (ADDLOCAL), since INSTALLLEVEL stays 1.
struct PackageFeature {
  std::string id;
  std::string title;
  int level = 1;
};

// A file installed into a folder of the package, in a component of its own
// whose key path it is.
struct PackageFile {
  std::string folder;  // the PackageFolder's id
  std::string name;
  std::string content;
  std::string feature;  // the PackageFeature's id
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

// A program run from the script without impersonation, whose failure fails
// the installation (and so starts its rollback).
struct DeferredCommand {
  std::string name;         // the CustomAction row's
  std::string folder;       // the PackageFolder (or standard folder) it runs in
  std::string commandLine;  // formatted
  std::string condition;
  int sequence = 0;
};

// Where RemoveExistingProducts removes the older versions: early, between
// InstallValidate and InstallInitialize, so that the old product is gone
// before anything of the new one is installed; or late, after
// InstallFinalize, once the new version is installed.
enum class OldVersionsRemoval { Early, Late };

struct InstallationPackage {
  std::string dllPath;  // the DLL streamed into the Binary table
  std::string productName;
  std::string manufacturer;
  std::string productVersion = "1.0.0";
  std::string productCode;               // braced GUID
  std::string upgradeCode;               // braced GUID
  std::string retryPromptText;           // Error row 1306; [2] is the SDK name
  std::vector<PackageFolder> folders;    // each after its parent
  std::vector<PackageFeature> features;  // the first one also holds the registration values
  std::vector<PackageFile> files;
  std::vector<RegistrationValue> registrationValues;
  std::vector<DeferredStep> steps;
  std::vector<DeferredCommand> commands;
  OldVersionsRemoval oldVersionsRemoval = OldVersionsRemoval::Early;
  // The Upgrade row's Remove column: the features the old version's removal
  // takes (formatted); empty takes them all.
  std::string oldVersionsRemovalFeatures;
  // Public properties that conditions of the server-side sequence read, so
  // that a per-machine installation passes them from its command line.
  std::vector<std::string> secureProperties;
};

// CustomAction types used: a DLL from the Binary table, run in the script
// (deferred) without impersonation; and a property set from formatted text.
constexpr int kDeferredDllNoImpersonate = 1 | 0x400 | 0x800;
constexpr int kSetProperty = 51;
// An executable in a folder with its command line, run from the script
// without impersonation.
constexpr int kDeferredCommandNoImpersonate = 34 | 0x400 | 0x800;

// Writes the package at path and its source image (the files, in the
// folders the Directory rows name as sources) beside it.
bool buildInstallationPackage(const std::string& path, const InstallationPackage& package, std::string& error);

}  // namespace quorvel::authoring
