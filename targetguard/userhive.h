// What a user's hive, loaded under HKEY_USERS, may say of that user's
// folders: the known folders of its User Shell Folders only, spelled with
// that user's own variables. A standard user writes these values freely,
// so nothing else in the hive is taken on trust.
#pragma once

#include <windows.h>

#include "runtime/strutil.h"

// Reads every string value of an open key whole, whatever the length of its
// name and data: calls `visit(name, value)` for each value of type REG_SZ or
// REG_EXPAND_SZ (unexpanded) until `visit` answers a failure. A key that
// cannot be read is passed over (S_OK). Fails with E_OUTOFMEMORY or
// `visit`'s failure.
using StringValueVisit = HRESULT (*)(void* context, const WCHAR* name, const WCHAR* value);
HRESULT VisitStringValues(HKEY key, StringValueVisit visit, void* context);
// The same for the values of User Shell Folders that name known folders, and
// for those alone: the classic names ("Personal", "AppData", "Desktop", ...)
// and the known-folder identifiers that Windows writes for the newer ones
// (Downloads, Saved Games, ...), each read by its name.
HRESULT VisitKnownFolderValues(HKEY key, StringValueVisit visit, void* context);

// Expands a value of a user's hive the way that user's own session does:
// %USERPROFILE% is the user's profile (ProfileList), other variables the
// user's own (the hive's Volatile Environment, then Environment, whose
// values may use variables in turn), and only the machine-wide ones that no
// user has of their own (%SystemDrive%, %SystemRoot%, %ProgramData%, ...)
// the machine's.
class UserVariables {
 public:
  explicit UserVariables(const WCHAR* sid) : sid_(sid) {}

  // S_OK with the expanded text, S_FALSE when a variable has no value that
  // is that user's (the value is then passed over), or E_OUTOFMEMORY.
  HRESULT Expand(const WCHAR* text, WideText* expanded) { return ExpandAt(text, 0, expanded); }

 private:
  HRESULT ExpandAt(const WCHAR* text, int depth, WideText* expanded);
  // Appends the value of one variable; S_FALSE when it has none for the user.
  HRESULT AppendVariable(const WCHAR* name, SIZE_T length, int depth, WideText* expanded);

  const WCHAR* const sid_;
  // %USERPROFILE%, once read: the same for every value of the hive.
  bool profileRead_ = false;
  bool profileFound_ = false;
  WideText profile_;
};

// Expands `text` with the variables of the environment the action runs in
// (the machine's, for values that the machine writes) and appends it: S_OK,
// S_FALSE when it cannot be expanded, or E_OUTOFMEMORY.
HRESULT ExpandMachineVariables(const WCHAR* text, WideText* expanded);

// Whether the user of the hive `sid` owns the object the path leads to
// (links followed).
bool IsOwnedBy(const WCHAR* path, const WCHAR* sid);
