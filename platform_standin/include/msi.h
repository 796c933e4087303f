// Host stand-in for the Windows Installer declarations that the product uses.
#pragma once

#include <windows.h>

typedef uint32_t MSIHANDLE;

typedef enum tagINSTALLMESSAGE {
  INSTALLMESSAGE_ERROR = 0x01000000,
  INSTALLMESSAGE_INFO = 0x04000000,
} INSTALLMESSAGE;

#define MB_OK 0x00000000
#define MB_RETRYCANCEL 0x00000005
#define IDOK 1
#define IDCANCEL 2
#define IDRETRY 4

#ifdef __cplusplus
extern "C" {
#endif

UINT WINAPI MsiCloseHandle(MSIHANDLE handle);

#ifdef __cplusplus
}
#endif
