// The command lines that grant the built-in Users group full control on a
// folder through the system's access-control tool.
#pragma once

#include <windows.h>

#include <string>

// Switches after the path: on the folder tree, and on the folder alone.
constexpr const char* kGrantUsersOnTree = "/t /q /grant *S-1-5-32-545:(OI)(CI)F";
constexpr const char* kGrantUsersOnFolder = "/q /grant *S-1-5-32-545:(OI)(CI)F";

// `icacls "<path>" <switches>`. Trailing backslashes of the path are doubled
// inside the quotation marks, so that the tool's argument parsing hands it
// the path unchanged instead of reading an escaped closing mark. A path with
// a quotation mark in it could end the quoted argument and add switches of
// its own: it is refused with an error line and E_INVALIDARG.
HRESULT BuildIcaclsCommandLine(const char* path, const char* switches, std::string* commandLine);
