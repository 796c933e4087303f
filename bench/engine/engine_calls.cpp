#include "engine_calls.hpp"

#include "machine.hpp"

#include <tlhelp32.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstdio>

namespace quorvel::bench {

namespace {

namespace machine = quorvel::authoring::machine;

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

// A call that the engine never ends (under wine one did once, with no
// custom-action server left running) fails the run at once instead of
// holding the machine until the script's time-out.
class HangWatch {
 public:
  explicit HangWatch(const std::string& action) : action_(action) {
    if (!CreateTimerQueueTimer(&timer_, nullptr, fail, this, kLongestCallMs, 0, WT_EXECUTEONLYONCE)) timer_ = nullptr;
  }
  ~HangWatch() {
    if (timer_) DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
  }
  HangWatch(const HangWatch&) = delete;
  HangWatch& operator=(const HangWatch&) = delete;

 private:
  static constexpr DWORD kLongestCallMs = 120000;

  static void CALLBACK fail(void* watch, BOOLEAN) {
    std::printf("FAIL %s: the engine did not end the call within %lu s\n",
                static_cast<HangWatch*>(watch)->action_.c_str(), kLongestCallMs / 1000);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
  }

  std::string action_;
  HANDLE timer_ = nullptr;
};

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

double quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  const double at = q * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(at);
  const size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (at - static_cast<double>(below)) * (values[above] - values[below]);
}

}  // namespace

void captureActionLines() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIRecord(captureLine, INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, nullptr, nullptr);
}

bool callOnce(const Dll& dll, const Workload& work, bool verbose, bool observe, Call* call) {
  // The atoms as a quiet call leaves them, so that every call meets the same.
  machine::deleteAtom(L"WcaVerboseLogging");
  machine::addAtom(L"WcaNotVerboseLogging");
  if (!work.prepare()) {
    std::printf("FAIL %s: the machine could not be prepared\n", work.action.c_str());
    return false;
  }
  const HangWatch watch(work.action);
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

// What both DLLs must agree on: the answer, the machine afterwards and the
// lines. The guard writes a line only when it refuses a target or fails, and
// the benchmark's targets are the package's own folders, so a passing
// product writes no line that the bare DLL lacks: the lines compare whole.
bool sameBehaviour(const Dll& product, const Dll& bare, const Workload& work, bool verbose, const std::string& name) {
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
    std::printf("same  %s (%s): answer %u, %zu lines, machine change alike\n", name.c_str(), mode, ofProduct.code,
                ofProduct.lines.size());
    return true;
  }
  std::printf("FAIL  %s (%s): the bare DLL does not do what the product does\n", name.c_str(), mode);
  std::printf("  answers: product %u, bare %u\n", ofProduct.code, ofBare.code);
  printLines("product", ofProduct.lines);
  printLines("bare", ofBare.lines);
  std::printf("  product's machine:\n%s\n  bare's machine:\n%s\n", ofProduct.machine.c_str(), ofBare.machine.c_str());
  return false;
}

bool timeCalls(const Dll& product, const Dll& bare, const Workload& work, int calls, Timing* timing) {
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

Spread spreadOf(const std::vector<double>& values) {
  return {quantile(values, 0), quantile(values, 0.25), quantile(values, 0.5), quantile(values, 0.75)};
}

double medianOfPairedRatios(const Timing& timing) {
  std::vector<double> paired;
  for (size_t i = 0; i < timing.product.size(); ++i) paired.push_back(timing.product[i] / timing.bare[i]);
  return spreadOf(paired).median;
}

}  // namespace quorvel::bench
