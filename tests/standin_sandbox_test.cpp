// Windows paths map into the sandbox and never out of it: ".." is resolved
// as Windows resolves it and stops at the root, so that a test (or a fuzz
// run) that deletes what a path names cannot reach the host's own files.
// Inside, names are found as Windows finds them (letter case, short names)
// and links are reparse points with identities of their own.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <shlwapi.h>
#include <standin.h>

#include <winternl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "tool_double.h"

namespace {

namespace fs = std::filesystem;

struct Mapping {
  const char* windowsPath;
  std::optional<std::string> host;  // below the sandbox folder
};

TEST(StandinSandboxTest, PathsStayInsideTheSandbox) {
  standin::Reset();
  standin::SetSandbox("/sandbox");
  const Mapping mappings[] = {
      {"C:\\Quorvel\\SDK", "/C/Quorvel/SDK"},
      {"c:\\Quorvel\\SDK\\", "/C/Quorvel/SDK/"},
      {"C:\\", "/C/"},
      {"D:name", "/D/name"},
      {"C:\\a\\.\\b\\..\\c", "/C/a/c"},
      {"C:\\..\\..\\etc\\passwd", "/C/etc/passwd"},
      {"C:/a/../../../../x/", "/C/x/"},
      // ".." stops at the share, as it does on Windows.
      {"\\\\server\\share\\..\\..\\..\\..\\x", "/UNC/server/share/x"},
      {"\\\\?\\C:\\a\\b", "/C/a/b"},
      {"\\\\?\\C:\\..\\..\\etc", std::nullopt},  // verbatim: ".." is a name, which nothing has
      {"\\\\?\\UNC\\server\\share\\.", std::nullopt},
      {"\\\\?\\C:\\a/b", std::nullopt},  // verbatim: "/" is part of a name
      {"\\\\.\\C:\\a", std::nullopt},    // a device
      {"\\..\\..\\x", "/C/x"},
      {"..\\..\\..\\..\\..\\x", "/C/x"},  // relative to C:\Windows\system32
      {"system32\\..", "/C/Windows/system32"},
      // The documented trimming: a single trailing period of a segment, and
      // trailing periods and spaces at the end.
      {"C:\\Windows.\\a.\\b..", "/C/Windows/a/b"},
      {"C:\\Windows. . ", "/C/Windows"},
      {"C:\\a...\\b", "/C/a.../b"},
      {"\\\\?\\C:\\Windows.", "/C/Windows."},
      {"", std::nullopt},
  };
  for (const Mapping& mapping : mappings) {
    SCOPED_TRACE(mapping.windowsPath);
    const std::optional<std::string> host = standin::HostPath(std::string(mapping.windowsPath));
    ASSERT_EQ(host.has_value(), mapping.host.has_value());
    if (host) {
      EXPECT_EQ(*host, "/sandbox" + *mapping.host);
    }
  }
}

class StandinMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ASSERT_FALSE(folder_.Path().empty());
    standin::SetSandbox(folder_.Path());
    standin::LayOutProfiles();
  }
  void TearDown() override { EXPECT_EQ(standin::OpenKernelHandles(), 0); }

  static std::wstring Call(DWORD (*call)(LPCWSTR, LPWSTR, DWORD), const wchar_t* path) {
    WCHAR buffer[MAX_PATH];
    const DWORD length = call(path, buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(buffer, length) : L"error " + std::to_wstring(GetLastError());
  }

  TemporaryFolder folder_;
};

TEST_F(StandinMachineTest, NamesAnswerWhateverTheirCaseAndAsShortNames) {
  const std::string host = folder_.Path();
  const struct {
    const char* windowsPath;
    std::string host;
  } mappings[] = {
      {"c:\\PROGRAM FILES\\common files", host + "/C/Program Files/Common Files"},
      {"C:\\PROGRA~1", host + "/C/Program Files"},
      {"C:\\progra~2\\COMMON~1\\", host + "/C/Program Files (x86)/Common Files/"},
      {"C:\\PROGRA~3\\Microsoft", host + "/C/ProgramData/Microsoft"},
      {"C:\\Users\\INSTAL~1\\AppData", host + "/C/Users/installer/AppData"},
      {"C:\\PROGRA~9", host + "/C/PROGRA~9"},  // no such entry: the name as given
  };
  for (const auto& mapping : mappings) {
    SCOPED_TRACE(mapping.windowsPath);
    EXPECT_EQ(standin::HostPath(std::string(mapping.windowsPath)), mapping.host);
  }
  EXPECT_EQ(standin::ShortName(L"C:\\Program Files (x86)"), std::wstring(L"PROGRA~2"));
  EXPECT_EQ(standin::ShortName(L"C:\\Windows"), std::wstring(L"Windows"));  // a valid 8.3 name is its own
  EXPECT_EQ(standin::ShortName(L"C:\\Nothing Here"), std::nullopt);
}

TEST_F(StandinMachineTest, PathCallsAnswerAsWindowsDoes) {
  const struct {
    DWORD (*call)(LPCWSTR, LPWSTR, DWORD);
    const wchar_t* path;
    const wchar_t* answer;
  } cases[] = {
      {GetLongPathNameW, L"C:\\PROGRA~1\\COMMON~1", L"C:\\Program Files\\Common Files"},
      {GetLongPathNameW, L"\\\\?\\c:\\users\\INSTAL~1\\", L"\\\\?\\c:\\Users\\installer\\"},
      {GetLongPathNameW, L"C:\\PROGRA~1\\Missing", L"error 2"},
      {GetLongPathNameW, L"C:\\Missing\\Missing", L"error 3"},
      {GetShortPathNameW, L"C:\\Program Files (x86)\\Common Files", L"C:\\PROGRA~2\\COMMON~1"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(Call(row.call, row.path), row.answer);
  }

  const struct {
    const wchar_t* path;
    const wchar_t* full;
  } fullPaths[] = {
      {L"c:/Windows/./System32/../Fonts/", L"c:\\Windows\\Fonts\\"},
      {L"C:\\Windows. ", L"C:\\Windows"},
      {L"D:data", L"D:\\data"},
      {L"data", L"C:\\Windows\\system32\\data"},
      {L"\\\\server\\share\\..\\x", L"\\\\server\\share\\x"},
      {L"\\\\?\\C:\\a\\..", L"\\\\?\\C:\\a\\.."},
  };
  for (const auto& row : fullPaths) {
    SCOPED_TRACE(row.path);
    WCHAR buffer[MAX_PATH];
    const DWORD needed = GetFullPathNameW(row.path, 0, nullptr, nullptr);
    EXPECT_EQ(needed, std::wstring(row.full).size() + 1);
    EXPECT_EQ(GetFullPathNameW(row.path, MAX_PATH, buffer, nullptr), needed - 1);
    EXPECT_EQ(std::wstring(buffer), row.full);
  }
}

struct Opened {
  DWORD attributes = 0;
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

Opened Open(const wchar_t* path, DWORD flags) {
  const HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  BY_HANDLE_FILE_INFORMATION information = {};
  EXPECT_TRUE(GetFileInformationByHandle(file, &information));
  CloseHandle(file);
  return {information.dwFileAttributes, information.dwVolumeSerialNumber, information.nFileIndexHigh,
          information.nFileIndexLow};
}

bool SameObject(const Opened& a, const Opened& b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

TEST_F(StandinMachineTest, LinksAreReparsePointsAndOneObjectHasOneIdentity) {
  const Opened data = Open(L"C:\\ProgramData", 0);
  EXPECT_EQ(data.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(SameObject(Open(L"\\\\?\\C:\\PROGRA~3", 0), data));
  EXPECT_TRUE(SameObject(Open(L"c:\\users\\all users", 0), data)) << "followed";

  const Opened link = Open(L"C:\\Users\\All Users", FILE_FLAG_OPEN_REPARSE_POINT);
  EXPECT_EQ(link.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_FALSE(SameObject(link, data)) << "the link itself";
  // Links on the way are followed whatever the flag: only the last is opened itself.
  EXPECT_EQ(Open(L"C:\\Documents and Settings\\ann", FILE_FLAG_OPEN_REPARSE_POINT).attributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  WIN32_FIND_DATAW entry = {};
  const HANDLE find = FindFirstFileExW(L"C:\\Users\\*", FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::map<std::wstring, DWORD> listed;
  do {
    listed[entry.cFileName] = entry.dwFileAttributes;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  EXPECT_EQ(listed[L"Default User"], static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(listed[L"ann"], static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

NTSTATUS OpenIn(HANDLE folder, const std::wstring& name, DWORD access, HANDLE* opened) {
  std::wstring buffer = name;
  UNICODE_STRING entry = {static_cast<USHORT>(name.size() * sizeof(WCHAR)),
                          static_cast<USHORT>(name.size() * sizeof(WCHAR)), buffer.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &entry, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status = {};
  return NtOpenFile(opened, access | SYNCHRONIZE, &attributes, &status, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT);
}

BOOL MarkForDeletion(HANDLE object) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(object, FileDispositionInfo, &disposition, sizeof disposition);
}

// A handle stays on its object when a user renames it away; entries open
// relative to a folder's handle and are listed through it; a deletion takes
// effect with the last handle, never of a folder that holds anything nor of
// a read-only file; a DACL set on a folder reaches only what is made in it
// afterwards.
TEST_F(StandinMachineTest, HandlesStayOnTheirObjectsAndPermissionsAreInheritedWhenMade) {
  fs::create_directories(folder_.Path() + "/C/Data/sub");
  std::ofstream(folder_.Path() + "/C/Data/sub/a.txt") << "a";
  const HANDLE data =
      CreateFileW(L"C:\\Data", FILE_LIST_DIRECTORY | WRITE_DAC | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(data, INVALID_HANDLE_VALUE);
  standin::SwapForLink("C:\\Data", "C:\\Windows");
  HANDLE sub = nullptr;
  ASSERT_EQ(OpenIn(data, L"SUB", DELETE | FILE_LIST_DIRECTORY, &sub), 0);
  WCHAR final[MAX_PATH];
  EXPECT_EQ(std::wstring(final, GetFinalPathNameByHandleW(sub, final, MAX_PATH, 0)), L"\\\\?\\C:\\Data.moved\\sub");
  HANDLE none = nullptr;
  for (const wchar_t* invalid : {L"..", L"sub\\a.txt"}) {
    EXPECT_EQ(OpenIn(data, invalid, DELETE, &none), static_cast<NTSTATUS>(0xC0000033)) << "one entry, by its name";
  }

  alignas(8) BYTE listing[4096];
  std::set<std::wstring> names;
  while (GetFileInformationByHandleEx(sub, FileFullDirectoryInfo, listing, sizeof listing)) {
    for (BYTE* at = listing;; at += reinterpret_cast<FILE_FULL_DIR_INFO*>(at)->NextEntryOffset) {
      const auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(at);
      names.emplace(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
      if (!entry->NextEntryOffset) break;
    }
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"a.txt"}));

  EXPECT_FALSE(MarkForDeletion(sub));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  HANDLE file = nullptr;
  ASSERT_EQ(OpenIn(sub, L"a.txt", DELETE | FILE_WRITE_ATTRIBUTES, &file), 0);
  fs::permissions(folder_.Path() + "/C/Data.moved/sub/a.txt", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_FALSE(MarkForDeletion(file)) << "read-only";
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  EXPECT_TRUE(SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic));
  EXPECT_TRUE(MarkForDeletion(file));
  EXPECT_TRUE(fs::exists(folder_.Path() + "/C/Data.moved/sub/a.txt")) << "until its handle closes";
  CloseHandle(file);
  EXPECT_TRUE(MarkForDeletion(sub));
  CloseHandle(sub);
  EXPECT_FALSE(fs::exists(folder_.Path() + "/C/Data.moved/sub"));

  std::ofstream(folder_.Path() + "/C/Data.moved/before.txt") << "b";
  const standin::Ace users = {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                              standin::kFullControl, standin::kUsersSid};
  ACL* acl = reinterpret_cast<ACL*>(listing);
  *acl = ACL{ACL_REVISION, 0, 8 + 24, 1, 0};
  const BYTE sid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
  const ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, users.flags, 24};
  std::memcpy(listing + 8, &header, sizeof header);
  std::memcpy(listing + 12, &users.mask, sizeof users.mask);
  std::memcpy(listing + 16, sid, sizeof sid);
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  ASSERT_TRUE(SetKernelObjectSecurity(data, DACL_SECURITY_INFORMATION, &descriptor));
  CloseHandle(data);
  std::ofstream(folder_.Path() + "/C/Data.moved/after.txt") << "a";
  EXPECT_EQ(standin::Dacl("C:\\Data.moved"), std::vector<standin::Ace>{users});
  EXPECT_EQ(standin::Dacl("C:\\Data.moved\\before.txt")->size(), 4u) << "what the root gave it";
  EXPECT_EQ(
      standin::Dacl("C:\\Data.moved\\after.txt"),
      (std::vector<standin::Ace>{{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, standin::kFullControl, standin::kUsersSid}}));
}

std::wstring Expanded(const wchar_t* text) {
  WCHAR buffer[MAX_PATH];
  const DWORD chars = ExpandEnvironmentStringsW(text, buffer, MAX_PATH);
  return chars && chars <= MAX_PATH ? std::wstring(buffer, chars - 1) : L"error";
}

// What the guard reads of a machine: the account's environment and
// temporary folder, ProfileList, the loaded hives and their shell folders.
TEST_F(StandinMachineTest, EnvironmentAndRegistryFollowTheAccountAndTheLayOut) {
  const struct {
    standin::Account account;
    const wchar_t* text;
    const wchar_t* expanded;
  } cases[] = {
      {standin::Account::kInstaller, L"%USERPROFILE%\\x", L"C:\\Users\\installer\\x"},
      {standin::Account::kInstaller, L"%programfiles(x86)%;%Nothing%;%", L"C:\\Program Files (x86);%Nothing%;%"},
      {standin::Account::kLocalSystem, L"%APPDATA%", L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming"},
      {standin::Account::kLocalSystem, L"%SystemRoot%\\Temp", L"C:\\Windows\\Temp"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.text)));
    standin::SetAccount(row.account);
    EXPECT_EQ(Expanded(row.text), row.expanded);
  }
  WCHAR temp[MAX_PATH + 1] = {};
  EXPECT_EQ(GetTempPathW(MAX_PATH + 1, temp), 16u);
  EXPECT_EQ(std::wstring(temp), L"C:\\Windows\\Temp\\");
  standin::SetEnvironment(L"ProgramData", std::nullopt);
  EXPECT_EQ(Expanded(L"%PROGRAMDATA%"), L"%PROGRAMDATA%");
  EXPECT_EQ(GetSystemWow64DirectoryW(temp, 19), 20u) << "too small: the size with its terminator";

  // Subkeys enumerate in the order of their names, from a predefined root too.
  std::vector<std::wstring> hives;
  WCHAR name[256];
  DWORD chars = 256;
  for (DWORD index = 0; RegEnumKeyExW(HKEY_USERS, index, name, &chars, nullptr, nullptr, nullptr, nullptr) == 0;
       ++index, chars = 256) {
    hives.emplace_back(name, chars);
  }
  EXPECT_EQ(hives,
            (std::vector<std::wstring>{L".DEFAULT", L"S-1-5-18", L"S-1-5-21-1004336348-1177238915-682003330-1001",
                                       L"S-1-5-21-1004336348-1177238915-682003330-1001_Classes"}));
  HKEY list = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, standin::kProfileListKey, 0, KEY_QUERY_VALUE, &list), 0);
  WCHAR value[MAX_PATH];
  DWORD bytes = sizeof value;
  DWORD type = 0;
  EXPECT_EQ(RegGetValueW(list, L"S-1-5-18", L"ProfileImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                         &type, value, &bytes),
            0);
  EXPECT_EQ(std::wstring(value), L"%systemroot%\\system32\\config\\systemprofile");
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(RegGetValueW(list, L"S-1-5-18", L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, value, &bytes),
            ERROR_UNSUPPORTED_TYPE);
  chars = 256;
  EXPECT_EQ(RegEnumKeyExW(list, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED)
      << "opened without KEY_ENUMERATE_SUB_KEYS";
  RegCloseKey(list);
  EXPECT_EQ(standin::GetValue(standin::UserShellFoldersKey(standin::kInstallerSid), "Personal")->type,
            static_cast<DWORD>(REG_EXPAND_SZ));
}

std::wstring FinalPath(const wchar_t* path, DWORD flags) {
  const HANDLE file = CreateFileW(path, READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return L"error " + std::to_wstring(GetLastError());
  WCHAR buffer[MAX_PATH];
  const DWORD chars = GetFinalPathNameByHandleW(file, buffer, MAX_PATH, 0);
  CloseHandle(file);
  return chars ? std::wstring(buffer, chars) : L"error " + std::to_wstring(GetLastError());
}

// Final paths resolve links and letter case; a link opened as itself keeps
// its name; owners default by kind; an unreachable root answers its error.
TEST_F(StandinMachineTest, FinalPathsOwnersAndUnreachableRoots) {
  EXPECT_EQ(FinalPath(L"c:\\documents and settings\\ANN\\.", 0), L"\\\\?\\C:\\Users\\ann");
  EXPECT_EQ(FinalPath(L"C:\\Users\\All Users", FILE_FLAG_OPEN_REPARSE_POINT), L"\\\\?\\C:\\Users\\All Users");
  fs::create_directories(folder_.Path() + "/UNC/server/share/data");
  EXPECT_EQ(FinalPath(L"\\\\server\\share\\DATA", 0), L"\\\\?\\UNC\\server\\share\\data");
  fs::create_directory_symlink("/", folder_.Path() + "/C/outside");
  EXPECT_EQ(FinalPath(L"C:\\outside", 0), L"error 3") << "nothing outside the sandbox has a path";

  const auto owner = [](const wchar_t* path) {
    const HANDLE file = CreateFileW(path, READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr, nullptr, &descriptor);
    CloseHandle(file);
    std::string text = "error " + std::to_string(error);
    if (error == 0) {
      const SID* owned = static_cast<const SID*>(sid);
      text = "S-1-5";
      for (BYTE i = 0; i < owned->SubAuthorityCount; ++i) text += "-" + std::to_string(owned->SubAuthority[i]);
      LocalFree(descriptor);
    }
    return text;
  };
  EXPECT_EQ(owner(L"C:\\Users\\All Users"), "S-1-5-18");
  EXPECT_EQ(owner(L"C:\\Windows"), "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
  EXPECT_EQ(owner(L"C:\\Users\\Default"), "S-1-5-32-544");
  EXPECT_EQ(owner(L"C:\\outside"), "S-1-5-21-1004336348-1177238915-682003330-1001") << "a link a user made";
  standin::SetOwner("C:\\outside", standin::Owner::kUnreadable);
  EXPECT_EQ(owner(L"C:\\outside"), "error 5");
  EXPECT_EQ(standin::LiveHeapBlocks(), 0);

  standin::SetUnreachable("\\\\offline\\share", ERROR_BAD_NETPATH);
  standin::SetUnreachable("E:", ERROR_NOT_READY);
  EXPECT_EQ(GetFileAttributesW(L"\\\\OFFLINE\\share\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_FALSE(PathFileExistsA("E:\\Quorvel"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
}

}  // namespace

namespace {

// Strict with MB_ERR_INVALID_CHARS; without it, a byte that begins no
// character reads as the code page's default character.
TEST(StandinCodePageTest, InvalidTextIsRefusedOrReadWithDefaultCharacters) {
  standin::Reset();
  const struct {
    UINT ansi;
    UINT codePage;
    const char* text;
    const wchar_t* lenient;
  } cases[] = {
      {932, CP_ACP, "C:\\P\\\x94", L"C:\\P\\\u30FB"},
      {932, CP_ACP, "\x94\x5C\x94", L"\u80FD\u30FB"},
      {1252, CP_UTF8, "Caf\xE9!", L"Caf\uFFFD!"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.text);
    standin::SetSystemCodePages(row.ansi, row.ansi == 932 ? 932 : 437);
    const int bytes = static_cast<int>(std::strlen(row.text));
    WCHAR wide[32] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(row.codePage, MB_ERR_INVALID_CHARS, row.text, bytes, wide, 32), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    const int chars = MultiByteToWideChar(row.codePage, 0, row.text, bytes, wide, 32);
    EXPECT_EQ(std::wstring(wide, chars > 0 ? chars : 0), row.lenient);
  }
}

}  // namespace
