#include "icacls_record.hpp"

#include "machine.hpp"

#include <sstream>

namespace quorvel::authoring::icacls {

namespace {

std::string& storedFolder() {
  static std::string folder;
  return folder;
}

const std::string& folder() { return storedFolder(); }

}  // namespace

void useFolder(const std::string& path) { storedFolder() = path; }

bool installed() { return !folder().empty(); }

void reset() {
  machine::createFolders(folder());
  DeleteFileA((folder() + "\\calls.txt").c_str());
}

std::vector<std::string> calls() {
  std::vector<std::string> found;
  std::istringstream in(machine::readFile(folder() + "\\calls.txt").value_or(""));
  for (std::string row; std::getline(in, row);) {
    found.push_back(row);
  }
  return found;
}

}  // namespace quorvel::authoring::icacls
