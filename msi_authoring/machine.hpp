// Machine state that the engine tests and the demonstration arrange and
// inspect: registry values under HKEY_LOCAL_MACHINE, folders and files, and
// global atoms.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvel::authoring {

// Registry locations under HKEY_LOCAL_MACHINE that the actions and the
// Installer work on.
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kFoldersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr const char* kPolicyKey = "Software\\Policies\\Microsoft\\Windows\\Installer";
constexpr const char* kProfileListKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// How long an installation or uninstallation is given.
constexpr unsigned long kInstallerTimeoutMs = 120000;

}  // namespace quorvel::authoring

namespace quorvel::authoring::machine {

// Registry, 64-bit view of HKEY_LOCAL_MACHINE.
bool createKey(const std::string& path);
bool deleteKeyTree(const std::string& path);
bool keyExists(const std::string& path);
bool setString(const std::string& path, const std::string& name, const std::string& value);
bool setDword(const std::string& path, const std::string& name, DWORD value);
std::optional<DWORD> readDword(const std::string& path, const std::string& name);
std::optional<DWORD> valueType(const std::string& path, const std::string& name);
bool deleteValue(const std::string& path, const std::string& name);
std::vector<std::string> valueNames(const std::string& path);
// The length of the key's longest value name as RegQueryInfoKeyA answers it
// (in UTF-16 units on Windows, whatever the code page).
std::optional<DWORD> longestValueNameChars(const std::string& path);

// File system. Narrow paths are text of the ANSI code page; the wide forms
// serve names that the code page cannot spell.
bool createFolders(const std::string& path);
bool createFolders(const std::wstring& path);
bool writeFile(const std::string& path, const std::string& content);
std::optional<std::string> readFile(const std::string& path);
bool exists(const std::string& path);
bool exists(const std::wstring& path);
void removeTree(const std::string& path);

// Installer products: whether the product with this braced code is
// installed on the machine.
bool productInstalled(const std::string& productCode);

// Processes: runs a command line and waits at most timeoutMs for it. Answers
// its exit code, or the error that kept it from starting, or WAIT_TIMEOUT.
DWORD runAndWait(const std::string& commandLine, DWORD timeoutMs);

// Global atoms.
bool atomExists(const wchar_t* name);
void addAtom(const wchar_t* name);
void deleteAtom(const wchar_t* name);  // drops every reference

}  // namespace quorvel::authoring::machine
