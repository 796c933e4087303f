// Grants the built-in Users group full control, as
// `icacls <path> /grant *S-1-5-32-545:(OI)(CI)F` would, but on each object's
// own open handle: the tool, and the calls that set permissions by name, go
// on by name into a folder that a user may meanwhile have swapped for a
// junction, and carry the grant to wherever it leads.
#pragma once

#include <windows.h>

#include "runtime/memutil.h"
#include "targetguard/treewalk.h"

// The access an object must be open with to be granted on.
constexpr DWORD kGrantAccess = READ_CONTROL | WRITE_DAC;

// Grants on one object after another, its buffers kept from one to the next.
class UsersGrant {
 public:
  // Adds to the object's DACL an explicit entry that gives the Users group
  // full control, inherited by the folders and files made in it when it is
  // a folder (or a link to one), keeping every entry it has and whether it
  // inherits; sets it on that object alone, nothing propagated. An object
  // whose DACL already grants it (or a null DACL, which grants everyone
  // everything) is left as it is. A failure logs an error line naming the
  // object.
  HRESULT On(const WalkedObject& object);

 private:
  HeapArray<ULONGLONG> read_;     // the object's security descriptor
  HeapArray<ULONGLONG> granted_;  // its DACL with the grant
};

// Grants on the tree at `path` once the guard passed it: every folder and
// file below, and each link as the link itself, never what it leads to
// ("Not following the link '<link>': granted on the link itself"). A file
// with more than one name is left alone ("Leaving '<file>' alone: the file
// has <n> names"): its other names may be anywhere, and share its
// permissions. Ends with "Granted the Users group full control on <f>
// folders, <n> files and <l> links", or, after the failure's own line, the
// error "Failed to grant the Users group full control on '<path>'".
HRESULT GrantUsersFullControlOnTree(const char* path);
