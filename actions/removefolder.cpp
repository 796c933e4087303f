// RemoveFolder: deletes a folder tree through the shell and, while that
// fails, lets the user retry through the Installer's error 1306. The argument
// is "<folder>|<SDK name>".
#include "actions/exports.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstring>

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
  // argument's buffer bounds the path; the zeros after it end both the path
  // and the shell's list of paths, which ends in two NULs.
  char removePath[kArgumentBytes + 1] = {};
  std::memcpy(removePath, customActionData, static_cast<size_t>(bar - customActionData));
  const char* sdkName = bar + 1;
  LogLine(kLogStandard, "removePath = %s", removePath);
  LogLine(kLogStandard, "sdkName = %s", sdkName);

  if (PathFileExistsA(removePath) != TRUE) {
    // Already gone, or out of reach (a server that does not answer, a drive
    // without media): nothing left to do, so that the product can always be
    // uninstalled.
    LogLine(kLogStandard, "PathFileExists failed : GetLastError() = 0x%08x", static_cast<unsigned>(GetLastError()));
    return S_OK;
  }

  // A recursive delete of a drive root, a standard folder or what a planted
  // link leads to would take data no package owns. The check and the
  // deletion are separate calls: a link planted in between is not seen.
  HRESULT result = RefuseUnsafeTarget(removePath);
  if (FAILED(result)) return result;

  SHFILEOPSTRUCTA operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = FO_DELETE;
  operation.pFrom = removePath;
  operation.pTo = nullptr;
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

  MsiHandle prompt(MsiCreateRecord(2));
  MsiRecordSetInteger(prompt.Get(), 1, kExclusiveAccessError);
  MsiRecordSetStringA(prompt.Get(), 2, sdkName);

  for (;;) {
    const int shellResult = SHFileOperationA(&operation);
    if (shellResult == 0) return S_OK;

    // Sent on the action's own session handle rather than through the
    // runtime's message send: a Cancel here ends the deletion, not the
    // installation.
    const int answer =
        MsiProcessMessage(session, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL), prompt.Get());
    LogLine(kLogStandard, "Selected Dialog Box Command IDs = %d", answer);
    if (answer != IDRETRY) {
      result = ResultFromWin32(static_cast<int32_t>(shellResult));
      LogErrorLine(result, "SHFileOperation failed");
      return result;
    }
  }
}

const ActionDefinition kAction{"RemoveFolder", "WcaInitialize failed", kArgumentBytes, removeFolder};

}  // namespace

extern "C" UINT WINAPI RemoveFolder(MSIHANDLE session) { return RunAction(session, kAction); }
