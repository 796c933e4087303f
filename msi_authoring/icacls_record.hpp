// Test side of the recording icacls double (icacls_double.cpp): the actions
// start no tool, and what the double recorded shows it.
#pragma once

#include <string>
#include <vector>

namespace quorvel::authoring::icacls {

// The folder where the double keeps its record (its ICACLS_DOUBLE_DIR); empty
// until set, and then the double counts as not installed.
void useFolder(const std::string& folder);
bool installed();

// Forgets earlier starts.
void reset();
// The command line of each start since the last reset, as the double received it.
std::vector<std::string> calls();

}  // namespace quorvel::authoring::icacls
