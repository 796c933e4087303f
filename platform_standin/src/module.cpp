// The module's file name and its version resource.
#include <cstring>
#include <cwchar>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

const wchar_t* const kDefaultModulePath = L"C:\\Windows\\Installer\\MSI1A2B.tmp";
// The custom-action server that loads the DLL.
const wchar_t* const kProcessPath = L"C:\\Windows\\System32\\msiexec.exe";

std::wstring modulePath;
bool hasVersion = true;
bool hasFixedInfo = true;
VS_FIXEDFILEINFO fixedInfo;

}  // namespace

void ResetModule() {
  modulePath = kDefaultModulePath;
  hasVersion = true;
  SetModuleVersion(0x00010000, 0x00000000);
}

HINSTANCE DllModule() { return reinterpret_cast<HINSTANCE>(0x180000000); }

void SetModulePath(const std::wstring& path) { modulePath = path.empty() ? kDefaultModulePath : path; }

void SetModuleVersion(DWORD mostSignificant, DWORD leastSignificant) {
  hasVersion = true;
  hasFixedInfo = true;
  fixedInfo = VS_FIXEDFILEINFO{};
  fixedInfo.dwSignature = 0xFEEF04BD;
  fixedInfo.dwFileVersionMS = mostSignificant;
  fixedInfo.dwFileVersionLS = leastSignificant;
  // A different product version, so that a mix-up shows.
  fixedInfo.dwProductVersionMS = 0x00630063;
  fixedInfo.dwProductVersionLS = 0x00630063;
}

void RemoveModuleVersion() { hasVersion = false; }

void RemoveModuleFixedInfo() { hasFixedInfo = false; }

}  // namespace standin

using namespace standin;

// Like Windows, a path that does not fit is cut, terminated, and answered with
// the buffer's size and ERROR_INSUFFICIENT_BUFFER.
extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD chars) {
  const Call call("GetModuleFileNameW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  if (module && module != DllModule()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::wstring file = module ? modulePath : kProcessPath;
  if (chars == 0) return 0;
  if (file.size() >= chars) {
    std::wmemcpy(path, file.c_str(), chars - 1);
    path[chars - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return chars;
  }
  std::wmemcpy(path, file.c_str(), file.size() + 1);
  return static_cast<DWORD>(file.size());
}

extern "C" DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle) {
  const Call call("GetFileVersionInfoSizeW");
  if (handle) *handle = 0;
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  if (!hasVersion) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  return sizeof(VS_FIXEDFILEINFO);
}

extern "C" BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD bytes, LPVOID data) {
  const Call call("GetFileVersionInfoW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  if (!hasVersion || bytes < sizeof(VS_FIXEDFILEINFO)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  std::memcpy(data, &fixedInfo, sizeof fixedInfo);
  return TRUE;
}

extern "C" BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* bytes) {
  const Call call("VerQueryValueW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  if (!block || !subBlock || std::wcscmp(subBlock, L"\\") != 0) return FALSE;
  // A root without a value answers a length of 0: no value is available.
  *buffer = const_cast<LPVOID>(block);
  *bytes = hasFixedInfo ? sizeof(VS_FIXEDFILEINFO) : 0;
  return TRUE;
}
