// The machine as the demonstration shows it: facts observed before the
// installation, once 1.0 is installed, while it is in use, once 2.0 has
// upgraded it and once 2.0 is uninstalled, each with the value it must have
// at that step.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::demo {

enum Step { kBefore, kInstalled, kInUse, kUpgraded, kUninstalled, kStepCount };

using StepValues = std::array<std::string, kStepCount>;

// "-" stands for absent.
constexpr const char* kAbsent = "-";

class MachineSummary {
 public:
  void add(std::string what, std::function<std::string()> observe, StepValues expected);

  // Observes every fact for the step.
  void observe(Step step);
  // Prints the facts that differ between two observed steps.
  void printChanges(Step from, Step to) const;
  // Prints every fact at every step and answers whether each had its
  // expected value.
  bool printTable() const;

 private:
  struct Row {
    std::string what;
    std::function<std::string()> observe;
    StepValues expected;
    StepValues seen;
  };
  std::vector<Row> rows_;
};

// "yes" or kAbsent.
std::string presence(bool present);

}  // namespace quorvel::demo
