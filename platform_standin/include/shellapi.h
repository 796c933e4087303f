// Host stand-in for the shell's file operation, over the sandbox.
#pragma once

#include <windows.h>

typedef WORD FILEOP_FLAGS;

#define FO_MOVE 0x0001
#define FO_COPY 0x0002
#define FO_DELETE 0x0003
#define FO_RENAME 0x0004

#define FOF_SILENT 0x0004
#define FOF_NOCONFIRMATION 0x0010
#define FOF_ALLOWUNDO 0x0040
#define FOF_NOCONFIRMMKDIR 0x0200
#define FOF_NOERRORUI 0x0400

typedef struct _SHFILEOPSTRUCTA {
  HWND hwnd;
  UINT wFunc;
  LPCSTR pFrom;  // one or more paths, each NUL-terminated, then a final NUL
  LPCSTR pTo;
  FILEOP_FLAGS fFlags;
  BOOL fAnyOperationsAborted;
  LPVOID hNameMappings;
  LPCSTR lpszProgressTitle;
} SHFILEOPSTRUCTA, *LPSHFILEOPSTRUCTA;

#ifdef __cplusplus
extern "C" {
#endif

int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA operation);

#ifdef __cplusplus
}
#endif
