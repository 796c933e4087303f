#include "process/quietcmd.h"

#include <cstring>

#include "process/kernelhandle.h"
#include "runtime/result.h"
#include "runtime/wcalog.h"

HRESULT execQuietCmdLine(const char* commandLine, DWORD timeoutMilliseconds) {
  // Process creation may write into its command line, so it gets a copy in a
  // buffer of this call; a line that does not fit is refused, never cut.
  char command[kLongestQuietCommandLine + 1] = {};
  if (!commandLine) {
    LogErrorLine(E_INVALIDARG, "No command line to run");
    return E_INVALIDARG;
  }
  // Measured against the buffer itself, which must hold the terminator too.
  const size_t length = std::strlen(commandLine);
  if (length >= sizeof command) {
    LogErrorLine(E_INVALIDARG, "Command line of %u characters is too long to run (at most %u)",
                 static_cast<unsigned>(length), static_cast<unsigned>(sizeof command - 1));
    return E_INVALIDARG;
  }
  std::memcpy(command, commandLine, length + 1);

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started = {};

  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    const HRESULT result = LastErrorResult();
    LogErrorLine(result, "CreateProcessW() failed");
    return result;
  }
  KernelHandle process(started.hProcess);
  KernelHandle thread(started.hThread);
  thread.Close();

  const DWORD waited = WaitForSingleObject(process.Get(), timeoutMilliseconds);
  if (waited == WAIT_TIMEOUT) {
    // The child is not ended: it goes on running on its own.
    process.Close();
    LogErrorLine(E_FAIL, "CreateProcessW() timeout");
    return E_FAIL;
  }
  if (waited != WAIT_OBJECT_0) {
    process.Close();
    const HRESULT result = LastErrorResult();
    LogErrorLine(result, "WaitForSingleObject() failed");
    return result;
  }

  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.Get(), &exitCode)) {
    process.Close();
    const HRESULT result = LastErrorResult();
    LogErrorLine(result, "GetExitCodeProcess() failed");
    return result;
  }
  process.Close();
  if (exitCode != 0) {
    LogErrorLine(E_FAIL, "error from process : exitCode = 0x%08x", static_cast<unsigned>(exitCode));
    return E_FAIL;
  }
  return S_OK;
}
