// Host stand-in for the user-profile look-up.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI GetProfilesDirectoryA(LPSTR path, LPDWORD chars);

#ifdef __cplusplus
}
#endif
