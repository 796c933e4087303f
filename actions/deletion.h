// Deletion on handles: each object deleted on its own open handle, a link
// as the link itself, never what it leads to.
#pragma once

#include <windows.h>

#include "targetguard/treewalk.h"

// The access an object must be open with to be deleted.
constexpr DWORD kDeleteAccess = DELETE | FILE_WRITE_ATTRIBUTES;

// Deletes the object once its handle closes: a folder must be empty by then,
// a file with more than one name loses only this one. A read-only object is
// made writable first, as the shell does; a file that keeps other names gets
// its read-only attribute back, which those names share. Answers the Win32
// error, 0 on success.
DWORD DeleteOnClose(const WalkedObject& object);

// Deletes the tree that the guard passed at `path`, everything below a
// folder before the folder. Logs "Failed to delete '<object>'" for the first
// object that cannot be deleted and answers its error as a Result.
HRESULT DeleteTree(const char* path, const GuardedTarget& target);
