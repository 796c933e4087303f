// Shared pieces of the benchmarks: a freshly loaded library over a fresh
// stand-in machine, and checks whose failure makes the run fail.
#pragma once

#include <standin.h>

#include <string>

#include "runtime/wcautil.h"

namespace bench {

// A fresh stand-in machine with the library loaded into it.
inline void LoadLibrary() {
  standin::Reset();
  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
}

// Records a failed check; the run reports it and exits with 1. Answers `ok`.
bool Check(bool ok, const std::string& what);

}  // namespace bench
