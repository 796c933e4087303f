#include "machine_summary.hpp"

#include <algorithm>
#include <cstdio>

namespace quorvel::demo {

namespace {

const char* const kStepNames[kStepCount] = {"before", "1.0 installed", "in use", "2.0 upgraded", "uninstalled"};
constexpr int kColumnWidth = 13;

}  // namespace

std::string presence(bool present) { return present ? "yes" : kAbsent; }

void MachineSummary::add(std::string what, std::function<std::string()> observe, StepValues expected) {
  rows_.push_back({std::move(what), std::move(observe), std::move(expected), {}});
}

void MachineSummary::observe(Step step) {
  for (Row& row : rows_) {
    row.seen[step] = row.observe();
  }
}

void MachineSummary::printChanges(Step from, Step to) const {
  bool any = false;
  for (const Row& row : rows_) {
    if (row.seen[from] != row.seen[to]) {
      std::printf("     %s: %s -> %s\n", row.what.c_str(), row.seen[from].c_str(), row.seen[to].c_str());
      any = true;
    }
  }
  if (!any) {
    std::printf("     nothing\n");
  }
}

bool MachineSummary::printTable() const {
  std::size_t width = 0;
  for (const Row& row : rows_) {
    width = std::max(width, row.what.size());
  }
  std::printf("     %-*s", static_cast<int>(width), "");
  for (const char* name : kStepNames) {
    std::printf("  %-*s", kColumnWidth, name);
  }
  std::printf("\n");
  bool all = true;
  for (const Row& row : rows_) {
    const bool ok = row.seen == row.expected;
    all = all && ok;
    std::printf("%s %-*s", ok ? "ok  " : "FAIL", static_cast<int>(width), row.what.c_str());
    for (const std::string& value : row.seen) {
      std::printf("  %-*s", kColumnWidth, value.c_str());
    }
    if (!ok) {
      std::printf("  expected:");
      for (const std::string& value : row.expected) {
        std::printf(" %s", value.c_str());
      }
    }
    std::printf("\n");
  }
  return all;
}

}  // namespace quorvel::demo
