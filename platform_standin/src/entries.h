// What the stand-in's file calls share: an entry's host facts as Windows
// reports them (attributes, reparse tag, names), host errors as Win32 codes,
// and the file objects that handles keep open.
#pragma once

#include <sys/stat.h>

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "kernel.h"

namespace standin {

// An entry of the host file system as Windows sees it.
struct EntryFacts {
  struct stat status = {};
  bool link = false;           // a name surrogate: a host symbolic link
  bool linksToFolder = false;  // a link that leads to a folder: a junction
  DWORD attributes = 0;
  DWORD reparseTag = 0;
};
// The facts of the entry at `hostPath` itself (a link, not its target).
std::optional<EntryFacts> FactsOfPath(const std::string& hostPath);
// The facts of the entry a file object has open.
EntryFacts FactsOfObject(const KernelObject& file);

// The host path a descriptor leads to now, after any rename.
std::string HostPathOfDescriptor(int fd);

// The Win32 code of a host errno for an operation on `hostPath`.
DWORD Win32FromErrno(int error, const std::string& hostPath);

// A new file object on an open descriptor, which it takes over.
std::shared_ptr<KernelObject> NewFileObject(int fd, DWORD access, bool linkItself, bool synchronous);

// Whether an open asking for `access` meets a lock (LockEntry) on the
// entry; counts the hit.
bool HitsLock(const KernelObject& file);

// Lets the holder of an opportunistic lock on the entry at `hostPath` act
// before an open that breaks it goes on.
void BreakOpportunisticLock(const std::string& hostPath, bool followLink, DWORD access);

// Called as a file handle closes: a delete-pending object goes with its
// last handle.
void FinishClose(KernelObject& file);

// Security descriptors and reparse tags, kept by identity (security.cpp).
std::optional<DWORD> StoredReparseTag(uint64_t device, uint64_t inode);
// Whether a host path is the root of a drive or share in the sandbox.
bool IsSandboxRoot(const std::string& realHostPath);

}  // namespace standin
