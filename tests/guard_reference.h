// A machine with many profiles, links and short names on the stand-in, and
// the target guard's decision made the simple way: every standard folder the
// machine has (each place in each profile spelled out) and every ancestor of
// where it really is, opened and compared by identity. The guard decides
// the same by real paths, an index and places below profiles; this is what
// it must agree with. Shared by the host tests and the guard's fuzz target.
#pragma once

#include <aclapi.h>
#include <standin.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace guard_reference {

namespace fs = std::filesystem;

constexpr const char* kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kCurrentVersion32 = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion";

// The per-user folders at their places below every profile.
inline const std::vector<std::wstring>& Places() {
  static const std::vector<std::wstring> places = {
      L"AppData\\Roaming",
      L"AppData\\Local",
      L"AppData\\LocalLow",
      L"AppData\\Local\\Temp",
      L"AppData\\Local\\Microsoft\\Windows\\History",
      L"AppData\\Local\\Microsoft\\Windows\\INetCache",
      L"AppData\\Local\\Microsoft\\Windows\\INetCookies",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
      L"AppData\\Roaming\\Microsoft\\Windows\\Recent",
      L"AppData\\Roaming\\Microsoft\\Windows\\SendTo",
      L"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts",
      L"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts",
      L"AppData\\Roaming\\Microsoft\\Windows\\Templates",
      L"Contacts",
      L"Desktop",
      L"Documents",
      L"Downloads",
      L"Favorites",
      L"Links",
      L"Music",
      L"OneDrive",
      L"Pictures",
      L"Saved Games",
      L"Searches",
      L"Videos"};
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
  kIs,              // it is a standard folder
  kHolds,           // it holds one
  kLink,            // it runs through a link a standard user made
  kAbsent,          // the reference cannot decide (a root that cannot be opened)
  kRelative,        // not fully qualified, or a volume root
  kAdministrative,  // on an administrative share, as given or where it leads
  kStream,          // a colon after the drive designator
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
    MakeFolder(L"C:\\Users\\installer\\Saved Links");
    MakeFolder(L"D:\\Disk\\Vendor");
    // Drives and shares onto the machine's folders, a junction below a
    // profile, folders that the registry moved and a hostile hive.
    standin::AliasRoot("W:", "C:\\Windows", standin::Alias::kKeepsRoot);
    standin::AliasRoot("S:", "C:\\ProgramData\\Microsoft", standin::Alias::kLeads);
    standin::AliasRoot("\\\\localhost\\C$", "C:\\", standin::Alias::kKeepsRoot);
    standin::AliasRoot("M:", "\\\\localhost\\C$", standin::Alias::kLeads);
    standin::AliasRoot("\\\\localhost\\Users", "C:\\Users", standin::Alias::kKeepsRoot);
    MakeFolder(L"D:\\Redirect\\ann\\AppData\\Roaming\\Vendor");
    std::error_code ignored;
    fs::remove_all(*standin::HostPath(std::wstring(L"C:\\Users\\ann\\AppData")), ignored);
    Link(L"C:\\Users\\ann\\AppData", L"D:\\Redirect\\ann\\AppData", standin::Owner::kAdministrators);
    standin::SetStringValue(kCurrentVersion, "CommonFilesDir", L"D:\\Common Files");
    standin::SetStringValue(kCurrentVersion32, "ProgramFilesDir", L"E:\\Apps32");
    MakeFolder(L"D:\\Common Files\\Vendor");
    MakeFolder(L"E:\\Apps32\\Vendor");
    standin::SetStringValue(hive, "Vendor Data", L"C:\\Program Files\\Vendor", REG_SZ);
    standin::SetStringValue(hive, "My Music", L"C:\\Program Files (x86)\\Vendor App", REG_SZ);
    standin::SetStringValue(hive, "My Video", L"%USERPROFILE%\\AppData\\Local\\Vendor", REG_EXPAND_SZ);
    MakeFolder(L"C:\\Users\\installer\\AppData\\Local\\Vendor");
    MakeFolder(L"C:\\Users\\ann\\AppData\\Local\\Vendor");
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

  // The decision for one reading of a path.
  Verdict Decide(const std::wstring& path) const {
    const std::wstring normal = Qualified(path);
    if (normal.empty()) return Verdict::kRelative;
    if (normal.find(L':', normal[0] == L'\\' ? 0 : 2) != std::wstring::npos) return Verdict::kStream;
    if (Administrative(normal)) return Verdict::kAdministrative;
    // A place in a profile is one where it is spelled, whatever a link on its
    // way leads to; a folder that is standard where it leads is that first.
    bool holdsPlace = false;
    for (const std::wstring& place : places_) {
      if (Same(place, normal)) return Verdict::kIs;
      holdsPlace = holdsPlace || Below(place, normal);
    }
    const Verdict where = DecideWhereItLeads(normal);
    return holdsPlace && where != Verdict::kIs ? Verdict::kHolds : where;
  }

 private:
  Verdict DecideWhereItLeads(const std::wstring& normal) const {
    // Each component from the first below the root, the link itself looked
    // at; what exists is where the target is seen from, the rest as spelled.
    const size_t rootEnd = RootEnd(normal);
    std::wstring existing = normal.substr(0, rootEnd);
    std::vector<std::pair<size_t, Identity>> steps;  // where each existing component ends, and what it is
    Identity identity = {};
    std::wstring final;
    // Where the root leads counts too (a drive mapped onto a share).
    if (Open(existing + L"\\", &identity, &final) && Administrative(final)) return Verdict::kAdministrative;
    for (size_t end = rootEnd; end != std::wstring::npos && end < normal.size();) {
      end = normal.find(L'\\', end + 1);
      const std::wstring component = normal.substr(0, end);
      const DWORD attributes = GetFileAttributesW(component.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) break;
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !Trusted(component)) return Verdict::kLink;
      existing = component;
      Identity step = {};
      if (Open(component, &step, nullptr)) steps.emplace_back(component.size(), step);
    }
    if (!Open(existing + L"\\", &identity, &final)) return Verdict::kAbsent;
    if (Administrative(final)) return Verdict::kAdministrative;
    const std::wstring rest = normal.substr(existing.size());
    if (rest.empty()) {
      if (is_.count(identity)) return Verdict::kIs;
      if (holds_.count(identity)) return Verdict::kHolds;
      return Verdict::kAllowed;
    }
    // Absent below `existing`: a profile in the profiles folder, a place of
    // a profile, or a folder whose spelling (as given, or from where the
    // part that exists leads) it is or holds.
    // The deepest profile, or the profiles folder, on its way decides by place.
    std::wstring below;
    for (auto step = steps.rbegin(); step != steps.rend() && below.empty(); ++step) {
      const Identity& at = step->second;
      const bool profilesFolder =
          at.volume == profilesFolder_.volume && at.high == profilesFolder_.high && at.low == profilesFolder_.low;
      if (!profilesFolder && !profiles_.count(at)) continue;
      below = normal.substr(step->first + 1);
      const size_t name = below.find(L'\\');
      if (profilesFolder && name == std::wstring::npos) return Verdict::kIs;
      if (profilesFolder) below = below.substr(name + 1);
    }
    Verdict verdict = Verdict::kAllowed;
    for (const std::wstring& place : below.empty() ? std::vector<std::wstring>() : Places()) {
      if (Same(place, below)) return Verdict::kIs;
      if (Below(place, below)) verdict = Verdict::kHolds;
    }
    // What exists is where a standard folder of the same identity is, by
    // whatever drive or share it was reached.
    const auto known = where_.find(identity);
    if (known != where_.end()) final = known->second;
    while (!final.empty() && final.back() == L'\\') final.pop_back();
    const std::wstring spelled = final + rest;
    for (const std::wstring& folder : folders_) {
      const std::wstring folderNormal = Qualified(folder);
      if (Same(folderNormal, spelled) || Same(folderNormal, normal)) return Verdict::kIs;
      if (Below(folderNormal, spelled) || Below(folderNormal, normal)) verdict = Verdict::kHolds;
    }
    return verdict;
  }

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
    // Nor may the machine's users change it (ann owns her profile).
    const std::string name(link.begin(), link.end());
    return trusted && !standin::UserMayChangeLink(name, standin::kInstallerSid) &&
           !standin::UserMayChangeLink(name, standin::kAnnSid);
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

  // The full path as the system resolves it; empty for one that is not
  // fully qualified or names a volume root.
  static std::wstring Qualified(const std::wstring& path) {
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    std::wstring normal;
    if (path.rfind(L"\\\\?\\", 0) == 0) {
      normal = path.substr(4);
      if (normal.rfind(L"UNC\\", 0) == 0) normal = L"\\\\" + normal.substr(4);
      if (normal.find(L"\\\\", 2) != std::wstring::npos) return L"";
    } else if ((path.size() > 2 && separator(path[0]) && separator(path[1])) ||
               (path.size() > 2 && iswalpha(path[0]) && path[1] == L':' && separator(path[2]))) {
      WCHAR full[4096];
      const DWORD chars = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
      if (chars == 0 || chars >= 4096) return L"";
      normal.assign(full, chars);
    }
    while (normal.size() > 3 && normal.back() == L'\\') normal.pop_back();
    const bool drive = normal.size() > 2 && iswalpha(normal[0]) && normal[1] == L':' && normal[2] == L'\\';
    const bool unc = normal.rfind(L"\\\\", 0) == 0 && normal.size() > 2 && normal[2] != L'.' && normal[2] != L'?';
    if (!drive && !unc) return L"";
    const size_t rootEnd = RootEnd(normal);
    if (rootEnd == std::wstring::npos || rootEnd + 1 >= normal.size()) return L"";
    return normal;
  }

  // Where the root ("C:" or "\\\\server\\share") ends; npos for no share.
  static size_t RootEnd(const std::wstring& normal) {
    if (normal.rfind(L"\\\\", 0) != 0) return 2;
    const size_t share = normal.find(L'\\', 2);
    if (share == std::wstring::npos || share == 2 || share + 1 >= normal.size() || normal[share + 1] == L'\\') {
      return std::wstring::npos;
    }
    const size_t end = normal.find(L'\\', share + 1);
    return end == std::wstring::npos ? normal.size() : end;
  }

  // "\\\\<server>\\<letter>$..." or "\\\\<server>\\ADMIN$...".
  static bool Administrative(const std::wstring& path) {
    if (path.rfind(L"\\\\", 0) != 0) return false;
    const size_t share = path.find(L'\\', 2);
    if (share == std::wstring::npos) return false;
    const size_t end = path.find(L'\\', share + 1);
    const std::wstring name = path.substr(share + 1, end == std::wstring::npos ? std::wstring::npos : end - share - 1);
    return (name.size() == 2 && iswalpha(name[0]) && name[1] == L'$') || Same(name, L"ADMIN$");
  }

  static bool Same(const std::wstring& first, const std::wstring& second) {
    return first.size() == second.size() && std::equal(first.begin(), first.end(), second.begin(),
                                                       [](wchar_t a, wchar_t b) { return towupper(a) == towupper(b); });
  }

  // Whether `folder` lies below `path`.
  static bool Below(const std::wstring& folder, const std::wstring& path) {
    return folder.size() > path.size() + 1 && folder[path.size()] == L'\\' && Same(folder.substr(0, path.size()), path);
  }

  static std::wstring Expanded(const std::wstring& text) {
    WCHAR buffer[1024];
    const DWORD chars = ExpandEnvironmentStringsW(text.c_str(), buffer, 1024);
    return chars && chars <= 1024 ? std::wstring(buffer, chars - 1) : text;
  }

  void Gather() {
    WCHAR temp[MAX_PATH + 1];
    const DWORD tempChars = GetTempPathW(MAX_PATH + 1, temp);
    // The machine folders from the registry's program-files values, both views.
    for (const std::string& key : {std::string(kCurrentVersion), std::string(kCurrentVersion32)}) {
      for (const std::string& name : standin::ValueNames(key)) {
        const auto value = standin::GetValue(key, name);
        if (value && value->type == REG_SZ) folders_.push_back(reinterpret_cast<const wchar_t*>(value->data.data()));
      }
    }
    folders_.insert(
        folders_.end(),
        {L"C:\\Windows", L"C:\\Windows\\system32", L"C:\\Windows\\SysWOW64", L"C:\\Windows\\Fonts",
         L"C:\\Windows\\Temp", L"C:\\Program Files", L"C:\\Program Files\\Common Files", L"C:\\Program Files (x86)",
         L"C:\\Program Files (x86)\\Common Files", L"C:\\ProgramData",
         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools",
         L"C:\\ProgramData\\Microsoft\\Windows\\Templates", L"C:\\Users", L"D:\\Redirected\\installer\\Documents",
         // The installing user's own, from its hive (see LayOut).
         L"C:\\Users\\installer\\Saved Links", L"C:\\Users\\installer\\AppData\\Local\\Vendor",
         std::wstring(temp, tempChars ? tempChars - 1 : 0)});
    for (const std::string& name : standin::ValueNames(standin::kMachineShellFoldersKey)) {
      const auto value = standin::GetValue(standin::kMachineShellFoldersKey, name);
      folders_.push_back(Expanded(reinterpret_cast<const wchar_t*>(value->data.data())));
    }
    // The profiles: every folder in the profiles folder (links too) and every
    // ProfileList profile; in each, every place.
    Open(L"C:\\Users", &profilesFolder_, nullptr);
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
      Identity identity = {};
      if (Open(profile, &identity, nullptr)) profiles_.insert(identity);
      for (const std::wstring& place : Places()) {
        folders_.push_back(profile + L"\\" + place);
        places_.push_back(Qualified(profile + L"\\" + place));
      }
    }
    for (const std::wstring& folder : folders_) {
      Identity identity = {};
      std::wstring final;
      if (!Open(folder, &identity, &final)) continue;
      is_.insert(identity);
      where_.emplace(identity, final);
      // Every ancestor of where it really is, below the root.
      const size_t rootEnd = final.rfind(L"\\\\", 0) == 0 ? final.find(L'\\', final.find(L'\\', 2) + 1) : 2;
      for (size_t end = final.find(L'\\', rootEnd + 1); end != std::wstring::npos; end = final.find(L'\\', end + 1)) {
        Identity ancestor = {};
        if (Open(final.substr(0, end), &ancestor, nullptr)) holds_.insert(ancestor);
      }
    }
  }

  std::vector<std::wstring> folders_;
  std::vector<std::wstring> places_;  // the places below each profile, as spelled
  Identity profilesFolder_ = {};
  std::set<Identity> profiles_;
  std::set<Identity> is_;
  std::map<Identity, std::wstring> where_;  // where each standard folder really is
  std::set<Identity> holds_;
};

}  // namespace guard_reference
