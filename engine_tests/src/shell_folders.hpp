// The prefix's standard folders as the engine's shell gives them, and the
// arrangements the guard cases need: a second profile, the current user's
// shell folders pointed into a scratch folder, program-files folders moved in
// the registry, and the host-side links that run.sh plants.
#pragma once

#include <windows.h>

#include "handles.hpp"

#include <optional>
#include <string>

namespace quorvel::engine::shell {

// A folder of the shell's look-up (CSIDL), not verified; empty when unknown.
std::string folder(int csidl);
// The temporary folder, without its trailing backslash.
std::string temporaryFolder();
std::string profilesFolder();
// The path with its components in their short (8.3) names.
std::string shortPath(const std::string& path);
std::string upperCase(std::string text);

// Where the cases point the user's shell folders; never a folder of the prefix.
constexpr const char* kScratch = "C:\\quorvel-engine-shell";
// Host-side symbolic links planted by run.sh: one to the prefix's C:\windows,
// one to <kScratch>\Personal Documents.
constexpr const char* kLinkToWindows = "C:\\quorvel-engine-links\\windows";
constexpr const char* kLinkToScratchDocuments = "C:\\quorvel-engine-links\\scratch-documents";
// The refusal's words for a standard folder that the current user's hive
// names: " (of the user <SID>)".
std::string ofTheUser();

// Drives that run.sh maps (dosdevices links) onto the prefix's Windows
// folder and onto its profiles folder, for the cases of their own pass.
constexpr const char* kDriveOntoWindows = "W:";
constexpr const char* kDriveOntoProfiles = "U:";
// What really holds the profile C:\users\quorvel-linked, a host-side link
// that run.sh plants to <kLinkedProfileHolder>\linked.
constexpr const char* kLinkedProfileHolder = "C:\\quorvel-engine-profiles";

// Points one of the current user's shell folders (a value of the "User
// Shell Folders" key that the shell's look-up reads) at `path` for the
// lifetime of the object, and puts the value back afterwards.
class UserShellFolder {
 public:
  UserShellFolder(const char* valueName, const std::string& path);
  ~UserShellFolder();
  UserShellFolder(const UserShellFolder&) = delete;
  UserShellFolder& operator=(const UserShellFolder&) = delete;
  bool set() const { return set_; }

 private:
  std::string valueName_;
  std::optional<std::string> previous_;
  DWORD previousType_ = REG_EXPAND_SZ;
  bool set_ = false;
};

// Points a program-files value of HKLM\...\CurrentVersion (in one registry
// view) at `path` for the lifetime of the object, and puts it back after; one
// that the view lacks (a prefix without wine's 32-bit half has none in the
// 32-bit view) is made, and taken away after.
class MovedProgramFilesValue {
 public:
  MovedProgramFilesValue(REGSAM view, const char* name, const std::string& path);
  ~MovedProgramFilesValue();
  MovedProgramFilesValue(const MovedProgramFilesValue&) = delete;
  MovedProgramFilesValue& operator=(const MovedProgramFilesValue&) = delete;
  bool set() const { return set_; }

 private:
  bool write(const std::string& value) const;

  authoring::RegKey key_;
  const char* name_;
  std::optional<std::string> previous_;
  bool set_ = false;
};

}  // namespace quorvel::engine::shell
