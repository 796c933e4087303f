// The machine's folders as a default 64-bit Windows lays them out: the
// system folders, the environment of the account an installation runs as
// (the user "installer" or the local system account), the profiles with
// their ProfileList entries, the user hives loaded under HKEY_USERS and the
// shell folders that the registry names.
#include <standin.h>

#include <filesystem>
#include <map>

#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

Account account = Account::kInstaller;
// Changes a test made to the account's environment: a value, or none (unset).
std::map<std::wstring, std::optional<std::wstring>> environmentChanges;

const wchar_t* const kWindows = L"C:\\Windows";
const wchar_t* const kStartMenu = L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu";

// The per-user folders below a profile, as its User Shell Folders name them
// (the name of the value, then the place).
const std::vector<std::pair<std::string, std::wstring>> kPerUser = {
    {"Programs", std::wstring(kStartMenu) + L"\\Programs"},
    {"Personal", L"Documents"},
    {"Favorites", L"Favorites"},
    {"Startup", std::wstring(kStartMenu) + L"\\Programs\\Startup"},
    {"Recent", L"AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {"SendTo", L"AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {"Start Menu", kStartMenu},
    {"Desktop", L"Desktop"},
    {"NetHood", L"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {"Templates", L"AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {"AppData", L"AppData\\Roaming"},
    {"PrintHood", L"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {"Local AppData", L"AppData\\Local"},
    {"My Pictures", L"Pictures"},
    {"My Music", L"Music"},
    {"My Video", L"Videos"},
    {"Administrative Tools", std::wstring(kStartMenu) + L"\\Programs\\Administrative Tools"},
    {"{374DE290-123F-4565-9164-39C4925E467B}", L"Downloads"},
    {"{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}", L"Saved Games"},
    {"{56784854-C6CB-462B-8169-88E350ACB882}", L"Contacts"},
    {"{7D1D3A04-DEBB-4115-95CF-2F29DA2920DA}", L"Searches"},
    {"{A520A1A4-1780-4FF6-BD18-167343C5AF16}", L"AppData\\LocalLow"},
    {"{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}", L"Links"},
};
// Made in every laid-out profile, without a value of their own.
const std::vector<std::wstring> kPerUserUnnamed = {L"AppData\\Local\\Temp", L"OneDrive"};

// The machine's common folders, as HKEY_LOCAL_MACHINE's User Shell Folders name them.
const std::vector<std::pair<std::string, std::wstring>> kCommon = {
    {"Common AppData", L"%ProgramData%"},
    {"Common Desktop", L"%PUBLIC%\\Desktop"},
    {"Common Documents", L"%PUBLIC%\\Documents"},
    {"Common Start Menu", L"%ProgramData%\\Microsoft\\Windows\\Start Menu"},
    {"Common Programs", L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {"Common Startup", L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {"Common Administrative Tools", L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {"Common Templates", L"%ProgramData%\\Microsoft\\Windows\\Templates"},
    {"CommonPictures", L"%PUBLIC%\\Pictures"},
    {"CommonMusic", L"%PUBLIC%\\Music"},
    {"CommonVideo", L"%PUBLIC%\\Videos"},
};

// The program-files folders under HKEY_LOCAL_MACHINE\...\CurrentVersion, as
// the 64-bit view and the 32-bit view (WOW6432Node) give them.
constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::vector<std::pair<std::string, std::pair<std::wstring, std::wstring>>> kProgramFilesValues = {
    {"ProgramFilesDir", {L"C:\\Program Files", L"C:\\Program Files (x86)"}},
    {"ProgramFilesDir (x86)", {L"C:\\Program Files (x86)", L"C:\\Program Files (x86)"}},
    {"ProgramW6432Dir", {L"C:\\Program Files", L"C:\\Program Files"}},
    {"CommonFilesDir", {L"C:\\Program Files\\Common Files", L"C:\\Program Files (x86)\\Common Files"}},
    {"CommonFilesDir (x86)", {L"C:\\Program Files (x86)\\Common Files", L"C:\\Program Files (x86)\\Common Files"}},
    {"CommonW6432Dir", {L"C:\\Program Files\\Common Files", L"C:\\Program Files\\Common Files"}},
};

// Folders a default Windows has, beyond those the registry names.
const std::vector<std::wstring> kMachineFolders = {
    L"C:\\Windows\\system32",
    L"C:\\Windows\\SysWOW64",
    L"C:\\Windows\\Fonts",
    L"C:\\Windows\\Temp",
    L"C:\\Program Files\\Common Files",
    L"C:\\Program Files (x86)\\Common Files",
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
    L"C:\\ProgramData\\Microsoft\\Windows\\Templates",
    L"C:\\Users\\Public\\Desktop",
    L"C:\\Users\\Public\\Documents",
    L"C:\\Users\\Public\\Pictures"};

std::wstring ProfileOf(Account of) {
  return of == Account::kInstaller ? L"C:\\Users\\installer" : L"C:\\Windows\\system32\\config\\systemprofile";
}

std::map<std::wstring, std::wstring> EnvironmentOf(Account of) {
  const std::wstring profile = ProfileOf(of);
  const std::wstring temp = of == Account::kInstaller ? profile + L"\\AppData\\Local\\Temp" : L"C:\\Windows\\Temp";
  return {
      {L"SystemDrive", L"C:"},
      {L"SystemRoot", kWindows},
      {L"windir", kWindows},
      {L"ProgramFiles", L"C:\\Program Files"},
      {L"ProgramW6432", L"C:\\Program Files"},
      {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
      {L"CommonProgramFiles", L"C:\\Program Files\\Common Files"},
      {L"CommonProgramW6432", L"C:\\Program Files\\Common Files"},
      {L"CommonProgramFiles(x86)", L"C:\\Program Files (x86)\\Common Files"},
      {L"ProgramData", L"C:\\ProgramData"},
      {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
      {L"PUBLIC", L"C:\\Users\\Public"},
      {L"COMPUTERNAME", L"QUORVEL-PC"},
      {L"USERNAME", of == Account::kInstaller ? L"installer" : L"QUORVEL-PC$"},
      {L"USERPROFILE", profile},
      {L"APPDATA", profile + L"\\AppData\\Roaming"},
      {L"LOCALAPPDATA", profile + L"\\AppData\\Local"},
      {L"TEMP", temp},
      {L"TMP", temp},
  };
}

// The value of an environment variable, named in any letter case.
std::optional<std::wstring> Variable(const std::wstring& name) {
  const std::wstring folded = FoldCase(name);
  for (const auto& [changed, value] : environmentChanges) {
    if (FoldCase(changed) == folded) return value;
  }
  for (const auto& [variable, value] : EnvironmentOf(account)) {
    if (FoldCase(variable) == folded) return value;
  }
  return std::nullopt;
}

// Text with every known %variable% replaced by its value; the rest as it is.
std::wstring ExpandVariables(const std::wstring& text) {
  std::wstring result;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text[at] == L'%' ? text.find(L'%', at + 1) : std::wstring::npos;
    const std::optional<std::wstring> value =
        end == std::wstring::npos ? std::nullopt : Variable(text.substr(at + 1, end - at - 1));
    if (value) {
      result += *value;
      at = end + 1;
    } else {
      result += text[at++];
    }
  }
  return result;
}

void MakeFolder(const std::wstring& windowsPath) {
  std::error_code ignored;
  std::filesystem::create_directories(*HostPath(windowsPath), ignored);
}

void MakeLink(const std::wstring& link, const std::filesystem::path& target) {
  std::error_code ignored;
  std::filesystem::create_directory_symlink(target, *HostPath(link), ignored);
  SetOwner(Utf8(link), Owner::kSystem);
}

void WriteShellFolders(const std::string& key, const std::vector<std::pair<std::string, std::wstring>>& folders,
                       const std::wstring& prefix) {
  for (const auto& [name, place] : folders) SetStringValue(key, name, prefix + place, REG_EXPAND_SZ);
}

// Copies `text` out as the system-folder calls do: the length without the
// terminator when it fits, else the size that would fit.
UINT CopyOut(const std::wstring& text, LPWSTR buffer, UINT chars) {
  if (!buffer || chars <= text.size()) return static_cast<UINT>(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return static_cast<UINT>(text.size());
}

template <typename Answer>
UINT SystemFolder(const char* name, Answer answer, LPWSTR buffer, UINT chars) {
  const Call call(name);
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  return CopyOut(answer, buffer, chars);
}

}  // namespace

const char* const kProfileListKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char* const kMachineShellFoldersKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const char* const kInstallerSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char* const kAnnSid = "S-1-5-21-1004336348-1177238915-682003330-1002";

std::string UserShellFoldersKey(const std::string& sid) {
  return "HKEY_USERS\\" + sid + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
}

void ResetFolders() {
  account = Account::kInstaller;
  environmentChanges.clear();
}

void SetAccount(Account to) { account = to; }

void SetEnvironment(const std::wstring& name, std::optional<std::wstring> value) {
  environmentChanges[name] = std::move(value);
}

void AddProfile(const std::string& sid, const std::wstring& imagePath, bool layOut) {
  SetStringValue(std::string(kProfileListKey) + "\\" + sid, "ProfileImagePath", imagePath, REG_EXPAND_SZ);
  if (!layOut) return;
  const std::wstring folder = ExpandVariables(imagePath);
  for (const auto& [name, place] : kPerUser) MakeFolder(folder + L"\\" + place);
  for (const std::wstring& place : kPerUserUnnamed) MakeFolder(folder + L"\\" + place);
}

void LayOutProfiles() {
  for (const std::wstring& folder : kMachineFolders) MakeFolder(folder);
  const std::string list = kProfileListKey;
  SetStringValue(list, "ProfilesDirectory", L"%SystemDrive%\\Users", REG_EXPAND_SZ);
  SetStringValue(list, "Default", L"%SystemDrive%\\Users\\Default", REG_EXPAND_SZ);
  SetStringValue(list, "Public", L"%SystemDrive%\\Users\\Public", REG_EXPAND_SZ);
  SetStringValue(list, "ProgramData", L"%SystemDrive%\\ProgramData", REG_EXPAND_SZ);
  AddProfile("S-1-5-18", L"%systemroot%\\system32\\config\\systemprofile");
  AddProfile("S-1-5-19", L"%systemroot%\\ServiceProfiles\\LocalService", false);
  AddProfile("S-1-5-20", L"%systemroot%\\ServiceProfiles\\NetworkService", false);
  AddProfile(kInstallerSid, L"C:\\Users\\installer");
  AddProfile(kAnnSid, L"C:\\Users\\ann");
  // Default and Public are profiles without a user, named by ProfileList's
  // own values: Default has every per-user folder (new profiles are copied
  // from it), Public only the shared ones.
  for (const auto& [name, place] : kPerUser) MakeFolder(L"C:\\Users\\Default\\" + place);
  for (const std::wstring& place : kPerUserUnnamed) MakeFolder(L"C:\\Users\\Default\\" + place);
  for (const wchar_t* place : {L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos"}) {
    MakeFolder(std::wstring(L"C:\\Users\\Public\\") + place);
  }
  // The hives loaded while an installation runs: the local system account's
  // (also as .DEFAULT) and the installing user's, with its class hive.
  for (const char* sid : {".DEFAULT", "S-1-5-18", kInstallerSid}) {
    WriteShellFolders(UserShellFoldersKey(sid), kPerUser, L"%USERPROFILE%\\");
  }
  CreateKey("HKEY_USERS\\" + std::string(kInstallerSid) + "_Classes");
  // The installing user's own variables, as its sign-in set them.
  const std::string hive = "HKEY_USERS\\" + std::string(kInstallerSid);
  for (const auto& [name, value] : EnvironmentOf(Account::kInstaller)) {
    if (name == L"USERNAME" || name == L"USERPROFILE" || name == L"APPDATA" || name == L"LOCALAPPDATA") {
      SetStringValue(hive + "\\Volatile Environment", Utf8(name), value);
    }
  }
  for (const char* temp : {"TEMP", "TMP"}) {
    SetStringValue(hive + "\\Environment", temp, L"%USERPROFILE%\\AppData\\Local\\Temp", REG_EXPAND_SZ);
  }
  for (const auto& [name, views] : kProgramFilesValues) {
    SetStringValue(kCurrentVersionKey, name, views.first);
    SetStringValue(std::string("SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion"), name, views.second);
  }
  WriteShellFolders(kMachineShellFoldersKey, kCommon, L"");
  MakeLink(L"C:\\Users\\All Users", *HostPath(std::wstring(L"C:\\ProgramData")));
  MakeLink(L"C:\\Users\\Default User", "Default");
  MakeLink(L"C:\\Documents and Settings", *HostPath(std::wstring(L"C:\\Users")));
  LayOutPermissions();
}

}  // namespace standin

using namespace standin;

extern "C" DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR expanded, DWORD chars) {
  const Call call("ExpandEnvironmentStringsW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  const std::wstring result = ExpandVariables(source ? source : L"");
  if (expanded && chars > result.size()) {
    result.copy(expanded, result.size());
    expanded[result.size()] = 0;
  }
  return static_cast<DWORD>(result.size() + 1);
}

extern "C" UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT chars) {
  return SystemFolder("GetSystemWindowsDirectoryW", kWindows, buffer, chars);
}

extern "C" UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT chars) {
  return SystemFolder("GetSystemDirectoryW", L"C:\\Windows\\system32", buffer, chars);
}

extern "C" UINT WINAPI GetSystemWow64DirectoryW(LPWSTR buffer, UINT chars) {
  return SystemFolder("GetSystemWow64DirectoryW", L"C:\\Windows\\SysWOW64", buffer, chars);
}

// The account's temporary folder (TMP, else TEMP), with its trailing backslash.
extern "C" DWORD WINAPI GetTempPathW(DWORD chars, LPWSTR buffer) {
  const Call call("GetTempPathW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  const std::optional<std::wstring> variable = Variable(L"TMP") ? Variable(L"TMP") : Variable(L"TEMP");
  std::wstring temp = variable && !variable->empty() ? *variable : std::wstring(kWindows);
  if (temp.back() != L'\\') temp += L'\\';
  return CopyOut(temp, buffer, chars);
}
