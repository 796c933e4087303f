// Engine benchmark: the per-call time of each of the five actions under the
// Installer engine, the product DLL against a bare DLL that makes the same
// platform calls with nothing around them (bare_actions.cpp).
//
//   quorvel_engine_bench.exe <product-dll> <bare-dll> <work-folder> [--calls N] [--check-only] [action...]
//
// Each DLL gets one package, authored once. Every call opens that package
// afresh, sets CustomActionData, runs the action with MsiDoAction and closes
// the package; only MsiDoAction is timed. Before every call the machine is put
// back where the action has its work to do. The two DLLs alternate, round by
// round, in the order product-bare, bare-product, ...
//
// Before timing, each action runs once per DLL on a verbose and on a quiet
// package: the answers, the action's lines and the machine change must be the
// same, or the bare DLL does not mirror the product and the benchmark exits 1.
// It also exits 1 when a timed call fails or the machine cannot be prepared.
//
// Reads BENCH_TRASH (the engine's trash folder, as a Windows path) and
// ICACLS_DOUBLE_DIR (the recording icacls double's folder).

#include "action_package.hpp"
#include "icacls_record.hpp"
#include "machine.hpp"
#include "workloads.hpp"

#include <windows.h>

#include <tlhelp32.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using quorvel::bench::Workload;
namespace authoring = quorvel::authoring;

constexpr int kFewestCalls = 20;

struct Dll {
  const char* name;
  std::string path;
  std::string package;
};

// The information messages of the running action, field 0 as sent.
std::vector<std::string> capturedLines;

int WINAPI captureLine(LPVOID, UINT type, MSIHANDLE record) {
  if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO) {
    char text[4096];
    DWORD size = sizeof text;
    if (MsiRecordGetStringA(record, 0, text, &size) == ERROR_SUCCESS) capturedLines.emplace_back(text, size);
  }
  return 0;
}

struct Call {
  UINT code = 0;
  double milliseconds = 0;
  std::vector<std::string> lines;  // the action's own
  std::string machine;             // what observe() read afterwards
};

double seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The engine starts a custom-action server (msiexec) for each package and
// ends it once the package is closed. Waiting for it keeps its shutdown out
// of the next call's time.
void awaitCustomActionServers() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId() || _stricmp(entry.szExeFile, "msiexec.exe") != 0) continue;
    const HANDLE server = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (server == nullptr) continue;
    WaitForSingleObject(server, 10000);
    CloseHandle(server);
  }
  CloseHandle(snapshot);
}

// One call of the action on a freshly opened package; false when the
// machine could not be prepared or the package not opened.
bool callOnce(const Dll& dll, const Workload& work, bool verbose, bool observe, Call* call) {
  // The atoms as a quiet call leaves them, so that every call meets the same.
  authoring::machine::deleteAtom(L"WcaVerboseLogging");
  authoring::machine::addAtom(L"WcaNotVerboseLogging");
  if (!work.prepare()) {
    std::printf("FAIL %s: the machine could not be prepared\n", work.action.c_str());
    return false;
  }
  MSIHANDLE package = 0;
  const UINT opened = MsiOpenPackageA(dll.package.c_str(), &package);
  if (opened != ERROR_SUCCESS) {
    std::printf("FAIL MsiOpenPackage %s answered %u\n", dll.package.c_str(), opened);
    return false;
  }
  MsiSetPropertyA(package, "CustomActionData", work.customActionData.c_str());
  if (verbose) MsiSetPropertyA(package, "LOGVERBOSE", "1");
  capturedLines.clear();
  LARGE_INTEGER started;
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&started);
  call->code = MsiDoActionA(package, work.action.c_str());
  QueryPerformanceCounter(&ended);
  MsiCloseHandle(package);
  awaitCustomActionServers();
  call->milliseconds = 1000 * seconds(started, ended);
  const std::string prefix = work.action + ":";
  call->lines.clear();
  for (const std::string& line : capturedLines) {
    if (line.compare(0, prefix.size(), prefix) == 0) call->lines.push_back(line);
  }
  if (observe) call->machine = work.observe();
  return true;
}

// The entry line names the temporary copy the engine made of the DLL, which
// differs from call to call.
std::string withoutModulePath(const std::string& line) {
  const size_t in = line.find(":  Entering ");
  const size_t from = in == std::string::npos ? in : line.find(" in ", in);
  const size_t to = from == std::string::npos ? from : line.find(", version ", from);
  if (to == std::string::npos) return line;
  return line.substr(0, from + 4) + "<module>" + line.substr(to);
}

void printLines(const char* who, const std::vector<std::string>& lines) {
  std::printf("  %s lines:\n", who);
  for (const std::string& line : lines) std::printf("    %s\n", line.c_str());
}

// The bare DLL mirrors the product when both answer alike, write the same
// lines and leave the machine alike.
bool sameBehaviour(const Dll& product, const Dll& bare, const Workload& work, bool verbose) {
  Call ofProduct;
  Call ofBare;
  if (!callOnce(product, work, verbose, true, &ofProduct) || !callOnce(bare, work, verbose, true, &ofBare)) {
    return false;
  }
  for (Call* call : {&ofProduct, &ofBare}) {
    std::transform(call->lines.begin(), call->lines.end(), call->lines.begin(), withoutModulePath);
  }
  const char* mode = verbose ? "verbose" : "quiet";
  if (ofProduct.code == ofBare.code && ofProduct.lines == ofBare.lines && ofProduct.machine == ofBare.machine) {
    std::printf("same  %s (%s): answer %u, %zu lines, machine change alike\n", work.action.c_str(), mode,
                ofProduct.code, ofProduct.lines.size());
    return true;
  }
  std::printf("FAIL  %s (%s): the bare DLL does not mirror the product\n", work.action.c_str(), mode);
  std::printf("  answers: product %u, bare %u\n", ofProduct.code, ofBare.code);
  printLines("product", ofProduct.lines);
  printLines("bare", ofBare.lines);
  std::printf("  product's machine:\n%s\n  bare's machine:\n%s\n", ofProduct.machine.c_str(), ofBare.machine.c_str());
  return false;
}

struct Spread {
  double fastest;
  double lowerQuartile;
  double median;
  double upperQuartile;
};

double quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  const double at = q * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(at);
  const size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (at - static_cast<double>(below)) * (values[above] - values[below]);
}

Spread spreadOf(const std::vector<double>& values) {
  return {quantile(values, 0), quantile(values, 0.25), quantile(values, 0.5), quantile(values, 0.75)};
}

struct Timing {
  std::string action;
  std::vector<double> product;
  std::vector<double> bare;
};

bool timeAction(const Dll& product, const Dll& bare, const Workload& work, int calls, Timing* timing) {
  timing->action = work.action;
  for (int round = 0; round < calls; ++round) {
    const bool productFirst = round % 2 == 0;
    for (const Dll* dll :
         productFirst ? std::vector<const Dll*>{&product, &bare} : std::vector<const Dll*>{&bare, &product}) {
      Call call;
      if (!callOnce(*dll, work, false, false, &call)) return false;
      if (call.code != ERROR_SUCCESS) {
        std::printf("FAIL %s of the %s DLL answered %u\n", work.action.c_str(), dll->name, call.code);
        return false;
      }
      (dll == &product ? timing->product : timing->bare).push_back(call.milliseconds);
    }
  }
  return true;
}

// Per DLL the median and quartiles of the calls' times and the fastest call;
// the ratios set the product against the bare DLL, overall and round by round.
void printTable(const std::vector<Timing>& timings) {
  std::printf(
      "\n| Action | Product, ms: median (quartiles), fastest | Bare, ms: median (quartiles), fastest | "
      "Ratio of medians | Median of paired ratios |\n|---|---|---|---|---|\n");
  for (const Timing& timing : timings) {
    std::vector<double> paired;
    for (size_t i = 0; i < timing.product.size(); ++i) paired.push_back(timing.product[i] / timing.bare[i]);
    const Spread product = spreadOf(timing.product);
    const Spread bare = spreadOf(timing.bare);
    std::printf("| %s | %.1f (%.1f-%.1f), %.1f | %.1f (%.1f-%.1f), %.1f | %.3f | %.3f |\n", timing.action.c_str(),
                product.median, product.lowerQuartile, product.upperQuartile, product.fastest, bare.median,
                bare.lowerQuartile, bare.upperQuartile, bare.fastest, product.median / bare.median,
                spreadOf(paired).median);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: quorvel_engine_bench <product-dll> <bare-dll> <work-folder> [--calls N] [--check-only] [action...]\n");
    return 2;
  }
  Dll product{"product", argv[1], std::string(argv[3]) + "\\product.msi"};
  Dll bare{"bare", argv[2], std::string(argv[3]) + "\\bare.msi"};
  int calls = 60;
  bool checkOnly = false;
  std::vector<std::string> selected;
  for (int i = 4; i < argc; ++i) {
    if (std::string(argv[i]) == "--calls" && i + 1 < argc) {
      calls = std::max(kFewestCalls, std::atoi(argv[++i]));
    } else if (std::string(argv[i]) == "--check-only") {
      checkOnly = true;
    } else {
      selected.push_back(argv[i]);
    }
  }
  const std::string trash = environmentVariable("BENCH_TRASH");
  const std::string icaclsFolder = environmentVariable("ICACLS_DOUBLE_DIR");
  if (trash.empty() || icaclsFolder.empty()) {
    std::fprintf(stderr, "BENCH_TRASH and ICACLS_DOUBLE_DIR must be set (scripts/bench-engine.sh sets them)\n");
    return 2;
  }
  authoring::icacls::useFolder(icaclsFolder);

  authoring::machine::createFolders(argv[3]);
  for (const Dll* dll : {&product, &bare}) {
    std::string error;
    if (!authoring::buildActionPackage(dll->package, dll->path, true, error)) {
      std::printf("FAIL authoring the %s package: %s\n", dll->name, error.c_str());
      return 1;
    }
    std::printf("%-7s DLL %s: %ld bytes\n", dll->name, dll->path.c_str(), fileBytes(dll->path));
  }
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIRecord(captureLine, INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, nullptr, nullptr);

  std::vector<Workload> chosen;
  for (const Workload& work : quorvel::bench::workloads(trash)) {
    if (selected.empty() || std::find(selected.begin(), selected.end(), work.action) != selected.end()) {
      chosen.push_back(work);
    }
  }
  bool mirrored = true;
  for (const Workload& work : chosen) {
    mirrored = sameBehaviour(product, bare, work, true) && sameBehaviour(product, bare, work, false) && mirrored;
  }
  if (!mirrored) return 1;
  if (checkOnly) return 0;

  std::printf("\n%d calls per DLL and action, alternating, each on a freshly opened package; MsiDoAction timed\n",
              calls);
  std::vector<Timing> timings;
  for (const Workload& work : chosen) {
    Timing timing;
    if (!timeAction(product, bare, work, calls, &timing)) return 1;
    timings.push_back(timing);
    std::printf("timed %s\n", work.action.c_str());
    std::fflush(stdout);
  }
  printTable(timings);
  return 0;
}
