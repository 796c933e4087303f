// RemoveRegistries over a large Folders key against a raw loop that makes the
// same platform calls (registry, atom look-ups, log records) with nothing
// around them.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "actions/exports.h"
#include "bench.h"
#include "targetguard/targetguard.h"

namespace {

constexpr char kFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr char kPrefix[] = "C:\\Program Files\\Quorvel\\SDK";

// The names of a key of `count` values, one in ten under the prefix; a
// sibling folder that merely continues the prefix ("SDK2") must not match.
const std::vector<std::string>& FolderNames(int count) {
  static std::map<int, std::vector<std::string>> made;
  std::vector<std::string>& names = made[count];
  if (names.empty()) {
    for (int i = 0; i < count; ++i) {
      const std::string number = std::to_string(i);
      switch (i % 10) {
        case 0:
          names.push_back(std::string(kPrefix) + "\\Tools " + number + "\\");
          break;
        case 1:
          names.push_back(std::string(kPrefix) + "2\\Samples " + number + "\\");
          break;
        default:
          names.push_back("C:\\Program Files\\Other Vendor\\Product " + number + "\\");
      }
    }
  }
  return names;
}

bool Matches(const char* name) {
  const size_t length = sizeof(kPrefix) - 1;
  return std::strncmp(name, kPrefix, length) == 0 && (name[length] == '\0' || name[length] == '\\');
}

// A fresh machine whose Folders key holds `count` values, and a session that
// asks RemoveRegistries for the prefix, with "not verbose" published as an
// installation without verbose logging has it. Recording is off: the key is
// large.
MSIHANDLE PrepareMachine(int count) {
  bench::LoadLibrary();
  standin::SetRecording(false);
  standin::AddAtom(L"WcaNotVerboseLogging");
  for (const std::string& name : FolderNames(count)) standin::SetDwordValue(kFoldersKey, name, 1);
  const MSIHANDLE session = standin::NewSession();
  standin::SetProperty(session, "CustomActionData", kPrefix);
  return session;
}

// Whether a verbose line is to be written, by the same atom look-ups that the
// runtime makes; the benchmark machine has published "not verbose".
bool VerboseWanted() {
  if (GlobalFindAtomW(L"WcaVerboseLogging")) return true;
  GlobalFindAtomW(L"WcaNotVerboseLogging");
  return false;
}

void Send(MSIHANDLE session, const char* line) {
  const MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, line);
  MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

// What RemoveRegistries does on the platform, written plainly: one pass to
// collect the matching names, one to delete them, each line formatted once
// with snprintf and sent in one record. The guard on the prefix is the
// action's fixed cost whatever the key holds; both pay it alike.
void RawLoop(MSIHANDLE session) {
  char line[2048];
  if (FAILED(RefuseUnsafePrefix(kPrefix))) return;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFoldersKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  DWORD longest = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                   nullptr);
  std::vector<char> name(longest + 1);
  std::vector<std::string> matches;
  for (DWORD index = 0;; ++index) {
    DWORD chars = static_cast<DWORD>(name.size());
    if (RegEnumValueA(key, index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const bool match = Matches(name.data());
    if (match) matches.emplace_back(name.data());
    if (VerboseWanted()) {
      std::snprintf(
          line, sizeof line,
          match ? "RemoveRegistries:  subKeyValue (push_buck): %s" : "RemoveRegistries:  subKeyValue (read only): %s",
          name.data());
      Send(session, line);
    }
  }
  for (const std::string& match : matches) {
    if (RegDeleteValueA(key, match.c_str()) != ERROR_SUCCESS) break;
    std::snprintf(line, sizeof line, "RemoveRegistries:  remove subKeyValue : %s", match.c_str());
    Send(session, line);
  }
  RegCloseKey(key);
}

// The platform calls that a run makes from opening the key to closing it
// (the heap calls left out: how each keeps its buffers is its own), the lines
// it writes meanwhile, and the values it leaves.
struct Trace {
  std::vector<std::string> calls;
  std::vector<std::string> lines;
  std::vector<std::string> left;
};

Trace TraceOf(void (*run)(MSIHANDLE), int count) {
  const MSIHANDLE session = PrepareMachine(count);
  standin::SetRecording(true);
  standin::ClearMessages();
  run(session);
  Trace trace;
  const std::vector<std::string>& calls = standin::Calls();
  auto first = std::find(calls.begin(), calls.end(), "RegOpenKeyExA");
  auto last = std::find(calls.rbegin(), calls.rend(), "RegCloseKey");
  if (first != calls.end() && last != calls.rend()) {
    std::copy_if(first, last.base(), std::back_inserter(trace.calls),
                 [](const std::string& call) { return call.rfind("Heap", 0) != 0; });
  }
  for (const std::string& line : standin::LogLines()) {
    if (line.find("remove subKeyValue") != std::string::npos || line.find("subKeyValue (") != std::string::npos) {
      trace.lines.push_back(line);
    }
  }
  trace.left = standin::ValueNames(kFoldersKey);
  standin::SetRecording(false);
  return trace;
}

void RunAction(MSIHANDLE session) {
  bench::Check(RemoveRegistries(session) == ERROR_SUCCESS, "RemoveRegistries failed");
}
void RunRawLoop(MSIHANDLE session) { RawLoop(session); }

// Before timing: the action and the raw loop make the same registry calls
// and leave the same values, nine in ten.
void CheckSameCalls(int count) {
  static std::map<int, bool> checked;
  if (checked[count]) return;
  checked[count] = true;
  const Trace action = TraceOf(RunAction, count);
  const Trace raw = TraceOf(RunRawLoop, count);
  bench::Check(!action.calls.empty() && action.calls == raw.calls,
               "the raw loop's platform calls differ from the action's");
  bench::Check(action.lines == raw.lines && action.lines.size() == static_cast<size_t>(count / 10),
               "the raw loop and the action write different lines");
  bench::Check(action.left == raw.left && action.left.size() == static_cast<size_t>(count - count / 10),
               "the raw loop and the action leave different values");
}

// CPU time of this thread: the machine is shared, and time spent waiting for
// a core is not the code's.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Each iteration runs the action and then the raw loop on the same key, so
// that both see the same load on the machine. The reported time is the
// action's; the raw loop's and the ratio are counters.
void Paired(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CheckSameCalls(count);
  const MSIHANDLE session = PrepareMachine(count);
  std::vector<std::string> removed;
  for (const std::string& name : FolderNames(count)) {
    if (Matches(name.c_str())) removed.push_back(name);
  }
  // Registers the removed folders again; they now enumerate last.
  auto restore = [&removed] {
    for (const std::string& name : removed) standin::SetDwordValue(kFoldersKey, name, 1);
  };
  double actionSeconds = 0;
  double rawSeconds = 0;
  for (auto _ : state) {
    const double started = ThreadSeconds();
    RemoveRegistries(session);
    const double actionEnded = ThreadSeconds();
    restore();
    const double rawStarted = ThreadSeconds();
    RawLoop(session);
    const double rawEnded = ThreadSeconds();
    restore();
    state.SetIterationTime(actionEnded - started);
    actionSeconds += actionEnded - started;
    rawSeconds += rawEnded - rawStarted;
  }
  state.SetComplexityN(count);
  const double iterations = static_cast<double>(state.iterations());
  state.counters["raw_loop_us"] = rawSeconds / iterations * 1e6;
  state.counters["ratio"] = actionSeconds / rawSeconds;
  state.counters["ns_per_value"] = actionSeconds / iterations / count * 1e9;
}

}  // namespace

BENCHMARK(Paired)
    ->Name("RemoveRegistries/ActionAgainstRawLoop")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);
