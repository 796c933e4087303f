#include "shell_folders.hpp"

#include <sddl.h>
#include <shlobj.h>
#include <userenv.h>

#include <cctype>

namespace quorvel::engine::shell {

namespace {

constexpr const char* kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

}  // namespace

std::string folder(int csidl) {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, path))) return "";
  return path;
}

std::string temporaryFolder() {
  char path[MAX_PATH + 1] = {};
  std::string temp(path, GetTempPathA(MAX_PATH + 1, path));
  while (!temp.empty() && temp.back() == '\\') temp.pop_back();
  return temp;
}

std::string profilesFolder() {
  char path[MAX_PATH] = {};
  DWORD chars = MAX_PATH;
  return GetProfilesDirectoryA(path, &chars) ? path : "";
}

std::string shortPath(const std::string& path) {
  char shortened[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(path.c_str(), shortened, MAX_PATH);
  return length && length < MAX_PATH ? shortened : "";
}

std::string upperCase(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return text;
}

UserShellFolder::UserShellFolder(const char* valueName, const std::string& path) : valueName_(valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  char value[1024] = {};
  DWORD bytes = sizeof(value) - 1;
  if (RegQueryValueExA(key, valueName, nullptr, &previousType_, reinterpret_cast<BYTE*>(value), &bytes) ==
      ERROR_SUCCESS) {
    previous_ = std::string(value);
  }
  set_ = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                        static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
}

UserShellFolder::~UserShellFolder() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (previous_) {
    RegSetValueExA(key, valueName_.c_str(), 0, previousType_, reinterpret_cast<const BYTE*>(previous_->c_str()),
                   static_cast<DWORD>(previous_->size() + 1));
  } else {
    RegDeleteValueA(key, valueName_.c_str());
  }
  RegCloseKey(key);
}

MovedProgramFilesValue::MovedProgramFilesValue(REGSAM view, const char* name, const std::string& path) : name_(name) {
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                      nullptr, key_.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  char value[MAX_PATH] = {};
  DWORD bytes = sizeof value;
  if (RegGetValueA(key_.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS) {
    previous_ = value;
  }
  set_ = write(path);
}

MovedProgramFilesValue::~MovedProgramFilesValue() {
  if (!set_) return;
  if (previous_) {
    write(*previous_);
  } else {
    RegDeleteValueA(key_.get(), name_);
  }
}

bool MovedProgramFilesValue::write(const std::string& value) const {
  return RegSetValueExA(key_.get(), name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

std::string ofTheUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return std::string();
  }
  alignas(8) BYTE buffer[256];
  DWORD bytes = 0;
  std::string text;
  char* sid = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &bytes) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    text = std::string(" (of the user ") + sid + ")";
    LocalFree(sid);
  }
  CloseHandle(token);
  return text;
}

}  // namespace quorvel::engine::shell
