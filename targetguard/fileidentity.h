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

// Reads the identity of an open object: 0, or the Win32 error of the query.
DWORD ReadIdentity(HANDLE object, FileIdentity* identity);

// Reads the file ID of an open object alone (`identity->volume` is 0): the
// volume's serial number is a query of the volume, which wine sends to its
// mount manager, half a millisecond each.
DWORD ReadFileId(HANDLE object, FileIdentity* identity);

// Where each file ID was found, as a prefix of a real path that the caller
// keeps unchanged while the index lives; sorted once, then answered in
// logarithmic time. File IDs repeat from volume to volume: the volume of a
// place whose file ID is looked up is read then, once.
class IdentityIndex {
 public:
  // Fails only with E_OUTOFMEMORY.
  HRESULT Add(const FileIdentity& fileId, const WCHAR* path, SIZE_T length);
  // Sorts what was added; the first added of equal identities answers.
  void Seal();
  // Where the object of `identity` (read whole) was found: S_OK, S_FALSE
  // when nowhere, or E_OUTOFMEMORY.
  HRESULT Find(const FileIdentity& identity, const WCHAR** path, SIZE_T* length);

 private:
  enum class Volume { kUnread, kRead, kGone };
  struct Entry {
    FileIdentity identity;
    Volume volume;
    const WCHAR* path;
    SIZE_T length;
    SIZE_T added;
  };

  // Whether what `entry`'s path opens now has its file ID and lies on `volume`.
  HRESULT IsOnVolume(Entry* entry, DWORD volume, bool* on);

  HeapArray<Entry> entries_;
};
