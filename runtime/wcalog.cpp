#include "runtime/wcalog.h"

#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/wcautil.h"
#include "runtime/wcawrap.h"

namespace {

constexpr SIZE_T kLineCapacity = 2048;
constexpr LPCWSTR kVerboseAtom = L"WcaVerboseLogging";
constexpr LPCWSTR kNotVerboseAtom = L"WcaNotVerboseLogging";
constexpr LPCWSTR kPolicyKey = L"Software\\Policies\\Microsoft\\Windows\\Installer";
// The policy value is read as at most 15 characters and a terminator.
constexpr DWORD kPolicyValueChars = 16;

// Lines are built in module-level buffers so that logging never allocates.
char templateBuffer[kLineCapacity];
char lineBuffer[kLineCapacity];
bool logBusy = false;

int verbosityCache = -1;

bool ContainsVerboseFlag(const WCHAR* text, SIZE_T length) {
  for (SIZE_T i = 0; i < length && text[i]; ++i) {
    if (text[i] == L'v' || text[i] == L'V') return true;
  }
  return false;
}

void WriteLine(int level, const char* format, va_list arguments) {
  const bool wanted = level == kLogStandard || (level == kLogVerbose && VerboseLoggingInEffect());
  if (!wanted) return;

  const char* label = CurrentLogName();
  if (label[0]) {
    FormatCounted(templateBuffer, kLineCapacity, "%s:  %s", label, format);
  } else {
    CopyCounted(templateBuffer, kLineCapacity, format);
  }
  FormatCountedList(lineBuffer, kLineCapacity, templateBuffer, arguments);

  MsiHandle record(MsiCreateRecord(1));
  MsiRecordSetStringA(record.Get(), 0, lineBuffer);
  SendInstallerMessage(INSTALLMESSAGE_INFO, record.Get());
}

// Adds the atom if `wanted` and absent, deletes it if present and not wanted.
HRESULT PublishAtom(LPCWSTR name, bool wanted, const char* addFailure, const char* deleteFailure) {
  const ATOM atom = GlobalFindAtomW(name);
  if (!atom && wanted) {
    if (!GlobalAddAtomW(name)) {
      const HRESULT result = LastErrorResult();
      LogErrorLine(result, "%s", addFailure);
      return result;
    }
  } else if (atom && !wanted) {
    // GlobalDeleteAtom's answer does not tell success from failure; the last error does.
    SetLastError(ERROR_SUCCESS);
    GlobalDeleteAtom(atom);
    const DWORD error = GetLastError();
    if (error) {
      const HRESULT result = ResultFromWin32(static_cast<int32_t>(error));
      LogErrorLine(result, "%s", deleteFailure);
      return result;
    }
  }
  return S_OK;
}

}  // namespace

void LogLine(int level, const char* format, ...) {
  if (logBusy) return;
  logBusy = true;
  va_list arguments;
  va_start(arguments, format);
  WriteLine(level, format, arguments);
  va_end(arguments);
  logBusy = false;
}

void LogErrorLine(HRESULT result, const char* format, ...) {
  char message[kLineCapacity];
  va_list arguments;
  va_start(arguments, format);
  FormatCountedList(message, kLineCapacity, format, arguments);
  va_end(arguments);
  if (!SessionIsActive()) return;
  LogLine(kLogStandard, "Error 0x%x: %s", static_cast<unsigned>(result), message);
}

BOOL VerboseLoggingInEffect() {
  if (GlobalFindAtomW(kVerboseAtom)) return TRUE;
  if (GlobalFindAtomW(kNotVerboseAtom)) return FALSE;
  return PolicyRequestsVerboseLogging();
}

BOOL PolicyRequestsVerboseLogging() {
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
    return FALSE;
  }
  WCHAR value[kPolicyValueChars] = {};
  DWORD valueBytes = sizeof(value);
  if (RegQueryValueExW(key.Get(), L"Logging", nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &valueBytes) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  const SIZE_T units = valueBytes / sizeof(WCHAR);
  return ContainsVerboseFlag(value, units < kPolicyValueChars ? units : kPolicyValueChars);
}

int DetermineVerboseLogging() {
  if (verbosityCache == 0 || verbosityCache == 1) return verbosityCache;

  verbosityCache = PropertyHasValue("LOGVERBOSE") ? 1 : 0;
  if (verbosityCache == 1) return verbosityCache;

  HeapWideString msiLogging;
  const HRESULT result = ReadPropertyString(L"MsiLogging", msiLogging.Receive());
  if (FAILED(result)) {
    LogErrorLine(result, "failed to get MsiLogging property");
    return verbosityCache;
  }
  SIZE_T capacity = 0;
  WideStringCapacity(msiLogging.Get(), &capacity);
  if (ContainsVerboseFlag(msiLogging.Get(), capacity)) {
    verbosityCache = 1;
  } else if (PolicyRequestsVerboseLogging()) {
    verbosityCache = 1;
  }
  return verbosityCache;
}

HRESULT PublishVerboseLogging(int verbose) {
  HRESULT result = PublishAtom(kVerboseAtom, verbose == 1, "Failed to create WcaVerboseLogging global atom.",
                               "Failed to delete WcaVerboseLogging global atom.");
  if (FAILED(result)) return result;
  return PublishAtom(kNotVerboseAtom, verbose != 1, "Failed to create WcaNotVerboseLogging global atom.",
                     "Failed to delete WcaNotVerboseLogging global atom.");
}
