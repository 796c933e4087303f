// Who may change a link decides whether the guard may follow it. A standard
// user can make a junction or symbolic link wherever they may write (in a
// folder a package opened to every user, say) and lead a system-account
// action to any folder; and a link an administrator made is theirs to
// retarget wherever they may write to it (FSCTL_SET_REPARSE_POINT needs only
// write-data or write-attributes access to the link, and leaves its owner as
// it was) or may replace it in its folder. Links that only administrators,
// the system and TrustedInstaller can change (ProgramData or the profiles
// moved to another disk, profile containers, mounted data disks) are part of
// the machine and lead where the machine's folders really are.
#pragma once

#include <windows.h>

enum class LinkTrust {
  kTrusted,    // owned by the Administrators group, the local system account or TrustedInstaller, and
               // changeable by nobody else
  kUntrusted,  // anybody else made it or may change it, or that cannot be read
  kNotALink,   // a reparse point that names nothing else (deduplicated, compressed, a cloud placeholder)
};

// Judges the reparse point at `link` (in the form the file calls take) by the
// link itself, not by what it leads to: its reparse tag, its owner, and who
// else may retarget it (write data, write attributes, change its permissions
// or owner) or replace it (delete it, or delete it from `folder`, the folder
// holding it, and make another there).
LinkTrust JudgeLink(const WCHAR* link, const WCHAR* folder);
