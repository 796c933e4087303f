// Turns an action's narrow path argument into the wide paths that the file
// system queries and the guard take.
#pragma once

#include <windows.h>

#include "runtime/strutil.h"

// The code page that narrow paths are read in: UTF-8 when the C runtime's
// locale uses it, else the one the file APIs use (ANSI or OEM).
UINT NarrowPathCodePage();

// Converts `narrow` from `codePage`. With MB_ERR_INVALID_CHARS in `flags`
// text that is not valid in the code page is an error, never a path with
// replacement characters in it; with 0 it is read as the system's narrow
// calls read it, default characters and all. On failure logs an error line
// naming the path and answers the converted last error (E_FAIL when it reads
// 0), or E_OUTOFMEMORY.
HRESULT WidePathFromNarrow(const char* narrow, UINT codePage, DWORD flags, WideText* wide);
