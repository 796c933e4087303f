// The shell's file deletion and path test over the sandbox. A test can lock
// an entry so that deletions reaching it fail, for a number of attempts.
#include <shellapi.h>
#include <shlwapi.h>
#include <standin.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "parts.h"

namespace standin {
namespace {

namespace fs = std::filesystem;

std::map<std::string, int> locks;  // host path -> failing deletions left (-1: all)
std::vector<FileOperation> operations;

// The source list: paths each ending in NUL, the list in one more NUL.
std::vector<std::string> SourceList(LPCSTR from) {
  std::vector<std::string> paths;
  for (const char* path = from; path && *path; path += std::strlen(path) + 1) paths.emplace_back(path);
  return paths;
}

// A narrow path as the shell reads it: in the ANSI code page.
std::optional<std::string> HostPathOfNarrow(const std::string& path) {
  const auto wide = Widen(CP_ACP, path);
  return wide ? HostPath(*wide) : std::nullopt;
}

bool Within(const std::string& entry, const std::string& tree) {
  return entry == tree || (entry.size() > tree.size() && entry.compare(0, tree.size(), tree) == 0 &&
                           (tree.back() == '/' || entry[tree.size()] == '/'));
}

// Counts one failed attempt against every lock inside `tree`; true when any
// of them still holds.
bool HitLocks(const std::string& tree) {
  bool locked = false;
  for (auto& [entry, left] : locks) {
    if (left == 0 || !Within(entry, tree)) continue;
    locked = true;
    if (left > 0) --left;
  }
  return locked;
}

std::string Trimmed(std::string hostPath) {
  while (hostPath.size() > 1 && hostPath.back() == '/') hostPath.pop_back();
  return hostPath;
}

}  // namespace

void ResetShell() {
  locks.clear();
  operations.clear();
}

void LockEntry(const std::string& windowsPath, int failingDeletions) {
  if (auto host = HostPath(windowsPath)) locks[Trimmed(*host)] = failingDeletions;
}

const std::vector<FileOperation>& FileOperations() { return operations; }

}  // namespace standin

using namespace standin;

extern "C" int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA operation) {
  const Call call("SHFileOperationA");
  if (auto error = call.Failure()) return static_cast<int>(*error);
  if (!operation) return ERROR_INVALID_PARAMETER;
  operations.push_back(FileOperation{operation->wFunc, SourceList(operation->pFrom), operation->pTo != nullptr,
                                     operation->fFlags, operation->hwnd != nullptr});
  if (operation->wFunc != FO_DELETE) return ERROR_INVALID_PARAMETER;  // only deletion is stood in for

  // Every source is checked before any is removed: with FOF_ALLOWUNDO the
  // shell moves the items to the Recycle Bin, which a locked entry refuses
  // whole.
  std::vector<std::string> trees;
  for (const std::string& path : operations.back().sources) {
    const auto wide = Widen(CP_ACP, path);
    if (wide) {
      if (const std::optional<DWORD> unreachable = UnreachableError(Utf8(*wide))) return static_cast<int>(*unreachable);
    }
    auto host = HostPathOfNarrow(path);
    std::error_code error;
    if (!host || !fs::exists(fs::symlink_status(*host, error))) return ERROR_FILE_NOT_FOUND;
    trees.push_back(Trimmed(*host));
  }
  bool locked = false;
  for (const std::string& tree : trees) locked = HitLocks(tree) || locked;
  if (locked) return ERROR_SHARING_VIOLATION;
  for (const std::string& tree : trees) {
    std::error_code error;
    fs::remove_all(tree, error);
    if (error) return ERROR_ACCESS_DENIED;
  }
  return 0;
}

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
