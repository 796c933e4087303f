#include "machine.hpp"

#include "ansi_text.hpp"
#include "handles.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quorvel::authoring::machine {

namespace {

RegKey openKey(const std::string& path, REGSAM access) {
  RegKey key;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_64KEY, key.put());
  return key;
}

}  // namespace

bool createKey(const std::string& path) {
  RegKey key;
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                         key.put(), nullptr) == ERROR_SUCCESS;
}

bool deleteKeyTree(const std::string& path) {
  if (path.empty()) {
    return false;  // never the whole hive
  }
  const LSTATUS rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  const LSTATUS last = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
  return last == ERROR_SUCCESS || last == ERROR_FILE_NOT_FOUND;
}

bool keyExists(const std::string& path) { return static_cast<bool>(openKey(path, KEY_READ)); }

bool setString(const std::string& path, const std::string& name, const std::string& value) {
  RegKey key = openKey(path, KEY_SET_VALUE);
  return key && RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool setDword(const std::string& path, const std::string& name, DWORD value) {
  RegKey key = openKey(path, KEY_SET_VALUE);
  return key && RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value) == ERROR_SUCCESS;
}

std::optional<DWORD> readDword(const std::string& path, const std::string& name) {
  RegKey key = openKey(path, KEY_QUERY_VALUE);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!key ||
      RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

std::optional<DWORD> valueType(const std::string& path, const std::string& name) {
  RegKey key = openKey(path, KEY_QUERY_VALUE);
  DWORD type = 0;
  if (!key || RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return type;
}

bool deleteValue(const std::string& path, const std::string& name) {
  RegKey key = openKey(path, KEY_SET_VALUE);
  return key && RegDeleteValueA(key.get(), name.c_str()) == ERROR_SUCCESS;
}

std::optional<DWORD> longestValueNameChars(const std::string& path) {
  RegKey key = openKey(path, KEY_QUERY_VALUE);
  DWORD longest = 0;
  if (!key || RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                               nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return longest;
}

std::vector<std::string> valueNames(const std::string& path) {
  std::vector<std::string> names;
  RegKey key = openKey(path, KEY_QUERY_VALUE);
  if (!key) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD size = sizeof name;
    if (RegEnumValueA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, size);
  }
  return names;
}

// Narrow paths are text of the ANSI code page, as the narrow calls read them.
bool createFolders(const std::string& path) { return createFolders(wide(path)); }

bool createFolders(const std::wstring& path) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path), error);
  return !error && exists(path);
}

bool writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(std::filesystem::path(wide(path)), std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(wide(path)), std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) { return exists(wide(path)); }

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void removeTree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(std::filesystem::path(wide(path)), error);
}

bool productInstalled(const std::string& productCode) {
  return MsiQueryProductStateA(productCode.c_str()) == INSTALLSTATE_DEFAULT;
}

DWORD runAndWait(const std::string& commandLine, DWORD timeoutMs) {
  std::string buffer = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return GetLastError();
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    return WAIT_TIMEOUT;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

bool atomExists(const wchar_t* name) { return GlobalFindAtomW(name) != 0; }

void addAtom(const wchar_t* name) {
  if (!atomExists(name)) {
    GlobalAddAtomW(name);
  }
}

void deleteAtom(const wchar_t* name) {
  for (int guard = 0; guard < 64; ++guard) {
    const ATOM atom = GlobalFindAtomW(name);
    if (atom == 0) {
      return;
    }
    GlobalDeleteAtom(atom);
  }
}

}  // namespace quorvel::authoring::machine
