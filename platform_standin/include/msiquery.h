// Host stand-in for the Windows Installer custom-action functions.
#pragma once

#include <msi.h>

#ifdef __cplusplus
extern "C" {
#endif

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install);
UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR value, LPDWORD valueChars);
UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR value, LPDWORD valueChars);
MSIHANDLE WINAPI MsiCreateRecord(UINT fields);
UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value);
UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value);
int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record);

#ifdef __cplusplus
}
#endif
