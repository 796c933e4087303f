// A machine with many profiles, links and short names on the stand-in, and
// the target guard's decision made the simple way: every standard folder the
// machine has (each place in each profile spelled out) and every ancestor of
// where it really is, opened and compared by identity. The guard decides
// the same by real paths, an index and places below profiles; this is what
// it must agree with. Shared by the host tests and the guard's fuzz target.
#pragma once

#include <aclapi.h>
#include <standin.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace guard_reference {

namespace fs = std::filesystem;

// The per-user folders at their places below every profile.
inline const std::vector<std::wstring>& Places() {
  static const std::vector<std::wstring> places = {
      L"AppData\\Roaming", L"AppData\\Local", L"AppData\\LocalLow", L"AppData\\Local\\Temp",
      L"AppData\\Local\\Microsoft\\Windows\\History", L"AppData\\Local\\Microsoft\\Windows\\INetCache",
      L"AppData\\Local\\Microsoft\\Windows\\INetCookies", L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
      L"AppData\\Roaming\\Microsoft\\Windows\\Recent", L"AppData\\Roaming\\Microsoft\\Windows\\SendTo",
      L"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts",
      L"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts", L"AppData\\Roaming\\Microsoft\\Windows\\Templates",
      L"Contacts", L"Desktop", L"Documents", L"Downloads", L"Favorites", L"Links", L"Music", L"OneDrive", L"Pictures",
      L"Saved Games", L"Searches", L"Videos",
      // The installing user's own, from its hive (see LayOut).
      L"Saved Links"};
  return places;
}

struct Identity {
  DWORD volume;
  DWORD high;
  DWORD low;
  bool operator<(const Identity& other) const {
    return std::tie(volume, high, low) < std::tie(other.volume, other.high, other.low);
  }
};

enum class Verdict {
  kAllowed,
  kIs,      // it is a standard folder
  kHolds,   // it holds one
  kLink,    // it runs through a link a standard user made
  kAbsent,  // it does not exist: nothing to compare by identity
};

class ReferenceMachine {
 public:
  // Lays out, on the stand-in's sandbox, a default machine and more:
  // `profiles` more profiles (every third laid out with its folders), a
  // profile moved to another disk behind an administrator's link, profiles
  // that ProfileList keeps outside the profiles folder, the installing user's
  // redirected Documents, an administrator's link and a standard user's one
  // to data and to the Windows folder, and package folders; then gathers its
  // standard folders' identities.
  void LayOut(int profiles) {
    standin::LayOutProfiles();
    for (int i = 0; i < profiles; ++i) {
      const std::wstring name = L"user" + std::to_wstring(i) + (i % 2 ? L" with a long name" : L"");
      standin::AddProfile("S-1-5-21-5-5-5-" + std::to_string(3000 + i), L"C:\\Users\\" + name, i % 3 == 0);
      MakeFolder(L"C:\\Users\\" + name);
    }
    MakeFolder(L"D:\\Profiles\\mover\\AppData\\Roaming\\Vendor");
    MakeFolder(L"D:\\Profiles\\mover\\Documents");
    Link(L"C:\\Users\\mover", L"D:\\Profiles\\mover", standin::Owner::kAdministrators);
    standin::AddProfile("S-1-5-21-5-5-5-4000", L"C:\\Users\\mover", false);
    standin::AddProfile("S-1-5-21-5-5-5-4001", L"D:\\Users\\far");
    standin::AddProfile("S-1-5-21-5-5-5-4002", L"%SystemDrive%\\accounts\\near");
    const std::string hive = standin::UserShellFoldersKey(standin::kInstallerSid);
    standin::SetStringValue(hive, "Personal", L"D:\\Redirected\\installer\\Documents", REG_EXPAND_SZ);
    standin::SetStringValue(hive, "Favorites", L"%USERPROFILE%\\Saved Links", REG_EXPAND_SZ);
    MakeFolder(L"D:\\Redirected\\installer\\Documents\\Vendor");
    MakeFolder(L"C:\\Users\\ann\\Saved Links");
    MakeFolder(L"D:\\Disk\\Vendor");
    Link(L"C:\\Data\\Mounted", L"D:\\Disk", standin::Owner::kAdministrators);
    Link(L"C:\\Data\\Planted", L"C:\\Windows", standin::Owner::kInstallingUser);
    Link(L"C:\\ProgramData\\Vendor Shared", L"D:\\Disk", standin::Owner::kTrustedInstaller);
    for (const wchar_t* folder : {L"C:\\Program Files\\Vendor\\SDK\\bin", L"C:\\Program Files (x86)\\Vendor App",
                                  L"C:\\ProgramData\\Vendor\\Data", L"C:\\Users\\ann\\AppData\\Roaming\\Vendor",
                                  L"C:\\Vendor\\Data", L"C:\\Users\\Public\\Documents\\Vendor"}) {
      MakeFolder(folder);
    }
    Gather();
  }

  // Every standard folder, as the machine spells it.
  const std::vector<std::wstring>& StandardFolders() const { return folders_; }

  // The decision for one reading of a fully qualified path.
  Verdict Decide(const std::wstring& path) const {
    WCHAR full[4096];
    const DWORD chars = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
    if (chars == 0 || chars >= 4096) return Verdict::kAbsent;
    const std::wstring normal(full, chars);
    // Each component from the first below the root, the link itself looked at.
    size_t end = normal.rfind(L"\\\\", 0) == 0 ? normal.find(L'\\', normal.find(L'\\', 2) + 1) : 2;
    while (end != std::wstring::npos && end + 1 < normal.size()) {
      end = normal.find(L'\\', end + 1);
      const std::wstring component = normal.substr(0, end);
      const DWORD attributes = GetFileAttributesW(component.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return Verdict::kAbsent;
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !Trusted(component)) return Verdict::kLink;
    }
    Identity identity = {};
    if (!Open(normal, &identity, nullptr)) return Verdict::kAbsent;
    if (is_.count(identity)) return Verdict::kIs;
    if (holds_.count(identity)) return Verdict::kHolds;
    return Verdict::kAllowed;
  }

 private:
  static void MakeFolder(const std::wstring& windowsPath) {
    std::error_code ignored;
    fs::create_directories(*standin::HostPath(windowsPath), ignored);
  }

  // A link of an account a standard user cannot act as is theirs alone to
  // change: its permissions are its own.
  static void Link(const std::wstring& link, const std::wstring& target, standin::Owner owner) {
    MakeFolder(link.substr(0, link.rfind(L'\\')));
    std::error_code ignored;
    fs::create_directory_symlink(*standin::HostPath(target), *standin::HostPath(link), ignored);
    const std::string name(link.begin(), link.end());
    standin::SetOwner(name, owner);
    if (owner == standin::Owner::kInstallingUser) return;
    standin::SetDacl(name,
                     {{ACCESS_ALLOWED_ACE_TYPE, 0, standin::kFullControl, standin::kAdministratorsSid},
                      {ACCESS_ALLOWED_ACE_TYPE, 0, standin::kReadAndExecute, standin::kUsersSid}},
                     true);
  }

  static bool Trusted(const std::wstring& link) {
    const HANDLE file = CreateFileW(link.c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const bool read =
        file != INVALID_HANDLE_VALUE && GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                                        nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!read) return false;
    const SID* sid = static_cast<const SID*>(owner);
    const bool trusted = (sid->SubAuthorityCount == 1 && sid->SubAuthority[0] == 18) ||
                         (sid->SubAuthorityCount == 2 && sid->SubAuthority[0] == 32 && sid->SubAuthority[1] == 544) ||
                         (sid->SubAuthorityCount == 6 && sid->SubAuthority[0] == 80);
    LocalFree(descriptor);
    return trusted;
  }

  // Opens what a path leads to; its identity and where it really is.
  static bool Open(const std::wstring& path, Identity* identity, std::wstring* final) {
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information = {};
    bool opened = GetFileInformationByHandle(file, &information) != FALSE;
    *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    if (final) {
      WCHAR buffer[4096];
      const DWORD chars = GetFinalPathNameByHandleW(file, buffer, 4096, 0);
      opened = opened && chars > 0 && chars < 4096;
      if (opened) *final = std::wstring(buffer + 4, chars - 4);  // without "\\?\"
      if (opened && final->rfind(L"UNC\\", 0) == 0) *final = L"\\\\" + final->substr(4);
    }
    CloseHandle(file);
    return opened;
  }

  static std::wstring Expanded(const std::wstring& text) {
    WCHAR buffer[1024];
    const DWORD chars = ExpandEnvironmentStringsW(text.c_str(), buffer, 1024);
    return chars && chars <= 1024 ? std::wstring(buffer, chars - 1) : text;
  }

  void Gather() {
    WCHAR temp[MAX_PATH + 1];
    const DWORD tempChars = GetTempPathW(MAX_PATH + 1, temp);
    folders_ = {L"C:\\Windows",
                L"C:\\Windows\\system32",
                L"C:\\Windows\\SysWOW64",
                L"C:\\Windows\\Fonts",
                L"C:\\Windows\\Temp",
                L"C:\\Program Files",
                L"C:\\Program Files\\Common Files",
                L"C:\\Program Files (x86)",
                L"C:\\Program Files (x86)\\Common Files",
                L"C:\\ProgramData",
                L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
                L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
                L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
                L"C:\\ProgramData\\Microsoft\\Windows\\Templates",
                L"C:\\Users",
                L"D:\\Redirected\\installer\\Documents",
                std::wstring(temp, tempChars ? tempChars - 1 : 0)};
    for (const std::string& name : standin::ValueNames(standin::kMachineShellFoldersKey)) {
      const auto value = standin::GetValue(standin::kMachineShellFoldersKey, name);
      folders_.push_back(Expanded(reinterpret_cast<const wchar_t*>(value->data.data())));
    }
    // The profiles: every folder in the profiles folder (links too) and every
    // ProfileList profile; in each, every place.
    std::vector<std::wstring> profiles;
    for (const auto& entry : fs::directory_iterator(*standin::HostPath(std::wstring(L"C:\\Users")))) {
      std::error_code ignored;
      if (fs::is_directory(entry.path(), ignored)) {
        const std::string name = entry.path().filename().string();
        profiles.push_back(L"C:\\Users\\" + std::wstring(name.begin(), name.end()));
      }
    }
    for (const wchar_t* path :
         {L"%SystemDrive%\\Users\\Default", L"%SystemDrive%\\Users\\Public",
          L"%systemroot%\\system32\\config\\systemprofile", L"%systemroot%\\ServiceProfiles\\LocalService",
          L"%systemroot%\\ServiceProfiles\\NetworkService", L"D:\\Users\\far", L"%SystemDrive%\\accounts\\near"}) {
      profiles.push_back(Expanded(path));
    }
    for (const std::wstring& profile : profiles) {
      folders_.push_back(profile);
      for (const std::wstring& place : Places()) folders_.push_back(profile + L"\\" + place);
    }
    for (const std::wstring& folder : folders_) {
      Identity identity = {};
      std::wstring final;
      if (!Open(folder, &identity, &final)) continue;
      is_.insert(identity);
      // Every ancestor of where it really is, below the root.
      const size_t rootEnd = final.rfind(L"\\\\", 0) == 0 ? final.find(L'\\', final.find(L'\\', 2) + 1) : 2;
      for (size_t end = final.find(L'\\', rootEnd + 1); end != std::wstring::npos; end = final.find(L'\\', end + 1)) {
        Identity ancestor = {};
        if (Open(final.substr(0, end), &ancestor, nullptr)) holds_.insert(ancestor);
      }
    }
  }

  std::vector<std::wstring> folders_;
  std::set<Identity> is_;
  std::set<Identity> holds_;
};

}  // namespace guard_reference
