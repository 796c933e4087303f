#include "icacls_record.hpp"

#include "ansi_text.hpp"
#include "machine.hpp"

#include <sstream>

namespace quorvel::authoring::icacls {

namespace {

std::string& storedFolder() {
  static std::string folder;
  return folder;
}

const std::string& folder() { return storedFolder(); }

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void useFolder(const std::string& path) { storedFolder() = path; }

bool installed() { return !folder().empty(); }

void reset(const Behaviour& behaviour) {
  machine::createFolders(folder());
  DeleteFileA((folder() + "\\calls.txt").c_str());
  std::string control =
      "exit=" + std::to_string(behaviour.exitCode) + "\ndelay=" + std::to_string(behaviour.delayMs) + "\n";
  if (!behaviour.removePath.empty()) {
    control += "remove=" + behaviour.removePath + "\n";
  }
  if (!behaviour.createPath.empty()) {
    control += "create=" + behaviour.createPath + "\n";
  }
  machine::writeFile(folder() + "\\control.txt", control);
}

std::vector<Call> calls() {
  std::vector<Call> found;
  const std::optional<std::string> text = machine::readFile(folder() + "\\calls.txt");
  if (!text) {
    return found;
  }
  std::istringstream in(*text);
  std::string row;
  while (std::getline(in, row)) {
    if (row == "start") {
      found.emplace_back();
    } else if (found.empty()) {
      continue;
    } else if (startsWith(row, "cmdline=")) {
      found.back().commandLine = row.substr(8);
    } else if (startsWith(row, "argv=")) {
      found.back().argv.push_back(row.substr(5));
    } else if (startsWith(row, "exit=")) {
      found.back().exitCode = std::stoul(row.substr(5));
    }
  }
  return found;
}

}  // namespace quorvel::authoring::icacls

namespace quorvel::authoring::icacls {

std::string expectedCommandLine(const std::string& path, const std::string& switches) {
  // Counted in characters: the trail byte 0x5C of a double-byte character
  // (能, 表, ソ in code page 932) is no backslash.
  const std::wstring characters = wide(path);
  size_t trailing = 0;
  while (trailing < characters.size() && characters[characters.size() - 1 - trailing] == L'\\') {
    ++trailing;
  }
  return "icacls \"" + path + std::string(trailing, '\\') + "\" " + switches;
}

std::vector<std::string> expectedArgv(const std::string& path, const std::string& switches) {
  std::vector<std::string> argv = {"icacls", path};
  std::istringstream words(switches);
  std::string word;
  while (words >> word) {
    argv.push_back(word);
  }
  return argv;
}

}  // namespace quorvel::authoring::icacls
