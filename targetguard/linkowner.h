// Who made a link decides whether the guard may follow it. A standard user
// can make a junction or symbolic link wherever they may write (in a folder
// a package opened to every user, say) and lead a system-account action to
// any folder; links that administrators make (ProgramData or the profiles
// moved to another disk, profile containers, mounted data disks) are part of
// the machine and lead where the machine's folders really are.
#pragma once

#include <windows.h>

enum class LinkTrust {
  kTrusted,    // owned by the Administrators group, the local system account or TrustedInstaller
  kUntrusted,  // owned by anybody else, or its owner cannot be read
};

// Judges the link at `path` (in the form the file calls take) by the owner
// of the link itself, not of what it leads to.
LinkTrust JudgeLink(const WCHAR* path);
