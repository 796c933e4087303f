// One action call through the Installer engine, the mirror check of the bare
// DLL against the product, and the timing of calls of both, alternating.
#pragma once

#include "workloads.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace quorvel::bench {

struct Dll {
  const char* name;
  std::string path;
  std::string package;  // authored once, opened afresh for every call
};

struct Call {
  UINT code = 0;
  double milliseconds = 0;
  std::vector<std::string> lines;  // the action's own, field 0 as sent
  std::string machine;             // what observe() read afterwards
};

// Keeps the information messages of the running action; once, before any call.
void captureActionLines();

// One call of the action on a freshly opened package, only MsiDoAction timed;
// false when the machine could not be prepared or the package not opened.
bool callOnce(const Dll& dll, const Workload& work, bool verbose, bool observe, Call* call);

// Calls the action once per DLL and prints "same  <name> (<mode>): ..." when
// both answer alike, write the same lines and leave the machine alike, else
// "FAIL  <name> ..." with what each did. `name` tells the call apart in the
// output (the call trace files its platform calls under it).
bool sameBehaviour(const Dll& product, const Dll& bare, const Workload& work, bool verbose, const std::string& name);

struct Timing {
  std::vector<double> product;  // milliseconds, in call order
  std::vector<double> bare;
};

// `calls` quiet calls per DLL, round by round, the product first in even
// rounds and the bare DLL first in odd ones; false when one fails.
bool timeCalls(const Dll& product, const Dll& bare, const Workload& work, int calls, Timing* timing);

struct Spread {
  double fastest;
  double lowerQuartile;
  double median;
  double upperQuartile;
};

Spread spreadOf(const std::vector<double>& values);

// The median of the ratios of the product's and the bare DLL's calls of the
// same round: the load of the moment weighs on both alike.
double medianOfPairedRatios(const Timing& timing);

}  // namespace quorvel::bench
