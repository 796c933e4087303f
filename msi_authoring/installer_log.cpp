#include "installer_log.hpp"

#include <sstream>

namespace quorvel::authoring {

std::vector<std::string> actionLinesInLog(const std::string& log, const std::vector<std::string>& labels) {
  std::vector<std::string> found;
  std::istringstream in(log);
  std::string row;
  while (std::getline(in, row)) {
    if (!row.empty() && row.back() == '\r') {
      row.pop_back();
    }
    for (const std::string& label : labels) {
      const std::string prefix = label + ":  ";
      if (row.compare(0, prefix.size(), prefix) == 0) {
        found.push_back(row);
        break;
      }
    }
  }
  return found;
}

}  // namespace quorvel::authoring
