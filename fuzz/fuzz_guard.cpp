// Arbitrary path bytes to the target guard on a stand-in machine with many
// profiles, links of trusted and untrusted owners, profiles moved and kept
// outside the profiles folder, redirected folders and short names. Every
// decision is checked against the reference decision made the simple way
// (tests/guard_reference.h): by the identities of every standard folder and
// every ancestor of where each really is. The first byte picks the ANSI code
// page (bit 0: 932, else 1252); the rest is the path, any bytes ("." and
// "..", separators of both kinds, short names, invalid sequences). A
// disagreement, an answer other than S_OK or E_INVALIDARG, or a handle or
// heap block left open aborts, which libFuzzer reports as a crash.
#include <standin.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "guard_reference.h"
#include "runtime/wcautil.h"
#include "targetguard/targetguard.h"

namespace {

guard_reference::ReferenceMachine* machine = nullptr;

[[noreturn]] void Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "fuzz_guard: %s for '%s'\n", what, path.c_str());
  std::abort();
}

// The guard's verdict in the reference's terms; nothing for a refusal of
// another kind (relative, a root, an administrative share).
std::optional<guard_reference::Verdict> Classify(HRESULT result, const std::string& path) {
  if (result == S_OK) return guard_reference::Verdict::kAllowed;
  if (result != E_INVALIDARG) Fail("an answer other than S_OK or E_INVALIDARG", path);
  const std::vector<std::string> lines = standin::LogLines();
  const std::string line = lines.empty() ? "" : lines.back();
  if (line.find("': it is the standard folder '") != std::string::npos) return guard_reference::Verdict::kIs;
  if (line.find("': it holds the standard folder '") != std::string::npos) return guard_reference::Verdict::kHolds;
  if (line.find("': it runs through the link '") != std::string::npos) return guard_reference::Verdict::kLink;
  if (line.find("': it is relative or a volume root") != std::string::npos) return guard_reference::Verdict::kRelative;
  if (line.find("': it is on an administrative share") != std::string::npos) {
    return guard_reference::Verdict::kAdministrative;
  }
  if (line.find("': it names a stream") != std::string::npos) return guard_reference::Verdict::kStream;
  if (line.find("': it cannot be examined") != std::string::npos)
    Fail("a path of this machine cannot be examined", path);
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/quorvel-fuzz-guard-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  standin::Reset();
  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  standin::SetSandbox(folder);
  machine = new guard_reference::ReferenceMachine();
  machine->LayOut(8);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
  if (path.find('\0') != std::string::npos) return 0;  // the argument ends at its first NUL
  standin::SetSystemCodePages((data[0] & 1) ? 932 : 1252, (data[0] & 1) ? 932 : 437);
  standin::ClearMessages();
  standin::ClearCalls();
  if (FAILED(WcaInitialize(standin::NewSession(false), "Guard"))) Fail("the session did not start", path);
  const HRESULT result = [&path] {
    GuardedTarget passed;  // released before the blocks are counted
    return RefuseUnsafeTarget(path.c_str(), &passed);
  }();
  const std::optional<guard_reference::Verdict> verdict = Classify(result, path);
  FinishSession(0);
  if (standin::LiveHeapBlocks() != 0 || standin::OpenKernelHandles() != 0 || standin::OpenRegistryKeys() != 0) {
    Fail("a handle or heap block was left open", path);
  }
  if (!verdict) return 0;
  const guard_reference::Verdict expected = machine->Decide(standin::AnsiToWideLeniently(path));
  if (expected != guard_reference::Verdict::kAbsent && expected != *verdict) {
    Fail(("the guard answered " + std::to_string(static_cast<int>(*verdict)) + ", the reference " +
          std::to_string(static_cast<int>(expected)))
             .c_str(),
         path);
  }
  return 0;
}
