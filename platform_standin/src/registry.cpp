// An in-memory HKEY_LOCAL_MACHINE and HKEY_USERS. Key paths and value names
// compare without regard to case, as on Windows; values enumerate in the
// order they were made, subkeys in the order of their names.
#include <cstring>
#include <map>
#include <optional>
#include <standin.h>
#include <unordered_map>

#include "parts.h"

namespace standin {
namespace {

// A name's length in UTF-16 units: its characters in the ANSI code page.
size_t Utf16Units(const std::string& name) {
  const auto wide = Widen(CP_ACP, name);
  return wide ? wide->size() : name.size();
}

struct Value {
  std::string name;
  RegistryValue value;
};

// The values of one key. A deleted value leaves a hole in `slots_` until the
// holes outnumber the values; a Fenwick tree over the live slots finds the
// n-th value, so that enumerating and deleting stay cheap on keys with
// hundreds of thousands of values (the Installer's Folders key on a busy
// machine), as they are on Windows.
class Key {
 public:
  // The key's own name as it was made (the last component of its path).
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  Value* Find(const std::string& name) {
    auto found = index_.find(FoldCase(name));
    return found == index_.end() ? nullptr : &slots_[found->second].value;
  }

  void Set(const std::string& name, RegistryValue value) {
    if (Value* existing = Find(name)) {
      existing->value = std::move(value);
      return;
    }
    index_.emplace(FoldCase(name), slots_.size());
    const size_t units = Utf16Units(name);
    slots_.push_back(Slot{Value{name, std::move(value)}, true, units});
    tree_.push_back(0);
    const size_t at = slots_.size();
    // A new last slot covers (at - lowbit(at), at]: itself and the slots before it in that range.
    tree_[at] = 1 + Prefix(at - 1) - Prefix(at - (at & (~at + 1)));
    ++lengths_[units];
    ++count_;
    cursorIndex_ = kNoCursor;
  }

  bool Erase(const std::string& name) {
    auto found = index_.find(FoldCase(name));
    if (found == index_.end()) return false;
    const size_t slot = found->second;
    index_.erase(found);
    Slot& erased = slots_[slot];
    erased.live = false;
    auto length = lengths_.find(erased.units);
    if (--length->second == 0) lengths_.erase(length);
    erased.value = Value{};
    for (size_t at = slot + 1; at < tree_.size(); at += at & (~at + 1)) --tree_[at];
    --count_;
    cursorIndex_ = kNoCursor;
    if (slots_.size() > 64 && slots_.size() > 2 * count_) Compact();
    return true;
  }

  size_t Count() const { return count_; }

  // In UTF-16 units, as Windows answers it to the narrow and the wide call alike.
  DWORD LongestName() const { return lengths_.empty() ? 0 : static_cast<DWORD>(lengths_.rbegin()->first); }

  // The index-th value in enumeration order, or null past the last.
  const Value* At(size_t index) {
    if (index >= count_) return nullptr;
    size_t slot;
    if (cursorIndex_ != kNoCursor && index == cursorIndex_ + 1) {
      // Enumeration walks the indexes in turn: step to the next live slot.
      slot = cursorSlot_ + 1;
      while (!slots_[slot].live) ++slot;
    } else {
      slot = SlotOf(index);
    }
    cursorIndex_ = index;
    cursorSlot_ = slot;
    return &slots_[slot].value;
  }

  // The longest data in bytes, as RegQueryInfoKey answers it.
  DWORD LongestData() const {
    size_t longest = 0;
    for (const Slot& slot : slots_) {
      if (slot.live && slot.value.value.data.size() > longest) longest = slot.value.value.data.size();
    }
    return static_cast<DWORD>(longest);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Slot& slot : slots_) {
      if (slot.live) names.push_back(slot.value.name);
    }
    return names;
  }

 private:
  struct Slot {
    Value value;
    bool live;
    size_t units;  // the name's length in UTF-16 units when it was made
  };
  static constexpr size_t kNoCursor = static_cast<size_t>(-1);

  // Live slots among the first `count` slots.
  size_t Prefix(size_t count) const {
    size_t sum = 0;
    for (size_t at = count; at > 0; at -= at & (~at + 1)) sum += tree_[at];
    return sum;
  }

  // The slot of the index-th live value (index < count_).
  size_t SlotOf(size_t index) const {
    const size_t size = slots_.size();
    size_t step = 1;
    while (step * 2 <= size) step *= 2;
    size_t at = 0;
    size_t remaining = index + 1;
    for (; step > 0; step /= 2) {
      if (at + step <= size && tree_[at + step] < remaining) {
        at += step;
        remaining -= tree_[at];
      }
    }
    return at;  // the 1-based position at + 1, as a 0-based slot
  }

  void Compact() {
    std::vector<Slot> live;
    live.reserve(count_);
    for (Slot& slot : slots_) {
      if (slot.live) live.push_back(std::move(slot));
    }
    slots_ = std::move(live);
    index_.clear();
    tree_.assign(slots_.size() + 1, 0);
    for (size_t at = 1; at <= slots_.size(); ++at) {
      index_.emplace(FoldCase(slots_[at - 1].value.name), at - 1);
      tree_[at] += 1;
      const size_t parent = at + (at & (~at + 1));
      if (parent <= slots_.size()) tree_[parent] += tree_[at];
    }
  }

  std::string name_;
  std::vector<Slot> slots_;
  std::vector<size_t> tree_ = std::vector<size_t>(1, 0);  // 1-based; tree_[0] unused
  std::unordered_map<std::string, size_t> index_;         // folded name -> slot
  std::map<size_t, size_t> lengths_;                      // name length -> values with it
  size_t count_ = 0;
  size_t cursorIndex_ = kNoCursor;  // the last index enumerated, and its slot
  size_t cursorSlot_ = 0;
};

// Keys by folded path below a root token: "hklm\\software\\..." or "hku\\s-1-5-18".
std::map<std::string, Key> keys;
std::map<HKEY, std::string> openKeys;  // handle -> folded path
std::map<HKEY, REGSAM> openAccess;     // handle -> access asked for at the open
// Where the last subkey enumeration of a handle stopped, so that walking the
// indexes in turn stays cheap on keys with thousands of subkeys.
struct SubkeyCursor {
  DWORD index;
  std::map<std::string, Key>::iterator at;
};
std::map<HKEY, SubkeyCursor> subkeyCursors;
uintptr_t nextKey = 0x1000;
bool keyWithFailedOpen = false;

constexpr char kMachineRoot[] = "hklm";
constexpr char kUsersRoot[] = "hku";
constexpr char kUsersPrefix[] = "HKEY_USERS";

std::string Trimmed(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::string Below(const std::string& parent, const std::string& subKey) {
  const std::string sub = Trimmed(subKey);
  return sub.empty() ? parent : parent + "\\" + FoldCase(sub);
}

// A test's key path: below HKEY_LOCAL_MACHINE, or below HKEY_USERS when it
// begins with "HKEY_USERS".
std::string PathOf(const std::string& path) {
  const std::string trimmed = Trimmed(path);
  if (FoldCase(trimmed.substr(0, sizeof kUsersPrefix - 1)) == FoldCase(kUsersPrefix) &&
      (trimmed.size() == sizeof kUsersPrefix - 1 || trimmed[sizeof kUsersPrefix - 1] == '\\')) {
    return Below(kUsersRoot, trimmed.size() > sizeof kUsersPrefix ? trimmed.substr(sizeof kUsersPrefix) : "");
  }
  return Below(kMachineRoot, trimmed);
}

// The key at a folded path, made with every key above it, as creating a key
// makes its parents on Windows; `display` spells the path's components.
Key& EnsureKey(const std::string& path, const std::string& display) {
  auto found = keys.find(path);
  if (found != keys.end()) return found->second;
  const size_t parentEnd = path.rfind('\\');
  const size_t displayEnd = display.rfind('\\');
  if (parentEnd != std::string::npos) {
    EnsureKey(path.substr(0, parentEnd), displayEnd == std::string::npos ? "" : display.substr(0, displayEnd));
  }
  Key& key = keys[path];
  key.SetName(displayEnd == std::string::npos ? display : display.substr(displayEnd + 1));
  return key;
}

Key& EnsureTestKey(const std::string& path) {
  const std::string folded = PathOf(path);
  const std::string trimmed = Trimmed(path);
  const bool users = folded.rfind(kUsersRoot, 0) == 0;
  return EnsureKey(folded, users ? trimmed : std::string(kMachineRoot) + (trimmed.empty() ? "" : "\\" + trimmed));
}

Key* KeyOf(HKEY handle) {
  auto open = openKeys.find(handle);
  if (open == openKeys.end()) return nullptr;
  auto key = keys.find(open->second);
  return key == keys.end() ? nullptr : &key->second;
}

// The folded path a handle names: an open key or a predefined root.
std::optional<std::string> PathOfHandle(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE) return std::string(kMachineRoot);
  if (handle == HKEY_USERS) return std::string(kUsersRoot);
  auto open = openKeys.find(handle);
  if (open == openKeys.end()) return std::nullopt;
  return open->second;
}

// As on Windows, a handle allows only what was asked for when it was opened;
// the predefined roots allow everything.
bool Grants(HKEY handle, REGSAM access) {
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_USERS) return true;
  auto open = openAccess.find(handle);
  return open != openAccess.end() && (open->second & access) == access;
}

HKEY NewHandle(const std::string& path, REGSAM access) {
  HKEY handle = reinterpret_cast<HKEY>(nextKey++);
  openKeys[handle] = path;
  openAccess[handle] = access;
  return handle;
}

// The 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE is its WOW6432Node subkey,
// where the 32-bit programs' values (ProgramFilesDir and the like) live.
std::string InView(const std::string& path, REGSAM access) {
  const std::string software = std::string(kMachineRoot) + "\\software";
  if (!(access & KEY_WOW64_32KEY) || path.compare(0, software.size(), software) != 0) return path;
  if (path.size() > software.size() && path[software.size()] != '\\') return path;
  return software + "\\wow6432node" + path.substr(software.size());
}

LSTATUS OpenKey(const Call& call, HKEY root, const std::string& subKey, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  const std::optional<std::string> parent = PathOfHandle(root);
  const std::string path = parent ? InView(Below(*parent, subKey), access) : std::string();
  if (auto error = call.Failure()) {
    if (*error && keyWithFailedOpen && keys.count(path)) *result = NewHandle(path, access);
    return *error;
  }
  if (!parent) return ERROR_INVALID_HANDLE;
  if (!keys.count(path)) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(path, access);
  return ERROR_SUCCESS;
}

std::string Narrow(LPCWSTR text) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

// The next subkey of `parent` from `at` on (grandchildren passed over).
std::map<std::string, Key>::iterator NextChild(const std::string& parent, std::map<std::string, Key>::iterator at) {
  const std::string prefix = parent + "\\";
  for (; at != keys.end() && at->first.compare(0, prefix.size(), prefix) == 0; ++at) {
    if (at->first.find('\\', prefix.size()) == std::string::npos) return at;
  }
  return keys.end();
}

// The index-th subkey of the key at `path`, or keys.end().
std::map<std::string, Key>::iterator Subkey(HKEY handle, const std::string& path, DWORD index) {
  auto cursor = subkeyCursors.find(handle);
  std::map<std::string, Key>::iterator at;
  DWORD reached = 0;
  if (cursor != subkeyCursors.end() && cursor->second.index <= index && cursor->second.at != keys.end()) {
    at = cursor->second.at;
    reached = cursor->second.index;
  } else {
    at = NextChild(path, keys.lower_bound(path + "\\"));
  }
  while (reached < index && at != keys.end()) {
    at = NextChild(path, std::next(at));
    ++reached;
  }
  subkeyCursors[handle] = SubkeyCursor{index, at};
  return at;
}

// What both value enumerations check before they answer with the
// index-th value.
LSTATUS EnumeratedValue(const Call& call, HKEY handle, DWORD index, const void* name, LPDWORD nameChars,
                        const Value** found) {
  if (auto error = call.Failure()) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  *found = key->At(index);
  if (!*found) return ERROR_NO_MORE_ITEMS;
  return name && nameChars ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

}  // namespace

void ResetRegistry() {
  keys.clear();
  keys[kMachineRoot];
  keys[kUsersRoot];
  openKeys.clear();
  openAccess.clear();
  subkeyCursors.clear();
  nextKey = 0x1000;
  keyWithFailedOpen = false;
}

void HandBackKeyWithFailedOpen(bool handBack) { keyWithFailedOpen = handBack; }

void CreateKey(const std::string& path) { EnsureTestKey(path); }

bool KeyExists(const std::string& path) { return keys.count(PathOf(path)) != 0; }

void SetValue(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data) {
  EnsureTestKey(path).Set(name, RegistryValue{type, data});
}

void SetStringValue(const std::string& path, const std::string& name, const std::wstring& value, DWORD type) {
  std::vector<BYTE> data((value.size() + 1) * sizeof(WCHAR));
  std::memcpy(data.data(), value.c_str(), data.size());
  SetValue(path, name, type, data);
}

void SetDwordValue(const std::string& path, const std::string& name, DWORD value) {
  std::vector<BYTE> data(sizeof value);
  std::memcpy(data.data(), &value, sizeof value);
  SetValue(path, name, REG_DWORD, data);
}

std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name) {
  auto key = keys.find(PathOf(path));
  if (key == keys.end()) return std::nullopt;
  Value* value = key->second.Find(name);
  if (!value) return std::nullopt;
  return value->value;
}

std::vector<std::string> ValueNames(const std::string& path) {
  std::vector<std::string> names;
  auto key = keys.find(PathOf(path));
  if (key != keys.end()) names = key->second.Names();
  return names;
}

int OpenRegistryKeys() { return static_cast<int>(openKeys.size()); }

}  // namespace standin

using namespace standin;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  const Call call("RegOpenKeyExA");
  return OpenKey(call, key, subKey ? subKey : "", access, result);
}

extern "C" LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  const Call call("RegOpenKeyExW");
  return OpenKey(call, key, Narrow(subKey), access, result);
}

extern "C" LSTATUS WINAPI RegQueryValueExW(HKEY handle, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                           LPDWORD dataBytes) {
  const Call call("RegQueryValueExW");
  if (auto error = call.Failure()) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  Value* value = key->Find(Narrow(name));
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
  const Call call("RegSetValueExA");
  if (auto error = call.Failure()) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  key->Set(name ? name : "", RegistryValue{type, std::vector<BYTE>(data, data + dataBytes)});
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subKeys, LPDWORD, LPDWORD,
                                           LPDWORD values, LPDWORD maxValueNameChars, LPDWORD, LPDWORD, PFILETIME) {
  const Call call("RegQueryInfoKeyA");
  if (auto error = call.Failure()) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (subKeys) *subKeys = 0;
  if (values) *values = static_cast<DWORD>(key->Count());
  if (maxValueNameChars) *maxValueNameChars = key->LongestName();
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyW(HKEY handle, LPWSTR, LPDWORD, LPDWORD, LPDWORD subKeys, LPDWORD, LPDWORD,
                                           LPDWORD values, LPDWORD maxValueNameChars, LPDWORD maxValueBytes, LPDWORD,
                                           PFILETIME) {
  const Call call("RegQueryInfoKeyW");
  if (auto error = call.Failure()) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (subKeys) *subKeys = 0;
  if (values) *values = static_cast<DWORD>(key->Count());
  if (maxValueNameChars) *maxValueNameChars = key->LongestName();
  if (maxValueBytes) *maxValueBytes = key->LongestData();
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumKeyExW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPWSTR,
                                        LPDWORD, PFILETIME) {
  const Call call("RegEnumKeyExW");
  if (auto error = call.Failure()) return *error;
  const std::optional<std::string> path = PathOfHandle(handle);
  if (!path) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  auto subkey = Subkey(handle, *path, index);
  if (subkey == keys.end()) return ERROR_NO_MORE_ITEMS;
  if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
  const std::wstring wide = WidenLeniently(CP_ACP, subkey->second.Name());
  if (wide.size() >= *nameChars) return ERROR_MORE_DATA;
  wide.copy(name, wide.size());
  name[wide.size()] = 0;
  *nameChars = static_cast<DWORD>(wide.size());
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumValueW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                                        LPBYTE data, LPDWORD dataBytes) {
  const Call call("RegEnumValueW");
  const Value* found = nullptr;
  if (const LSTATUS status = EnumeratedValue(call, handle, index, name, nameChars, &found)) return status;
  const std::wstring wide = WidenLeniently(CP_ACP, found->name);
  const DWORD size = static_cast<DWORD>(found->value.data.size());
  // Either buffer too small: both hold nothing usable, as on Windows.
  if (wide.size() >= *nameChars || (data && dataBytes && size > *dataBytes)) {
    if (dataBytes) *dataBytes = size;
    return ERROR_MORE_DATA;
  }
  wide.copy(name, wide.size());
  name[wide.size()] = 0;
  *nameChars = static_cast<DWORD>(wide.size());
  if (type) *type = found->value.type;
  if (dataBytes) {
    if (data) std::memcpy(data, found->value.data.data(), size);
    *dataBytes = size;
  }
  return ERROR_SUCCESS;
}

// Only the string types are asked for by the product: the data comes back
// terminated, and its size counts the terminator.
extern "C" LSTATUS WINAPI RegGetValueW(HKEY handle, LPCWSTR subKey, LPCWSTR valueName, DWORD flags, LPDWORD type,
                                       PVOID data, LPDWORD dataBytes) {
  const Call call("RegGetValueW");
  if (auto error = call.Failure()) return *error;
  const std::optional<std::string> parent = PathOfHandle(handle);
  if (!parent) return ERROR_INVALID_HANDLE;
  const bool ownValue = !subKey || !*subKey;
  if (ownValue && !Grants(handle, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  // An expandable string must be asked for unexpanded or together with REG_SZ.
  if ((flags & RRF_RT_REG_EXPAND_SZ) && !(flags & RRF_NOEXPAND) && !(flags & RRF_RT_REG_SZ)) {
    return ERROR_INVALID_PARAMETER;
  }
  auto key = keys.find(Below(*parent, Narrow(subKey)));
  if (key == keys.end()) return ERROR_FILE_NOT_FOUND;
  Value* value = key->second.Find(Narrow(valueName));
  if (!value) return ERROR_FILE_NOT_FOUND;
  const DWORD stored = value->value.type;
  const bool wanted = (stored == REG_SZ && (flags & RRF_RT_REG_SZ)) ||
                      (stored == REG_EXPAND_SZ && (flags & RRF_RT_REG_EXPAND_SZ) && (flags & RRF_NOEXPAND));
  if (!wanted) return ERROR_UNSUPPORTED_TYPE;
  std::vector<BYTE> bytes = value->value.data;
  if (bytes.size() < sizeof(WCHAR) || bytes[bytes.size() - 1] || bytes[bytes.size() - 2]) {
    bytes.resize(bytes.size() / sizeof(WCHAR) * sizeof(WCHAR) + sizeof(WCHAR), 0);
  }
  if (type) *type = stored;
  if (!dataBytes) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD capacity = *dataBytes;
  *dataBytes = static_cast<DWORD>(bytes.size());
  if (!data) return ERROR_SUCCESS;
  if (bytes.size() > capacity) return ERROR_MORE_DATA;
  std::memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                                        LPBYTE, LPDWORD) {
  const Call call("RegEnumValueA");
  const Value* found = nullptr;
  if (const LSTATUS status = EnumeratedValue(call, handle, index, name, nameChars, &found)) return status;
  const Value& value = *found;
  if (value.name.size() >= *nameChars) return ERROR_MORE_DATA;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameChars = static_cast<DWORD>(value.name.size());
  if (type) *type = value.value.type;
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR name) {
  const Call call("RegDeleteValueA");
  if (auto error = call.Failure()) return *error;
  Key* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!Grants(handle, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return key->Erase(name ? name : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY handle) {
  const Call call("RegCloseKey");
  openAccess.erase(handle);
  subkeyCursors.erase(handle);
  return openKeys.erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
