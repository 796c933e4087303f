// The guard in front of every action that changes a folder tree or what is
// registered under one. A target names data that no package owns when it is
// not fully qualified (a current folder would complete it), is a volume root,
// lies on an administrative share, is a standard folder of the machine, of a
// user or of a profile (see standardfolders.h), or holds one, or, on the file
// system, runs through a link that a standard user made (a link planted
// where a package's folder will be would turn the action on whatever it
// leads to; see linkowner.h). A folder inside a standard folder is where
// packages keep their data: allowed.
#pragma once

#include <windows.h>

// For a path the action works on in the file system: the parts that exist
// are walked component by component; a link that an administrator, the
// system or TrustedInstaller made is followed and what it leads to judged
// like any folder, one that anybody else made is refused. The target is then
// compared where it really is with where the standard folders really are.
// Every reading of the narrow path must pass: in the ANSI code page (the
// shell's, the registry's and process creation's) and in the file queries'
// code page. S_OK for an empty path, which names nothing. A refusal logs an
// error line naming the path and answers E_INVALIDARG; a failure answers its
// Result, logged.
//
// The check and the action's own calls are separate: a link planted between
// them is not seen.
HRESULT RefuseUnsafeTarget(const char* path);

// For a path prefix that is only a name (registered folders): decided by its
// normalised long spelling, in the ANSI code page, against the standard
// folders' spellings, with no walk.
HRESULT RefuseUnsafePrefix(const char* prefix);

// For a tree that a tool will change recursively: refuses, naming it, the
// first link in the tree (the path as the ANSI code page reads it, the tool's
// reading) that a standard user made. Links that an administrator, the
// system or TrustedInstaller made are not followed: the tool is told to
// change the link itself. A folder in the tree that cannot be listed is
// refused too. The check and the tool are separate: a link planted between
// them is the tool's to leave alone.
HRESULT RefuseUntrustedLinksInTree(const char* path);
