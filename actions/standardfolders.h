// The folders that belong to the machine, to its users and to its profiles
// rather than to any package, resolved where the action runs: the folders of
// the Installer's standard folder properties (per-user and all-users), the
// temporary folder, the current profile, the profiles folder and every
// profile in it, and in every profile the per-user folders at the place they
// have below the current profile.
#pragma once

#include <windows.h>

#include "runtime/strutil.h"

// What a file-system object is, whatever the path that reached it.
struct FileIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information);

class StandardFolders {
 public:
  // Gathers the folders once; a folder that cannot be resolved is left out
  // and nothing is logged about it. Fails only with E_OUTOFMEMORY, logged.
  HRESULT Gather();
  SIZE_T Count() const { return spellings_.Count(); }
  // The folder as the shell spells it, for log lines.
  const WCHAR* Spelling(SIZE_T folder) const { return spellings_[folder]; }
  // Whether a normalised long spelling names a standard folder (`*holds`
  // false) or an ancestor of one (`*holds` true, the nearest one named).
  bool FindByName(const WCHAR* spelled, SIZE_T length, SIZE_T* folder, bool* holds) const;

  // Opens every folder and every ancestor of one (links followed) once, and
  // keeps their identities. Folders that cannot be opened are left out.
  // Fails only with E_OUTOFMEMORY, logged.
  HRESULT GatherIdentities();
  SIZE_T IdentityCount() const { return identities_.Count(); }
  // Whether `identity` is a standard folder (`*holds` false) or an ancestor
  // of one (`*holds` true, the nearest one named), and which folder.
  bool Find(const FileIdentity& identity, SIZE_T* folder, bool* holds) const;

 private:
  struct KnownIdentity {
    FileIdentity identity;
    SIZE_T folder;
    bool holds;
  };

  // Adds a folder unless it is known already; `*folder` (when asked for) is
  // its place, or stays as it was when the spelling names no folder.
  HRESULT Add(const WCHAR* spelling, SIZE_T* folder);
  HRESULT AddProfiles(SIZE_T currentProfile);
  // The names of the profiles folder's subfolders, and of its links to folders.
  static HRESULT ListProfiles(const WCHAR* profiles, SIZE_T length, WideTextList* folders, WideTextList* links);
  // The per-user folders among the first `shellFolders`, moved from below
  // the current profile to below `profile`.
  HRESULT AddRebased(SIZE_T currentProfile, SIZE_T profile, SIZE_T shellFolders);
  // The folder that a normalised long spelling names, or SIZE_T(-1).
  SIZE_T FindSpelling(const WCHAR* normal, SIZE_T length) const;
  // The shortest folder that an ancestor holds; none when it holds a folder
  // before `first` too, or none at all.
  SIZE_T NearestHeld(const WCHAR* normal, SIZE_T length, SIZE_T first) const;
  HRESULT AddIdentity(const WCHAR* normal, SIZE_T length, SIZE_T folder, bool holds);

  bool gathered_ = false;
  bool identitiesGathered_ = false;
  WideTextList spellings_;
  WideTextList normals_;
  HeapArray<KnownIdentity> identities_;
};
