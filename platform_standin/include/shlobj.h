// Host stand-in for the shell's folder look-up.
#pragma once

#include <windows.h>

#define CSIDL_COMMON_APPDATA 0x0023
#define CSIDL_WINDOWS 0x0024
#define CSIDL_SYSTEM 0x0025
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_PROFILE 0x0028
#define CSIDL_SYSTEMX86 0x0029
#define CSIDL_PROGRAM_FILESX86 0x002a
#define SHGFP_TYPE_CURRENT 0

#ifdef __cplusplus
extern "C" {
#endif

HRESULT WINAPI SHGetFolderPathA(HWND owner, int folder, HANDLE token, DWORD flags, LPSTR path);

#ifdef __cplusplus
}
#endif
