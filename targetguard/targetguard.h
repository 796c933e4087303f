// The guard in front of every action that changes a folder tree or what is
// registered under one. A target names data that no package owns when it is
// not fully qualified (a current folder would complete it), is a volume root,
// lies on an administrative share, is a standard folder of the machine, of a
// user or of a profile (see standardfolders.h), or holds one, or, on the file
// system, runs through a link that a standard user made or may change (a
// link planted where a package's folder will be would turn the action on
// whatever it leads to; see linkowner.h). A folder inside a standard folder is where
// packages keep their data: allowed.
#pragma once

#include <windows.h>

#include "runtime/strutil.h"
#include "targetguard/fileidentity.h"

// What the guard passed, so that the action acts on that and on nothing a
// user put in its place meanwhile: the target as the file queries read it,
// normalised (see normalpath.h), what it is (a link itself, not what it
// leads to) and its attributes (INVALID_FILE_ATTRIBUTES when it does not
// exist).
struct GuardedTarget {
  WideText normal;
  FileIdentity identity = {};
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
};

// For a path the action works on in the file system: the parts that exist
// are walked component by component; a link that only an administrator, the
// system or TrustedInstaller made and can change is followed and what it
// leads to judged like any folder, any other link is refused (see
// linkowner.h). The target is then compared where it really is with where
// the standard folders really are. Every reading of the narrow path must
// pass: in the ANSI code page (the shell's, the registry's and process
// creation's) and in the file queries' code page, which `passed` describes.
// S_OK for an empty path, which names nothing. A refusal logs an error line
// naming the path and answers E_INVALIDARG; a failure answers its Result,
// logged.
HRESULT RefuseUnsafeTarget(const char* path, GuardedTarget* passed);

// For a path prefix that is only a name (registered folders): decided by its
// normalised long spelling, in the ANSI code page, against the standard
// folders' spellings, with no walk.
HRESULT RefuseUnsafePrefix(const char* prefix);
