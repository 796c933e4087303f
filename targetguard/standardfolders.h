// The folders that belong to the machine, to its users and to its profiles
// rather than to any package, resolved where the action runs:
// - the machine's folders: the Windows, system and temporary folders, the
//   program files and common files folders (the registry's values in both
//   views, the environment and the system's folder calls, all of them),
//   ProgramData with its common Start Menu and Templates, Public, and the
//   common shell folders that HKEY_LOCAL_MACHINE's User Shell Folders name;
// - the profiles: the profiles folder and every folder in it (decided by
//   place, never listed one by one), its links (what they lead to is a
//   profile too), and every ProfileList profile that lives elsewhere, with
//   ProfileList's Default and Public;
// - the known folders that each user hive loaded under HKEY_USERS names in
//   its User Shell Folders, spelled with that user's variables, each by one
//   look and named with the user; inside a machine folder only those that
//   user owns;
// - the per-user places, relative to any profile: the defaults of every
//   Windows (AppData, Documents, Downloads, Music, Saved Games, OneDrive, ...).
// A folder on a share is compared as spelled: nothing on the network is
// opened for it. A source that cannot be read is passed over; the others
// still count.
#pragma once

#include <windows.h>

#include "runtime/strutil.h"
#include "targetguard/fileidentity.h"
#include "targetguard/folderindex.h"
#include "targetguard/realpath.h"

enum class FolderKind {
  kStandard,
  kMachine,         // the Windows, program files and ProgramData folders: a user's hive claims nothing in them
  kProfilesFolder,  // every folder in it is a profile
  kProfile,         // a profile by itself: the places below it are per-user folders
};

// How the folders are indexed: where they really are on the file system
// (for a target that is acted on there), or as they are spelled (for a
// registered name, which is only compared).
enum class Comparison { kReal, kSpelling };

class StandardFolders {
 public:
  explicit StandardFolders(Comparison comparison) : comparison_(comparison) {}

  // Gathers and indexes the folders, once. Fails only with E_OUTOFMEMORY,
  // logged.
  HRESULT Gather(RealPaths* realPaths);

  // Keyed by real or spelled normalised paths (see Comparison).
  const FolderIndex& Folders() const { return folderIndex_; }
  // The profiles folder and the profiles, keyed by their normalised
  // spellings: a place below a profile as the target spells it.
  const FolderIndex& ProfilesAsSpelled() const { return spelledProfileIndex_; }
  // kReal: where each standard folder that exists, and each folder on its
  // way there, really is, by identity.
  IdentityIndex& Identities() { return identityIndex_; }
  FolderKind Kind(SIZE_T folder) const { return kinds_[folder]; }
  // The folder as its source spells it, for log lines.
  const WCHAR* Spelling(SIZE_T folder) const { return spellings_[folder]; }
  // The SID of the user whose hive named the folder, or null.
  const WCHAR* User(SIZE_T folder) const { return users_[folder] ? userSids_[users_[folder] - 1] : nullptr; }

  // Keyed by the places' paths relative to a profile ("AppData\Roaming").
  const FolderIndex& Places() const { return placeIndex_; }
  const WCHAR* Place(SIZE_T place) const { return places_[place]; }

 private:
  // Adds a folder as its source spells it; what is not a fully qualified
  // path below a root is passed over.
  HRESULT AddFolder(const WCHAR* spelling, FolderKind kind);
  HRESULT AddExpandedFolder(const WCHAR* unexpanded, FolderKind kind);
  // Keeps a folder by its spelling and its normalised long spelling.
  HRESULT Keep(const WCHAR* spelling, SIZE_T spellingLength, const WCHAR* normal, SIZE_T normalLength, FolderKind kind);

  HRESULT GatherMachineFolders();
  HRESULT GatherProgramFilesValues();
  HRESULT GatherProfileList();
  HRESULT GatherProfilesFolderLinks();
  HRESULT GatherMachineShellFolders();
  HRESULT GatherLoadedHives(RealPaths* realPaths);
  HRESULT GatherUserFolders(RealPaths* realPaths, const WCHAR* sid);
  // One known folder of the hive of user number `user` (1-based), expanded.
  HRESULT AddUserFolder(RealPaths* realPaths, const WCHAR* expanded, SIZE_T user);
  // Whether a hive's value names the default place of a per-user folder
  // ("%USERPROFILE%\Documents"), which every profile has already.
  bool IsDefaultPlace(const WCHAR* value) const;
  // Whether a key lies in (or is) a machine folder.
  bool InMachineFolder(const WCHAR* key, SIZE_T length) const;
  // Whether a normalised path names a folder right in the profiles folder.
  bool InProfilesFolder(const WCHAR* normal, SIZE_T length) const;
  // The same for a spelling that needs no resolving to say so.
  bool NamedPlainlyInProfilesFolder(const WCHAR* spelling) const;
  HRESULT IndexFolders(RealPaths* realPaths);
  // Indexes a folder kept last under `key` (a copy is kept).
  HRESULT IndexKept(const WCHAR* key, SIZE_T length);
  HRESULT IndexPlaces();

  const Comparison comparison_;
  bool gathered_ = false;
  WideTextList spellings_;
  WideTextList normals_;  // normalised long spellings
  WideTextList keys_;     // what the index compares: real paths or normals
  HeapArray<FolderKind> kinds_;
  HeapArray<SIZE_T> users_;  // per folder: 0, or the number of its user in userSids_ (1-based)
  WideTextList userSids_;
  SIZE_T profilesFolder_ = static_cast<SIZE_T>(-1);
  struct KeyRef {
    const WCHAR* key;
    SIZE_T length;
  };
  HeapArray<KeyRef> machineKeys_;
  FolderIndex folderIndex_;
  FolderIndex spelledProfileIndex_;
  IdentityIndex identityIndex_;
  WideTextList places_;
  FolderIndex placeIndex_;
};
