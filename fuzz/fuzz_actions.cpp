// Arbitrary CustomActionData bytes to each of the five actions over the
// stand-in. The first byte picks the action and the machine's answers, the
// second a platform call that fails once; the rest is the argument, as it
// comes (bars, quotation marks, backslashes, any code-page sequence,
// embedded NULs). Every run must finish its session,
// answer 0, 1602 or 1603 and leave no handle or heap block open; anything
// else aborts, which libFuzzer reports as a crash.
#include <stdlib.h>
#include <unistd.h>

#include <standin.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "actions/exports.h"
#include "runtime/wcautil.h"

namespace fs = std::filesystem;

namespace {

std::string scratch;  // <scratch>/drives is the sandbox; <scratch>/ok and /fails hold an icacls

void Fail(const char* what, unsigned code) {
  std::fprintf(stderr, "fuzz_actions: %s (%u)\n", what, code);
  std::abort();
}

// An icacls double that exits with 0 or 1 at once, as a symbolic link to
// /bin/true or /bin/false.
void MakeIcacls(const std::string& folder, const char* tool) {
  fs::create_directories(folder);
  const std::string program =
      fs::exists(std::string("/bin/") + tool) ? std::string("/bin/") + tool : std::string("/usr/bin/") + tool;
  fs::create_symlink(program, folder + "/icacls");
}

// The machine of one run: a few folders (the Quorvel tree with files, an
// empty manufacturer folder, a zero-size file), an Uninstall entry and a
// Folders key.
void PrepareMachine() {
  std::error_code ignored;
  const std::string drives = scratch + "/drives";
  fs::remove_all(drives, ignored);
  fs::create_directories(drives + "/C/Quorvel/SDK/bin");
  fs::create_directories(drives + "/C/Quorvel/Empty");
  fs::create_directories(drives + "/C/Program Files/Quorvel/SDK");
  fs::create_directories(drives + "/UNC/server/share/Quorvel");
  std::FILE* file = std::fopen((drives + "/C/Quorvel/SDK/bin/tool.exe").c_str(), "w");
  if (file) {
    std::fputs("tool", file);
    std::fclose(file);
  }
  file = std::fopen((drives + "/C/Quorvel/zero.txt").c_str(), "w");
  if (file) std::fclose(file);
  standin::SetSandbox(drives);

  standin::SetDwordValue(
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{12345678-1234-1234-1234-123456789ABC}",
      "EstimatedSize", 4096);
  const char* folders = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
  for (const char* name : {"C:\\Quorvel\\SDK\\", "C:\\Quorvel\\SDK\\bin\\", "C:\\Quorvel\\SDK2\\", "c:\\quorvel\\sdk\\",
                           "C:\\Program Files\\Quorvel\\", "\\\\server\\share\\Quorvel\\"}) {
    standin::SetDwordValue(folders, name, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/quorvel-fuzz-XXXXXX";
  if (!mkdtemp(pattern)) Fail("no scratch folder", 0);
  scratch = pattern;
  MakeIcacls(scratch + "/ok", "true");
  MakeIcacls(scratch + "/fails", "false");
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
  });
  return 0;
}

// Calls that an input can make fail once: high nibble of the second byte (0:
// none); its low nibble gives the calls that still work first (bits 0-2) and
// the error (bit 3: file not found, else access denied).
const char* const kFailingCalls[16] = {nullptr,
                                       "RegOpenKeyExA",
                                       "RegQueryInfoKeyA",
                                       "RegEnumValueA",
                                       "RegDeleteValueA",
                                       "RegSetValueExA",
                                       "MsiGetPropertyA",
                                       "MsiCreateRecord",
                                       "HeapAlloc",
                                       "CreateProcessA",
                                       "WaitForSingleObject",
                                       "GetExitCodeProcess",
                                       "SHFileOperationA",
                                       "GetFileAttributesW",
                                       "FindFirstFileExW",
                                       "MultiByteToWideChar"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t control = data[0];
  const uint8_t failure = data[1];
  const std::string argument(reinterpret_cast<const char*>(data) + 2, size - 2);

  standin::Reset();
  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  standin::SetRecording(false);  // a long run would keep every call
  standin::CapWaits(5000);
  PrepareMachine();

  // Bits 3-7 of the control byte: the machine's answers.
  const bool withDatabase = !(control & 0x08);
  const MSIHANDLE session = standin::NewSession(withDatabase);
  // The verbosity settles once per process; a session without a database
  // reads the atoms alone, so they vary the verbose lines from run to run.
  if (control & 0x10) {
    standin::SetProperty(session, "LOGVERBOSE", "1");
    standin::AddAtom(L"WcaVerboseLogging");
  }
  setenv("PATH", (scratch + ((control & 0x20) ? "/fails" : "/ok")).c_str(), 1);
  if (control & 0x40) standin::ScriptAnswers(INSTALLMESSAGE_INFO, {0, 0, 1602});
  // RemoveFolder's prompt: Retry once, then Cancel.
  standin::ScriptAnswers(INSTALLMESSAGE_ERROR, {4, 2});
  if (control & 0x80) standin::LockEntry("C:\\Quorvel\\SDK\\bin\\tool.exe", 1);
  standin::SetProperty(session, "CustomActionData", argument);
  if (const char* call = kFailingCalls[failure >> 4]) {
    standin::FailCall(call, (failure & 0x08) ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED, failure & 0x07, 1);
  }

  UINT (*const actions[])
  (MSIHANDLE) = {EditEstimatedSize, RemoveFolder, RemoveRegistries, ChangeQuorvelFolderPermission,
                 RemoveManufacturerFolder};
  const UINT code = actions[(control & 0x07) % 5](session);

  if (code != ERROR_SUCCESS && code != ERROR_INSTALL_USEREXIT && code != ERROR_INSTALL_FAILURE) {
    Fail("an action answered a code other than 0, 1602 and 1603", code);
  }
  if (SessionIsActive() || CurrentLogName()[0]) Fail("the session was not finished", 0);
  if (standin::OpenInstallerHandles()) Fail("Installer handles left open", standin::OpenInstallerHandles());
  if (standin::OpenRegistryKeys()) Fail("registry keys left open", standin::OpenRegistryKeys());
  if (standin::OpenKernelHandles()) Fail("kernel handles left open", standin::OpenKernelHandles());
  if (standin::LiveHeapBlocks()) Fail("heap blocks left allocated", standin::LiveHeapBlocks());
  return 0;
}
