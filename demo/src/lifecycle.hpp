// The demonstration: the product's whole life on this machine under the
// Installer, from its installation through a major upgrade to its removal.
#pragma once

#include <string>

namespace quorvel::demo {

// Writes the packages of versions 1.0 and 2.0 into workFolder, installs 1.0
// with msiexec, leaves behind what a running product makes, upgrades to 2.0
// and uninstalls 2.0 with msiexec, shows after each run the actions' lines
// and what changed, and ends with a summary of the machine at each step.
// Answers whether every step did its job.
bool runLifecycle(const std::string& dllPath, const std::string& workFolder);

}  // namespace quorvel::demo
