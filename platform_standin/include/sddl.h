// Host stand-in for the conversion of SIDs from their string form.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// The SID comes in one block, freed with LocalFree.
BOOL WINAPI ConvertStringSidToSidW(LPCWSTR text, PSID* sid);

#ifdef __cplusplus
}
#endif
