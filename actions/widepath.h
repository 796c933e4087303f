// Turns an action's narrow path argument into the wide path that the file
// system queries take.
#pragma once

#include <windows.h>

#include "runtime/handles.h"

// The code page that narrow paths are read in: UTF-8 when the C runtime's
// locale uses it, else the one the file APIs use (ANSI or OEM).
UINT NarrowPathCodePage();

// Converts `narrow` strictly: text that is not valid in the code page is an
// error, never a path with replacement characters in it. On failure logs an
// error line naming the path and answers the converted last error (E_FAIL
// when it reads 0).
HRESULT WidePathFromNarrow(const char* narrow, HeapWideString* wide);
