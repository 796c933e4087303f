// Runs a command line as a hidden child process and turns its outcome into a
// Result; every failure is logged here before it is returned.
#pragma once

#include <windows.h>

// The largest command line accepted, in characters without the terminator.
constexpr size_t kLongestQuietCommandLine = 1023;

// S_OK when the child started, ended within `timeoutMilliseconds` and exited
// with 0. E_FAIL for a time-out (the child is left running) or a nonzero exit
// code; the converted last error (E_FAIL when it reads 0) for a failed call;
// E_INVALIDARG for a missing or too long command line, which starts nothing.
HRESULT execQuietCmdLine(const char* commandLine, DWORD timeoutMilliseconds);
