// RemoveRegistries: deregisters the folders under a path prefix by deleting
// their values under the Installer's Folders key. The argument is the prefix.
#include "actions/exports.h"

#include <cstring>

#include "actions/frame.h"
#include "runtime/handles.h"
#include "runtime/result.h"
#include "runtime/strutil.h"
#include "runtime/wcalog.h"
#include "targetguard/targetguard.h"

namespace {

constexpr char kFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr SIZE_T kMostAnsiBytesPerUtf16Unit = 3;

// The prefix as the boundary test needs it, read once: its length, and how
// its last character ends it (a trail byte 0x5C of a double-byte character
// is not a backslash).
struct Prefix {
  const char* text;
  size_t length;
  AnsiTextEnding ending;
};

// A registered folder lies under the prefix when its name begins with it byte
// for byte and the prefix ends at a path boundary, so that a prefix "...\App"
// leaves the sibling "...\App2" registered. The bytes after a prefix of whole
// characters begin a character of the name.
// Takes the name buffer as it is: a string made of it for every enumerated
// value would cost an allocation per value on a large key.
bool isUnderPrefix(const char* name, const Prefix& prefix) {
  const size_t length = std::strlen(name);
  if (length < prefix.length || std::memcmp(name, prefix.text, prefix.length) != 0) return false;
  if (length == prefix.length) return true;
  return prefix.ending.wholeCharacter && (prefix.ending.trailingBackslashes > 0 || name[prefix.length] == '\\');
}

HRESULT removeRegistries(MSIHANDLE, const char* customActionData) {
  LogLine(kLogStandard, "CustomActionData = %s", customActionData);
  const Prefix prefix = {customActionData, std::strlen(customActionData), ReadAnsiTextEnding(customActionData)};

  // A relative prefix, a drive root or a system folder would deregister
  // folders that no package owns.
  HRESULT result = RefuseUnsafePrefix(prefix.text);
  if (FAILED(result)) return result;

  LogLine(kLogStandard, "%s\n", kFoldersKey);
  RegistryKey key;
  result = ResultFromWin32(static_cast<int32_t>(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFoldersKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Receive())));
  if (!key.Get()) result = E_HANDLE;
  if (FAILED(result)) {
    LogErrorLine(result, "RegOpenKeyExA failed");
    return result;
  }

  DWORD longestName = 0;
  result = ResultFromWin32(
      static_cast<int32_t>(RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            &longestName, nullptr, nullptr, nullptr)));
  if (FAILED(result)) {
    LogErrorLine(result, "RegQueryInfoKeyA failed");
    key.Close();
    return result;
  }

  // Collect every match before deleting anything: deleting while enumerating
  // by index would skip values.
  // The longest name is answered in UTF-16 units, while the narrow names
  // come in bytes of the ANSI code page: two per unit in a double-byte code
  // page, up to three in UTF-8. One buffer serves the whole enumeration.
  HeapArray<char> name;
  result = name.Resize(static_cast<SIZE_T>(longestName) * kMostAnsiBytesPerUtf16Unit + 1);
  if (FAILED(result)) {
    key.Close();
    LogErrorLine(result, "Failed to allocate the value name buffer");
    return result;
  }
  NarrowTextList matches;
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = static_cast<DWORD>(name.Count());
    const LSTATUS enumerated =
        RegEnumValueA(key.Get(), index, name.Data(), &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (enumerated == ERROR_NO_MORE_ITEMS) break;
    if (enumerated != ERROR_SUCCESS) {
      key.Close();
      result = ResultFromWin32(static_cast<int32_t>(enumerated));
      LogErrorLine(result, "RegEnumKeyExA failed");
      return result;
    }
    if (isUnderPrefix(name.Data(), prefix)) {
      result = matches.Append(name.Data());
      if (FAILED(result)) {
        key.Close();
        LogErrorLine(result, "Failed to allocate the list of matching values");
        return result;
      }
      LogLine(kLogVerbose, "subKeyValue (push_buck): %s", name.Data());
    } else {
      LogLine(kLogVerbose, "subKeyValue (read only): %s", name.Data());
    }
  }

  // The first failure stops the deletions; those already made stay made.
  for (SIZE_T i = 0; i < matches.Count(); ++i) {
    const char* match = matches[i];
    const LSTATUS deleted = RegDeleteValueA(key.Get(), match);
    if (deleted != ERROR_SUCCESS) {
      LogLine(kLogStandard, "remove failed subKeyValue : %s", match);
      key.Close();
      result = ResultFromWin32(static_cast<int32_t>(deleted));
      LogErrorLine(result, "RegDeleteValueA failed");
      return result;
    }
    LogLine(kLogStandard, "remove subKeyValue : %s", match);
  }
  key.Close();
  return S_OK;
}

const ActionDefinition kAction{"RemoveRegistries", "WcaInitialize failed", 260, removeRegistries};

}  // namespace

extern "C" UINT WINAPI RemoveRegistries(MSIHANDLE session) { return RunAction(session, kAction); }
