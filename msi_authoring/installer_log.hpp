// Reading an Installer log file that msiexec wrote with /l*v.
#pragma once

#include <string>
#include <vector>

namespace quorvel::authoring {

// The lines that the actions with these labels wrote, "<label>:  <text>", in
// log order and without their line ends.
std::vector<std::string> actionLinesInLog(const std::string& log, const std::vector<std::string>& labels);

}  // namespace quorvel::authoring
