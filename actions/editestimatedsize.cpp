// EditEstimatedSize: sets EstimatedSize of a product's Uninstall entry to 0.
// The argument is the entry's name without braces.
#include "actions/exports.h"

#include "actions/frame.h"
#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"

namespace {

constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr DWORD kProductCodeBytes = 256;

HRESULT editEstimatedSize(MSIHANDLE, const char* productCode) {
  // The argument's buffer bounds the key path: the prefix, the argument in braces.
  char keyPath[sizeof kUninstallKey + kProductCodeBytes + 2];
  FormatCounted(keyPath, sizeof keyPath, "%s{%s}", kUninstallKey, productCode);
  LogLine(kLogStandard, "%s\n", keyPath);

  // Open only: a product without an Uninstall entry must not get one. No view
  // flag, so the 64-bit DLL reaches the native view.
  RegistryKey key;
  HRESULT result = ResultFromWin32(
      static_cast<int32_t>(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, key.Receive())));
  if (!key.Get()) result = E_HANDLE;
  if (FAILED(result)) {
    LogErrorLine(result, "RegOpenKeyExA failed");
    return result;
  }

  const DWORD zero = 0;
  const LSTATUS written =
      RegSetValueExA(key.Get(), "EstimatedSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  key.Close();
  result = ResultFromWin32(static_cast<int32_t>(written));
  if (FAILED(result)) {
    LogErrorLine(result, "RegSetValueExA failed");
    return result;
  }
  return S_OK;
}

const ActionDefinition kAction{"EditEstimatedSize", "WcaInitialize failed", kProductCodeBytes, editEstimatedSize};

}  // namespace

extern "C" UINT WINAPI EditEstimatedSize(MSIHANDLE session) { return RunAction(session, kAction); }
