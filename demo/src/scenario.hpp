// The demonstration scenario: an installed Quorvel product whose SDK, folder
// registrations, data folder and manufacturer folder the five actions tidy up
// during an installation.
#pragma once

#include <string>
#include <vector>

namespace quorvel::demo {

struct Scenario {
  std::string root;  // e.g. C:\QuorvelDemo

  std::string packagePath() const { return root + "\\QuorvelDemo.msi"; }
  std::string logPath() const { return root + "\\install.log"; }
  std::string sdkFolder() const { return root + "\\Quorvel\\SDK\\4.2"; }
  std::string dataFolder() const { return root + "\\Quorvel\\Data"; }
  std::string manufacturerFolder() const { return root + "\\Quorvel Labs"; }
  std::string registrationPrefix() const { return sdkFolder() + "\\"; }
  std::vector<std::string> removedRegistrations() const;
  std::string keptRegistration() const { return dataFolder() + "\\"; }
};

constexpr const char* kProduct = "8F2D3C4B-5A69-4E7F-9B1C-2D3E4F5A6B7C";
constexpr const char* kSdkName = "Quorvel SDK 4.2";
constexpr unsigned long kEstimatedSizeBefore = 52428;

// Creates the folder tree, the Uninstall entry, the folder registrations and
// the logging policy, writes the package, and prints what it prepared.
bool prepare(const Scenario& scenario, const std::string& dllPath);

// Prints what changed and answers whether everything changed as intended.
bool report(const Scenario& scenario);

}  // namespace quorvel::demo
