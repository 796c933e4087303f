// Existence and emptiness of a file-system object, answered with
// Win32 error codes on every toolchain (the codes go into the log as they are).
#pragma once

#include <windows.h>

#include "runtime/strutil.h"

// A query's answer: the flag it asks about and the Win32 error of the query
// itself, 0 when the query did not fail. A query answers a failed Result only
// for what it could not do on its own account (memory), after an error line.
struct FsAnswer {
  bool flag;
  DWORD error;
};

// The listing pattern of a folder (its first `length` characters): the
// folder, one separator, "*". Fails only with E_OUTOFMEMORY.
HRESULT AppendListingPattern(const WCHAR* folder, SIZE_T length, WideText* pattern);
// The entries "." and ".." that a listing yields for the folder and its parent.
bool IsDotEntry(const WCHAR* name);

// Whether the path leads to an object of any kind, links followed. Errors 2,
// 3, 53 and 123 mean "not there" and are answered as error 0.
HRESULT FsExists(const WCHAR* path, FsAnswer* answer);

// Whether the object is empty, links followed: a folder without entries, or
// a file of size 0. A failed status query or listing answers "not empty"
// with its error.
HRESULT FsIsEmpty(const WCHAR* path, FsAnswer* answer);

using FsQuery = HRESULT (*)(const WCHAR* path, FsAnswer* answer);

// Runs `query` on a wide copy of the narrow path argument made for this query
// alone (see widepath.h). A path that cannot be converted is logged and its
// Result answered; the query is then not made.
HRESULT QueryNarrowPath(const char* path, FsQuery query, FsAnswer* answer);

// The existence query of both folder actions, followed by the line they log
// with its answer: "isExist=<0|1>  errorCode=<error>".
HRESULT QueryExistence(const char* path, FsAnswer* exists);
