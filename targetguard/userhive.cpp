#include "targetguard/userhive.h"

#include <aclapi.h>
#include <sddl.h>

#include <initializer_list>

#include "runtime/handles.h"
#include "runtime/memutil.h"

namespace {

// The value names that Windows gives the known folders in User Shell
// Folders: the classic ones, then the identifiers of the newer folders.
constexpr const WCHAR* kKnownFolderNames[] = {
    L"Administrative Tools",
    L"AppData",
    L"Cache",
    L"CD Burning",
    L"Cookies",
    L"Desktop",
    L"Favorites",
    L"Fonts",
    L"History",
    L"Local AppData",
    L"My Music",
    L"My Pictures",
    L"My Video",
    L"NetHood",
    L"Personal",
    L"PrintHood",
    L"Programs",
    L"Recent",
    L"SendTo",
    L"Start Menu",
    L"Startup",
    L"Templates",
    L"{00BCFC5A-ED94-4E48-96A1-3F6217F21990}",  // RoamingTiles
    L"{0DDD015D-B06C-45D5-8C4C-F59713854639}",  // Local Pictures
    L"{1B3EA5DC-B587-4786-B4EF-BD1DC332AEAE}",  // Libraries
    L"{35286A68-3C57-41A1-BBB1-0EAE73D76C95}",  // Local Videos
    L"{374DE290-123F-4565-9164-39C4925E467B}",  // Downloads
    L"{3B193882-D3AD-4EAB-965A-69829D1FB59F}",  // Saved Pictures
    L"{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}",  // Saved Games
    L"{56784854-C6CB-462B-8169-88E350ACB882}",  // Contacts
    L"{754AC886-DF64-4CBA-86B5-F7FBF4FBCEF5}",  // Local Desktop
    L"{7D1D3A04-DEBB-4115-95CF-2F29DA2920DA}",  // Searches
    L"{7D83EE9B-2244-4E70-B1F5-5393042AF1E4}",  // Local Downloads
    L"{A0C69A99-21C8-4671-8703-7934162FCF1D}",  // Local Music
    L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}",  // LocalLow
    L"{AB5FB87B-7CE2-4F83-915D-550846C9E1DD}",  // Camera Roll
    L"{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}",  // Links
    L"{F42EE2D3-909F-4907-8871-4C22FC0BF756}",  // Local Documents
};

// Variables that are the machine's and no user's.
constexpr const WCHAR* kMachineVariables[] = {
    L"ALLUSERSPROFILE",    L"CommonProgramFiles", L"CommonProgramFiles(x86)",
    L"CommonProgramW6432", L"ProgramData",        L"ProgramFiles",
    L"ProgramFiles(x86)",  L"ProgramW6432",       L"PUBLIC",
    L"SystemDrive",        L"SystemRoot",         L"windir",
};

constexpr WCHAR kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// A variable's value may use variables: this deep, and no deeper.
constexpr int kDeepestVariable = 2;

bool SameName(const WCHAR* first, SIZE_T firstLength, const WCHAR* second) {
  return CompareStringOrdinal(first, static_cast<int>(firstLength), second, -1, TRUE) == CSTR_EQUAL;
}

// A string value, whole and unexpanded, at `subKey` of `root`; S_FALSE when
// there is none that can be read. Most values are folders that fit
// MAX_PATH: one call for them.
HRESULT ReadString(HKEY root, const WCHAR* subKey, const WCHAR* name, WideText* value) {
  constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  for (DWORD bytes = (MAX_PATH + 1) * sizeof(WCHAR);;) {
    WCHAR* room = nullptr;
    value->Truncate(0);
    const HRESULT result = value->AppendRoom(bytes / sizeof(WCHAR), &room);
    if (FAILED(result)) return result;
    DWORD read = bytes;
    const LSTATUS status = RegGetValueW(root, subKey, name, kFlags, nullptr, room, &read);
    if (status == ERROR_MORE_DATA && read > bytes) {
      bytes = read;  // it is longer, or grew meanwhile
      continue;
    }
    if (status != ERROR_SUCCESS) {
      value->Truncate(0);
      return S_FALSE;
    }
    SIZE_T chars = read / sizeof(WCHAR);
    while (chars > 0 && !room[chars - 1]) --chars;
    value->Truncate(chars);
    return S_OK;
  }
}

}  // namespace

HRESULT VisitKnownFolderValues(HKEY key, StringValueVisit visit, void* context) {
  // By name, not by enumerating: however many other values a user writes,
  // reading the known ones costs the same.
  WideText value;
  for (const WCHAR* known : kKnownFolderNames) {
    HRESULT result = ReadString(key, nullptr, known, &value);
    if (result == S_OK) result = visit(context, known, value.Get());
    if (FAILED(result)) return result;
  }
  return S_OK;
}

HRESULT VisitStringValues(HKEY key, StringValueVisit visit, void* context) {
  DWORD nameChars = 0;
  DWORD valueBytes = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameChars, &valueBytes,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return S_OK;
  }
  HeapArray<WCHAR> name;
  HeapArray<WCHAR> value;
  // Room for a terminator that the data may lack.
  HRESULT result = name.Resize(nameChars + 1);
  if (SUCCEEDED(result)) result = value.Resize(valueBytes / sizeof(WCHAR) + 2);
  for (DWORD index = 0; SUCCEEDED(result); ++index) {
    DWORD chars = static_cast<DWORD>(name.Count());
    DWORD type = REG_NONE;
    DWORD bytes = static_cast<DWORD>((value.Count() - 1) * sizeof(WCHAR));
    const LSTATUS enumerated =
        RegEnumValueW(key, index, name.Data(), &chars, nullptr, &type, reinterpret_cast<LPBYTE>(value.Data()), &bytes);
    if (enumerated == ERROR_MORE_DATA) continue;  // written since the key was measured
    if (enumerated != ERROR_SUCCESS) break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    value[bytes / sizeof(WCHAR)] = 0;
    result = visit(context, name.Data(), value.Data());
  }
  return result;
}

HRESULT UserVariables::ExpandAt(const WCHAR* text, int depth, WideText* expanded) {
  HRESULT result = S_OK;
  for (SIZE_T at = 0; result == S_OK && text[at];) {
    SIZE_T end = at + 1;
    while (text[at] == L'%' && text[end] && text[end] != L'%') ++end;
    if (text[at] != L'%' || !text[end]) {
      // Text, or a lone "%" that opens no variable: as it is.
      result = expanded->Append(text[at]);
      ++at;
      continue;
    }
    result = AppendVariable(text + at + 1, end - at - 1, depth, expanded);
    at = end + 1;
  }
  return result;
}

HRESULT UserVariables::AppendVariable(const WCHAR* name, SIZE_T length, int depth, WideText* expanded) {
  if (depth >= kDeepestVariable || length == 0) return S_FALSE;
  WideText subKey;
  WideText value;
  HRESULT result = S_OK;
  if (SameName(name, length, L"USERPROFILE")) {
    // ProfileList's own spelling, with the machine's variables; read once.
    if (!profileRead_) {
      result = subKey.Append(kProfileListKey);
      if (SUCCEEDED(result)) result = subKey.Append(L'\\');
      if (SUCCEEDED(result)) result = subKey.Append(sid_);
      if (SUCCEEDED(result)) result = ReadString(HKEY_LOCAL_MACHINE, subKey.Get(), L"ProfileImagePath", &value);
      profile_.Truncate(0);
      if (result == S_OK) result = ExpandMachineVariables(value.Get(), &profile_);
      if (FAILED(result)) return result;
      profileRead_ = true;
      profileFound_ = result == S_OK;
    }
    return profileFound_ ? expanded->Append(profile_.Get(), profile_.Length()) : S_FALSE;
  }
  WideText variable;
  result = variable.Append(name, length);
  for (const WCHAR* own : {L"\\Volatile Environment", L"\\Environment"}) {
    subKey.Truncate(0);
    if (SUCCEEDED(result)) result = subKey.Append(sid_);
    if (SUCCEEDED(result)) result = subKey.Append(own);
    if (SUCCEEDED(result)) result = ReadString(HKEY_USERS, subKey.Get(), variable.Get(), &value);
    if (result == S_OK) return ExpandAt(value.Get(), depth + 1, expanded);
    if (FAILED(result)) return result;
  }
  for (const WCHAR* machine : kMachineVariables) {
    if (!SameName(name, length, machine)) continue;
    WideText token;
    result = token.Append(L'%');
    if (SUCCEEDED(result)) result = token.Append(machine);
    if (SUCCEEDED(result)) result = token.Append(L'%');
    if (SUCCEEDED(result)) result = ExpandMachineVariables(token.Get(), &value);
    // Unset, it comes back as it was.
    if (result == S_OK && SameName(value.Get(), value.Length(), token.Get())) return S_FALSE;
    return result == S_OK ? expanded->Append(value.Get(), value.Length()) : result;
  }
  return S_FALSE;
}

HRESULT ExpandMachineVariables(const WCHAR* text, WideText* expanded) {
  // Most folders fit MAX_PATH: one call for them.
  for (DWORD room = MAX_PATH + 1;;) {
    const SIZE_T before = expanded->Length();
    WCHAR* buffer = nullptr;
    const HRESULT result = expanded->AppendRoom(room - 1, &buffer);
    if (FAILED(result)) return result;
    const DWORD written = ExpandEnvironmentStringsW(text, buffer, room);
    if (written > 0 && written <= room) {
      expanded->Truncate(before + written - 1);
      return S_OK;
    }
    expanded->Truncate(before);
    if (written == 0) return S_FALSE;
    room = written;
  }
}

bool IsOwnedBy(const WCHAR* path, const WCHAR* sid) {
  const FileHandle object(CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (object.Get() == INVALID_HANDLE_VALUE) return false;
  PSID owner = nullptr;
  LocalBlock descriptor;
  if (GetSecurityInfo(object.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      descriptor.Receive()) != ERROR_SUCCESS ||
      !owner) {
    return false;
  }
  LocalBlock user;
  return ConvertStringSidToSidW(sid, user.Receive()) && EqualSid(owner, user.Get());
}
