// One log line through the runtime against a baseline that formats the same
// text with snprintf and sends it in one record, with nothing around it.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "allocations.h"
#include "bench.h"
#include "runtime/wcalog.h"

namespace {

constexpr char kLabel[] = "RemoveRegistries";
constexpr char kName[] = "C:\\Program Files\\Quorvel\\SDK\\bin\\";
constexpr int kCountedLines = 1000;

enum class Kind { kStandard, kVerbose, kVerboseSuppressed };

// A session as an action has it, without a database, so that the atoms set
// here alone decide the verbose lines.
MSIHANDLE StartSession(bool verbose) {
  bench::LoadLibrary();
  standin::AddAtom(verbose ? L"WcaVerboseLogging" : L"WcaNotVerboseLogging");
  const MSIHANDLE session = standin::NewSession(false);
  bench::Check(WcaInitialize(session, kLabel) == S_OK, "the benchmark session did not start");
  standin::ClearMessages();  // the entry line
  return session;
}

void RuntimeLine(Kind kind) {
  if (kind == Kind::kStandard) {
    LogLine(kLogStandard, "remove subKeyValue : %s", kName);
  } else {
    LogLine(kLogVerbose, "subKeyValue (read only): %s", kName);
  }
}

void BaselineLine(MSIHANDLE session, Kind kind) {
  char line[2048];
  if (kind == Kind::kStandard) {
    std::snprintf(line, sizeof line, "%s:  remove subKeyValue : %s", kLabel, kName);
  } else {
    std::snprintf(line, sizeof line, "%s:  subKeyValue (read only): %s", kLabel, kName);
  }
  const MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, line);
  MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

std::string Expected(Kind kind) {
  return std::string(kLabel) + (kind == Kind::kStandard ? ":  remove subKeyValue : " : ":  subKeyValue (read only): ") +
         kName;
}

template <typename WriteLine>
void Measure(benchmark::State& state, Kind kind, const char* what, WriteLine writeLine) {
  const MSIHANDLE session = StartSession(kind != Kind::kVerboseSuppressed);
  // The line must really be written (or, suppressed, really not).
  writeLine(session);
  const std::vector<std::string> lines = standin::LogLines();
  if (kind == Kind::kVerboseSuppressed) {
    bench::Check(lines.empty(), std::string(what) + ": a suppressed verbose line was written");
  } else {
    bench::Check(lines.size() == 1 && lines[0] == Expected(kind), std::string(what) + ": the line written is wrong");
  }

  standin::SetRecording(false);
  writeLine(session);  // warm: the stand-in has made its record once
  {
    const bench::AllocationCounter counter;
    for (int i = 0; i < kCountedLines; ++i) writeLine(session);
    state.counters["allocs_per_line"] = static_cast<double>(counter.Since()) / kCountedLines;
  }

  for (auto _ : state) writeLine(session);
  FinishSession(ERROR_SUCCESS);
  bench::Check(standin::OpenInstallerHandles() == 0, std::string(what) + ": a handle was left open");
}

void Runtime(benchmark::State& state, Kind kind, const char* what) {
  Measure(state, kind, what, [kind](MSIHANDLE) { RuntimeLine(kind); });
}

void Baseline(benchmark::State& state, Kind kind, const char* what) {
  Measure(state, kind, what, [kind](MSIHANDLE session) { BaselineLine(session, kind); });
}

void StandardRuntime(benchmark::State& state) { Runtime(state, Kind::kStandard, "standard line"); }
void StandardBaseline(benchmark::State& state) { Baseline(state, Kind::kStandard, "standard baseline"); }
void VerboseRuntime(benchmark::State& state) { Runtime(state, Kind::kVerbose, "verbose line"); }
void VerboseBaseline(benchmark::State& state) { Baseline(state, Kind::kVerbose, "verbose baseline"); }
void VerboseSuppressed(benchmark::State& state) { Runtime(state, Kind::kVerboseSuppressed, "suppressed line"); }

}  // namespace

BENCHMARK(StandardRuntime)->Name("Line/Standard/Runtime");
BENCHMARK(StandardBaseline)->Name("Line/Standard/SnprintfBaseline");
BENCHMARK(VerboseRuntime)->Name("Line/Verbose/Runtime");
BENCHMARK(VerboseBaseline)->Name("Line/Verbose/SnprintfBaseline");
// A verbose line while the atoms say "not verbose": two look-ups, nothing sent.
BENCHMARK(VerboseSuppressed)->Name("Line/Verbose/Suppressed");
