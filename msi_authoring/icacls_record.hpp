// Test side of the recording icacls double (icacls_double.cpp): tells
// it how to behave and reads back what it was started with.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::authoring::icacls {

struct Call {
  std::string commandLine;                // as the double received it
  std::vector<std::string> argv;          // as the C runtime parsed it
  std::optional<unsigned long> exitCode;  // set once the double finished
};

// The folder where the double keeps its files (its ICACLS_DOUBLE_DIR); empty
// until set, and then the double counts as not installed.
void useFolder(const std::string& folder);
bool installed();

struct Behaviour {
  unsigned long exitCode = 0;
  unsigned long delayMs = 0;
  std::string removePath;  // deleted by the double before it exits
  std::string createPath;  // file created by the double before it exits
};

// Forgets earlier calls and sets how the next starts behave.
void reset(const Behaviour& behaviour = {});
std::vector<Call> calls();

}  // namespace quorvel::authoring::icacls

namespace quorvel::authoring::icacls {

constexpr const char* kGrantOnTree = "/t /l /q /grant *S-1-5-32-545:(OI)(CI)F";
constexpr const char* kGrantOnFolder = "/l /q /grant *S-1-5-32-545:(OI)(CI)F";

// The command line the actions hand to the system for a path (text of the
// ANSI code page): trailing backslash characters are doubled inside the
// quotation marks so that the tool's argument parsing returns the path
// unchanged.
std::string expectedCommandLine(const std::string& path, const std::string& switches);

// What the C runtime of the tool must parse from that command line.
std::vector<std::string> expectedArgv(const std::string& path, const std::string& switches);

}  // namespace quorvel::authoring::icacls
