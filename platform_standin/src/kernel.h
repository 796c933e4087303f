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
  KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  ~KernelObject();
  Kind kind = kProcess;
  std::shared_ptr<Child> child;  // process and thread
  // file: a host descriptor of the entry (O_PATH), so that the handle stays
  // on its object whatever is renamed meanwhile; the link itself when one
  // was opened as itself
  int fd = -1;
  DWORD access = 0;            // file: the access asked for at the open
  bool linkItself = false;     // file: a link opened as itself, not followed
  std::string openedAs;        // file: the Windows path it was opened by (UTF-8), whose root an alias may keep
  bool synchronous = false;    // file: opened for synchronous I/O
  bool deletePending = false;  // file: deleted when its last handle closes
  uint64_t device = 0;         // file: its identity
  uint64_t inode = 0;          // file
  DIR* listing = nullptr;      // find, and a file handle's own listing
  std::string folder;          // find: the host folder listed
  bool root = false;           // find, file: a volume's root, without "." and ".."
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object behind `handle` when it is of `kind`, else null.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle, KernelObject::Kind kind);
bool RemoveHandle(HANDLE handle);
// Every open file object of an identity, `except` left out.
std::vector<std::shared_ptr<KernelObject>> OpenFilesOf(uint64_t device, uint64_t inode, const KernelObject* except);

// Splits a command line by the Windows argument rules; the program name first.
std::vector<std::string> SplitCommandLine(const std::string& line);

}  // namespace standin
