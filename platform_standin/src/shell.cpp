// The shell's path test over the sandbox.
#include <shlwapi.h>
#include <standin.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "parts.h"

namespace standin {
namespace {

namespace fs = std::filesystem;

// A narrow path as the shell reads it: in the ANSI code page.
std::optional<std::string> HostPathOfNarrow(const std::string& path) {
  const auto wide = Widen(CP_ACP, path);
  return wide ? HostPath(*wide) : std::nullopt;
}

std::string Trimmed(std::string hostPath) {
  while (hostPath.size() > 1 && hostPath.back() == '/') hostPath.pop_back();
  return hostPath;
}

}  // namespace
}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI PathFileExistsA(LPCSTR path) {
  const Call call("PathFileExistsA");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  // The narrow calls take at most MAX_PATH characters, terminator included.
  if (path && std::strlen(path) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  const auto wide = Widen(CP_ACP, path ? std::string(path) : std::string());
  if (wide) {
    if (const std::optional<DWORD> unreachable = UnreachableError(Utf8(*wide))) {
      SetLastError(*unreachable);
      return FALSE;
    }
  }
  auto host = HostPathOfNarrow(path ? std::string(path) : std::string());
  std::error_code error;
  if (host && fs::exists(fs::symlink_status(*host, error))) return TRUE;
  // As on Windows: "file not found" when only the last component is missing.
  const bool parentExists = host && fs::is_directory(fs::path(Trimmed(*host)).parent_path(), error);
  SetLastError(parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  return FALSE;
}
