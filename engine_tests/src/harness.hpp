// A small case runner for the engine tests: named cases in groups, each
// needing one export of the DLL, with checks that record every mismatch.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel::engine {

class Case {
 public:
  explicit Case(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  bool failed() const { return !failures_.empty(); }
  const std::vector<std::string>& failures() const { return failures_; }

  void expect(bool condition, const std::string& what, const char* file, int line);

  template <typename A, typename B>
  void equal(const A& actual, const B& expected, const std::string& what, const char* file, int line) {
    if (!(actual == expected)) {
      std::ostringstream text;
      text << what << ": got [" << actual << "], expected [" << expected << "]";
      record(text.str(), file, line);
    }
  }

  // Compares two sequences of lines and reports the first difference.
  void lines(const std::vector<std::string>& actual, const std::vector<std::string>& expected, const std::string& what,
             const char* file, int line);

  // Ends the case early when a precondition of the case itself is broken.
  void setupFailed(const std::string& what, const char* file, int line) { record("setup: " + what, file, line); }

 private:
  void record(const std::string& text, const char* file, int line);

  std::string name_;
  std::vector<std::string> failures_;
};

#define CHECK(c, condition) (c).expect((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(c, actual, expected) (c).equal((actual), (expected), #actual, __FILE__, __LINE__)
#define CHECK_LINES(c, actual, expected) (c).lines((actual), (expected), #actual, __FILE__, __LINE__)
#define SETUP_OK(c, condition)                         \
  do {                                                 \
    if (!(condition)) {                                \
      (c).setupFailed(#condition, __FILE__, __LINE__); \
      return;                                          \
    }                                                  \
  } while (0)

// The ANSI code pages the runner is started under, one pass each (run.sh):
// the Western one, which every case runs under unless it says otherwise, and
// the Japanese double-byte one.
constexpr unsigned kWesternCodePage = 1252;
constexpr unsigned kJapaneseCodePage = 932;

struct CaseEntry {
  std::string group;
  std::string name;
  std::string neededExport;  // empty: needs no export
  unsigned codePage;         // the pass that runs it
  std::function<void(Case&)> run;
  bool onMappedDrives = false;  // runs in the pass with the drives mapped (run.sh), and only there
};

class Suite {
 public:
  void add(std::string group, std::string name, std::string neededExport, std::function<void(Case&)> run) {
    add(std::move(group), std::move(name), std::move(neededExport), kWesternCodePage, std::move(run));
  }
  // A case of the pass under the given code page. Cases of the Japanese pass
  // carry "cp932" in their names, so that a filter can pick them.
  void add(std::string group, std::string name, std::string neededExport, unsigned codePage,
           std::function<void(Case&)> run) {
    if (codePage != kWesternCodePage) {
      name = "cp" + std::to_string(codePage) + ": " + name;
    }
    entries_.push_back({std::move(group), std::move(name), std::move(neededExport), codePage, std::move(run)});
  }
  // A case of the pass that run.sh makes with drives mapped onto the Windows
  // and profiles folders: their final paths change every other case's.
  void addOnMappedDrives(std::string group, std::string name, std::function<void(Case&)> run) {
    add(std::move(group), std::move(name), "", std::move(run));
    entries_.back().onMappedDrives = true;
  }
  const std::vector<CaseEntry>& entries() const { return entries_; }

 private:
  std::vector<CaseEntry> entries_;
};

std::string joinLines(const std::vector<std::string>& lines);

}  // namespace quorvel::engine
