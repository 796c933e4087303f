#include <standin.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <map>

#include "parts.h"

namespace standin {
namespace {

struct InjectedFailure {
  DWORD error;
  int skip;
  int times;
};

std::vector<std::string> calls;
// Transparent: looking a call's name up must not allocate.
std::map<std::string, InjectedFailure, std::less<>> failures;
bool recording = true;
thread_local DWORD lastError = 0;
thread_local int callDepth = 0;

}  // namespace

void Reset() {
  ResetCalls();
  ResetInstaller();
  ResetRegistry();
  ResetAtoms();
  ResetHeap();
  ResetModule();
  ResetCodePages();
  ResetSandbox();
  ResetKernel();
  ResetFileHandles();
  ResetFolders();
  ResetSecurity();
}

void ResetCalls() {
  calls.clear();
  failures.clear();
  recording = true;
  lastError = 0;
}

const std::vector<std::string>& Calls() { return calls; }

int CallCount(const std::string& name) { return static_cast<int>(std::count(calls.begin(), calls.end(), name)); }

void ClearCalls() { calls.clear(); }

void SetRecording(bool on) { recording = on; }

bool Recording() { return recording; }

void FailCall(const std::string& name, DWORD error, int skip, int times) {
  failures[name] = InjectedFailure{error, skip, times};
}

Call::Call(const char* name) {
  ++callDepth;
  if (recording) calls.emplace_back(name);
  RunCallHooks(name);
  auto found = failures.find(name);
  if (found == failures.end()) return;
  InjectedFailure& failure = found->second;
  if (failure.skip > 0) {
    --failure.skip;
    return;
  }
  if (failure.times == 0) return;
  if (failure.times > 0) --failure.times;
  failure_ = failure.error;
}

Call::~Call() { --callDepth; }

bool InsideCall() { return callDepth > 0; }

std::string FoldCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::wstring FoldCase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

}  // namespace standin

extern "C" DWORD WINAPI GetLastError(void) { return standin::lastError; }

extern "C" void WINAPI SetLastError(DWORD error) { standin::lastError = error; }
