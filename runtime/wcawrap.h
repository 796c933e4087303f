// Installer calls made on behalf of the current session.
#pragma once

#include <windows.h>
#include <msiquery.h>

// Sends a message through the current session. An answer of 1602 or 2 is a
// cancel and makes the session finish with 1602.
int SendInstallerMessage(INSTALLMESSAGE type, MSIHANDLE record);
// TRUE when the property's value is not empty.
BOOL PropertyHasValue(const char* name);
// Reads a property into a heap string (allocated when *value is null, grown
// when too small). The string belongs to the caller on every path.
HRESULT ReadPropertyString(LPCWSTR name, WCHAR** value);
