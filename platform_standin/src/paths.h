// Windows paths as the system reads them, shared by the sandbox mapping and
// the stand-in's path calls.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace standin {

// A fully resolved Windows path, in UTF-8: a drive ("C") or a UNC root
// (server and share) and its components.
struct WindowsPath {
  bool verbatim = false;  // given as "\\?\..."
  std::string drive;      // empty for a UNC path
  std::string server;
  std::string share;
  std::vector<std::string> components;
  bool trailingSeparator = false;
};

// Resolves a path as GetFullPathNameW does: relative paths against
// C:\Windows\system32, separators, "." and "..", a single trailing period of
// a segment, trailing periods and spaces at the end. A "\\?\" path is taken
// as it is; nothing for one with "." or ".." in it, for a device path and
// for an empty one.
std::optional<WindowsPath> ResolveWindowsPath(const std::string& path);
// "C:\a\b", "\\server\share\a", with the trailing separator if it had one,
// and "\\?\" ("\\?\UNC\") in front of a verbatim one when `withPrefix` is set.
std::string FormatWindowsPath(const WindowsPath& path, bool withPrefix);

// The host folder of the path's root.
std::optional<std::string> HostRoot(const WindowsPath& path);
// The host entry of a name in a host folder, found as Windows finds it
// (letter case, short names); the name as it is when nothing answers to it.
std::string FindEntry(const std::string& hostFolder, const std::string& name);
// The 8.3 name of an entry of a host folder (the entry's name when it is one).
std::string ShortNameIn(const std::string& hostFolder, const std::string& name);

// The final path (Windows, UTF-8) of what was opened as `openedAs` and
// really is at `real`: an alias root that keeps its name (AliasRoot) stands
// in front of what lies below where it leads.
std::string PresentedFinalPath(const std::string& openedAs, const std::string& real);

std::wstring WideFromUtf8(const std::string& text);
// Windows' ordinal case-insensitive comparison: both upper-cased.
wchar_t UpperCase(wchar_t c);

}  // namespace standin
