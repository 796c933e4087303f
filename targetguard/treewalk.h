// Acting on a guarded target, and on everything below it, without being
// steered. The local system account must not go by name where a standard
// user can rename and swap folders while it works (holding an opportunistic
// lock on a file, a user learns the moment it comes by): the target is
// opened once, and acted on only when it is where the guard examined it;
// every object below is opened by its name relative to its folder's open
// handle, never by a path, so that a folder swapped for a junction after it
// was listed leads nowhere new. A name surrogate (junction, symbolic link,
// mount point) is acted on as the link itself and never entered; any other
// reparse point (a deduplicated or compressed file, a cloud placeholder) is
// the file or folder it is.
#pragma once

#include <windows.h>

#include "targetguard/targetguard.h"

enum class ObjectKind { kFolder, kFile, kLink };

// An object the walk reached, open for the visitor.
struct WalkedObject {
  HANDLE handle;      // with the walk's access, and never following a link
  const WCHAR* path;  // for log lines: the target's normalised path, then the names below it
  ObjectKind kind;
  DWORD attributes;
  DWORD names;  // the names of a file: more than one when it is also a hard link elsewhere
};

// What an action does to each object.
class TreeVisitor {
 public:
  // An object as it is reached: a folder before what it holds.
  virtual HRESULT Visit(const WalkedObject& object) = 0;
  // A folder once all it held was visited, for a visitor whose folders must
  // wait for that (a deletion); their handles stay open until then.
  virtual bool WaitsForFolders() const { return false; }
  virtual HRESULT Leave(const WalkedObject&) { return S_OK; }

 protected:
  ~TreeVisitor() = default;
};

enum class Reach {
  kTargetOnly,
  kWholeTree,  // the target and, breadth first, everything below it
};

// Opens the target that the guard passed (`path` is the argument it was
// given) with `access`, refuses it when it is no longer what the guard
// examined ("Refusing path '<path>': it changed while it was examined", as
// E_INVALIDARG), and hands it and, for kWholeTree, every object below it to
// the visitor. Breadth first: the folders waiting are held open, each listed
// through its handle, so that memory follows the folders waiting (and, for a
// visitor that waits for folders, the folders not yet left), never the
// depth. What is gone by the time it is reached is nothing to do. A failure
// of the walk's own logs an error line naming the object; the visitor logs
// its own.
HRESULT WalkTree(const char* path, const GuardedTarget& target, DWORD access, Reach reach, TreeVisitor* visitor);
