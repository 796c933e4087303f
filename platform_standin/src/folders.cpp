// The machine's principal folders, as a default 64-bit Windows lays them out
// for an installation running as the user "installer".
#include <shlobj.h>
#include <standin.h>
#include <userenv.h>

#include <cstring>
#include <map>

namespace {

const std::map<int, const char*> kFolders = {
    {CSIDL_WINDOWS, "C:\\Windows"},
    {CSIDL_SYSTEM, "C:\\Windows\\system32"},
    {CSIDL_SYSTEMX86, "C:\\Windows\\SysWOW64"},
    {CSIDL_PROGRAM_FILES, "C:\\Program Files"},
    {CSIDL_PROGRAM_FILESX86, "C:\\Program Files (x86)"},
    {CSIDL_COMMON_APPDATA, "C:\\ProgramData"},
    {CSIDL_PROFILE, "C:\\Users\\installer"},
};

}  // namespace

extern "C" HRESULT WINAPI SHGetFolderPathA(HWND, int folder, HANDLE, DWORD, LPSTR path) {
  if (auto error = standin::EnterCall("SHGetFolderPathA")) return static_cast<HRESULT>(0x80070000 | *error);
  auto found = kFolders.find(folder);
  if (found == kFolders.end()) return E_INVALIDARG;
  std::strcpy(path, found->second);
  return S_OK;
}

extern "C" BOOL WINAPI GetProfilesDirectoryA(LPSTR path, LPDWORD chars) {
  if (auto error = standin::EnterCall("GetProfilesDirectoryA")) {
    SetLastError(*error);
    return FALSE;
  }
  const char* const kProfiles = "C:\\Users";
  if (*chars <= std::strlen(kProfiles)) {
    *chars = static_cast<DWORD>(std::strlen(kProfiles) + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::strcpy(path, kProfiles);
  return TRUE;
}
