// Grants the built-in Users group full control on a folder through the
// system's access-control tool, run hidden.
#pragma once

#include <windows.h>

// What the grant covers. /l makes the tool change a link itself, never what
// it leads to, so that a link planted after the checks gives nothing away.
enum class GrantScope {
  kFolderTree,  // the folder and everything below it (/t)
  kFolderOnly,
};

// The tool may run this long before the grant counts as failed.
constexpr DWORD kIcaclsTimeoutMilliseconds = 60000;

// Runs `icacls "<path>" /t /l /q /grant *S-1-5-32-545:(OI)(CI)F` (without
// /t for the folder alone) and answers S_OK when the tool exited with 0.
// Before anything starts it refuses, with an error line and E_INVALIDARG, a
// target that no package owns (see targetguard.h), a tree that holds a link
// a standard user made, and a path with a quotation mark, which could end
// the quoted argument and add switches of its own. Trailing backslashes of the path are doubled inside the
// quotation marks, so that the tool's argument parsing hands it the path
// unchanged instead of reading an escaped closing mark. A tool that fails
// adds "execQuietCmdLine() failed" after the runner's own line.
HRESULT GrantUsersFullControl(const char* path, GrantScope scope);
