// Host stand-in for the user-profile look-up.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI GetProfilesDirectoryW(LPWSTR path, LPDWORD chars);

#ifdef __cplusplus
}
#endif
