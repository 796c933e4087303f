// Runs the benchmarks, then sets the runtime against its baselines: the ratio
// of each pair, the allocations per line and the checks made on the way.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bench.h"

namespace {

std::vector<std::string> failedChecks;

// CPU time: the machine is shared, and waiting for a core is not the code's cost.
struct Measured {
  double nanoseconds = 0;
  double realNanoseconds = 0;
  benchmark::UserCounters counters;
};

// Keeps the times of every run (the median when runs are repeated).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    for (const Run& run : reports) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      const std::string name = run.run_name.str();
      if (!median && medians_.count(name)) continue;
      if (median) medians_.insert(name);
      results[name] = Measured{run.GetAdjustedCPUTime() * PerUnit(run.time_unit),
                               run.GetAdjustedRealTime() * PerUnit(run.time_unit), run.counters};
    }
    ConsoleReporter::ReportRuns(reports);
  }

  std::map<std::string, Measured> results;

 private:
  static double PerUnit(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond:
        return 1e9;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kMicrosecond:
        return 1e3;
      default:
        return 1;
    }
  }
  std::set<std::string> medians_;
};

const Measured* Find(const SummaryReporter& reporter, const std::string& name) {
  auto found = reporter.results.find(name);
  return found == reporter.results.end() ? nullptr : &found->second;
}

double Counter(const Measured& measured, const char* name) {
  auto found = measured.counters.find(name);
  return found == measured.counters.end() ? -1 : static_cast<double>(found->second);
}

void Summarise(const SummaryReporter& reporter) {
  std::printf("\nSummary (CPU time; ratio = runtime / baseline)\n");
  for (const char* line : {"Standard", "Verbose"}) {
    const Measured* runtime = Find(reporter, std::string("Line/") + line + "/Runtime");
    const Measured* baseline = Find(reporter, std::string("Line/") + line + "/SnprintfBaseline");
    if (!runtime || !baseline) continue;
    std::printf("  %-8s line: %7.1f ns vs %7.1f ns baseline, ratio %.2f, allocations per line %.0f (baseline %.0f)\n",
                line, runtime->nanoseconds, baseline->nanoseconds, runtime->nanoseconds / baseline->nanoseconds,
                Counter(*runtime, "allocs_per_line"), Counter(*baseline, "allocs_per_line"));
    bench::Check(Counter(*runtime, "allocs_per_line") == 0, std::string("a ") + line + " line allocated");
  }
  for (int values : {1000, 10000, 100000}) {
    const Measured* paired =
        Find(reporter, "RemoveRegistries/ActionAgainstRawLoop/" + std::to_string(values) + "/manual_time");
    if (!paired) continue;
    const double ratio = Counter(*paired, "ratio");
    std::printf(
        "  RemoveRegistries %6d values: %9.0f us vs %9.0f us raw loop, ratio %.2f (%s 1.2), %.1f ns per value\n",
        values, paired->realNanoseconds / 1e3, Counter(*paired, "raw_loop_us"), ratio, ratio <= 1.2 ? "within" : "OVER",
        Counter(*paired, "ns_per_value"));
  }
  const Measured* fewProfiles = Find(reporter, "Profiles/RemoveFolder/5");
  for (int profiles : {5, 500, 5000}) {
    const Measured* call = Find(reporter, "Profiles/RemoveFolder/" + std::to_string(profiles));
    const Measured* floor = Find(reporter, "Profiles/ListsFloor/" + std::to_string(profiles));
    if (!call || !floor || !fewProfiles) continue;
    std::printf(
        "  RemoveFolder, %4d more profiles: %8.1f us (%.2f times the call with 5), reading their lists %8.1f us\n",
        profiles, call->nanoseconds / 1e3, call->nanoseconds / fewProfiles->nanoseconds, floor->nanoseconds / 1e3);
  }
  const Measured* frame = Find(reporter, "Action/BareFrame");
  if (frame) {
    std::printf("  Bare frame: %.2f us per call\n", frame->nanoseconds / 1e3);
    for (const char* action : {"EditEstimatedSize", "RemoveFolder", "RemoveRegistries", "ChangeQuorvelFolderPermission",
                               "RemoveManufacturerFolder"}) {
      const Measured* whole = Find(reporter, std::string("Action/") + action);
      if (!whole) continue;
      std::printf("  %-30s %9.2f us per call, %9.2f us over the bare frame (real time %.0f us)\n", action,
                  whole->nanoseconds / 1e3, (whole->nanoseconds - frame->nanoseconds) / 1e3,
                  whole->realNanoseconds / 1e3);
    }
  }
}

}  // namespace

namespace bench {

bool Check(bool ok, const std::string& what) {
  if (!ok && std::find(failedChecks.begin(), failedChecks.end(), what) == failedChecks.end()) {
    failedChecks.push_back(what);
  }
  return ok;
}

}  // namespace bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  Summarise(reporter);
  for (const std::string& failed : failedChecks) std::printf("CHECK FAILED: %s\n", failed.c_str());
  return failedChecks.empty() ? 0 : 1;
}
