// Host stand-in for the shell's path test, over the sandbox.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI PathFileExistsA(LPCSTR path);

#ifdef __cplusplus
}
#endif
