#include "harness.hpp"

#include <algorithm>

namespace quorvel::engine {

void Case::record(const std::string& text, const char* file, int line) {
  const std::string path = file;
  const auto slash = path.find_last_of("/\\");
  failures_.push_back((slash == std::string::npos ? path : path.substr(slash + 1)) + ":" + std::to_string(line) + ": " +
                      text);
}

void Case::expect(bool condition, const std::string& what, const char* file, int line) {
  if (!condition) {
    record("expected " + what, file, line);
  }
}

void Case::lines(const std::vector<std::string>& actual, const std::vector<std::string>& expected,
                 const std::string& what, const char* file, int line) {
  const size_t common = std::min(actual.size(), expected.size());
  for (size_t i = 0; i < common; ++i) {
    if (actual[i] != expected[i]) {
      record(what + " line " + std::to_string(i) + ": got [" + actual[i] + "], expected [" + expected[i] +
                 "]\n  all lines:\n" + joinLines(actual),
             file, line);
      return;
    }
  }
  if (actual.size() != expected.size()) {
    record(what + ": got " + std::to_string(actual.size()) + " lines, expected " + std::to_string(expected.size()) +
               "\n  all lines:\n" + joinLines(actual),
           file, line);
  }
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& one : lines) {
    text += "    | " + one + "\n";
  }
  return text;
}

}  // namespace quorvel::engine
