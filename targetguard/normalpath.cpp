#include "targetguard/normalpath.h"

#include "runtime/result.h"

namespace {

constexpr WCHAR kVerbatimPrefix[] = L"\\\\?\\";
constexpr WCHAR kVerbatimUncPrefix[] = L"\\\\?\\UNC\\";

enum class Qualification { kNone, kDrive, kUnc, kVerbatimDrive, kVerbatimUnc };

bool IsSeparator(WCHAR c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(WCHAR c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Whether `text` begins with an ASCII `prefix`; `ignoreCase` folds ASCII
// letters only, which no other character folds to.
bool StartsWith(const WCHAR* text, const WCHAR* prefix, bool ignoreCase) {
  for (SIZE_T i = 0; prefix[i]; ++i) {
    WCHAR c = text[i];
    if (ignoreCase && c >= L'a' && c <= L'z') c = static_cast<WCHAR>(c - L'a' + L'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The end of a segment that stops at a separator (`backslashOnly`: at a
// backslash, as in verbatim paths).
SIZE_T SegmentEnd(const WCHAR* text, SIZE_T at, bool backslashOnly) {
  while (text[at] && !(backslashOnly ? text[at] == L'\\' : IsSeparator(text[at]))) ++at;
  return at;
}

// "server\share" at `text`, both present; a server "." or "?" is a device
// path, not a share.
bool IsShare(const WCHAR* text, bool backslashOnly) {
  const SIZE_T serverEnd = SegmentEnd(text, 0, backslashOnly);
  if (serverEnd == 0 || !text[serverEnd]) return false;
  if (serverEnd == 1 && (text[0] == L'.' || text[0] == L'?')) return false;
  return SegmentEnd(text, serverEnd + 1, backslashOnly) > serverEnd + 1;
}

Qualification Qualify(const WCHAR* path) {
  if (StartsWith(path, kVerbatimUncPrefix, true)) {
    return IsShare(path + TextLength(kVerbatimUncPrefix), true) ? Qualification::kVerbatimUnc : Qualification::kNone;
  }
  if (StartsWith(path, kVerbatimPrefix, false)) {
    const WCHAR* rest = path + TextLength(kVerbatimPrefix);
    return IsDriveLetter(rest[0]) && rest[1] == L':' && rest[2] == L'\\' ? Qualification::kVerbatimDrive
                                                                         : Qualification::kNone;
  }
  if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    return IsShare(path + 2, false) ? Qualification::kUnc : Qualification::kNone;
  }
  if (IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) return Qualification::kDrive;
  return Qualification::kNone;
}

// The path as every non-verbatim file call resolves it.
HRESULT AppendFullPath(const WCHAR* path, WideText* full) {
  const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return LastErrorResult();
  WCHAR* room = nullptr;
  const HRESULT result = full->AppendRoom(needed - 1, &room);
  if (FAILED(result)) return result;
  const DWORD written = GetFullPathNameW(path, needed, room, nullptr);
  // Grown since it was measured: the path changed under us (a current folder).
  if (written >= needed) return E_FAIL;
  if (written == 0) return LastErrorResult();
  full->Truncate(full->Length() - (needed - 1 - written));
  return S_OK;
}

// Appends `text` with its separators made single backslashes and none at the
// end. `uncRoot`: `text` is what follows the two leading separators of a UNC
// path, which stay.
HRESULT AppendCanonical(const WCHAR* text, bool backslashOnly, bool uncRoot, WideText* normal) {
  HRESULT result = uncRoot ? normal->Append(L"\\\\") : S_OK;
  const SIZE_T rootStart = normal->Length();
  SIZE_T at = 0;
  while (SUCCEEDED(result) && text[at]) {
    const SIZE_T end = SegmentEnd(text, at, backslashOnly);
    if (end > at) {
      if (normal->Length() > rootStart) result = normal->Append(L'\\');
      if (SUCCEEDED(result)) result = normal->Append(text + at, end - at);
    }
    at = text[end] ? end + 1 : end;
  }
  return result;
}

}  // namespace

HRESULT NormalisePath(const WCHAR* path, WideText* normal, PathForm* form) {
  normal->Truncate(0);
  *form = PathForm::kRelative;
  HRESULT result = S_OK;
  switch (Qualify(path)) {
    case Qualification::kNone:
      return S_OK;
    case Qualification::kVerbatimDrive:
      result = AppendCanonical(path + TextLength(kVerbatimPrefix), true, false, normal);
      break;
    case Qualification::kVerbatimUnc:
      // "\\?\UNC\server\..." is "\\server\..." taken as it is.
      result = AppendCanonical(path + TextLength(kVerbatimUncPrefix), true, true, normal);
      break;
    case Qualification::kDrive:
    case Qualification::kUnc: {
      WideText full;
      result = AppendFullPath(path, &full);
      const bool unc = IsSeparator(full.Get()[0]);
      if (SUCCEEDED(result)) result = AppendCanonical(full.Get() + (unc ? 2 : 0), false, unc, normal);
      break;
    }
  }
  if (FAILED(result)) return result;
  *form = normal->Length() > RootLength(normal->Get()) ? PathForm::kBelowRoot : PathForm::kVolumeRoot;
  return S_OK;
}

SIZE_T RootLength(const WCHAR* normal) {
  if (normal[0] != L'\\') return 2;
  const SIZE_T serverEnd = SegmentEnd(normal, 2, true);
  return normal[serverEnd] ? SegmentEnd(normal, serverEnd + 1, true) : serverEnd;
}

SIZE_T NextComponentEnd(const WCHAR* normal, SIZE_T normalLength, SIZE_T length) {
  if (length >= normalLength) return 0;
  return SegmentEnd(normal, length + 1, true);
}

HRESULT AppendVerbatimForm(const WCHAR* normal, SIZE_T length, WideText* form) {
  const bool unc = normal[0] == L'\\';
  HRESULT result = unc ? form->Append(kVerbatimUncPrefix) : form->Append(kVerbatimPrefix);
  if (SUCCEEDED(result)) result = unc ? form->Append(normal + 2, length - 2) : form->Append(normal, length);
  // A root is opened as "\\?\X:\" or "\\?\UNC\server\share\"; "\\?\X:" would be the volume.
  if (SUCCEEDED(result) && length == RootLength(normal)) result = form->Append(L'\\');
  return result;
}

PathRelation RelatePaths(const WCHAR* first, SIZE_T firstLength, const WCHAR* second, SIZE_T secondLength) {
  if (firstLength > secondLength || firstLength > 0x7FFFFFFF) return PathRelation::kUnrelated;
  const int length = static_cast<int>(firstLength);
  if (CompareStringOrdinal(first, length, second, length, TRUE) != CSTR_EQUAL) return PathRelation::kUnrelated;
  if (firstLength == secondLength) return PathRelation::kSame;
  return second[firstLength] == L'\\' ? PathRelation::kHolds : PathRelation::kUnrelated;
}

bool IsAdministrativeShare(const WCHAR* normal) {
  if (normal[0] != L'\\') return false;
  const SIZE_T share = SegmentEnd(normal, 2, true) + 1;
  const SIZE_T length = RootLength(normal) - share;
  const WCHAR* const name = normal + share;
  if (length == 2 && name[1] == L'$') return IsDriveLetter(name[0]);
  return length == 6 && CompareStringOrdinal(name, 6, L"ADMIN$", 6, TRUE) == CSTR_EQUAL;
}

bool NamesStream(const WCHAR* normal, SIZE_T length) {
  for (SIZE_T at = normal[0] == L'\\' ? 0 : 2; at < length; ++at) {
    if (normal[at] == L':') return true;
  }
  return false;
}

namespace {

// Short names are made of up to six characters, a tilde and a number: a
// spelling without a tilde has none to expand, and costs no look-up.
bool MayHoldShortName(const WCHAR* normal, SIZE_T length) {
  for (SIZE_T i = 0; i < length; ++i) {
    if (normal[i] == L'~') return true;
  }
  return false;
}

// The end of the component before the one that ends at `end`.
SIZE_T PreviousComponentEnd(const WCHAR* normal, SIZE_T root, SIZE_T end) {
  SIZE_T at = end - 1;
  while (at > root && normal[at] != L'\\') --at;
  return at;
}

enum class Expansion { kExpanded, kAbsent, kUnreadable };

// Appends the long spelling of the first `length` characters when they name
// something that exists; `*error` is why they could not be read, when so.
HRESULT AppendExpanded(const WCHAR* normal, SIZE_T length, WideText* spelled, Expansion* expansion, DWORD* error) {
  *expansion = Expansion::kUnreadable;
  // The verbatim form only where the plain one cannot be had: some systems
  // hand a verbatim path back as it is, short names and all.
  WideText asked;
  HRESULT result = length < MAX_PATH ? asked.Append(normal, length) : AppendVerbatimForm(normal, length, &asked);
  if (FAILED(result)) return result;
  const DWORD needed = GetLongPathNameW(asked.Get(), nullptr, 0);
  if (needed == 0) {
    *error = GetLastError();
    if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) *expansion = Expansion::kAbsent;
    return S_OK;
  }
  WideText expanded;
  WCHAR* room = nullptr;
  result = expanded.AppendRoom(needed - 1, &room);
  if (FAILED(result)) return result;
  const DWORD written = GetLongPathNameW(asked.Get(), room, needed);
  if (written == 0 || written >= needed) {
    // Gone or changed meanwhile.
    *error = written == 0 ? GetLastError() : static_cast<DWORD>(ERROR_GEN_FAILURE);
    return S_OK;
  }
  expanded.Truncate(written);
  // The answer keeps the form it was asked in.
  WideText normalised;
  PathForm form = PathForm::kRelative;
  result = NormalisePath(expanded.Get(), &normalised, &form);
  if (result == E_OUTOFMEMORY) return result;
  if (FAILED(result) || form == PathForm::kRelative) {
    *error = ERROR_INVALID_NAME;
    return S_OK;
  }
  *expansion = Expansion::kExpanded;
  return spelled->Append(normalised.Get(), normalised.Length());
}

}  // namespace

HRESULT AppendLongSpelling(const WCHAR* normal, SIZE_T length, WideText* spelled, DWORD* unreadable) {
  *unreadable = 0;
  if (!MayHoldShortName(normal, length)) return spelled->Append(normal, length);
  const SIZE_T root = RootLength(normal);
  for (SIZE_T prefix = length; prefix > root; prefix = PreviousComponentEnd(normal, root, prefix)) {
    Expansion expansion = Expansion::kUnreadable;
    DWORD error = 0;
    const HRESULT result = AppendExpanded(normal, prefix, spelled, &expansion, &error);
    if (FAILED(result)) return result;
    if (expansion == Expansion::kExpanded) return spelled->Append(normal + prefix, length - prefix);
    if (expansion == Expansion::kUnreadable) {
      // What a shorter prefix would give could hide a short name below it.
      *unreadable = ErrorOrGeneralFailure(error);
      break;
    }
  }
  return spelled->Append(normal, length);
}
