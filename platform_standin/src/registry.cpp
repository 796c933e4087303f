// An in-memory HKEY_LOCAL_MACHINE. Key paths and value names compare without
// regard to case, as on Windows; values enumerate in the order they were made.
#include <cstring>
#include <map>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

struct Value {
  std::string name;
  RegistryValue value;
};

struct Key {
  std::vector<Value> values;
};

std::map<std::string, Key> keys;       // by folded path
std::map<HKEY, std::string> openKeys;  // handle -> folded path
uintptr_t nextKey = 0x1000;

std::string PathOf(const std::string& path) {
  std::string folded = FoldCase(path);
  while (!folded.empty() && folded.back() == '\\') folded.pop_back();
  return folded;
}

Value* FindValue(Key& key, const std::string& name) {
  const std::string folded = FoldCase(name);
  for (Value& value : key.values) {
    if (FoldCase(value.name) == folded) return &value;
  }
  return nullptr;
}

Key* KeyOf(HKEY handle) {
  auto open = openKeys.find(handle);
  if (open == openKeys.end()) return nullptr;
  auto key = keys.find(open->second);
  return key == keys.end() ? nullptr : &key->second;
}

LSTATUS OpenKey(const char* call, HKEY root, const std::string& subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if (auto error = EnterCall(call)) return *error;
  if (root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  const std::string path = PathOf(subKey);
  if (!keys.count(path)) return ERROR_FILE_NOT_FOUND;
  HKEY handle = reinterpret_cast<HKEY>(nextKey++);
  openKeys[handle] = path;
  *result = handle;
  return ERROR_SUCCESS;
}

std::string Narrow(LPCWSTR text) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

}  // namespace

void ResetRegistry() {
  keys.clear();
  openKeys.clear();
  nextKey = 0x1000;
}

void CreateKey(const std::string& path) { keys[PathOf(path)]; }

bool KeyExists(const std::string& path) { return keys.count(PathOf(path)) != 0; }

void SetValue(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data) {
  Key& key = keys[PathOf(path)];
  if (Value* existing = FindValue(key, name)) {
    existing->value = RegistryValue{type, data};
  } else {
    key.values.push_back(Value{name, RegistryValue{type, data}});
  }
}

void SetStringValue(const std::string& path, const std::string& name, const std::wstring& value) {
  std::vector<BYTE> data((value.size() + 1) * sizeof(WCHAR));
  std::memcpy(data.data(), value.c_str(), data.size());
  SetValue(path, name, REG_SZ, data);
}

void SetDwordValue(const std::string& path, const std::string& name, DWORD value) {
  std::vector<BYTE> data(sizeof value);
  std::memcpy(data.data(), &value, sizeof value);
  SetValue(path, name, REG_DWORD, data);
}

std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name) {
  auto key = keys.find(PathOf(path));
  if (key == keys.end()) return std::nullopt;
  Value* value = FindValue(key->second, name);
  if (!value) return std::nullopt;
  return value->value;
}

std::vector<std::string> ValueNames(const std::string& path) {
  std::vector<std::string> names;
  auto key = keys.find(PathOf(path));
  if (key != keys.end()) {
    for (const Value& value : key->second.values) names.push_back(value.name);
  }
  return names;
}

int OpenRegistryKeys() { return static_cast<int>(openKeys.size()); }

}  // namespace standin

using namespace standin;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
  return OpenKey("RegOpenKeyExA", key, subKey ? subKey : "", result);
}

extern "C" LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  return OpenKey("RegOpenKeyExW", key, Narrow(subKey), result);
}

extern "C" LSTATUS WINAPI RegQueryValueExW(HKEY handle, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                           LPDWORD dataBytes) {
  if (auto error = EnterCall("RegQueryValueExW")) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  Value* value = FindValue(*key, Narrow(name));
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->value.type;
  const DWORD size = static_cast<DWORD>(value->value.data.size());
  if (!dataBytes) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD capacity = *dataBytes;
  *dataBytes = size;
  if (!data) return ERROR_SUCCESS;
  if (size > capacity) return ERROR_MORE_DATA;
  std::memcpy(data, value->value.data.data(), size);
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data,
                                         DWORD dataBytes) {
  if (auto error = EnterCall("RegSetValueExA")) return *error;
  auto open = openKeys.find(handle);
  if (open == openKeys.end()) return ERROR_INVALID_HANDLE;
  SetValue(open->second, name ? name : "", type, std::vector<BYTE>(data, data + dataBytes));
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subKeys, LPDWORD, LPDWORD,
                                           LPDWORD values, LPDWORD maxValueNameChars, LPDWORD, LPDWORD, PFILETIME) {
  if (auto error = EnterCall("RegQueryInfoKeyA")) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  DWORD longest = 0;
  for (const Value& value : key->values) {
    if (value.name.size() > longest) longest = static_cast<DWORD>(value.name.size());
  }
  if (subKeys) *subKeys = 0;
  if (values) *values = static_cast<DWORD>(key->values.size());
  if (maxValueNameChars) *maxValueNameChars = longest;
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                                        LPBYTE, LPDWORD) {
  if (auto error = EnterCall("RegEnumValueA")) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = key->values[index];
  if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
  if (value.name.size() >= *nameChars) return ERROR_MORE_DATA;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameChars = static_cast<DWORD>(value.name.size());
  if (type) *type = value.value.type;
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR name) {
  if (auto error = EnterCall("RegDeleteValueA")) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  const std::string folded = FoldCase(name ? name : "");
  for (auto value = key->values.begin(); value != key->values.end(); ++value) {
    if (FoldCase(value->name) == folded) {
      key->values.erase(value);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY handle) {
  EnterCall("RegCloseKey");
  return openKeys.erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
