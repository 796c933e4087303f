// The engine benchmark's bare DLL: the five actions' platform calls in the
// product's order and with its arguments, and nothing around them. No
// runtime, no Results, no heap strings: a line is formatted with the system C
// runtime's snprintf (msvcrt's, so that no printf of its own is linked in,
// as none is into the product) and sent as a one-field information record, a
// path lives in a stack buffer, and the heap is used only where the product's
// length has no bound (the MsiLogging value, the value names of
// RemoveRegistries) and for the guard's tables.
//
// It mirrors the calls the product makes for the benchmark's arguments
// (fully qualified paths of the package's own folders, every step
// succeeding). A failing step still ends the call with an error line (the
// product's, but for the guard's refusals, which name no folder) and 1603, so
// that a benchmark machine that is not as prepared shows up as a mismatch
// rather than as a fast call.
#include <windows.h>
#include <msiquery.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <userenv.h>

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

// ---- Narrow text and paths --------------------------------------------------

// The backslashes that end the text, read by character in the ANSI code page.
size_t trailingBackslashes(const char* text, bool* wholeCharacters) {
  size_t backslashes = 0;
  *wholeCharacters = true;
  for (const char* at = text; *at;) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*at))) {
      backslashes = 0;
      *wholeCharacters = at[1] != '\0';
      at += *wholeCharacters ? 2 : 1;
      continue;
    }
    backslashes = *at == '\\' ? backslashes + 1 : 0;
    ++at;
  }
  return backslashes;
}

// The first `wanted` that is a character of its own in the ANSI code page,
// not the trail byte of a double-byte one.
const char* findCharacter(const char* text, char wanted) {
  for (const char* at = text; *at;) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*at))) {
      at += at[1] != '\0' ? 2 : 1;
      continue;
    }
    if (*at == wanted) return at;
    ++at;
  }
  return nullptr;
}

constexpr int kWidePathChars = 1024;

UINT filePathCodePage() {
  if (___lc_codepage_func() == CP_UTF8) return CP_UTF8;
  return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

bool toWide(const char* narrow, UINT codePage, DWORD flags, WCHAR* wide) {
  const int bytes = static_cast<int>(std::strlen(narrow));
  int chars = 0;
  if (bytes > 0) {
    chars = MultiByteToWideChar(codePage, flags, narrow, bytes, nullptr, 0);
    if (chars <= 0 || chars >= kWidePathChars ||
        MultiByteToWideChar(codePage, flags, narrow, bytes, wide, chars) != chars) {
      logError(lastErrorResult(), "Failed to convert path '%s' from code page %u", narrow, codePage);
      return false;
    }
  }
  wide[chars] = 0;
  return true;
}

// ---- File system ------------------------------------------------------------

struct FsAnswer {
  bool flag;
  DWORD error;
};

bool meansNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_NETPATH ||
         error == ERROR_INVALID_NAME;
}

DWORD errorOrGeneralFailure(DWORD error) { return error ? error : static_cast<DWORD>(ERROR_GEN_FAILURE); }

DWORD queryInformation(const WCHAR* path, DWORD flags, BY_HANDLE_FILE_INFORMATION* information) {
  const HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  const BOOL answered = GetFileInformationByHandle(file, information);
  const DWORD error = answered ? 0 : GetLastError();
  CloseHandle(file);
  return answered ? 0 : errorOrGeneralFailure(error);
}

FsAnswer existence(const WCHAR* path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  const DWORD error = queryInformation(path, 0, &information);
  if (!error) return {true, 0};
  return {false, meansNotThere(error) ? 0 : error};
}

bool isDotEntry(const WCHAR* name) { return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])); }

FsAnswer emptiness(const WCHAR* path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  const DWORD error = queryInformation(path, 0, &information);
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

FsAnswer removal(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  DWORD error = 0;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
  } else {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path) : DeleteFileW(path)) return {true, 0};
    error = GetLastError();
  }
  error = errorOrGeneralFailure(error);
  return {false, meansNotThere(error) ? 0 : error};
}

// ---- The guard --------------------------------------------------------------
//
// For every guarded path, as the product does: the path resolved in full;
// for a path on the file system each existing component opened (links not
// followed) and, at its end, its identity compared with those of the standard
// folders and the folders holding them; for a name (a registered prefix) its
// spelling compared. The standard folders are gathered anew for each call: the
// shell's folders, the temporary folder, the profiles folder and every
// profile in it, and in every other profile the current profile's per-user
// folders at the same place. Paths are kept as "X:\a\b" or "\\server\share\a"
// (single backslashes, none at the end).

constexpr int kShellFolders[] = {
    CSIDL_ADMINTOOLS,
    CSIDL_COMMON_ADMINTOOLS,
    CSIDL_APPDATA,
    CSIDL_COMMON_APPDATA,
    CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_FAVORITES,
    CSIDL_COMMON_FAVORITES,
    CSIDL_FONTS,
    CSIDL_LOCAL_APPDATA,
    CSIDL_MYPICTURES,
    CSIDL_COMMON_PICTURES,
    CSIDL_NETHOOD,
    CSIDL_PERSONAL,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_PRINTHOOD,
    CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAMS,
    CSIDL_COMMON_PROGRAMS,
    CSIDL_RECENT,
    CSIDL_SENDTO,
    CSIDL_STARTMENU,
    CSIDL_COMMON_STARTMENU,
    CSIDL_STARTUP,
    CSIDL_COMMON_STARTUP,
    CSIDL_SYSTEMX86,
    CSIDL_SYSTEM,
    CSIDL_TEMPLATES,
    CSIDL_COMMON_TEMPLATES,
    CSIDL_WINDOWS,
    CSIDL_PROFILE,
};

constexpr size_t kNone = static_cast<size_t>(-1);
constexpr size_t kFolderChars = kWidePathChars + 8;  // a verbatim form of any argument
constexpr size_t kMostFolders = 160;
constexpr size_t kMostIdentities = 2 * kMostFolders;
constexpr size_t kMostProfiles = 64;

struct Identity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
  bool holds;  // a folder that holds a standard folder, not one itself
};

// What one guarded call gathers, too large for the stack.
struct GuardTables {
  WCHAR folders[kMostFolders][kFolderChars];
  size_t folderCount;
  Identity identities[kMostIdentities];
  size_t identityCount;
  WCHAR profileNames[2][kMostProfiles][MAX_PATH];  // folders, then links
};
GuardTables* tables;

enum class Form { kRelative, kVolumeRoot, kBelowRoot };

bool isSeparator(WCHAR c) { return c == L'\\' || c == L'/'; }

bool startsWith(const WCHAR* text, const WCHAR* prefix, BOOL ignoreCase) {
  const size_t length = wcslen(prefix);
  if (wcsnlen(text, length) < length) return false;
  return CompareStringOrdinal(text, static_cast<int>(length), prefix, static_cast<int>(length), ignoreCase) ==
         CSTR_EQUAL;
}

size_t rootLength(const WCHAR* normal) {
  if (normal[0] != L'\\') return 2;
  size_t at = 2;
  while (normal[at] && normal[at] != L'\\') ++at;
  if (!normal[at]) return at;
  for (++at; normal[at] && normal[at] != L'\\';) ++at;
  return at;
}

// The end of the component after the one that ends at `length`, or 0.
size_t nextComponentEnd(const WCHAR* normal, size_t length) {
  if (!normal[length]) return 0;
  size_t at = length + 1;
  while (normal[at] && normal[at] != L'\\') ++at;
  return at;
}

enum class Relation { kUnrelated, kSame, kHolds };

Relation relate(const WCHAR* first, size_t firstLength, const WCHAR* second, size_t secondLength) {
  if (firstLength > secondLength) return Relation::kUnrelated;
  const int length = static_cast<int>(firstLength);
  if (CompareStringOrdinal(first, length, second, length, TRUE) != CSTR_EQUAL) return Relation::kUnrelated;
  if (firstLength == secondLength) return Relation::kSame;
  return second[firstLength] == L'\\' ? Relation::kHolds : Relation::kUnrelated;
}

Form normalise(const WCHAR* path, WCHAR* normal) {
  normal[0] = 0;
  WCHAR full[kFolderChars];
  const WCHAR* source = path;
  bool unc = false;
  if (startsWith(path, L"\\\\?\\UNC\\", TRUE)) {
    source = path + 8;
    unc = true;
  } else if (startsWith(path, L"\\\\?\\", FALSE)) {
    source = path + 4;
  } else {
    const bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && isSeparator(path[2]);
    if (!drive && !(isSeparator(path[0]) && isSeparator(path[1]))) return Form::kRelative;
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0 || needed > kFolderChars) return Form::kRelative;
    const DWORD written = GetFullPathNameW(path, needed, full, nullptr);
    if (written == 0 || written >= needed) return Form::kRelative;
    unc = isSeparator(full[0]);
    source = full + (unc ? 2 : 0);
  }
  size_t length = 0;
  if (unc) {
    normal[length++] = L'\\';
    normal[length++] = L'\\';
  }
  const size_t rootStart = length;
  for (const WCHAR* at = source; *at;) {
    const WCHAR* end = at;
    while (*end && !isSeparator(*end)) ++end;
    const size_t segment = static_cast<size_t>(end - at);
    if (segment > 0 && length + segment + 2 < kFolderChars) {
      if (length > rootStart) normal[length++] = L'\\';
      std::memcpy(normal + length, at, segment * sizeof(WCHAR));
      length += segment;
    }
    at = *end ? end + 1 : end;
  }
  normal[length] = 0;
  return length > rootLength(normal) ? Form::kBelowRoot : Form::kVolumeRoot;
}

// Short names (a tilde in a component) spelled out, when the path exists.
void spellOutShortNames(WCHAR* normal) {
  if (!wcschr(normal, L'~')) return;
  const DWORD needed = GetLongPathNameW(normal, nullptr, 0);
  WCHAR expanded[kFolderChars];
  if (needed == 0 || needed > kFolderChars) return;
  const DWORD written = GetLongPathNameW(normal, expanded, needed);
  if (written == 0 || written >= needed) return;
  WCHAR renormalised[kFolderChars];
  if (normalise(expanded, renormalised) != Form::kRelative) std::memcpy(normal, renormalised, sizeof renormalised);
}

size_t findFolder(const WCHAR* normal, size_t length) {
  for (size_t folder = 0; folder < tables->folderCount; ++folder) {
    if (relate(normal, length, tables->folders[folder], wcslen(tables->folders[folder])) == Relation::kSame)
      return folder;
  }
  return kNone;
}

// The folder's place in the list, added unless known; kNone for a spelling
// that names no folder below a root.
size_t addFolder(const WCHAR* spelling) {
  WCHAR normal[kFolderChars];
  if (normalise(spelling, normal) != Form::kBelowRoot) return kNone;
  spellOutShortNames(normal);
  const size_t known = findFolder(normal, wcslen(normal));
  if (known != kNone || tables->folderCount == kMostFolders) return known;
  std::memcpy(tables->folders[tables->folderCount], normal, sizeof normal);
  return tables->folderCount++;
}

void addRebased(size_t currentProfile, size_t profile, size_t shellFolders) {
  const size_t currentLength = wcslen(tables->folders[currentProfile]);
  for (size_t folder = 0; folder < shellFolders; ++folder) {
    if (relate(tables->folders[currentProfile], currentLength, tables->folders[folder],
               wcslen(tables->folders[folder])) != Relation::kHolds)
      continue;
    WCHAR rebased[2 * kFolderChars];
    const size_t profileLength = wcslen(tables->folders[profile]);
    std::memcpy(rebased, tables->folders[profile], profileLength * sizeof(WCHAR));
    std::memcpy(rebased + profileLength, tables->folders[folder] + currentLength,
                (wcslen(tables->folders[folder]) - currentLength + 1) * sizeof(WCHAR));
    if (wcslen(rebased) < kFolderChars) addFolder(rebased);
  }
}

void addProfiles(size_t currentProfile) {
  WCHAR profiles[MAX_PATH];
  DWORD chars = MAX_PATH;
  if (!GetProfilesDirectoryW(profiles, &chars) || !profiles[0]) return;
  addFolder(profiles);
  size_t length = wcslen(profiles);
  while (length > 0 && profiles[length - 1] == L'\\') --length;

  // Subfolders first, then links to folders ("All Users" and the like).
  size_t names[2] = {0, 0};
  WCHAR pattern[MAX_PATH + 2];
  std::memcpy(pattern, profiles, length * sizeof(WCHAR));
  std::memcpy(pattern + length, L"\\*", 3 * sizeof(WCHAR));
  WIN32_FIND_DATAW entry = {};
  const HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (isDotEntry(entry.cFileName) || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const int kind = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
    if (names[kind] < kMostProfiles)
      std::memcpy(tables->profileNames[kind][names[kind]++], entry.cFileName, sizeof entry.cFileName);
  } while (FindNextFileW(find, &entry));
  FindClose(find);

  const size_t shellFolders = tables->folderCount;
  for (int kind = 0; kind < 2; ++kind) {
    for (size_t i = 0; i < names[kind]; ++i) {
      WCHAR profile[2 * MAX_PATH + 1];
      std::memcpy(profile, profiles, length * sizeof(WCHAR));
      profile[length] = L'\\';
      std::memcpy(profile + length + 1, tables->profileNames[kind][i],
                  (wcslen(tables->profileNames[kind][i]) + 1) * sizeof(WCHAR));
      const size_t folder = addFolder(profile);
      if (folder != kNone && folder != currentProfile && currentProfile != kNone) {
        addRebased(currentProfile, folder, shellFolders);
      }
    }
  }
}

void gatherStandardFolders() {
  tables->folderCount = 0;
  size_t currentProfile = kNone;
  WCHAR buffer[MAX_PATH + 1];
  for (int csidl : kShellFolders) {
    buffer[0] = 0;
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, buffer)))
      continue;
    const size_t folder = addFolder(buffer);
    if (csidl == CSIDL_PROFILE) currentProfile = folder;
  }
  const DWORD chars = GetTempPathW(MAX_PATH + 1, buffer);
  if (chars > 0 && chars <= MAX_PATH) addFolder(buffer);
  addProfiles(currentProfile);
}

// "\\?\X:\..." or "\\?\UNC\server\share\..." of the first `length` characters.
void verbatimForm(const WCHAR* normal, size_t length, WCHAR* form) {
  const bool unc = normal[0] == L'\\';
  const WCHAR* prefix = unc ? L"\\\\?\\UNC\\" : L"\\\\?\\";
  const size_t prefixLength = wcslen(prefix);
  const size_t skipped = unc ? 2 : 0;
  std::memcpy(form, prefix, prefixLength * sizeof(WCHAR));
  std::memcpy(form + prefixLength, normal + skipped, (length - skipped) * sizeof(WCHAR));
  size_t end = prefixLength + length - skipped;
  if (!unc && length == 2) form[end++] = L'\\';
  form[end] = 0;
}

void addIdentity(const WCHAR* normal, size_t length, bool holds) {
  WCHAR verbatim[kFolderChars + 8];
  verbatimForm(normal, length, verbatim);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (queryInformation(verbatim, 0, &information) != 0 || tables->identityCount == kMostIdentities) return;
  tables->identities[tables->identityCount++] = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                                 information.nFileIndexLow, holds};
}

// Every standard folder, then every folder holding one, each opened once.
void gatherIdentities() {
  tables->identityCount = 0;
  for (size_t folder = 0; folder < tables->folderCount; ++folder)
    addIdentity(tables->folders[folder], wcslen(tables->folders[folder]), false);
  for (size_t folder = 0; folder < tables->folderCount; ++folder) {
    const WCHAR* normal = tables->folders[folder];
    const size_t length = wcslen(normal);
    for (size_t end = nextComponentEnd(normal, rootLength(normal)); end && end < length;
         end = nextComponentEnd(normal, end)) {
      if (findFolder(normal, end) != kNone) continue;
      bool heldEarlier = false;
      for (size_t earlier = 0; earlier < folder && !heldEarlier; ++earlier) {
        heldEarlier =
            relate(normal, end, tables->folders[earlier], wcslen(tables->folders[earlier])) == Relation::kHolds;
      }
      if (!heldEarlier) addIdentity(normal, end, true);
    }
  }
}

bool refuse(const char* path, const char* reason) {
  logError(E_INVALIDARG, "Refusing path '%s': %s", path, reason);
  return false;
}

// By spelling: the path is a standard folder, or holds one.
bool passesBySpelling(const char* path, WCHAR* normal) {
  gatherStandardFolders();
  spellOutShortNames(normal);
  const size_t length = wcslen(normal);
  if (findFolder(normal, length) != kNone) return refuse(path, "it is a standard folder");
  for (size_t folder = 0; folder < tables->folderCount; ++folder) {
    if (relate(normal, length, tables->folders[folder], wcslen(tables->folders[folder])) == Relation::kHolds) {
      return refuse(path, "it holds a standard folder");
    }
  }
  return true;
}

// By what it is: every existing component opened from the root, links not
// followed; the part that does not exist by its spelling.
bool passesOnFileSystem(const char* path, WCHAR* normal) {
  const size_t length = wcslen(normal);
  WCHAR verbatim[kFolderChars + 8];
  verbatimForm(normal, length, verbatim);
  const size_t shift = wcslen(verbatim) - length;
  for (size_t end = nextComponentEnd(normal, rootLength(normal)); end; end = nextComponentEnd(normal, end)) {
    const WCHAR cut = verbatim[shift + end];
    verbatim[shift + end] = 0;
    BY_HANDLE_FILE_INFORMATION information = {};
    const DWORD error = queryInformation(verbatim, FILE_FLAG_OPEN_REPARSE_POINT, &information);
    verbatim[shift + end] = cut;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return passesBySpelling(path, normal);
    if (error) {
      logError(E_INVALIDARG, "Refusing path '%s': it cannot be examined (error 0x%08x)", path,
               static_cast<unsigned>(error));
      return false;
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return refuse(path, "it runs through a link");
    if (end == length) {
      gatherStandardFolders();
      gatherIdentities();
      for (size_t i = 0; i < tables->identityCount; ++i) {
        const Identity& known = tables->identities[i];
        if (known.volume == information.dwVolumeSerialNumber && known.indexHigh == information.nFileIndexHigh &&
            known.indexLow == information.nFileIndexLow) {
          return refuse(path, known.holds ? "it holds a standard folder" : "it is a standard folder");
        }
      }
      return true;
    }
  }
  return true;
}

bool isAdministrativeShare(const WCHAR* normal) {
  if (normal[0] != L'\\') return false;
  size_t share = 2;
  while (normal[share] != L'\\') ++share;
  ++share;
  const size_t length = rootLength(normal) - share;
  const WCHAR* name = normal + share;
  if (length == 2 && name[1] == L'$')
    return (name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z');
  return length == 6 && CompareStringOrdinal(name, 6, L"ADMIN$", 6, TRUE) == CSTR_EQUAL;
}

bool passesReading(const char* path, const WCHAR* reading, bool onFileSystem) {
  WCHAR normal[kFolderChars];
  if (normalise(reading, normal) != Form::kBelowRoot) return refuse(path, "it is relative or a volume root");
  if (isAdministrativeShare(normal)) return refuse(path, "it is on an administrative share");
  return onFileSystem ? passesOnFileSystem(path, normal) : passesBySpelling(path, normal);
}

// Read as the narrow calls read it (ANSI, lenient) and, for the file system,
// as the file calls read it when that differs.
bool passesReadings(const char* path, bool onFileSystem) {
  WCHAR ansiReading[kWidePathChars];
  if (!toWide(path, CP_ACP, 0, ansiReading) || !passesReading(path, ansiReading, onFileSystem)) return false;
  if (!onFileSystem) return true;
  const UINT fileCodePage = filePathCodePage();
  if (fileCodePage == CP_ACP) return true;
  WCHAR fileReading[kWidePathChars];
  if (!toWide(path, fileCodePage, 0, fileReading)) return false;
  if (relate(fileReading, wcslen(fileReading), ansiReading, wcslen(ansiReading)) == Relation::kSame) return true;
  return passesReading(path, fileReading, onFileSystem);
}

bool passesGuard(const char* path, bool onFileSystem) {
  if (!*path) return true;
  tables = static_cast<GuardTables*>(HeapAlloc(GetProcessHeap(), 0, sizeof(GuardTables)));
  if (!tables) {
    logError(E_OUTOFMEMORY, "Failed to allocate the standard folder list");
    return false;
  }
  const bool passes = passesReadings(path, onFileSystem);
  HeapFree(GetProcessHeap(), 0, tables);
  tables = nullptr;
  return passes;
}

// The wide path a file query is given: strict, in the file calls' code page,
// and in its verbatim form when it (or a folder's listing pattern, "\\*"
// after it) reaches MAX_PATH.
bool toWidePath(const char* narrow, WCHAR* wide) {
  if (!toWide(narrow, filePathCodePage(), MB_ERR_INVALID_CHARS, wide)) return false;
  if (wcslen(wide) + 2 < MAX_PATH) return true;
  WCHAR normal[kFolderChars];
  if (normalise(wide, normal) != Form::kRelative && wcslen(normal) + 8 < kWidePathChars) {
    verbatimForm(normal, wcslen(normal), wide);
  }
  return true;
}

// ---- Process ----------------------------------------------------------------

bool runQuietly(const char* commandLine) {
  char command[1024] = {};
  const size_t length = std::strlen(commandLine);
  if (length > 1023) {
    logError(E_INVALIDARG, "Command line of %u characters is too long to run (at most %u)",
             static_cast<unsigned>(length), 1023u);
    return false;
  }
  std::memcpy(command, commandLine, length + 1);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    logError(lastErrorResult(), "CreateProcessW() failed");
    return false;
  }
  CloseHandle(started.hThread);
  const DWORD waited = WaitForSingleObject(started.hProcess, 60000);
  if (waited == WAIT_TIMEOUT) {
    CloseHandle(started.hProcess);
    logError(E_FAIL, "CreateProcessW() timeout");
    return false;
  }
  if (waited != WAIT_OBJECT_0) {
    CloseHandle(started.hProcess);
    logError(lastErrorResult(), "WaitForSingleObject() failed");
    return false;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(started.hProcess, &exitCode)) {
    CloseHandle(started.hProcess);
    logError(lastErrorResult(), "GetExitCodeProcess() failed");
    return false;
  }
  CloseHandle(started.hProcess);
  if (exitCode != 0) {
    logError(E_FAIL, "error from process : exitCode = 0x%08x", static_cast<unsigned>(exitCode));
    return false;
  }
  return true;
}

// icacls on the path, its trailing backslashes doubled inside the quotation marks.
bool grantUsersFullControl(const char* path, const char* switches) {
  if (!passesGuard(path, true)) return false;
  if (findCharacter(path, '"')) {
    logError(E_INVALIDARG, "Refusing path '%s': it contains a quotation mark", path);
    return false;
  }
  bool wholeCharacters = true;
  const size_t backslashes = trailingBackslashes(path, &wholeCharacters);
  char commandLine[2 * 1024 + 64];
  format(commandLine, sizeof commandLine, "icacls \"%s%s\" %s", path, path + std::strlen(path) - backslashes, switches);
  if (!runQuietly(commandLine)) {
    logError(E_FAIL, "execQuietCmdLine() failed");
    return false;
  }
  return true;
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
  const char* bar = findCharacter(data, '|');
  if (!bar) {
    logError(E_INVALIDARG, "Parameters are missing.");
    return false;
  }
  char removePath[1024 + 1] = {};  // the zeros after it end the shell's list
  std::memcpy(removePath, data, static_cast<size_t>(bar - data));
  const char* sdkName = bar + 1;
  logLine("removePath = %s", removePath);
  logLine("sdkName = %s", sdkName);
  if (!passesGuard(removePath, true)) return false;
  if (PathFileExistsA(removePath) != TRUE) {
    logLine("PathFileExists failed : GetLastError() = 0x%08x", static_cast<unsigned>(GetLastError()));
    return true;
  }

  SHFILEOPSTRUCTA operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = removePath;
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  const MSIHANDLE prompt = MsiCreateRecord(2);
  MsiRecordSetInteger(prompt, 1, 1306);
  MsiRecordSetStringA(prompt, 2, sdkName);
  bool removed = true;
  for (;;) {
    const int shellResult = SHFileOperationA(&operation);
    if (shellResult == 0) break;
    const int answer =
        MsiProcessMessage(handle, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL), prompt);
    logLine("Selected Dialog Box Command IDs = %d", answer);
    if (answer != IDRETRY) {
      logError(fromWin32(static_cast<DWORD>(shellResult)), "SHFileOperation failed");
      removed = false;
      break;
    }
  }
  if (prompt) MsiCloseHandle(prompt);
  return removed;
}

bool removeRegistries(MSIHANDLE, const char* prefix) {
  logLine("CustomActionData = %s", prefix);
  const size_t prefixLength = std::strlen(prefix);
  bool prefixWhole = true;
  const size_t prefixBackslashes = trailingBackslashes(prefix, &prefixWhole);
  if (!passesGuard(prefix, false)) return false;

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
  const DWORD nameBytes = longestName * 3 + 1;
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
    const bool under =
        length >= prefixLength && std::memcmp(name, prefix, prefixLength) == 0 &&
        (length == prefixLength || (prefixWhole && (prefixBackslashes > 0 || name[prefixLength] == '\\')));
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

bool changeQuorvelFolderPermission(MSIHANDLE, const char* folderPath) {
  logLine("folderPath = %s", folderPath);
  WCHAR widePath[kWidePathChars];
  if (!toWidePath(folderPath, widePath)) return false;
  const FsAnswer exists = existence(widePath);
  logLine("isExist=%d  errorCode=%08x", exists.flag ? 1 : 0, static_cast<unsigned>(exists.error));
  if (exists.error) {
    logError(E_FAIL, "std::filesystem::exists failed with code 0x%08x", static_cast<unsigned>(exists.error));
    return false;
  }
  if (!exists.flag) return true;
  return grantUsersFullControl(folderPath, "/t /q /grant *S-1-5-32-545:(OI)(CI)F");
}

bool removeManufacturerFolder(MSIHANDLE, const char* folderPath) {
  logLine("folderPath = %s", folderPath);
  WCHAR widePath[kWidePathChars];
  if (!toWidePath(folderPath, widePath)) return false;
  const FsAnswer exists = existence(widePath);
  logLine("isExist=%d  errorCode=%08x", exists.flag ? 1 : 0, static_cast<unsigned>(exists.error));
  if (!exists.flag) {
    logLine("manufacturer folder does not exist");
    return true;
  }
  if (!toWidePath(folderPath, widePath)) return false;
  const FsAnswer empty = emptiness(widePath);
  logLine("isEmpty=%d  errorCode=%08x", empty.flag ? 1 : 0, static_cast<unsigned>(empty.error));
  if (!empty.flag) {
    logLine("manufacturer folder not empty");
    return true;
  }
  if (!grantUsersFullControl(folderPath, "/q /grant *S-1-5-32-545:(OI)(CI)F")) return false;
  if (!toWidePath(folderPath, widePath)) return false;
  const FsAnswer removed = removal(widePath);
  logLine("remove result=%d  errorCode=%08x", removed.flag ? 1 : 0, static_cast<unsigned>(removed.error));
  if (!removed.flag && removed.error) {
    logError(E_FAIL, "std::filesystem::remove failed with code 0x%08x", static_cast<unsigned>(removed.error));
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
