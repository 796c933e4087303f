// Fully qualified paths as the system resolves them, so that what a path
// names can be compared whatever its spelling: a root ("X:" or
// "\\server\share") and its components, each after a single backslash, with
// no trailing separator ("C:\Users\ann", "\\server\share\data").
#pragma once

#include <windows.h>

#include "runtime/strutil.h"

enum class PathForm {
  kRelative,    // not fully qualified: a current folder or drive would complete it
  kVolumeRoot,  // the root alone
  kBelowRoot,
};

// Reads only fully qualified paths: "X:\...", "\\server\share\...",
// "\\?\X:\..." and "\\?\UNC\server\share\..." (either separator outside the
// verbatim forms); drive-relative, rooted, device ("\\.\") and relative paths
// are kRelative and leave `normal` empty. A non-verbatim path is resolved by
// GetFullPathNameW, as every file call resolves it (separators, "." and "..",
// trailing periods and spaces); a verbatim one is taken as it is. Logs
// nothing: answers E_OUTOFMEMORY or the resolution's failure.
HRESULT NormalisePath(const WCHAR* path, WideText* normal, PathForm* form);

// The length of the root of a normalised path.
SIZE_T RootLength(const WCHAR* normal);

// Where the component that ends after `length` characters is followed by the
// next one: the end of the next component, or 0 when there is none.
SIZE_T NextComponentEnd(const WCHAR* normal, SIZE_T normalLength, SIZE_T length);

// Appends the verbatim form ("\\?\X:\..." or "\\?\UNC\server\share\...") of
// the first `length` characters of a normalised path, which every file call
// takes whatever its length.
HRESULT AppendVerbatimForm(const WCHAR* normal, SIZE_T length, WideText* form);

enum class PathRelation {
  kUnrelated,
  kSame,
  kHolds,  // the first path is an ancestor of the second
};

// How one normalised path stands to another, whole components compared
// ordinally without regard to case, as the file system compares names.
PathRelation RelatePaths(const WCHAR* first, SIZE_T firstLength, const WCHAR* second, SIZE_T secondLength);

// Whether a normalised path lies on an administrative share ("\\<any
// server>\C$", "\\<any server>\ADMIN$"): another spelling of a drive of
// that machine, or of its Windows folder.
bool IsAdministrativeShare(const WCHAR* normal);

// Whether a normalised path names a stream: a colon after the drive
// designator ("C:\Windows::$INDEX_ALLOCATION" opens the folder itself on
// NTFS) or anywhere in a share path.
bool NamesStream(const WCHAR* normal, SIZE_T length);

// Appends the long spelling of a normalised path: the longest prefix of it
// that exists with its short (8.3) names expanded by GetLongPathNameW, and
// the rest as it is spelled. A prefix that cannot be read for another reason
// than its absence leaves the path as spelled, with `*unreadable` its Win32
// error (0 otherwise). Fails only with E_OUTOFMEMORY.
HRESULT AppendLongSpelling(const WCHAR* normal, SIZE_T length, WideText* spelled, DWORD* unreadable);
