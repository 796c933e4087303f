// The engine benchmark's bare DLL: the platform calls that each action is
// made of, with no target guard and nothing else around them, so that the
// product against this DLL shows what the guard (and the runtime) cost. No
// runtime, no Results, no heap strings: a line is formatted with the system C
// runtime's snprintf (msvcrt's, so that no printf of its own is linked in, as
// none is into the product) and sent as a one-field information record, a
// path lives in a stack buffer, and the heap is used only where a length has
// no bound (the MsiLogging value, the value names of RemoveRegistries).
//
// Each action makes, in order: the session start (the verbosity decision, the
// atoms, the module path and, when verbose, the version and the entry line),
// "Initialized.", the CustomActionData read, then its own calls:
// - EditEstimatedSize: RegOpenKeyExA, RegSetValueExA, RegCloseKey;
// - RemoveFolder: PathFileExistsA, the deletion of the tree by handle (below),
//   the prompt record;
// - RemoveRegistries: RegOpenKeyExA, RegQueryInfoKeyA, RegEnumValueA for each
//   value (with the atom look-ups of its verbose line), RegDeleteValueA for
//   each match;
// - ChangeQuorvelFolderPermission: the path conversion, the existence query
//   and the grant on the tree by handle (below);
// - RemoveManufacturerFolder: the path conversion, the existence and
//   emptiness queries, then on one handle of the folder its DACL read, the
//   Users entry added (SetEntriesInAclW), set, and the folder deleted.
// The trees go depth first, each object opened with NtOpenFile by its name
// relative to its folder's handle, each folder listed through its handle
// (GetFileInformationByHandleEx, FileFullDirectoryInfo); per object the grant
// makes one SetKernelObjectSecurity with a descriptor made once from the
// target's DACL and the Users entry (the product reads each object's own),
// the deletion one SetFileInformationByHandle(FileDispositionInfo), a folder's
// after everything below it is gone. It writes the product's lines (the
// grant's counts among them), so that answers, lines and the machine
// afterwards compare with the product's. It
// is meant for the benchmark's arguments (short, fully qualified ASCII paths
// of the package's own folders, every step succeeding); a failing step still
// ends the call with the product's error line and 1603, so that a machine
// that is not as prepared shows up as a mismatch rather than as a fast call.
#include <windows.h>
#include <aclapi.h>
#include <msiquery.h>
#include <shlwapi.h>
#include <winternl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <locale.h>

namespace {

// The product's failure Results.
constexpr HRESULT kHandleFailure = static_cast<HRESULT>(0x80070006);

HRESULT fromWin32(DWORD error) {
  return error ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu)) : static_cast<HRESULT>(0);
}

HRESULT lastErrorResult() {
  const DWORD error = GetLastError();
  return error ? fromWin32(error) : E_FAIL;
}

// ---- Session and log lines --------------------------------------------------

HINSTANCE module;
MSIHANDLE session;
MSIHANDLE database;
const char* label;
bool cancelled;
int verbosityCache = -1;

// msvcrt's snprintf, always terminated.
void formatList(char* buffer, size_t size, const char* format, va_list arguments) {
  _vsnprintf(buffer, size - 1, format, arguments);
  buffer[size - 1] = '\0';
}

__attribute__((format(gnu_printf, 3, 4))) void format(char* buffer, size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  formatList(buffer, size, format, arguments);
  va_end(arguments);
}

void sendLine(const char* text) {
  char line[2048];
  format(line, sizeof line, "%s:  %s", label, text);
  const MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, line);
  const int answer = MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
  if (answer == ERROR_INSTALL_USEREXIT || answer == IDCANCEL) cancelled = true;
  if (record) MsiCloseHandle(record);
}

__attribute__((format(gnu_printf, 1, 2))) void logLine(const char* format, ...) {
  char text[2048];
  va_list arguments;
  va_start(arguments, format);
  formatList(text, sizeof text, format, arguments);
  va_end(arguments);
  sendLine(text);
}

__attribute__((format(gnu_printf, 2, 3))) void logError(HRESULT result, const char* format, ...) {
  char message[2048];
  va_list arguments;
  va_start(arguments, format);
  formatList(message, sizeof message, format, arguments);
  va_end(arguments);
  logLine("Error 0x%x: %s", static_cast<unsigned>(result), message);
}

bool holdsVerboseFlag(const WCHAR* text, DWORD units) {
  for (DWORD i = 0; i < units && text[i]; ++i) {
    if (text[i] == L'v' || text[i] == L'V') return true;
  }
  return false;
}

bool policyAsksVerbose() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Windows\\Installer", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return false;
  }
  WCHAR value[16] = {};
  DWORD bytes = sizeof value;
  const bool verbose =
      RegQueryValueExW(key, L"Logging", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) == ERROR_SUCCESS &&
      holdsVerboseFlag(value, bytes / sizeof(WCHAR) < 16 ? bytes / sizeof(WCHAR) : 16);
  RegCloseKey(key);
  return verbose;
}

bool verboseInEffect() {
  if (GlobalFindAtomW(L"WcaVerboseLogging")) return true;
  if (GlobalFindAtomW(L"WcaNotVerboseLogging")) return false;
  return policyAsksVerbose();
}

int decideVerbosity() {
  if (verbosityCache == 0 || verbosityCache == 1) return verbosityCache;
  char empty[1] = "";
  DWORD length = 0;
  MsiGetPropertyA(session, "LOGVERBOSE", empty, &length);
  verbosityCache = length > 0 ? 1 : 0;
  if (verbosityCache == 1) return verbosityCache;

  WCHAR probe[1] = L"";
  DWORD chars = 0;
  UINT answer = MsiGetPropertyW(session, L"MsiLogging", probe, &chars);
  if (answer != ERROR_SUCCESS && answer != ERROR_MORE_DATA) {
    logError(fromWin32(answer), "Failed to allocate string for Property '%s'", "MsiLogging");
    logError(fromWin32(answer), "failed to get MsiLogging property");
    return verbosityCache;
  }
  const DWORD capacity = chars + 1;
  WCHAR* value = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(WCHAR)));
  chars = capacity;
  answer = MsiGetPropertyW(session, L"MsiLogging", value, &chars);
  if (answer != ERROR_SUCCESS) {
    logError(fromWin32(answer), "Failed to get data for property '%s'", "MsiLogging");
    logError(fromWin32(answer), "failed to get MsiLogging property");
  } else if (holdsVerboseFlag(value, capacity) || policyAsksVerbose()) {
    verbosityCache = 1;
  }
  HeapFree(GetProcessHeap(), 0, value);
  return verbosityCache;
}

HRESULT publishAtom(LPCWSTR name, bool wanted, const char* addFailure, const char* deleteFailure) {
  const ATOM atom = GlobalFindAtomW(name);
  if (!atom && wanted) {
    if (!GlobalAddAtomW(name)) {
      const HRESULT result = lastErrorResult();
      logError(result, "%s", addFailure);
      return result;
    }
  } else if (atom && !wanted) {
    SetLastError(ERROR_SUCCESS);
    GlobalDeleteAtom(atom);
    const DWORD error = GetLastError();
    if (error) {
      logError(fromWin32(error), "%s", deleteFailure);
      return fromWin32(error);
    }
  }
  return S_OK;
}

HRESULT publishVerbosity(int verbose) {
  const HRESULT result =
      publishAtom(L"WcaVerboseLogging", verbose == 1, "Failed to create WcaVerboseLogging global atom.",
                  "Failed to delete WcaVerboseLogging global atom.");
  if (FAILED(result)) return result;
  return publishAtom(L"WcaNotVerboseLogging", verbose != 1, "Failed to create WcaNotVerboseLogging global atom.",
                     "Failed to delete WcaNotVerboseLogging global atom.");
}

void writeEntryLine(const WCHAR* modulePath) {
  DWORD versionMs = 0;
  DWORD versionLs = 0;
  DWORD versionHandle = 0;
  const DWORD size = GetFileVersionInfoSizeW(modulePath, &versionHandle);
  if (size) {
    const HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    void* fixed = nullptr;
    UINT fixedBytes = 0;
    if (block && GetFileVersionInfoW(modulePath, versionHandle, size, block) &&
        VerQueryValueW(block, L"\\", &fixed, &fixedBytes) && fixed && fixedBytes >= sizeof(VS_FIXEDFILEINFO)) {
      versionMs = static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwFileVersionMS;
      versionLs = static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwFileVersionLS;
    }
    if (block) GlobalFree(block);
  }
  char narrowPath[3 * MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, modulePath, -1, narrowPath, sizeof narrowPath, nullptr, nullptr);
  logLine("Entering %s in %s, version %u.%u.%u.%u", label, narrowPath, static_cast<unsigned>(versionMs >> 16),
          static_cast<unsigned>(versionMs & 0xFFFF), static_cast<unsigned>(versionLs >> 16),
          static_cast<unsigned>(versionLs & 0xFFFF));
}

bool startSession(MSIHANDLE handle, const char* name) {
  session = handle;
  label = name;
  cancelled = false;
  database = MsiGetActiveDatabase(handle);
  if (database) {
    const HRESULT published = publishVerbosity(decideVerbosity());
    if (FAILED(published)) {
      logError(published, "Failed to set verbose logging global atom");
      return false;
    }
  }
  WCHAR modulePath[MAX_PATH] = {};
  if (!GetModuleFileNameW(module, modulePath, MAX_PATH)) {
    logError(lastErrorResult(), "Failed to get module filename");
    return false;
  }
  if (verboseInEffect()) writeEntryLine(modulePath);
  return true;
}

// Session start, "Initialized.", CustomActionData into a zeroed buffer of
// `dataBytes`, the work, the finish.
UINT runAction(MSIHANDLE handle, const char* name, DWORD dataBytes, bool (*work)(MSIHANDLE, const char*)) {
  bool succeeded = startSession(handle, name);
  if (succeeded) {
    logLine("Initialized.");
    char data[1024] = {};
    DWORD length = dataBytes;
    const UINT answer = MsiGetPropertyA(handle, "CustomActionData", data, &length);
    if (answer != ERROR_SUCCESS) {
      logError(fromWin32(answer), "MsiGetPropertyA failed");
      succeeded = false;
    } else if (length == 0) {
      logError(E_INVALIDARG, "MsiGetPropertyA failed with invalid argument");
      succeeded = false;
    } else {
      succeeded = work(handle, data);
    }
  }
  if (database) MsiCloseHandle(database);
  database = 0;
  if (cancelled) return ERROR_INSTALL_USEREXIT;
  return succeeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// ---- File queries of the grant actions -------------------------------------

constexpr int kWidePathChars = 1024;

// The path conversion: the file calls' code page, strict.
bool toWidePath(const char* narrow, WCHAR* wide) {
  UINT codePage = CP_OEMCP;
  if (___lc_codepage_func() == CP_UTF8) {
    codePage = CP_UTF8;
  } else if (AreFileApisANSI()) {
    codePage = CP_ACP;
  }
  const int bytes = static_cast<int>(std::strlen(narrow));
  const int chars = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow, bytes, nullptr, 0);
  if (chars <= 0 || chars >= kWidePathChars ||
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow, bytes, wide, chars) != chars) {
    logError(lastErrorResult(), "Failed to convert path '%s' from code page %u", narrow, codePage);
    return false;
  }
  wide[chars] = 0;
  return true;
}

struct FsAnswer {
  bool flag;
  DWORD error;
};

bool meansNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_NETPATH ||
         error == ERROR_INVALID_NAME;
}

DWORD errorOrGeneralFailure(DWORD error) { return error ? error : static_cast<DWORD>(ERROR_GEN_FAILURE); }

HANDLE openObject(const WCHAR* path) {
  return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

FsAnswer existence(const WCHAR* path) {
  const HANDLE object = openObject(path);
  if (object == INVALID_HANDLE_VALUE) {
    const DWORD error = errorOrGeneralFailure(GetLastError());
    return {false, meansNotThere(error) ? 0 : error};
  }
  CloseHandle(object);
  return {true, 0};
}

bool isDotEntry(const WCHAR* name) { return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])); }

FsAnswer emptiness(const WCHAR* path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  const HANDLE object = openObject(path);
  if (object == INVALID_HANDLE_VALUE) return {false, GetLastError()};
  const BOOL answered = GetFileInformationByHandle(object, &information);
  const DWORD error = answered ? 0 : errorOrGeneralFailure(GetLastError());
  CloseHandle(object);
  if (error) return {false, error};
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {information.nFileSizeLow == 0 && information.nFileSizeHigh == 0, 0};
  }
  // The folder, one separator, "*".
  WCHAR pattern[kWidePathChars + 2];
  size_t length = wcslen(path);
  std::memcpy(pattern, path, length * sizeof(WCHAR));
  if (length == 0 || (path[length - 1] != L'\\' && path[length - 1] != L'/')) pattern[length++] = L'\\';
  pattern[length++] = L'*';
  pattern[length] = 0;
  WIN32_FIND_DATAW entry = {};
  const HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return {false, errorOrGeneralFailure(GetLastError())};
  FsAnswer answer = {true, 0};
  for (;;) {
    if (!isDotEntry(entry.cFileName)) {
      answer = {false, 0};
      break;
    }
    if (!FindNextFileW(find, &entry)) {
      const DWORD nextError = GetLastError();
      if (nextError != ERROR_NO_MORE_FILES) answer = {false, errorOrGeneralFailure(nextError)};
      break;
    }
  }
  FindClose(find);
  return answer;
}

// ---- Trees by handle -------------------------------------------------------

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The entry `name` of the folder open at `folder`, itself and never what a
// link there leads to; null with the Win32 error set when it cannot be opened.
HANDLE openBelow(HANDLE folder, WCHAR* name, DWORD nameBytes, DWORD access) {
  UNICODE_STRING entry = {static_cast<USHORT>(nameBytes), static_cast<USHORT>(nameBytes), name};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &entry, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status = {};
  HANDLE opened = nullptr;
  const NTSTATUS answer =
      NtOpenFile(&opened, access | SYNCHRONIZE, &attributes, &status, kShareAll,
                 FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
  if (answer < 0) {
    SetLastError(RtlNtStatusToDosError(answer));
    return nullptr;
  }
  return opened;
}

// What a walk does to each object, a folder's once all below it is done.
struct TreeWork {
  DWORD access;
  bool (*act)(TreeWork* work, HANDLE object, bool folder);
  unsigned folders = 0;
  unsigned files = 0;
  unsigned links = 0;  // reparse points, acted on as themselves
  // The grant's descriptors and their DACLs.
  SECURITY_DESCRIPTOR onFolders = {};
  SECURITY_DESCRIPTOR onFiles = {};
  PACL folderDacl = nullptr;
  PACL fileDacl = nullptr;
};

bool actOn(TreeWork* work, HANDLE object, DWORD attributes) {
  const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
  if (!work->act(work, object, folder)) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    ++work->links;
  } else if (folder) {
    ++work->folders;
  } else {
    ++work->files;
  }
  return true;
}

// Everything below the folder open at `folder`, depth first.
bool walkBelow(HANDLE folder, TreeWork* work) {
  alignas(8) BYTE listing[32 * 1024];
  while (GetFileInformationByHandleEx(folder, FileFullDirectoryInfo, listing, sizeof listing)) {
    for (BYTE* at = listing;;) {
      auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(at);
      const DWORD units = entry->FileNameLength / sizeof(WCHAR);
      const bool dot = entry->FileName[0] == L'.' && (units == 1 || (units == 2 && entry->FileName[1] == L'.'));
      if (!dot) {
        const DWORD attributes = entry->FileAttributes;
        const bool enter = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        const HANDLE object =
            openBelow(folder, entry->FileName, entry->FileNameLength, work->access | (enter ? FILE_LIST_DIRECTORY : 0));
        if (!object) return false;
        const bool done = (!enter || walkBelow(object, work)) && actOn(work, object, attributes);
        CloseHandle(object);
        if (!done) return false;
      }
      if (!entry->NextEntryOffset) break;
      at += entry->NextEntryOffset;
    }
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

// The target and everything below it; false with the Win32 error set.
bool walkTree(const WCHAR* path, TreeWork* work, bool (*before)(TreeWork* work, HANDLE top)) {
  const HANDLE top = CreateFileW(path, work->access | FILE_LIST_DIRECTORY, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (top == INVALID_HANDLE_VALUE) return false;
  FILE_BASIC_INFO basic = {};
  bool done = GetFileInformationByHandleEx(top, FileBasicInfo, &basic, sizeof basic) && (!before || before(work, top));
  const bool enter = done && (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     !(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  done = done && (!enter || walkBelow(top, work)) && actOn(work, top, basic.FileAttributes);
  const DWORD error = GetLastError();
  CloseHandle(top);
  SetLastError(error);
  return done;
}

bool deleteObject(TreeWork*, HANDLE object, bool) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(object, FileDispositionInfo, &disposition, sizeof disposition);
}

// The DACL of the object open at `object` with an explicit full-control entry
// of the Users group, `inheritance` its flags; freed with LocalFree.
PACL withUsersGrant(HANDLE object, DWORD inheritance) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error =
      GetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor);
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD sidBytes = sizeof users;
  if (!error && !CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &sidBytes)) error = GetLastError();
  PACL granted = nullptr;
  if (!error) {
    EXPLICIT_ACCESS_W entry = {};
    entry.grfAccessPermissions = FILE_ALL_ACCESS;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = inheritance;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(users);
    error = SetEntriesInAclW(1, &entry, dacl, &granted);
  }
  if (descriptor) LocalFree(descriptor);
  SetLastError(error);
  return granted;
}

bool setDacl(SECURITY_DESCRIPTOR* descriptor, PACL dacl) {
  return dacl && InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(descriptor, TRUE, dacl, FALSE);
}

// The grant's descriptors, made once from the target's DACL.
bool describeGrant(TreeWork* work, HANDLE top) {
  work->folderDacl = withUsersGrant(top, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  work->fileDacl = work->folderDacl ? withUsersGrant(top, NO_INHERITANCE) : nullptr;
  return setDacl(&work->onFolders, work->folderDacl) && setDacl(&work->onFiles, work->fileDacl);
}

bool grantObject(TreeWork* work, HANDLE object, bool folder) {
  return SetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, folder ? &work->onFolders : &work->onFiles);
}

// ---- The five actions -------------------------------------------------------

bool editEstimatedSize(MSIHANDLE, const char* productCode) {
  char keyPath[320];
  format(keyPath, sizeof keyPath, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{%s}", productCode);
  logLine("%s\n", keyPath);
  HKEY key = nullptr;
  const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key);
  if (!key || opened != ERROR_SUCCESS) {
    logError(key ? fromWin32(opened) : kHandleFailure, "RegOpenKeyExA failed");
    if (key) RegCloseKey(key);
    return false;
  }
  const DWORD zero = 0;
  const LSTATUS written =
      RegSetValueExA(key, "EstimatedSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  RegCloseKey(key);
  if (written != ERROR_SUCCESS) {
    logError(fromWin32(written), "RegSetValueExA failed");
    return false;
  }
  return true;
}

bool removeFolder(MSIHANDLE handle, const char* data) {
  logLine("CustomActionData = %s", data);
  const char* bar = std::strchr(data, '|');
  if (!bar) {
    logError(E_INVALIDARG, "Parameters are missing.");
    return false;
  }
  char removePath[1024] = {};
  std::memcpy(removePath, data, static_cast<size_t>(bar - data));
  const char* sdkName = bar + 1;
  logLine("removePath = %s", removePath);
  logLine("sdkName = %s", sdkName);
  if (PathFileExistsA(removePath) != TRUE) {
    logLine("PathFileExists failed : GetLastError() = 0x%08x", static_cast<unsigned>(GetLastError()));
    return true;
  }

  WCHAR widePath[kWidePathChars];
  if (!toWidePath(removePath, widePath)) return false;
  const MSIHANDLE prompt = MsiCreateRecord(2);
  MsiRecordSetInteger(prompt, 1, 1306);
  MsiRecordSetStringA(prompt, 2, sdkName);
  bool removed = true;
  for (;;) {
    TreeWork deletion = {DELETE, deleteObject};
    if (walkTree(widePath, &deletion, nullptr)) break;
    const DWORD error = GetLastError();
    logError(fromWin32(error), "Failed to delete '%s'", removePath);
    const int answer =
        MsiProcessMessage(handle, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL), prompt);
    logLine("Selected Dialog Box Command IDs = %d", answer);
    if (answer != IDRETRY) {
      logError(fromWin32(error), "SHFileOperation failed");
      removed = false;
      break;
    }
  }
  if (prompt) MsiCloseHandle(prompt);
  return removed;
}

// The prefix compared byte for byte with the start of each name. (The
// product also asks that the prefix end at a path boundary; the benchmark's
// prefix ends in a backslash, where both rules agree.)
bool removeRegistries(MSIHANDLE, const char* prefix) {
  logLine("CustomActionData = %s", prefix);
  const size_t prefixLength = std::strlen(prefix);
  const char* foldersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
  logLine("%s\n", foldersKey);
  HKEY key = nullptr;
  const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, foldersKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (!key || opened != ERROR_SUCCESS) {
    logError(key ? fromWin32(opened) : kHandleFailure, "RegOpenKeyExA failed");
    if (key) RegCloseKey(key);
    return false;
  }
  DWORD longestName = 0;
  const LSTATUS queried = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           &longestName, nullptr, nullptr, nullptr);
  if (queried != ERROR_SUCCESS) {
    logError(fromWin32(queried), "RegQueryInfoKeyA failed");
    RegCloseKey(key);
    return false;
  }

  // One name buffer for the enumeration; the matches back to back, each
  // with its terminator, in a block that grows.
  const HANDLE heap = GetProcessHeap();
  const DWORD nameBytes = longestName + 1;
  char* name = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, nameBytes));
  char* matches = nullptr;
  SIZE_T matchBytes = 0;
  SIZE_T matchCapacity = 0;
  bool succeeded = true;
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = nameBytes;
    const LSTATUS enumerated = RegEnumValueA(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (enumerated == ERROR_NO_MORE_ITEMS) break;
    if (enumerated != ERROR_SUCCESS) {
      logError(fromWin32(enumerated), "RegEnumKeyExA failed");
      succeeded = false;
      break;
    }
    const size_t length = std::strlen(name);
    const bool under = length >= prefixLength && std::memcmp(name, prefix, prefixLength) == 0;
    if (under) {
      if (matchBytes + length + 1 > matchCapacity) {
        matchCapacity = 2 * (matchBytes + length + 1);
        matches = static_cast<char*>(matches ? HeapReAlloc(heap, 0, matches, matchCapacity)
                                             : HeapAlloc(heap, 0, matchCapacity));
      }
      std::memcpy(matches + matchBytes, name, length + 1);
      matchBytes += length + 1;
    }
    if (verboseInEffect()) logLine(under ? "subKeyValue (push_buck): %s" : "subKeyValue (read only): %s", name);
  }
  for (SIZE_T at = 0; succeeded && at < matchBytes; at += std::strlen(matches + at) + 1) {
    const char* match = matches + at;
    const LSTATUS deleted = RegDeleteValueA(key, match);
    if (deleted != ERROR_SUCCESS) {
      logLine("remove failed subKeyValue : %s", match);
      logError(fromWin32(deleted), "RegDeleteValueA failed");
      succeeded = false;
      break;
    }
    logLine("remove subKeyValue : %s", match);
  }
  RegCloseKey(key);
  if (matches) HeapFree(heap, 0, matches);
  HeapFree(heap, 0, name);
  return succeeded;
}

// The existence query and its line, as both grant actions begin.
bool queryExistence(const char* folderPath, FsAnswer* exists) {
  WCHAR widePath[kWidePathChars];
  if (!toWidePath(folderPath, widePath)) return false;
  *exists = existence(widePath);
  logLine("isExist=%d  errorCode=%08x", exists->flag ? 1 : 0, static_cast<unsigned>(exists->error));
  return true;
}

bool changeQuorvelFolderPermission(MSIHANDLE, const char* folderPath) {
  logLine("folderPath = %s", folderPath);
  FsAnswer exists = {};
  if (!queryExistence(folderPath, &exists)) return false;
  if (exists.error) {
    logError(E_FAIL, "std::filesystem::exists failed with code 0x%08x", static_cast<unsigned>(exists.error));
    return false;
  }
  if (!exists.flag) return true;
  WCHAR widePath[kWidePathChars];
  if (!toWidePath(folderPath, widePath)) return false;
  TreeWork grant = {READ_CONTROL | WRITE_DAC, grantObject};
  const bool granted = walkTree(widePath, &grant, describeGrant);
  const HRESULT result = lastErrorResult();
  if (grant.folderDacl) LocalFree(grant.folderDacl);
  if (grant.fileDacl) LocalFree(grant.fileDacl);
  if (!granted) {
    logError(result, "Failed to grant the Users group full control on '%s'", folderPath);
    return false;
  }
  logLine("Granted the Users group full control on %u folders, %u files and %u links", grant.folders, grant.files,
          grant.links);
  return true;
}

bool removeManufacturerFolder(MSIHANDLE, const char* folderPath) {
  logLine("folderPath = %s", folderPath);
  FsAnswer exists = {};
  if (!queryExistence(folderPath, &exists)) return false;
  if (!exists.flag) {
    logLine("manufacturer folder does not exist");
    return true;
  }
  WCHAR widePath[kWidePathChars];
  if (!toWidePath(folderPath, widePath)) return false;
  const FsAnswer empty = emptiness(widePath);
  logLine("isEmpty=%d  errorCode=%08x", empty.flag ? 1 : 0, static_cast<unsigned>(empty.error));
  if (!empty.flag) {
    logLine("manufacturer folder not empty");
    return true;
  }
  // The grant and the removal on one handle of the folder.
  const HANDLE folder = CreateFileW(widePath, READ_CONTROL | WRITE_DAC | DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const PACL granted =
      folder != INVALID_HANDLE_VALUE ? withUsersGrant(folder, SUB_CONTAINERS_AND_OBJECTS_INHERIT) : nullptr;
  SECURITY_DESCRIPTOR descriptor;
  const bool grantSet =
      setDacl(&descriptor, granted) && SetKernelObjectSecurity(folder, DACL_SECURITY_INFORMATION, &descriptor);
  const HRESULT grantResult = lastErrorResult();
  if (granted) LocalFree(granted);
  DWORD error = 0;
  if (grantSet && !deleteObject(nullptr, folder, true)) error = errorOrGeneralFailure(GetLastError());
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  if (!grantSet) {
    logError(grantResult, "Failed to grant the Users group full control on '%s'", folderPath);
    return false;
  }
  logLine("remove result=%d  errorCode=%08x", error ? 0 : 1, static_cast<unsigned>(error));
  if (error) {
    logError(E_FAIL, "std::filesystem::remove failed with code 0x%08x", static_cast<unsigned>(error));
    return false;
  }
  return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) module = instance;
  if (reason == DLL_PROCESS_DETACH) module = nullptr;
  return TRUE;
}

extern "C" UINT WINAPI EditEstimatedSize(MSIHANDLE handle) {
  return runAction(handle, "EditEstimatedSize", 256, editEstimatedSize);
}

extern "C" UINT WINAPI RemoveFolder(MSIHANDLE handle) { return runAction(handle, "RemoveFolder", 1024, removeFolder); }

extern "C" UINT WINAPI RemoveRegistries(MSIHANDLE handle) {
  return runAction(handle, "RemoveRegistries", 260, removeRegistries);
}

extern "C" UINT WINAPI ChangeQuorvelFolderPermission(MSIHANDLE handle) {
  return runAction(handle, "ChangeQuorvelFolderPermission", 1024, changeQuorvelFolderPermission);
}

extern "C" UINT WINAPI RemoveManufacturerFolder(MSIHANDLE handle) {
  return runAction(handle, "RemoveManufacturerFolder", 1024, removeManufacturerFolder);
}
