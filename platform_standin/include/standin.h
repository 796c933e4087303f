// Test controls of the host stand-in for the Windows platform. Tests use these
// to set up the machine the product sees, to make platform calls fail and to
// read back what the product did. Nothing here exists in the Windows build.
#pragma once

#include <msiquery.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// Puts every part of the stand-in back into its freshly started state.
void Reset();

// ---- Calls and failures ----------------------------------------------------

// Every stand-in platform call appends its name here, in call order.
const std::vector<std::string>& Calls();
int CallCount(const std::string& name);
void ClearCalls();
// Keeps calls and messages (on, the default after Reset) or not. Off, a log
// line costs the stand-in no allocation once a record has been made, so that
// a benchmark's allocation count is the product's own.
void SetRecording(bool on);

// Makes the named call fail with `error`: the first `skip` calls still work,
// then `times` calls fail (-1: every later call). What "fail" means follows
// the call's Windows contract: a registry call returns the error; a call that
// answers with a handle or a count returns 0 and leaves the error as the
// thread's last error. An error of 0 on RegOpenKeyExA/W means "report success
// but hand back no key".
void FailCall(const std::string& name, DWORD error, int skip = 0, int times = -1);

// ---- Windows Installer -----------------------------------------------------

struct Message {
  MSIHANDLE session = 0;  // 0 or unknown: the Installer answered -1
  int type = 0;
  std::vector<std::string> fields;  // field 0 first; integers in decimal
  std::string text;                 // the message as the Installer would show it
};

// A new session handle, with a database unless `withDatabase` is false.
MSIHANDLE NewSession(bool withDatabase = true);
void SetProperty(MSIHANDLE session, const std::string& name, const std::string& value);
void UnsetProperty(MSIHANDLE session, const std::string& name);
// The text of Installer error `number`; "[2]" in it is replaced by field 2.
void SetErrorText(int number, const std::string& text);

// Every message the product sent, in order.
const std::vector<Message>& Messages();
// The text of each information message (the log lines), in order.
std::vector<std::string> LogLines();
void ClearMessages();
// Answers for the next messages of one kind (INSTALLMESSAGE_INFO or
// INSTALLMESSAGE_ERROR), consumed one per message; 0 once exhausted.
void ScriptAnswers(int messageKind, const std::vector<int>& answers);

// Installer handles (records and databases) created and not yet closed.
int OpenInstallerHandles();

// ---- Registry ------------------------------------------------------------------

// Key paths are below HKEY_LOCAL_MACHINE, or below HKEY_USERS when they begin
// with "HKEY_USERS\\". Making a key makes the keys above it.

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

void CreateKey(const std::string& path);
bool KeyExists(const std::string& path);
void SetValue(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data);
void SetStringValue(const std::string& path, const std::string& name, const std::wstring& value, DWORD type = REG_SZ);
void SetDwordValue(const std::string& path, const std::string& name, DWORD value);
std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name);
// Value names of a key in enumeration order.
std::vector<std::string> ValueNames(const std::string& path);
int OpenRegistryKeys();
// An open that fails by FailCall still hands back an open key when the key
// exists: a contract breach that no documented call makes, for proving that
// the product trusts the answer and still closes the key.
void HandBackKeyWithFailedOpen(bool handBack);

// ---- Global atoms ----------------------------------------------------------

bool AtomExists(const std::wstring& name);
void AddAtom(const std::wstring& name);
// Removes the atom whatever its reference count.
void RemoveAtom(const std::wstring& name);

// ---- Process heap ----------------------------------------------------------

// Heap blocks allocated and not yet freed.
int LiveHeapBlocks();
// Heap allocations (HeapAlloc and moving HeapReAlloc) since the last Reset.
uint64_t HeapAllocations();
// The bytes a block held when it was last freed (HeapFree, GlobalFree, or
// the move of a HeapReAlloc), so that a test can see what was left behind.
const std::vector<BYTE>& LastFreedBlock();

// Allocation points: every HeapAlloc, HeapReAlloc and GlobalAlloc call counts
// as one, whether or not it could be served. FailAllocation(n) makes the n-th
// point from now fail as Windows fails it (null; GlobalAlloc also sets the
// last error ERROR_NOT_ENOUGH_MEMORY, the heap calls leave it); 0 makes none
// fail. AllocationPoints() counts the
// points since the last FailAllocation (or Reset).
void FailAllocation(uint64_t nth);
uint64_t AllocationPoints();
// For a test binary's global operator new, so that nothing the product
// allocates can hide there: while counting is on (CountOperatorNew, off after
// Reset) an allocation made outside the stand-in's own calls counts as an
// allocation point, and the answer says whether it may be served.
bool AllowOperatorNew();
void CountOperatorNew(bool on);
// What every byte of a block holds until written when Windows leaves it
// undefined (HeapAlloc and GlobalAlloc without zeroing, the growth of a
// HeapReAlloc without HEAP_ZERO_MEMORY): never 0, so that reading such a
// block as if it were zeroed shows.
constexpr BYTE kUnsetHeapByte = 0xBE;

// ---- Module file and version information -----------------------------------

// The handle the loader gives the DLL (what DllMain receives). The module
// file name calls answer for it with the DLL's path, for a null handle with
// the host process's path, and fail with ERROR_MOD_NOT_FOUND for any other.
HINSTANCE DllModule();
// The DLL's file path; set to an empty string for the default.
void SetModulePath(const std::wstring& path);
// The file version words, or no version resource at all.
void SetModuleVersion(DWORD mostSignificant, DWORD leastSignificant);
void RemoveModuleVersion();
// A version resource whose root holds no fixed file information: the query
// of the root succeeds with a length of 0.
void RemoveModuleFixedInfo();

// ---- Code pages ------------------------------------------------------------

void SetFileApisAnsi(bool ansi);
// The system's ANSI and OEM code pages (1252 and 437 after Reset; 932 for
// both on a Japanese system). Registry names keep the bytes they were made
// with: set the code pages before making values.
void SetSystemCodePages(UINT ansi, UINT oem);
// Narrow text in the system's ANSI code page as wide text, as the narrow
// calls read it; nothing when it is not valid there. Records no call.
std::optional<std::wstring> AnsiToWide(const std::string& text);
// The same with each byte that begins no character read as the code page's
// default character, as the narrow calls read it.
std::wstring AnsiToWideLeniently(const std::string& text);

// ---- File system ------------------------------------------------------------

// Maps Windows paths onto `hostFolder`: "X:\a\b" is <hostFolder>/X/a/b,
// "\\server\share\a" is <hostFolder>/UNC/server/share/a. A path is first
// resolved as GetFullPathNameW resolves it (a relative path starts in
// C:\Windows\system32, the Installer's current folder); a "\\?\" path is
// taken as it is. Without a sandbox no path exists.
void SetSandbox(const std::string& hostFolder);
std::optional<std::string> HostPath(const std::string& windowsPath);
std::optional<std::string> HostPath(const std::wstring& windowsPath);

// Entries are found as Windows finds them: a name matches an entry whatever
// its letter case, and an entry whose name is not a valid 8.3 name also
// answers to the short name NTFS would give it (the first six characters,
// "~" and a number counting the entries that share them in order of their
// names, and up to three characters of extension: "Program Files" and
// "Program Files (x86)" are PROGRA~1 and PROGRA~2). Host symbolic links are
// the reparse points (junctions, links) of the Windows side, and an entry's
// identity is its host device and inode.
//
// The 8.3 name of an existing entry's last component, or nothing.
std::optional<std::wstring> ShortName(const std::wstring& windowsPath);

// ---- Machine folders, environment and profiles ------------------------------

// The account the action runs as: the installing user "installer" (profile
// C:\Users\installer, the default) or the local system account (profile
// C:\Windows\system32\config\systemprofile, temporary folder C:\Windows\Temp).
// Its environment (USERPROFILE, TEMP, ...) and GetTempPathW follow it; the
// system folder calls answer C:\Windows, C:\Windows\system32 and
// C:\Windows\SysWOW64 whatever the account.
enum class Account { kInstaller, kLocalSystem };
void SetAccount(Account account);
// Sets (a value) or unsets (nothing) a variable of the account's environment.
void SetEnvironment(const std::wstring& name, std::optional<std::wstring> value);

extern const char* const kProfileListKey;
extern const char* const kMachineShellFoldersKey;
extern const char* const kInstallerSid;
// The other user of the laid-out machine, ann (C:\\Users\\ann).
extern const char* const kAnnSid;
// The User Shell Folders key of a hive loaded under HKEY_USERS.
std::string UserShellFoldersKey(const std::string& sid);
// Registers a profile in ProfileList (its ProfileImagePath, REG_EXPAND_SZ, as
// given) and, with `layOut`, makes its folder with every per-user folder.
void AddProfile(const std::string& sid, const std::wstring& imagePath, bool layOut = true);
// Lays out in the sandbox and the registry what a default 64-bit Windows
// has: the machine's folders and common shell folders, the profiles
// installer, ann, Public and Default with every per-user folder, the system
// account's profile, ProfileList with the accounts' entries and its own
// values, the hives of the system account (also as .DEFAULT) and of the
// installing user, and the links "C:\Users\All Users" -> C:\ProgramData,
// "C:\Users\Default User" -> Default and "C:\Documents and Settings" ->
// C:\Users, owned by the system account; and the permissions a default
// Windows gives C:\Users, the profiles, ProgramData, the Windows and program
// files folders and those links.
void LayOutProfiles();

// Who owns a file-system object, as its security descriptor says. A link
// that a test makes is the installing user's (a standard user) unless it is
// given another owner; every other object is the Administrators group's.
enum class Owner { kAdministrators, kSystem, kTrustedInstaller, kInstallingUser, kUnreadable };
// Sets the owner of the entry itself (a link, not what it leads to).
void SetOwner(const std::string& windowsPath, Owner owner);

// A drive ("W:") or a share ("\\\\localhost\\C$") that leads to a folder
// (or to another such root) on this machine: its files are that folder's,
// with the same identity. How the system gives the final path of what is
// reached through it:
enum class Alias {
  kLeads,      // where it leads: a substituted drive, a drive mapped onto a share
  kKeepsRoot,  // below the alias's own root: a share, a drive letter of wine's
};
void AliasRoot(const std::string& root, const std::string& windowsTarget, Alias kind);

// ---- Permissions -------------------------------------------------------------
//
// Every entry has a security descriptor, kept by its identity (so that the
// names of a file share one): an owner and a DACL of explicit entries, then
// the entries it inherits, as Windows computes them when an object is made
// (what the folder holding it passes on to a folder or a file, CREATOR OWNER
// made the owner). A drive's or share's root has the DACL a default Windows
// gives C:\ (SYSTEM and Administrators full control, Users read and
// execute, Authenticated Users may add folders to the root and modify what
// is made below it). Setting an object's DACL (SetKernelObjectSecurity)
// changes that object alone: what a folder already holds keeps what it had,
// and only what is made in it later inherits the new entries.

// Well-known SIDs, in their string form.
extern const char* const kSystemSid;              // S-1-5-18
extern const char* const kAdministratorsSid;      // S-1-5-32-544
extern const char* const kUsersSid;               // S-1-5-32-545
extern const char* const kAuthenticatedUsersSid;  // S-1-5-11
extern const char* const kEveryoneSid;            // S-1-1-0
extern const char* const kCreatorOwnerSid;        // S-1-3-0
extern const char* const kTrustedInstallerSid;    // S-1-5-80-956008885-...

// An access-control entry: its type, inheritance flags, access mask and SID.
struct Ace {
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  DWORD mask = 0;
  std::string sid;
  bool operator==(const Ace& other) const {
    return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
  }
};
// The rights icacls names R (read and execute), M (modify) and F (full).
constexpr DWORD kReadAndExecute = 0x001200A9;
constexpr DWORD kModify = 0x001301BF;
constexpr DWORD kFullControl = FILE_ALL_ACCESS;

// Gives the entry itself explicit entries; `protect` stops inheritance.
void SetDacl(const std::string& windowsPath, const std::vector<Ace>& explicitEntries, bool protect = false);
// The entry's DACL as the product reads it: explicit entries, then inherited
// ones. Nothing for an entry that does not exist or has a null DACL.
std::optional<std::vector<Ace>> Dacl(const std::string& windowsPath);
// Gives the entry a null DACL: full access for everyone.
void SetNullDacl(const std::string& windowsPath);
// What a standard user may do to a link as Windows checks it: retarget it
// (FSCTL_SET_REPARSE_POINT needs write-data or write-attributes access to
// the link) as the installing user, a member of Users, Authenticated Users
// and Everyone. True when it was retargeted.
bool RetargetLinkAsUser(const std::string& windowsLink, const std::string& windowsTarget);
// Whether the standard user `user` (a SID) may change the link as Windows
// checks access: retarget it or re-permission it, or delete it (from its
// folder) and make another in its place.
bool UserMayChangeLink(const std::string& windowsLink, const std::string& user);

// ---- Reparse points, names and swaps ------------------------------------------

// Host symbolic links are the name surrogates of the Windows side: a
// junction (IO_REPARSE_TAG_MOUNT_POINT) when it leads to a folder, else a
// symbolic link. This marks a plain file or folder as a reparse point that is
// no surrogate (deduplicated, compressed by the system, a cloud placeholder):
// it carries FILE_ATTRIBUTE_REPARSE_POINT and `tag`, and is what it is.
void SetReparseTag(const std::string& windowsPath, DWORD tag);
// A file's names are its host hard links (NumberOfLinks). An entry whose
// host mode lacks the owner's write bit is read-only
// (FILE_ATTRIBUTE_READONLY), and Windows deletes no read-only file.
//
// A standard user's opportunistic lock on an entry: the first open of it
// that asks for more than its attributes (data, writing, deleting, its
// permissions) breaks it, and `onBreak`, what the user does on learning that
// the open comes, runs before the open goes on.
void HoldOpportunisticLock(const std::string& windowsPath, std::function<void()> onBreak);
// What such a user does then: renames the folder away (to "<name>.moved")
// and puts a link of their own to `windowsTarget` in its place.
void SwapForLink(const std::string& windowsFolder, const std::string& windowsTarget);

// Makes every file call on paths below a root ("\\\\server\\share",
// "E:") fail with `error`: 53 for a server that does not answer, 67 for a
// share it does not have, 21 for a drive without media.
void SetUnreachable(const std::string& windowsRoot, DWORD error);
// The file calls that reached an unreachable root since the last Reset.
int UnreachableAttempts();

// Locks an entry as another process holding it open does, sharing
// `shared` (by default reading and writing, not deleting): the next
// `failingOpens` opens of it (-1: all) that ask for an access it does not
// share (read or list, write, delete) fail with ERROR_SHARING_VIOLATION.
void LockEntry(const std::string& windowsPath, int failingOpens = -1,
               DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE);

// ---- C runtime ---------------------------------------------------------------

// The code page of the C runtime's current locale (0 until set).
void SetCrtCodePage(unsigned int codePage);

// ---- Kernel handles, processes and files ------------------------------------

// Process, thread, file and listing handles opened and not yet closed.
int OpenKernelHandles();

// One CreateProcessA call that got past its injected failure, as the product
// made it.
struct ProcessStart {
  std::string commandLine;
  bool hasApplicationName = false;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  bool hasEnvironment = false;
  bool hasCurrentDirectory = false;
  DWORD startupSize = 0;
  DWORD startupFlags = 0;
  WORD showWindow = 0;
  bool hasStandardHandles = false;
  DWORD processId = 0;  // 0 when no process was started
};
const std::vector<ProcessStart>& ProcessStarts();
// The time-out of every WaitForSingleObject call, in order.
const std::vector<DWORD>& WaitRequests();
// Waits at most `milliseconds` of real time, whatever time-out was asked
// for, so that a test can reach the time-out of a long wait.
void CapWaits(DWORD milliseconds);
// Whether a started child is still running (a child that ended is reaped).
bool ProcessRunning(DWORD processId);
// Kills and reaps every started child that is still running.
void EndStartedProcesses();

// Runs `action` when the named call is entered for the (skip + 1)-th time
// from now, before the call does its work; e.g. to change the sandbox
// between two steps of an action.
void BeforeCall(const std::string& name, std::function<void()> action, int skip = 0);

}  // namespace standin
