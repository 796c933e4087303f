#include "runtime/wcawrap.h"

#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"
#include "runtime/wcautil.h"

int SendInstallerMessage(INSTALLMESSAGE type, MSIHANDLE record) {
  const int answer = MsiProcessMessage(CurrentSessionHandle(), type, record);
  if (answer == ERROR_INSTALL_USEREXIT || answer == IDCANCEL) RecordStoredResult(ERROR_INSTALL_USEREXIT);
  return answer;
}

BOOL PropertyHasValue(const char* name) {
  char empty[1] = "";
  DWORD length = 0;
  MsiGetPropertyA(CurrentSessionHandle(), name, empty, &length);
  return length > 0;
}

namespace {

// The characters needed for the property's value and its terminator.
HRESULT MeasureProperty(LPCWSTR name, SIZE_T* chars) {
  WCHAR empty[1] = L"";
  DWORD length = 0;
  const UINT answer = MsiGetPropertyW(CurrentSessionHandle(), name, empty, &length);
  if (answer != ERROR_SUCCESS && answer != ERROR_MORE_DATA) return ResultFromWin32(static_cast<int32_t>(answer));
  *chars = static_cast<SIZE_T>(length) + 1;
  return S_OK;
}

}  // namespace

HRESULT ReadPropertyString(LPCWSTR name, WCHAR** value) {
  if (!name || !*name || !value) return E_INVALIDARG;

  SIZE_T capacity = 0;
  if (!*value) {
    HRESULT result = MeasureProperty(name, &capacity);
    if (SUCCEEDED(result)) result = WideStringAllocate(value, capacity, FALSE);
    if (FAILED(result)) {
      LogErrorLine(result, "Failed to allocate string for Property '%ls'", name);
      return result;
    }
  } else {
    const HRESULT result = WideStringCapacity(*value, &capacity);
    if (FAILED(result)) {
      LogErrorLine(result, "Failed to get previous size of property data string.");
      return result;
    }
  }

  DWORD length = static_cast<DWORD>(capacity);
  UINT answer = MsiGetPropertyW(CurrentSessionHandle(), name, *value, &length);
  if (answer == ERROR_MORE_DATA) {
    capacity = static_cast<SIZE_T>(length) + 1;
    const HRESULT result = WideStringAllocate(value, capacity, FALSE);
    if (FAILED(result)) {
      LogErrorLine(result, "Failed to allocate string for Property '%ls'", name);
      return result;
    }
    length = static_cast<DWORD>(capacity);
    answer = MsiGetPropertyW(CurrentSessionHandle(), name, *value, &length);
  }
  if (answer != ERROR_SUCCESS) {
    const HRESULT result = ResultFromWin32(static_cast<int32_t>(answer));
    LogErrorLine(result, "Failed to get data for property '%ls'", name);
    return result;
  }
  return S_OK;
}
