// RemoveFolder: deletes a folder tree, object by object on their handles,
// and, while that fails, lets the user retry through the Installer's error
// 1306. The argument is "<folder>|<SDK name>".
#include "actions/exports.h"

#include <shlwapi.h>

#include <cstring>

#include "actions/deletion.h"
#include "actions/frame.h"
#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"
#include "targetguard/targetguard.h"

namespace {

// Installer error 1306: "another application has exclusive access", with the
// SDK name as its argument.
constexpr int kExclusiveAccessError = 1306;
constexpr DWORD kArgumentBytes = 1024;

// One attempt: the tree deleted, and the folder gone afterwards.
HRESULT DeleteFolder(const char* removePath, const char* folder, const GuardedTarget& target) {
  HRESULT result = DeleteTree(removePath, target);
  if (SUCCEEDED(result) && PathFileExistsA(folder) == TRUE) {
    result = E_FAIL;
    LogErrorLine(result, "'%s' is still there after its deletion", removePath);
  }
  return result;
}

HRESULT removeFolder(MSIHANDLE session, const char* customActionData) {
  LogLine(kLogStandard, "CustomActionData = %s", customActionData);

  // The bar as a character: in a double-byte code page it is also the trail
  // byte of characters such as ポ, which belong to the path.
  const char* bar = FindAnsiCharacter(customActionData, '|');
  if (!bar) {
    LogErrorLine(E_INVALIDARG, "Parameters are missing.");
    return E_INVALIDARG;
  }
  // Split at the first bar only: the SDK name may itself hold bars. The
  // argument's buffer bounds the path.
  char removePath[kArgumentBytes] = {};
  std::memcpy(removePath, customActionData, static_cast<size_t>(bar - customActionData));
  const char* sdkName = bar + 1;
  LogLine(kLogStandard, "removePath = %s", removePath);
  LogLine(kLogStandard, "sdkName = %s", sdkName);

  // A folder property ends in a backslash ("[INSTALLFOLDER]|..."): the folder
  // is the path without it. The guard and the lines name the path as given.
  char folder[kArgumentBytes] = {};
  std::memcpy(folder, removePath, std::strlen(removePath) - ReadAnsiTextEnding(removePath).trailingBackslashes);
  if (PathFileExistsA(folder) != TRUE) {
    // Already gone, or out of reach (a server that does not answer, a drive
    // without media): nothing left to do, so that the product can always be
    // uninstalled.
    LogLine(kLogStandard, "PathFileExists failed : GetLastError() = 0x%08x", static_cast<unsigned>(GetLastError()));
    return S_OK;
  }

  // A recursive delete of a drive root, a standard folder or what a planted
  // link leads to would take data no package owns. The deletion then acts on
  // what the guard examined, and on nothing a user swapped in meanwhile.
  GuardedTarget target;
  HRESULT result = RefuseUnsafeTarget(removePath, &target);
  if (FAILED(result)) return result;

  MsiHandle prompt(MsiCreateRecord(2));
  MsiRecordSetInteger(prompt.Get(), 1, kExclusiveAccessError);
  MsiRecordSetStringA(prompt.Get(), 2, sdkName);

  for (;;) {
    result = DeleteFolder(removePath, folder, target);
    // A refusal, or a heap that is exhausted, is nothing a user can clear.
    if (SUCCEEDED(result) || result == E_INVALIDARG || result == E_OUTOFMEMORY) return result;

    // Sent on the action's own session handle rather than through the
    // runtime's message send: a Cancel here ends the deletion, not the
    // installation.
    const int answer =
        MsiProcessMessage(session, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL), prompt.Get());
    LogLine(kLogStandard, "Selected Dialog Box Command IDs = %d", answer);
    if (answer != IDRETRY) {
      // The line that log readers have always searched for.
      LogErrorLine(result, "SHFileOperation failed");
      return result;
    }
  }
}

const ActionDefinition kAction{"RemoveFolder", "WcaInitialize failed", kArgumentBytes, removeFolder};

}  // namespace

extern "C" UINT WINAPI RemoveFolder(MSIHANDLE session) { return RunAction(session, kAction); }
