// The demonstration: the product's whole life on this machine under the
// Installer, from its installation to its removal.
#pragma once

#include <string>

namespace quorvel::demo {

// Writes the package into workFolder, installs it with msiexec, shows the
// install-time lines of the actions and what changed, leaves behind what a
// running product makes, uninstalls it with msiexec, shows the
// uninstall-time lines and what changed, and ends with a summary of the
// machine at each step. Answers whether every step did its job.
bool runLifecycle(const std::string& dllPath, const std::string& workFolder);

}  // namespace quorvel::demo
