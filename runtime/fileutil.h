// File information.
#pragma once

#include <windows.h>

// The file version of `path` from its version resource (VS_FIXEDFILEINFO's
// dwFileVersionMS and dwFileVersionLS). The words are left untouched when the
// version cannot be read.
HRESULT ReadModuleFileVersion(LPCWSTR path, DWORD* mostSignificant, DWORD* leastSignificant);
