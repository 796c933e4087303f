#include "actions/frame.h"

#include "runtime/result.h"
#include "runtime/wcalog.h"
#include "runtime/wcautil.h"

namespace {

// Reads CustomActionData into `buffer`, which must hold a non-empty value
// with its terminator.
HRESULT ReadCustomActionData(MSIHANDLE session, char* buffer, DWORD bufferBytes) {
  DWORD length = bufferBytes;
  const UINT answer = MsiGetPropertyA(session, "CustomActionData", buffer, &length);
  const HRESULT result = ResultFromWin32(static_cast<int32_t>(answer));
  if (FAILED(result)) {
    LogErrorLine(result, "MsiGetPropertyA failed");
    return result;
  }
  if (length == 0) {
    LogErrorLine(E_INVALIDARG, "MsiGetPropertyA failed with invalid argument");
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT RunInSession(MSIHANDLE session, const ActionDefinition& action) {
  HRESULT result = WcaInitialize(session, action.label);
  if (FAILED(result)) {
    // No session is active after a failed start, so this line is not written;
    // the start's own error lines are the trace in the log.
    LogErrorLine(result, "%s", action.startFailureMessage);
    return result;
  }
  LogLine(kLogStandard, "Initialized.");

  char customActionData[kLargestCustomActionData] = {};
  const DWORD bufferBytes =
      action.customActionDataBytes < kLargestCustomActionData ? action.customActionDataBytes : kLargestCustomActionData;
  result = ReadCustomActionData(session, customActionData, bufferBytes);
  if (FAILED(result)) return result;

  return action.work(session, customActionData);
}

}  // namespace

UINT RunAction(MSIHANDLE session, const ActionDefinition& action) {
  const HRESULT result = RunInSession(session, action);
  return FinishSession(FAILED(result) ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS);
}
