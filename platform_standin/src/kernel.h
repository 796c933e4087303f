// The stand-in's table of kernel handles, shared by processes and files.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace standin {

struct Child {
  pid_t pid = 0;
  bool reaped = false;
  DWORD exitCode = 0;
};

struct KernelObject {
  enum Kind { kProcess, kThread, kFile, kFind };
  ~KernelObject() {
    if (listing) closedir(listing);
  }
  Kind kind = kProcess;
  std::shared_ptr<Child> child;  // process and thread
  DWORD attributes = 0;          // file
  DWORD access = 0;              // file: the access asked for at the open
  std::string hostPath;          // file: the entry opened
  std::string openedAs;          // file: the Windows path it was opened by (UTF-8)
  bool linkItself = false;       // file: a link opened as itself, not followed
  uint64_t size = 0;             // file
  uint64_t device = 0;           // file: its identity
  uint64_t inode = 0;            // file
  DIR* listing = nullptr;        // find
  std::string folder;            // find: the host folder listed
  bool root = false;             // find: a volume's root, without "." and ".."
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object behind `handle` when it is of `kind`, else null.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle, KernelObject::Kind kind);
bool RemoveHandle(HANDLE handle);

// Splits a command line by the Windows argument rules; the program name first.
std::vector<std::string> SplitCommandLine(const std::string& line);

}  // namespace standin
