// A sandboxed machine for the actions that act on folder trees by handle.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "action_support.h"
#include "tool_double.h"

class FolderActionTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    ASSERT_FALSE(folder_.Path().empty());
    sandbox_ = folder_.Path() + "/machine";
    // Fresh for every row of a table too (see Restart).
    std::filesystem::remove_all(sandbox_);
    std::filesystem::create_directory(sandbox_);
    standin::SetSandbox(sandbox_);
  }

  // Paths are given as the actions get them: narrow, in the ANSI code page.
  static std::filesystem::path Host(const std::string& windowsPath) {
    return *standin::HostPath(*standin::AnsiToWide(windowsPath));
  }
  static void MakeFolder(const std::string& windowsPath) { std::filesystem::create_directories(Host(windowsPath)); }
  static void MakeFile(const std::string& windowsPath, const std::string& content) {
    std::filesystem::create_directories(Host(windowsPath).parent_path());
    std::ofstream(Host(windowsPath)) << content;
  }
  static bool Exists(const std::string& windowsPath) {
    std::error_code ignored;
    return std::filesystem::symlink_status(Host(windowsPath), ignored).type() != std::filesystem::file_type::not_found;
  }
  // The explicit entry an icacls grant of full control to Users adds: one
  // that folders and files below a folder inherit, on a file none.
  static standin::Ace UsersGrant(bool folder) {
    return {ACCESS_ALLOWED_ACE_TYPE, static_cast<BYTE>(folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0),
            standin::kFullControl, standin::kUsersSid};
  }
  // Whether an object's DACL holds the Users group's explicit full control.
  static bool GrantedToUsers(const std::string& windowsPath) {
    const std::optional<std::vector<standin::Ace>> dacl = standin::Dacl(windowsPath);
    if (!dacl) return false;
    for (const standin::Ace& ace : *dacl) {
      if (ace.sid == standin::kUsersSid && ace.mask == standin::kFullControl && !(ace.flags & INHERITED_ACE))
        return true;
    }
    return false;
  }
  // A link at `windowsPath` to `target`, as a standard user can plant one
  // where a package's folder will be.
  static void PlantLink(const std::string& windowsPath, const std::string& target) {
    std::filesystem::create_directories(Host(windowsPath).parent_path());
    std::filesystem::create_directory_symlink(Host(target), Host(windowsPath));
  }

  // The platform calls whose order the actions fix.
  static std::vector<std::string> PlatformCalls() {
    return CallsAmong({"AreFileApisANSI", "MultiByteToWideChar", "CreateFileW", "GetFileInformationByHandle",
                       "FindFirstFileExW", "FindNextFileW", "FindClose", "GetFileAttributesW", "CloseHandle",
                       "GetSystemWindowsDirectoryW", "GetFinalPathNameByHandleW", "NtOpenFile",
                       "GetFileInformationByHandleEx", "SetFileInformationByHandle", "GetKernelObjectSecurity",
                       "SetKernelObjectSecurity"});
  }

  // The platform calls are `before`, then the guard's (which look up the
  // standard folders, the Windows folder among them), then `after`.
  static void ExpectGuardBetween(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    const std::vector<std::string> calls = PlatformCalls();
    ASSERT_GE(calls.size(), before.size() + after.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + before.size()), before);
    EXPECT_EQ(std::vector<std::string>(calls.end() - after.size(), calls.end()), after);
    const std::vector<std::string> guard(calls.begin() + before.size(), calls.end() - after.size());
    EXPECT_NE(std::find(guard.begin(), guard.end(), "GetSystemWindowsDirectoryW"), guard.end())
        << "the guard runs in between";
  }

  TemporaryFolder folder_;
  std::string sandbox_;
};

// The expected lines of a run: those up to a step, then what follows it.
template <typename Item>
std::vector<Item> Plus(std::vector<Item> items, const std::vector<Item>& more) {
  items.insert(items.end(), more.begin(), more.end());
  return items;
}

// A Windows path of exactly `length` characters below C:\Quorvel, in
// components that every host file system accepts.
inline std::string PathOfLength(size_t length) {
  std::string path = "C:\\Quorvel";
  while (path.size() < length) {
    const size_t left = length - path.size() - 1;  // after the separator
    path += "\\" + std::string(left > 200 ? 200 : left, 'p');
    if (path.back() == '\\') path.back() = 'p';
  }
  return path;
}

// The error line of a refusal by the guard.
inline std::string RefusalLine(const std::string& path, const std::string& reason) {
  return "Error 0x80070057: Refusing path '" + path + "': " + reason;
}
