#include "runtime/wcautil.h"

#include "runtime/fileutil.h"
#include "runtime/memutil.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"

namespace {

constexpr SIZE_T kLogNameCapacity = 32;
constexpr DWORD kModulePathChars = MAX_PATH;

struct SessionState {
  HINSTANCE moduleHandle;
  BOOL sessionActive;
  MSIHANDLE sessionHandle;
  MSIHANDLE databaseHandle;
  UINT storedResult;
  char logName[kLogNameCapacity];
};

SessionState state;

void CloseDatabase() {
  if (state.databaseHandle) MsiCloseHandle(state.databaseHandle);
  state.databaseHandle = 0;
}

// Settles the verbosity for the process and publishes it; only a session
// with a database can read the properties that decide it.
HRESULT SettleVerbosity() {
  const HRESULT result = PublishVerboseLogging(DetermineVerboseLogging());
  if (FAILED(result)) LogErrorLine(result, "Failed to set verbose logging global atom");
  return result;
}

// The module path is read at every start (its failure fails the start); the
// version resource only when the entry line will be written.
HRESULT WriteEntryLine(const char* label) {
  WCHAR modulePath[kModulePathChars] = {};
  if (!GetModuleFileNameW(state.moduleHandle, modulePath, kModulePathChars)) {
    const HRESULT result = LastErrorResult();
    LogErrorLine(result, "Failed to get module filename");
    return result;
  }
  if (!VerboseLoggingInEffect()) return S_OK;

  // Without a readable version resource the line shows 0.0.0.0.
  DWORD versionMs = 0;
  DWORD versionLs = 0;
  ReadModuleFileVersion(modulePath, &versionMs, &versionLs);
  LogLine(kLogVerbose, "Entering %s in %ls, version %u.%u.%u.%u", label, modulePath,
          static_cast<unsigned>(versionMs >> 16), static_cast<unsigned>(versionMs & 0xFFFF),
          static_cast<unsigned>(versionLs >> 16), static_cast<unsigned>(versionLs & 0xFFFF));
  return S_OK;
}

HRESULT StartSession(MSIHANDLE session, const char* label) {
  state.storedResult = 0;
  state.sessionActive = TRUE;
  state.sessionHandle = session;
  state.databaseHandle = MsiGetActiveDatabase(session);

  HRESULT result = CopyCounted(state.logName, kLogNameCapacity, label);
  if (FAILED(result)) {
    LogErrorLine(result, "Failed to copy CustomAction log name: %s", label);
    return result;
  }
  if (state.databaseHandle) {
    result = SettleVerbosity();
    if (FAILED(result)) return result;
  }
  return WriteEntryLine(label);
}

}  // namespace

BOOL ModuleNotify(HINSTANCE module, DWORD reason) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      state.moduleHandle = module;
      MemInitialize();
      break;
    case DLL_PROCESS_DETACH:
      MemUninitialize();
      state.moduleHandle = nullptr;
      break;
    default:
      break;
  }
  return TRUE;
}

HRESULT WcaInitialize(MSIHANDLE session, const char* label) {
  const HRESULT result = StartSession(session, label);
  if (FAILED(result)) {
    CloseDatabase();
    state.sessionHandle = 0;
    state.sessionActive = FALSE;
  }
  return result;
}

UINT FinishSession(UINT code) {
  CloseDatabase();
  state.sessionHandle = 0;
  state.sessionActive = FALSE;
  state.logName[0] = '\0';
  return state.storedResult ? state.storedResult : code;
}

MSIHANDLE CurrentSessionHandle() { return state.sessionHandle; }

MSIHANDLE CurrentDatabaseHandle() { return state.databaseHandle; }

const char* CurrentLogName() { return state.logName; }

BOOL SessionIsActive() { return state.sessionActive; }

void RecordStoredResult(UINT code) { state.storedResult = code; }

BOOL UserCancelled() { return state.storedResult == ERROR_INSTALL_USEREXIT; }
