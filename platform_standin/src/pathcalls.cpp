// The path calls over the sandbox: full, long and short forms of a path.
#include <sys/stat.h>

#include <standin.h>

#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

// Copies `text` out as the path calls do: the length without the terminator
// when it fits, else the size that would fit, terminator included.
DWORD Answer(const std::wstring& text, LPWSTR buffer, DWORD chars) {
  if (!buffer || chars <= text.size()) return static_cast<DWORD>(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

// The path with every component replaced by the name of the entry it leads
// to, long or short; false with the last error when one does not exist.
bool Rename(LPCWSTR path, bool shortNames, std::wstring* renamed) {
  if (path) {
    if (const std::optional<DWORD> unreachable = UnreachableError(Utf8(path))) {
      SetLastError(*unreachable);
      return false;
    }
  }
  const std::optional<WindowsPath> resolved = path ? ResolveWindowsPath(Utf8(path)) : std::nullopt;
  const std::optional<std::string> root = resolved ? HostRoot(*resolved) : std::nullopt;
  if (!root) {
    SetLastError(path && *path ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return false;
  }
  WindowsPath named = *resolved;
  std::string host = *root;
  for (size_t i = 0; i < named.components.size(); ++i) {
    const std::string entry = FindEntry(host, named.components[i]);
    struct stat status;
    if (lstat((host + "/" + entry).c_str(), &status) != 0) {
      SetLastError(i + 1 == named.components.size() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      return false;
    }
    named.components[i] = shortNames ? ShortNameIn(host, entry) : entry;
    host += "/" + entry;
  }
  *renamed = WideFromUtf8(FormatWindowsPath(named, true));
  return true;
}

}  // namespace
}  // namespace standin

using namespace standin;

extern "C" DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD chars, LPWSTR buffer, LPWSTR* filePart) {
  const Call call("GetFullPathNameW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  const std::wstring given = path;
  std::wstring full;
  if (given.rfind(L"\\\\?\\", 0) == 0) {
    full = given;  // taken as it is
  } else {
    const std::optional<WindowsPath> resolved = ResolveWindowsPath(Utf8(given));
    if (!resolved) {
      SetLastError(ERROR_INVALID_NAME);
      return 0;
    }
    full = WideFromUtf8(FormatWindowsPath(*resolved, true));
  }
  const DWORD answer = Answer(full, buffer, chars);
  if (filePart && answer == full.size()) {
    const size_t last = full.rfind(L'\\');
    *filePart = last + 1 < full.size() ? buffer + last + 1 : nullptr;
  }
  return answer;
}

extern "C" DWORD WINAPI GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD chars) {
  const Call call("GetLongPathNameW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  std::wstring renamed;
  if (!Rename(shortPath, false, &renamed)) return 0;
  return Answer(renamed, longPath, chars);
}

extern "C" DWORD WINAPI GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD chars) {
  const Call call("GetShortPathNameW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  std::wstring renamed;
  if (!Rename(longPath, true, &renamed)) return 0;
  return Answer(renamed, shortPath, chars);
}
