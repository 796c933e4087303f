// The shell's folders as a default 64-bit Windows lays them out, for an
// installation running as the user "installer" or as the local system
// account, and the profiles folder.
#include <shlobj.h>
#include <standin.h>
#include <userenv.h>

#include <filesystem>
#include <map>

#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

Account account = Account::kInstaller;
std::map<int, HRESULT> failingFolders;
std::wstring tempPath;

const wchar_t* const kProfiles = L"C:\\Users";
const wchar_t* const kStartMenu = L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu";

// Below the account's profile.
const std::map<int, std::wstring> kPerUser = {
    {CSIDL_PROGRAMS, std::wstring(kStartMenu) + L"\\Programs"},
    {CSIDL_PERSONAL, L"Documents"},
    {CSIDL_FAVORITES, L"Favorites"},
    {CSIDL_STARTUP, std::wstring(kStartMenu) + L"\\Programs\\Startup"},
    {CSIDL_RECENT, L"AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {CSIDL_SENDTO, L"AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {CSIDL_STARTMENU, kStartMenu},
    {CSIDL_DESKTOPDIRECTORY, L"Desktop"},
    {CSIDL_NETHOOD, L"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {CSIDL_TEMPLATES, L"AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {CSIDL_APPDATA, L"AppData\\Roaming"},
    {CSIDL_PRINTHOOD, L"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {CSIDL_LOCAL_APPDATA, L"AppData\\Local"},
    // The all-users favourites are the user's own since Windows Vista.
    {CSIDL_COMMON_FAVORITES, L"Favorites"},
    {CSIDL_MYPICTURES, L"Pictures"},
    {CSIDL_ADMINTOOLS, std::wstring(kStartMenu) + L"\\Programs\\Administrative Tools"},
};

const wchar_t* const kCommonStartMenu = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu";

const std::map<int, std::wstring> kMachine = {
    {CSIDL_COMMON_STARTMENU, kCommonStartMenu},
    {CSIDL_COMMON_PROGRAMS, std::wstring(kCommonStartMenu) + L"\\Programs"},
    {CSIDL_COMMON_STARTUP, std::wstring(kCommonStartMenu) + L"\\Programs\\Startup"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, L"C:\\Users\\Public\\Desktop"},
    {CSIDL_FONTS, L"C:\\Windows\\Fonts"},
    {CSIDL_COMMON_APPDATA, L"C:\\ProgramData"},
    {CSIDL_WINDOWS, L"C:\\Windows"},
    {CSIDL_SYSTEM, L"C:\\Windows\\system32"},
    {CSIDL_PROGRAM_FILES, L"C:\\Program Files"},
    {CSIDL_SYSTEMX86, L"C:\\Windows\\SysWOW64"},
    {CSIDL_PROGRAM_FILESX86, L"C:\\Program Files (x86)"},
    {CSIDL_PROGRAM_FILES_COMMON, L"C:\\Program Files\\Common Files"},
    {CSIDL_PROGRAM_FILES_COMMONX86, L"C:\\Program Files (x86)\\Common Files"},
    {CSIDL_COMMON_TEMPLATES, L"C:\\ProgramData\\Microsoft\\Windows\\Templates"},
    {CSIDL_COMMON_DOCUMENTS, L"C:\\Users\\Public\\Documents"},
    {CSIDL_COMMON_ADMINTOOLS, std::wstring(kCommonStartMenu) + L"\\Programs\\Administrative Tools"},
    {CSIDL_COMMON_PICTURES, L"C:\\Users\\Public\\Pictures"},
};

std::wstring ProfileOf(Account of) {
  return of == Account::kInstaller ? L"C:\\Users\\installer" : L"C:\\Windows\\system32\\config\\systemprofile";
}

std::wstring TempOf(Account of) {
  return of == Account::kInstaller ? ProfileOf(of) + L"\\AppData\\Local\\Temp\\" : L"C:\\Windows\\Temp\\";
}

std::optional<std::wstring> FolderOf(int csidl, const std::wstring& profile) {
  if (csidl == CSIDL_PROFILE) return profile;
  if (auto found = kPerUser.find(csidl); found != kPerUser.end()) return profile + L"\\" + found->second;
  if (auto found = kMachine.find(csidl); found != kMachine.end()) return found->second;
  return std::nullopt;
}

void MakeFolder(const std::wstring& windowsPath) {
  std::error_code ignored;
  std::filesystem::create_directories(*HostPath(windowsPath), ignored);
}

void MakeLink(const std::wstring& link, const std::filesystem::path& target) {
  std::error_code ignored;
  std::filesystem::create_directory_symlink(target, *HostPath(link), ignored);
}

// Copies a folder path out as SHGetFolderPathW does, into MAX_PATH characters.
HRESULT CopyFolder(const std::wstring& folder, LPWSTR path) {
  if (folder.size() >= MAX_PATH) return static_cast<HRESULT>(0x8007007A);
  folder.copy(path, folder.size());
  path[folder.size()] = 0;
  return S_OK;
}

}  // namespace

void ResetFolders() {
  account = Account::kInstaller;
  failingFolders.clear();
  tempPath.clear();
}

void SetAccount(Account to) { account = to; }

void FailFolder(int csidl, HRESULT result) { failingFolders[csidl] = result; }

void SetTempPath(const std::wstring& path) { tempPath = path; }

void LayOutProfiles() {
  for (const auto& [csidl, folder] : kMachine) MakeFolder(folder);
  MakeFolder(TempOf(Account::kLocalSystem));
  for (const std::wstring& profile : {ProfileOf(Account::kInstaller), ProfileOf(Account::kLocalSystem),
                                      std::wstring(L"C:\\Users\\ann"), std::wstring(L"C:\\Users\\Default")}) {
    for (const auto& [csidl, folder] : kPerUser) MakeFolder(profile + L"\\" + folder);
    MakeFolder(profile + L"\\AppData\\Local\\Temp");
  }
  MakeLink(L"C:\\Users\\All Users", *HostPath(std::wstring(L"C:\\ProgramData")));
  MakeLink(L"C:\\Users\\Default User", "Default");
  MakeLink(L"C:\\Documents and Settings", *HostPath(std::wstring(kProfiles)));
}

}  // namespace standin

using namespace standin;

extern "C" HRESULT WINAPI SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path) {
  const Call call("SHGetFolderPathW");
  if (auto error = call.Failure()) return static_cast<HRESULT>(0x80070000 | *error);
  const int csidl = folder & ~CSIDL_FLAG_MASK;
  if (auto failing = failingFolders.find(csidl); failing != failingFolders.end()) return failing->second;
  const std::optional<std::wstring> found = FolderOf(csidl, ProfileOf(account));
  if (!found) return E_INVALIDARG;
  if (!(folder & CSIDL_FLAG_DONT_VERIFY)) {
    const std::optional<std::string> host = HostPath(*found);
    std::error_code ignored;
    if (!host || !std::filesystem::is_directory(*host, ignored)) return static_cast<HRESULT>(0x80070002);
  }
  return CopyFolder(*found, path);
}

extern "C" BOOL WINAPI GetProfilesDirectoryW(LPWSTR path, LPDWORD chars) {
  const Call call("GetProfilesDirectoryW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  const std::wstring profiles = kProfiles;
  if (!path || *chars <= profiles.size()) {
    *chars = static_cast<DWORD>(profiles.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  profiles.copy(path, profiles.size());
  path[profiles.size()] = 0;
  return TRUE;
}

// The account's temporary folder, with its trailing backslash.
extern "C" DWORD WINAPI GetTempPathW(DWORD chars, LPWSTR buffer) {
  const Call call("GetTempPathW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  const std::wstring temp = tempPath.empty() ? TempOf(account) : tempPath;
  if (!buffer || chars <= temp.size()) return static_cast<DWORD>(temp.size() + 1);
  temp.copy(buffer, temp.size());
  buffer[temp.size()] = 0;
  return static_cast<DWORD>(temp.size());
}
