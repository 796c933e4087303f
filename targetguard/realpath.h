// Where a path really leads on the file system: its components looked at
// one by one from the root (links not followed by the look), so that a link
// on the way is seen, judged and, when it may be, resolved to the folder it
// leads to. The real path spells each existing component as the path does,
// except where a link (or the root, a substituted or mapped drive) led
// elsewhere: from there on it is the final path that the system gives.
#pragma once

#include <windows.h>

#include "runtime/memutil.h"
#include "runtime/strutil.h"
#include "targetguard/fileidentity.h"

enum class LinkRule {
  kFollowEvery,    // a standard folder is where its links lead
  kFollowTrusted,  // a target: a link that a standard user made or may change ends the walk
};

enum class WalkEnd {
  kWhole,                // every component exists
  kAbsent,               // from a component on, nothing exists
  kUnreadable,           // a component cannot be looked at for another reason than its absence
  kUntrustedLink,        // a component is a link that a standard user made or may change (kFollowTrusted only)
  kAdministrativeShare,  // the root or a link leads onto an administrative share (kFollowTrusted only)
};

// One component of a walk that exists, from the root on.
struct WalkStep {
  SIZE_T normalEnd;       // where it ends in the path walked
  SIZE_T realEnd;         // where the real path stood after it
  DWORD attributes;       // its own attributes (the root: none)
  FileIdentity identity;  // what it is (a link: what it leads to); kFollowEvery: its file ID
};

struct RealWalk {
  WalkEnd end = WalkEnd::kWhole;
  // The part that could be walked, its links resolved, then the rest as
  // spelled.
  WideText real;
  // kWhole: what the last component itself is (a link, not what it leads to).
  FileIdentity entry = {};
  // kWhole: the last component's own attributes (a link's, when it is one).
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  DWORD error = 0;       // kUnreadable: the Win32 error
  SIZE_T stoppedAt = 0;  // kUnreadable, kUntrustedLink: the end of that component in the path walked
  // The components that exist, each one's real path a prefix of `real`:
  // after a link, those from it on.
  HeapArray<WalkStep> steps;
  // kFollowTrusted: where each link followed was reached (its path, links
  // before it resolved), and where it ends in the path walked.
  WideTextList linksAt;
  HeapArray<SIZE_T> linkEnds;
};

class RealPaths {
 public:
  // Walks a normalised path (see normalpath.h). Consecutive walks of paths
  // that share leading components, with kFollowEvery, look at the shared
  // ones once. Logs nothing; fails only with E_OUTOFMEMORY.
  HRESULT Walk(const WCHAR* normal, SIZE_T length, LinkRule rule, RealWalk* walk);

  // The real path of a path's root followed by the rest as spelled, and the
  // file ID of what that names when it exists (`*exists`), by one look at
  // it: links below the root followed, none judged, no component walked.
  // Fails only with E_OUTOFMEMORY.
  HRESULT Resolve(const WCHAR* normal, SIZE_T length, WideText* real, FileIdentity* identity, bool* exists);

 private:
  struct Root {
    DWORD error;
    FileIdentity identity;
  };

  // The real path of a root (a substituted or mapped drive leads elsewhere),
  // each root resolved once; `root->error` when it cannot be.
  HRESULT ResolveRoot(const WCHAR* normal, SIZE_T rootLength, WideText* real, Root* root);
  // The steps of the last walk that `normal` shares; 0 when none.
  SIZE_T SharedSteps(const WCHAR* normal, SIZE_T length) const;
  HRESULT Remember(const WCHAR* normal, SIZE_T length, const RealWalk& walk);

  WideText query_;        // the verbatim form of the component being looked at
  WideText folderQuery_;  // the verbatim form of the folder holding it
  WideTextList rootSpellings_;
  WideTextList rootReals_;
  HeapArray<Root> roots_;
  WideText lastNormal_;
  WideText lastReal_;
  HeapArray<WalkStep> lastSteps_;
};
