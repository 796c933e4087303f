#include "call_costs.hpp"

#include "handles.hpp"
#include "profiles.hpp"

#include <windows.h>
#include <aclapi.h>
#include <shlwapi.h>
#include <winternl.h>

#include <cstdio>
#include <functional>
#include <string>

namespace quorvel::bench {

namespace {

namespace authoring = quorvel::authoring;

constexpr WCHAR kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr WCHAR kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
// A standard folder four components deep, as the guard spells and walks it.
constexpr WCHAR kStartMenu[] = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu";
constexpr WCHAR kStartMenuVerbatim[] = L"\\\\?\\C:\\ProgramData\\Microsoft\\Windows\\Start Menu";

struct Measure {
  const char* call;
  const char* on;
  std::function<void()> run;  // makes the call (or the calls named together) once
};

HANDLE openForFinalPath(const WCHAR* path) {
  return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The next entry of an enumeration each time, from the first again after the last.
class Enumeration {
 public:
  explicit Enumeration(HKEY key) : key_(key) {}

  void nextValue() {
    WCHAR name[256];
    WCHAR value[1024];
    DWORD nameChars = ARRAYSIZE(name);
    DWORD bytes = sizeof value;
    DWORD type = 0;
    advance(RegEnumValueW(key_, index_, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes));
  }

  void nextKey() {
    WCHAR name[256];
    DWORD nameChars = ARRAYSIZE(name);
    advance(RegEnumKeyExW(key_, index_, name, &nameChars, nullptr, nullptr, nullptr, nullptr));
  }

 private:
  void advance(LSTATUS answer) { index_ = answer == ERROR_SUCCESS ? index_ + 1 : 0; }

  HKEY key_;
  DWORD index_ = 0;
};

// The first ProfileList key, whose ProfileImagePath the guard reads.
void firstProfile(HKEY list, WCHAR (&sid)[256]) {
  DWORD chars = ARRAYSIZE(sid);
  if (RegEnumKeyExW(list, 0, sid, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) sid[0] = 0;
}

// A file of the walk's, in a folder of its own below the benchmark's work
// folder, open as the grant's walk opens it, with its folder open too.
constexpr WCHAR kWalkFolder[] = L"C:\\quorvel-engine-bench\\call-costs";
constexpr WCHAR kWalkFile[] = L"C:\\quorvel-engine-bench\\call-costs\\object.dat";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kWalkAccess = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY;

HANDLE openWalkObject(const WCHAR* path) {
  return CreateFileW(path, kWalkAccess, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Opens the file by its name in the folder's open handle, and closes it.
void openRelative(HANDLE folder) {
  WCHAR name[] = L"object.dat";
  UNICODE_STRING entry = {sizeof name - sizeof(WCHAR), sizeof name - sizeof(WCHAR), name};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &entry, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status = {};
  HANDLE opened = nullptr;
  if (NtOpenFile(&opened, kWalkAccess | SYNCHRONIZE, &attributes, &status, kShareAll,
                 FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT) >= 0) {
    CloseHandle(opened);
  }
}

void listFolder(const WCHAR* pattern) {
  WIN32_FIND_DATAW entry = {};
  const HANDLE listing =
      FindFirstFileExW(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (listing == INVALID_HANDLE_VALUE) return;
  while (FindNextFileW(listing, &entry)) {
  }
  FindClose(listing);
}

}  // namespace

void printCallCosts(int repetitions) {
  authoring::RegKey profileList;
  authoring::RegKey shellFolders;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, profileList.put());
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFolders, 0, KEY_QUERY_VALUE, shellFolders.put());
  WCHAR sid[256];
  firstProfile(profileList.get(), sid);
  const authoring::FileHandle root(openForFinalPath(L"\\\\?\\C:\\"));
  const HANDLE heap = GetProcessHeap();
  Enumeration userShellFolders(shellFolders.get());
  Enumeration profiles(profileList.get());
  const std::string folder = profilesFolder();
  const std::wstring pattern = L"\\\\?\\" + std::wstring(folder.begin(), folder.end()) + L"\\*";
  CreateDirectoryW(L"C:\\quorvel-engine-bench", nullptr);
  CreateDirectoryW(kWalkFolder, nullptr);
  CloseHandle(CreateFileW(kWalkFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const authoring::FileHandle walkFolder(openWalkObject(kWalkFolder));
  const authoring::FileHandle walkFile(openWalkObject(kWalkFile));
  PACL fileDacl = nullptr;
  PSECURITY_DESCRIPTOR fileDescriptor = nullptr;
  GetSecurityInfo(walkFile.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &fileDacl, nullptr,
                  &fileDescriptor);
  SECURITY_DESCRIPTOR sameDacl;
  InitializeSecurityDescriptor(&sameDacl, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sameDacl, TRUE, fileDacl, FALSE);

  const Measure measures[] = {
      {"GetFileAttributesW", "a standard folder, verbatim", [] { GetFileAttributesW(kStartMenuVerbatim); }},
      {"CreateFileW + CloseHandle", "the drive's root, no access, folders included",
       [] { CloseHandle(openForFinalPath(L"\\\\?\\C:\\")); }},
      {"GetFinalPathNameByHandleW", "the drive's root, open",
       [&root] {
         WCHAR final[MAX_PATH + 1];
         GetFinalPathNameByHandleW(root.get(), final, MAX_PATH + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
       }},
      {"GetFullPathNameW", "a standard folder",
       [] {
         WCHAR full[MAX_PATH + 1];
         GetFullPathNameW(kStartMenu, MAX_PATH + 1, full, nullptr);
       }},
      {"ExpandEnvironmentStringsW", "%ProgramData%\\Microsoft\\Windows\\Start Menu",
       [] {
         WCHAR expanded[MAX_PATH + 1];
         ExpandEnvironmentStringsW(L"%ProgramData%\\Microsoft\\Windows\\Start Menu", expanded, MAX_PATH + 1);
       }},
      {"RegOpenKeyExW + RegCloseKey", "HKLM's User Shell Folders",
       [] {
         HKEY key = nullptr;
         if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFolders, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
           RegCloseKey(key);
         }
       }},
      {"RegEnumValueW", "HKLM's User Shell Folders, name, type and data",
       [&userShellFolders] { userShellFolders.nextValue(); }},
      {"RegEnumKeyExW", "ProfileList", [&profiles] { profiles.nextKey(); }},
      {"RegGetValueW", "a ProfileList key's ProfileImagePath",
       [&profileList, &sid] {
         WCHAR image[1024];
         DWORD bytes = sizeof image;
         RegGetValueW(profileList.get(), sid, L"ProfileImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                      nullptr, image, &bytes);
       }},
      // The same read in calls of its own: what the subkey's open and close add.
      {"RegOpenKeyExW + RegQueryValueExW + RegCloseKey", "a ProfileList key's ProfileImagePath",
       [&profileList, &sid] {
         HKEY profile = nullptr;
         if (RegOpenKeyExW(profileList.get(), sid, 0, KEY_QUERY_VALUE, &profile) != ERROR_SUCCESS) return;
         WCHAR image[1024];
         DWORD bytes = sizeof image;
         RegQueryValueExW(profile, L"ProfileImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(image), &bytes);
         RegCloseKey(profile);
       }},
      {"RegGetValueW", "ProfileList's own ProfilesDirectory",
       [&profileList] {
         WCHAR folder[1024];
         DWORD bytes = sizeof folder;
         RegGetValueW(profileList.get(), nullptr, L"ProfilesDirectory",
                      RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, folder, &bytes);
       }},
      {"FindFirstFileExW, FindNextFileW to the end, FindClose", "the profiles folder, whole",
       [&pattern] { listFolder(pattern.c_str()); }},
      {"CompareStringOrdinal", "two standard folders' paths, case ignored",
       [] { CompareStringOrdinal(kStartMenu, -1, L"C:\\ProgramData\\Microsoft\\Windows\\Templates", -1, TRUE); }},
      {"HeapAlloc + HeapFree", "64 bytes", [heap] { HeapFree(heap, 0, HeapAlloc(heap, 0, 64)); }},
      {"PathFileExistsA", "the drive's Program Files folder (RemoveFolder's own test)",
       [] { PathFileExistsA("C:\\Program Files"); }},
      // What a walk by handle makes per object.
      {"NtOpenFile + CloseHandle", "a file by its name in its folder's open handle",
       [&walkFolder] { openRelative(walkFolder.get()); }},
      {"GetFileInformationByHandle", "a file, open",
       [&walkFile] {
         BY_HANDLE_FILE_INFORMATION information;
         GetFileInformationByHandle(walkFile.get(), &information);
       }},
      {"NtQueryInformationFile", "a file, open: FileInternalInformation (a standard folder's file ID)",
       [&walkFile] {
         LARGE_INTEGER index;
         IO_STATUS_BLOCK status = {};
         NtQueryInformationFile(walkFile.get(), &status, &index, sizeof index,
                                static_cast<FILE_INFORMATION_CLASS>(6));
       }},
      {"GetFileInformationByHandleEx", "a file, open: FileAttributeTagInfo",
       [&walkFile] {
         FILE_ATTRIBUTE_TAG_INFO tag;
         GetFileInformationByHandleEx(walkFile.get(), FileAttributeTagInfo, &tag, sizeof tag);
       }},
      {"GetFileInformationByHandleEx", "a file, open: FileStandardInfo",
       [&walkFile] {
         FILE_STANDARD_INFO standard;
         GetFileInformationByHandleEx(walkFile.get(), FileStandardInfo, &standard, sizeof standard);
       }},
      {"GetSecurityInfo + LocalFree", "a file, open: its DACL",
       [&walkFile] {
         PACL dacl = nullptr;
         PSECURITY_DESCRIPTOR descriptor = nullptr;
         GetSecurityInfo(walkFile.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                         &descriptor);
         LocalFree(descriptor);
       }},
      {"GetKernelObjectSecurity", "a file, open: its DACL, into a buffer kept (the product's grant)",
       [&walkFile] {
         static BYTE kept[4096];
         DWORD needed = 0;
         GetKernelObjectSecurity(walkFile.get(), DACL_SECURITY_INFORMATION, kept, sizeof kept, &needed);
       }},
      {"SetKernelObjectSecurity", "a file, open: the DACL it has",
       [&walkFile, &sameDacl] { SetKernelObjectSecurity(walkFile.get(), DACL_SECURITY_INFORMATION, &sameDacl); }},
  };

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::printf("\n| Call | Made on | Microseconds each time |\n|---|---|---|\n");
  for (const Measure& measure : measures) {
    measure.run();  // warm
    LARGE_INTEGER started;
    LARGE_INTEGER ended;
    QueryPerformanceCounter(&started);
    for (int i = 0; i < repetitions; ++i) measure.run();
    QueryPerformanceCounter(&ended);
    const double microseconds =
        1e6 * static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("| %s | %s | %.2f |\n", measure.call, measure.on, microseconds / repetitions);
  }
  LocalFree(fileDescriptor);
  const ProfileLists lists = readProfileLists(folder);
  std::printf("(the profiles folder %s holds %zu entries, ProfileList %zu profiles)\n", folder.c_str(),
              lists.folderEntries, lists.listedProfiles);
}

}  // namespace quorvel::bench
