// Arbitrary CustomActionData bytes to each of the five actions over the
// stand-in. The first four bytes pick the action, the machine and its
// answers, a platform call that fails and an allocation that fails; the rest
// is the argument, as it comes (bars, quotation marks, backslashes, any
// code-page sequence, embedded NULs). Every run must finish its session,
// answer 0, 1602 or 1603 and leave no handle or heap block open; anything
// else aborts, which libFuzzer reports as a crash.
#include <stdlib.h>

#include <standin.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "actions/exports.h"
#include "runtime/wcautil.h"

namespace fs = std::filesystem;

namespace {

std::string scratch;  // <scratch>/drives is the sandbox

void Fail(const char* what, unsigned code) {
  std::fprintf(stderr, "fuzz_actions: %s (%u)\n", what, code);
  std::abort();
}

void MakeFile(const std::string& path, const char* contents) {
  if (std::FILE* file = std::fopen(path.c_str(), "w")) {
    std::fputs(contents, file);
    std::fclose(file);
  }
}

// The argument's code pages: the ANSI and OEM code pages, whether the file
// calls read narrow paths in the ANSI one, and the C runtime's.
struct CodePages {
  UINT ansi;
  UINT oem;
  bool fileApisAnsi;
  unsigned crt;
};
const CodePages kCodePages[4] = {
    {1252, 437, true, 0}, {1252, 437, false, 0}, {932, 932, true, 0}, {1252, 437, true, CP_UTF8}};

// One deep folder of the package, past MAX_PATH characters from the root.
const char* const kDeepFolder =
    "C/Quorvel/Deep/component-01/component-02/component-03/component-04/component-05/component-06/component-07/"
    "component-08/component-09/component-10/component-11/component-12/component-13/component-14/component-15/"
    "component-16/component-17/component-18/component-19/component-20/Last";

// The machine of one run. The package's folders: the Quorvel tree with
// files, an empty manufacturer folder, a zero-size file, a folder named in
// Japanese (機能, which code page 932 writes with a trail byte 0x5C), a folder
// past MAX_PATH, a link into the tree, data folders inside standard folders.
// Unless the machine is bare, the folders and profiles of a default Windows
// (with their links, the short names of long names), files among the
// profiles whose names begin with dots, and a link that leads nowhere. With
// `oddFiles`, the SDK folder also holds a read-only file, a file with a
// second name outside the tree and a deduplicated file (a reparse point that
// is no link). An Uninstall entry and a Folders key.
void PrepareMachine(const CodePages& codePages, bool bare, bool oddFiles) {
  // Registry names keep the bytes they were made with.
  standin::SetSystemCodePages(codePages.ansi, codePages.oem);
  standin::SetFileApisAnsi(codePages.fileApisAnsi);
  standin::SetCrtCodePage(codePages.crt);

  std::error_code ignored;
  const std::string drives = scratch + "/drives";
  fs::remove_all(drives, ignored);
  for (const char* folder :
       {"C/Quorvel/SDK/bin", "C/Quorvel/Empty", "C/Quorvel/\u6A5F\u80FD/Data", "C/Program Files/Quorvel/SDK",
        "C/Program Files/Quorvel Labs/Quorvel SDK/cache", "C/ProgramData/Quorvel Labs/Quorvel SDK",
        "C/Users/ann/AppData/Roaming/Quorvel", "UNC/server/share/Quorvel", kDeepFolder}) {
    fs::create_directories(drives + "/" + folder, ignored);
  }
  MakeFile(drives + "/C/Quorvel/SDK/bin/tool.exe", "tool");
  MakeFile(drives + "/C/Quorvel/zero.txt", "");
  fs::create_directory_symlink("SDK", drives + "/C/Quorvel/Link", ignored);
  if (oddFiles) {
    MakeFile(drives + "/C/Quorvel/SDK/readme.txt", "read me");
    fs::permissions(drives + "/C/Quorvel/SDK/readme.txt", fs::perms::owner_write, fs::perm_options::remove, ignored);
    fs::create_hard_link(drives + "/C/Quorvel/SDK/bin/tool.exe", drives + "/C/Program Files/Quorvel/tool.exe", ignored);
    MakeFile(drives + "/C/Quorvel/SDK/bin/data.dedup", "deduplicated");
  }
  standin::SetSandbox(drives);
  if (oddFiles) standin::SetReparseTag("C:\\Quorvel\\SDK\\bin\\data.dedup", IO_REPARSE_TAG_DEDUP);
  if (!bare) {
    standin::LayOutProfiles();
    for (const char* entry : {"desktop.ini", ".x", "..x"}) MakeFile(drives + "/C/Users/" + entry, "");
    fs::create_directory_symlink("Nobody", drives + "/C/Users/Gone User", ignored);
  }

  standin::SetDwordValue(
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{12345678-1234-1234-1234-123456789ABC}",
      "EstimatedSize", 4096);
  const char* folders = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
  for (const char* name :
       {"C:\\Quorvel\\SDK\\", "C:\\Quorvel\\SDK\\bin\\", "C:\\Quorvel\\SDK2\\", "c:\\quorvel\\sdk\\",
        "C:\\Program Files\\Quorvel\\", "\\\\server\\share\\Quorvel\\", "C:\\Quorvel\\\x8b\x40\x94\x5c\\",
        "C:\\Quorvel\\\x8b\x40\x94\x5c\x8a\x67\x92\xa3\\", "C:\\Users\\ann\\AppData\\Roaming\\Quorvel\\"}) {
    standin::SetDwordValue(folders, name, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every run lays its machine out anew: in memory (tmpfs) where the host has
  // it, since a folder made on disk costs as much as a run of an action.
  std::error_code ignored;
  std::string pattern =
      fs::is_directory("/dev/shm", ignored) ? "/dev/shm/quorvel-fuzz-XXXXXX" : "/tmp/quorvel-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) Fail("no scratch folder", 0);
  scratch = pattern;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
  });
  return 0;
}

// Calls that an input can make fail (the second byte modulo their count; the
// first is none).
const char* const kFailingCalls[] = {nullptr,
                                     "RegOpenKeyExA",
                                     "RegQueryInfoKeyA",
                                     "RegEnumValueA",
                                     "RegDeleteValueA",
                                     "RegSetValueExA",
                                     "MsiGetPropertyA",
                                     "MsiCreateRecord",
                                     "PathFileExistsA",
                                     "GetFileAttributesW",
                                     "FindFirstFileExW",
                                     "FindNextFileW",
                                     "MultiByteToWideChar",
                                     "CreateFileW",
                                     "GetFileInformationByHandle",
                                     "GetFullPathNameW",
                                     "GetLongPathNameW",
                                     "SHGetFolderPathW",
                                     "GetProfilesDirectoryW",
                                     "GetTempPathW",
                                     "NtOpenFile",
                                     "GetFileInformationByHandleEx",
                                     "SetFileInformationByHandle",
                                     "GetSecurityInfo",
                                     "SetKernelObjectSecurity",
                                     "GetFinalPathNameByHandleW",
                                     "CompareStringOrdinal",
                                     "GlobalAddAtomW",
                                     "MsiGetPropertyW",
                                     "GetModuleFileNameW",
                                     "RegOpenKeyExW",
                                     "GetFileVersionInfoSizeW",
                                     "GetFileVersionInfoW",
                                     "VerQueryValueW",
                                     "GlobalAlloc",
                                     "WideCharToMultiByte",
                                     "RegQueryValueExW"};
constexpr size_t kFailingCallCount = sizeof kFailingCalls / sizeof kFailingCalls[0];
// How many of the failing call's calls still work first (third byte, bits
// 0-2): spread out, since the guard makes dozens of file calls.
const int kWorkingCalls[8] = {0, 1, 2, 3, 5, 8, 16, 32};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t control = data[0];
  const uint8_t failingCall = data[1];
  const uint8_t machine = data[2];
  const uint8_t failingAllocation = data[3];
  const std::string argument(reinterpret_cast<const char*>(data) + 4, size - 4);

  standin::Reset();
  ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  standin::SetRecording(false);  // a long run would keep every call
  standin::CapWaits(5000);
  // Third byte: bits 4-5 the code pages, bit 6 the local system account,
  // bit 7 a bare machine (no standard folders, no profiles).
  PrepareMachine(kCodePages[(machine >> 4) & 0x03], machine & 0x80, control & 0x20);
  standin::SetAccount((machine & 0x40) ? standin::Account::kLocalSystem : standin::Account::kInstaller);

  // First byte: bits 0-2 the action (modulo 5), bits 3-7 the machine and its
  // answers (bit 5 the odd files, read above).
  const bool withDatabase = !(control & 0x08);
  const MSIHANDLE session = standin::NewSession(withDatabase);
  // The verbosity settles once per process; a session without a database
  // reads the atoms alone, so they vary the verbose lines from run to run.
  if (control & 0x10) {
    standin::SetProperty(session, "LOGVERBOSE", "1");
    standin::AddAtom(L"WcaVerboseLogging");
  }
  if (control & 0x40) standin::ScriptAnswers(INSTALLMESSAGE_INFO, {0, 0, 1602});
  // RemoveFolder's prompt: Retry once, then Cancel.
  standin::ScriptAnswers(INSTALLMESSAGE_ERROR, {4, 2});
  if (control & 0x80) standin::LockEntry("C:\\Quorvel\\SDK\\bin\\tool.exe", 1);
  standin::SetProperty(session, "CustomActionData", argument);
  // Third byte, bits 0-3: the calls that still work first, and the error
  // (bit 3: file not found, else access denied).
  if (const char* call = kFailingCalls[failingCall % kFailingCallCount]) {
    standin::FailCall(call, (machine & 0x08) ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED,
                      kWorkingCalls[machine & 0x07], 1);
  }
  // Fourth byte: the allocation point that fails, counted from the action's
  // call (0: none): each of the first 127, then every eighth up to the
  // 1143rd, since the guard allocates hundreds of times on a full machine.
  standin::FailAllocation(failingAllocation < 128 ? failingAllocation : 128 + (failingAllocation - 128) * 8u);

  UINT(*const actions[])
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
