// Results: 32-bit statuses in the Windows HRESULT convention, negative on
// failure. Failures travel as Results, never as exceptions.
#pragma once

#include <windows.h>

#include <cstdint>

// Text that had to be cut to fit its buffer (the Win32 ERROR_INSUFFICIENT_BUFFER).
constexpr HRESULT kResultTextCut = static_cast<HRESULT>(0x8007007A);

// The one rule for turning a Win32 error code into a Result: a code above 0
// becomes 0x8007xxxx with its low 16 bits; 0 and negative values stay as they are.
constexpr HRESULT ResultFromWin32(int32_t error) {
  return error > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFFu))
                   : static_cast<HRESULT>(error);
}

// The thread's last error as a Result, or `whenZero` when a failed call left
// no error behind, so that a failure is never reported as success.
inline HRESULT LastErrorResult(HRESULT whenZero = E_FAIL) {
  const DWORD error = GetLastError();
  return error ? ResultFromWin32(static_cast<int32_t>(error)) : whenZero;
}

// A Win32 error for a call that failed: the one given, or ERROR_GEN_FAILURE
// when it left none behind, so that a failure never reads as error 0.
constexpr DWORD ErrorOrGeneralFailure(DWORD error) { return error ? error : static_cast<DWORD>(ERROR_GEN_FAILURE); }
