// The stand-in's parts, each with the reset that standin::Reset() runs.
#pragma once

#include <windows.h>

#include <standin.h>

#include <optional>
#include <string>

namespace standin {

void ResetCalls();
void ResetInstaller();
void ResetRegistry();
void ResetAtoms();
void ResetHeap();
void ResetModule();
void ResetCodePages();
void ResetSandbox();
void ResetKernel();

// Entered first in every stand-in platform call: records the call, runs the
// hooks scheduled for it and tells whether an injected failure applies. While
// one lives the stand-in is at work, so that a test binary's operator new can
// tell the product's allocations from the stand-in's own.
class Call {
 public:
  explicit Call(const char* name);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // The injected error, when the call must fail.
  std::optional<DWORD> Failure() const { return failure_; }

 private:
  std::optional<DWORD> failure_;
};

// Whether a stand-in call is at work on this thread.
bool InsideCall();

// Whether calls and messages are being kept (standin::SetRecording).
bool Recording();

// Runs the actions that tests scheduled for the next entry of a call.
void RunCallHooks(const char* name);
void ResetFileHandles();
void ResetFolders();

// Narrow text in a code page (CP_ACP and CP_OEMCP: the system's) as wide
// text; nothing when the text is not valid in it.
std::optional<std::wstring> Widen(UINT codePage, const std::string& text);
// The same, with each byte that begins no character read as the code page's
// default character.
std::wstring WidenLeniently(UINT codePage, const std::string& text);
// Wide text as UTF-8, how host paths and arguments carry it.
std::string Utf8(const std::wstring& wide);

// A zeroed heap block that a system call hands out (freed with LocalFree):
// a live block, but no allocation point of the product's.
void* SystemBlock(SIZE_T bytes);

// The error every file call answers for a path below an unreachable root
// (SetUnreachable), if any; `windowsPath` in UTF-8.
std::optional<DWORD> UnreachableError(const std::string& windowsPath);
// The Windows path (UTF-8, "C:\\a" or "\\\\server\\share\\a") of a host path
// in the sandbox, resolved of links; nothing outside it.
std::optional<std::string> WindowsPathOfHost(const std::string& hostPath);
void ResetSecurity();
// Gives the laid-out machine's folders the permissions a default Windows
// gives them.
void LayOutPermissions();

// Registry paths and atom names compare without regard to ASCII case.
std::string FoldCase(std::string text);
std::wstring FoldCase(std::wstring text);

}  // namespace standin
