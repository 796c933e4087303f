// What an object on the file system is, whatever path reaches it: the
// serial number of its volume and its file ID there. A drive letter, a
// share or a link that leads to a folder answers that folder's identity,
// whatever final path the system gives for it.
#pragma once

#include <windows.h>

#include "runtime/memutil.h"

struct FileIdentity {
  DWORD volume;
  DWORD high;
  DWORD low;
};

// Reads the identity (and the attributes) of an open object: 0, or the
// Win32 error of the query.
DWORD ReadIdentity(HANDLE object, FileIdentity* identity, DWORD* attributes);

// Where each identity was found, as a prefix of a path that the caller keeps
// unchanged while the index lives; sorted once, then answered in
// logarithmic time.
class IdentityIndex {
 public:
  // Fails only with E_OUTOFMEMORY.
  HRESULT Add(const FileIdentity& identity, const WCHAR* path, SIZE_T length);
  // Sorts what was added; the first added of equal identities answers.
  void Seal();
  bool Find(const FileIdentity& identity, const WCHAR** path, SIZE_T* length) const;

 private:
  struct Entry {
    FileIdentity identity;
    const WCHAR* path;
    SIZE_T length;
    SIZE_T added;
  };

  HeapArray<Entry> entries_;
};
