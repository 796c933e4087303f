// The guard in front of every action that changes a folder tree or what is
// registered under one. A target names data that no package owns when it is
// not fully qualified (a current folder would complete it), is a volume root,
// lies on an administrative share, is a standard folder of the machine, of a
// user or of a profile (see standardfolders.h), or holds one, or, on the file
// system, is a link or runs through one (a link planted where a package's
// folder will be would turn the action on whatever it leads to). A folder
// inside a standard folder is where packages keep their data: allowed.
#pragma once

#include <windows.h>

// For a path the action works on in the file system: the parts that exist
// are decided by what they are (links, file identities), the part that does
// not by its normalised long spelling. Every reading of the narrow path must
// pass: in the ANSI code page (the shell's, the registry's and process
// creation's) and in the file queries' code page. S_OK for an empty path,
// which names nothing. A refusal logs an error line naming the path and
// answers E_INVALIDARG; a failure to examine answers its Result, logged.
//
// The check and the action's own calls are separate: a link planted between
// them is not seen.
HRESULT RefuseUnsafeTarget(const char* path);

// For a path prefix that is only a name (registered folders): decided by its
// normalised long spelling, in the ANSI code page, with no link walk.
HRESULT RefuseUnsafePrefix(const char* prefix);
