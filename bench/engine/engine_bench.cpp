// Engine benchmark: the per-call time of each of the five actions under the
// Installer engine, the product DLL against a bare DLL that makes only the
// platform calls each action is made of, with no target guard
// (bare_actions.cpp), so that the product against it shows what the guard
// costs; the grant and RemoveFolder on trees of 1,100 and 11,000 objects
// against the bare calls they are made of (workloads.cpp); and RemoveFolder
// against the number of profiles on the machine (profile_curve.cpp).
//
//   quorvel_engine_bench.exe <product-dll> <bare-dll> <work-folder> [--calls N] [--check-only] [work... | profiles]
//   quorvel_engine_bench.exe <product-dll> <bare-dll> <work-folder> --call-costs
//
// Each DLL gets one package, authored once. Every call opens that package
// afresh, sets CustomActionData, runs the action with MsiDoAction and closes
// the package; only MsiDoAction is timed. Before every call the machine is put
// back where the action has its work to do. The two DLLs alternate, round by
// round, in the order product-bare, bare-product, ...
//
// Before timing, each action runs once per DLL on a verbose and on a quiet
// package: the answers, the action's lines and the machine change must be the
// same, or the bare DLL does not do what the product does and the benchmark
// exits 1. It also exits 1 when a timed call fails or the machine cannot be
// prepared. Naming works (an action's name, or "<action>-tree-<folders>-<files>")
// times only those; naming "profiles" runs only the profiles curve; naming nothing runs everything. --call-costs only
// times each kind of platform call that a guarded call makes (call_costs.cpp).
//
// Reads BENCH_TRASH (the engine's trash folder, as a Windows path) and
// ICACLS_DOUBLE_DIR (the recording icacls double's folder, which shows any
// tool started).

#include "action_package.hpp"
#include "call_costs.hpp"
#include "engine_calls.hpp"
#include "icacls_record.hpp"
#include "machine.hpp"
#include "profile_curve.hpp"
#include "workloads.hpp"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace quorvel::bench;
namespace authoring = quorvel::authoring;

constexpr int kFewestCalls = 20;
constexpr char kProfileCurve[] = "profiles";
constexpr int kCallCostRepetitions = 2000;

struct ActionTiming {
  std::string action;
  Timing timing;
};

// Per DLL the median and quartiles of the calls' times and the fastest call;
// the ratios set the product against the bare DLL, overall and round by
// round. What the product takes beyond the bare calls is the guard's (and
// the runtime's): in milliseconds between the medians, and as a share of the
// product's call from the paired ratio, which the load's drift moves less.
void printTable(const std::vector<ActionTiming>& timings) {
  std::printf(
      "\n| Action | Product, ms: median (quartiles), fastest | Bare, ms: median (quartiles), fastest | "
      "Ratio of medians | Median of paired ratios | Product - bare, ms | Share of the product's call, paired |\n"
      "|---|---|---|---|---|---|---|\n");
  for (const ActionTiming& entry : timings) {
    const Spread product = spreadOf(entry.timing.product);
    const Spread bare = spreadOf(entry.timing.bare);
    const double paired = medianOfPairedRatios(entry.timing);
    std::printf("| %s | %.1f (%.1f-%.1f), %.1f | %.1f (%.1f-%.1f), %.1f | %.3f | %.3f | %.1f | %.1f %% |\n",
                entry.action.c_str(), product.median, product.lowerQuartile, product.upperQuartile, product.fastest,
                bare.median, bare.lowerQuartile, bare.upperQuartile, bare.fastest, product.median / bare.median, paired,
                product.median - bare.median, 100 * (1 - 1 / paired));
  }
}

long fileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<long>(data.nFileSizeLow);
}

std::string environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct Options {
  int calls = 60;
  bool checkOnly = false;
  bool callCosts = false;
  std::vector<std::string> selected;  // actions, or kProfileCurve
};

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--calls" && i + 1 < argc) {
      options.calls = std::max(kFewestCalls, std::atoi(argv[++i]));
    } else if (option == "--check-only") {
      options.checkOnly = true;
    } else if (option == "--call-costs") {
      options.callCosts = true;
    } else {
      options.selected.push_back(option);
    }
  }
  return options;
}

bool authorPackages(const Dll& product, const Dll& bare, const std::string& folder) {
  authoring::machine::createFolders(folder);
  for (const Dll* dll : {&product, &bare}) {
    std::string error;
    if (!authoring::buildActionPackage(dll->package, dll->path, true, error)) {
      std::printf("FAIL authoring the %s package: %s\n", dll->name, error.c_str());
      return false;
    }
    std::printf("%-7s DLL %s: %ld bytes\n", dll->name, dll->path.c_str(), fileBytes(dll->path));
  }
  return true;
}

// Each action once per DLL, verbose and quiet; all are checked before the answer.
bool checkActions(const Dll& product, const Dll& bare, const std::vector<Workload>& chosen) {
  bool same = true;
  for (const Workload& work : chosen) {
    same = sameBehaviour(product, bare, work, true, work.name) &&
           sameBehaviour(product, bare, work, false, work.name) && same;
  }
  return same;
}

bool timeActions(const Dll& product, const Dll& bare, const std::vector<Workload>& chosen, int calls) {
  std::printf("\n%d calls per DLL and action, alternating, each on a freshly opened package; MsiDoAction timed\n",
              calls);
  std::vector<ActionTiming> timings;
  for (const Workload& work : chosen) {
    timings.push_back({work.name, {}});
    if (!timeCalls(product, bare, work, calls, &timings.back().timing)) return false;
    std::printf("timed %s\n", work.name.c_str());
    std::fflush(stdout);
  }
  printTable(timings);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: quorvel_engine_bench <product-dll> <bare-dll> <work-folder> [--calls N] [--check-only] "
                 "[work... | profiles]\n"
                 "       quorvel_engine_bench <product-dll> <bare-dll> <work-folder> --call-costs\n");
    return 2;
  }
  const Options options = parseOptions(argc, argv);
  // Profiles that an interrupted run left would weigh on every call.
  ExtraProfiles extraProfiles(kMostExtraProfiles);
  if (options.callCosts) {
    printCallCosts(kCallCostRepetitions);
    return 0;
  }
  const std::string trash = environmentVariable("BENCH_TRASH");
  const std::string icaclsFolder = environmentVariable("ICACLS_DOUBLE_DIR");
  if (trash.empty() || icaclsFolder.empty()) {
    std::fprintf(stderr, "BENCH_TRASH and ICACLS_DOUBLE_DIR must be set (scripts/bench-engine.sh sets them)\n");
    return 2;
  }
  authoring::icacls::useFolder(icaclsFolder);

  const std::vector<std::string>& selected = options.selected;
  std::vector<Workload> chosen;
  for (const Workload& work : workloads(trash)) {
    if (selected.empty() || std::find(selected.begin(), selected.end(), work.name) != selected.end()) {
      chosen.push_back(work);
    }
  }
  const bool curve = selected.empty() || std::find(selected.begin(), selected.end(), kProfileCurve) != selected.end();
  if (chosen.size() + (curve ? 1 : 0) < std::max<size_t>(selected.size(), 1)) {
    std::fprintf(stderr, "unknown work among those named (the works' names, or %s)\n", kProfileCurve);
    return 2;
  }

  const Dll product{"product", argv[1], std::string(argv[3]) + "\\product.msi"};
  const Dll bare{"bare", argv[2], std::string(argv[3]) + "\\bare.msi"};
  if (!authorPackages(product, bare, argv[3])) return 1;
  captureActionLines();
  if (!checkActions(product, bare, chosen)) return 1;
  if (!options.checkOnly && !chosen.empty() && !timeActions(product, bare, chosen, options.calls)) return 1;
  if (curve) {
    std::printf("\nRemoveFolder on a one-file package folder against the extra profiles on the machine\n");
    if (!runProfileCurve(product, bare, oneFileFolderRemoval(trash), options.calls, options.checkOnly, extraProfiles)) {
      return 1;
    }
  }
  return 0;
}
