// Windows paths on the host: drive-letter and UNC paths map onto a folder of
// the test's choosing, so that tests use the same paths as on Windows, and
// resolve there as Windows resolves them (letter case, short names).
#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <cctype>
#include <standin.h>

#include "entries.h"
#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

std::string sandbox;
std::string realSandbox;                        // the sandbox's own path with every host link resolved
std::map<std::string, DWORD> unreachableRoots;  // folded Windows root -> error
int unreachableAttempts = 0;
struct AliasTarget {
  std::string root;    // the alias's own root as spelled ("W:", "\\localhost\C$")
  std::string target;  // the Windows path it leads to
  Alias kind;
};
std::map<std::string, AliasTarget> aliases;  // folded Windows root -> where it leads
const std::vector<std::string> kCurrentFolder = {"Windows", "system32"};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::vector<std::string> Split(const std::string& text, bool backslashOnly) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (backslashOnly ? c == '\\' : IsSeparator(c)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && FoldCase(text.substr(0, prefix.size())) == FoldCase(prefix);
}

std::optional<WindowsPath> ResolveVerbatim(const std::string& rest, bool trailing) {
  // Taken as it is: an empty component (two separators) names nothing.
  const size_t doubled = rest.find("\\\\");
  if (doubled != std::string::npos && doubled + 2 < rest.size()) return std::nullopt;
  WindowsPath path;
  path.verbatim = true;
  path.trailingSeparator = trailing;
  std::vector<std::string> parts;
  if (StartsWithIgnoringCase(rest, "UNC\\")) {
    parts = Split(rest.substr(4), true);
    if (parts.size() < 2) return std::nullopt;
    path.server = parts[0];
    path.share = parts[1];
    parts.erase(parts.begin(), parts.begin() + 2);
  } else if (rest.size() >= 2 && IsLetter(rest[0]) && rest[1] == ':' && (rest.size() == 2 || rest[2] == '\\')) {
    path.drive = rest.substr(0, 1);
    parts = Split(rest.substr(2), true);
  } else {
    return std::nullopt;
  }
  for (const std::string& part : parts) {
    // Names, not steps, in a verbatim path: no entry can have them.
    if (part == "." || part == ".." || part.find('/') != std::string::npos) return std::nullopt;
  }
  path.components = parts;
  return path;
}

// The documented normalisation of one segment list, appended to `out`.
void AppendNormalised(const std::vector<std::string>& segments, std::vector<std::string>* out) {
  for (std::string segment : segments) {
    if (segment == ".") continue;
    if (segment == "..") {
      if (!out->empty()) out->pop_back();
      continue;
    }
    // A single trailing period goes; "..." and "a.." are names.
    if (segment.size() >= 2 && segment.back() == '.' && segment[segment.size() - 2] != '.') segment.pop_back();
    out->push_back(segment);
  }
}

}  // namespace

std::optional<WindowsPath> ResolveWindowsPath(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const bool trailing = IsSeparator(text.back());
  if (text.rfind("\\\\?\\", 0) == 0) return ResolveVerbatim(text.substr(4), trailing);
  if (text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) && (text[2] == '.' || text[2] == '?') &&
      IsSeparator(text[3])) {
    return std::nullopt;  // a device path
  }

  WindowsPath path;
  path.trailingSeparator = trailing;
  std::vector<std::string> segments;
  if (IsSeparator(text[0]) && IsSeparator(text[1])) {
    std::vector<std::string> parts = Split(text.substr(2), false);
    if (parts.size() < 2) return std::nullopt;
    path.server = parts[0];
    path.share = parts[1];
    segments.assign(parts.begin() + 2, parts.end());
  } else if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
    path.drive = text.substr(0, 1);
    // A drive-relative path starts in the drive's current folder: the
    // Installer's on C:, the root elsewhere.
    if (text.size() == 2 || !IsSeparator(text[2])) {
      if (path.drive == "C" || path.drive == "c") path.components = kCurrentFolder;
    }
    segments = Split(text.substr(2), false);
  } else {
    path.drive = "C";
    if (!IsSeparator(text[0])) path.components = kCurrentFolder;
    segments = Split(text, false);
  }
  AppendNormalised(segments, &path.components);
  if (!trailing && !path.components.empty()) {
    std::string& last = path.components.back();
    while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
    if (last.empty()) path.components.pop_back();
  }
  return path;
}

std::string FormatWindowsPath(const WindowsPath& path, bool withPrefix) {
  std::string text;
  const bool unc = path.drive.empty();
  if (withPrefix && path.verbatim) text = unc ? "\\\\?\\UNC\\" : "\\\\?\\";
  if (unc) {
    text += (text.empty() ? "\\\\" : "") + path.server + "\\" + path.share;
  } else {
    text += path.drive + ":";
  }
  for (const std::string& component : path.components) text += "\\" + component;
  if (path.trailingSeparator || (!unc && path.components.empty())) text += "\\";
  return text;
}

namespace {

// "C:" or "\\\\server\\share", folded, for a resolved path.
std::string RootKey(const WindowsPath& path) {
  return FoldCase(path.drive.empty() ? "\\\\" + path.server + "\\" + path.share : path.drive + ":");
}

}  // namespace

std::optional<std::string> HostRoot(const WindowsPath& path) {
  if (sandbox.empty()) return std::nullopt;
  const auto alias = aliases.find(RootKey(path));
  if (alias != aliases.end()) {
    std::optional<std::string> host = HostPath(alias->second.target);
    while (host && host->size() > 1 && host->back() == '/') host->pop_back();
    return host;
  }
  if (!path.drive.empty())
    return sandbox + "/" + static_cast<char>(std::toupper(static_cast<unsigned char>(path.drive[0])));
  const std::string servers = sandbox + "/UNC";
  const std::string server = servers + "/" + FindEntry(servers, path.server);
  return server + "/" + FindEntry(server, path.share);
}

wchar_t UpperCase(wchar_t c) {
  // Windows upper-cases with its own table; the host's full Unicode one is
  // the closest at hand.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return unicode ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), unicode))
                 : static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
}

namespace {

bool SameIgnoringCase(const std::string& first, const std::string& second) {
  const std::wstring a = WideFromUtf8(first);
  const std::wstring b = WideFromUtf8(second);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperCase(a[i]) != UpperCase(b[i])) return false;
  }
  return true;
}

std::vector<std::string> Entries(const std::string& hostFolder) {
  std::vector<std::string> names;
  DIR* listing = opendir(hostFolder.c_str());
  if (!listing) return names;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(listing);
  return names;
}

bool IsShortNameCharacter(wchar_t c) {
  if (c >= 0x80) return false;
  if (std::isalnum(static_cast<int>(c))) return true;
  return std::wstring(L"!#$%&'()-@^_`{}~").find(c) != std::wstring::npos;
}

bool IsValidShortName(const std::string& name) {
  const std::wstring wide = WideFromUtf8(name);
  const size_t dot = wide.find(L'.');
  const std::wstring base = wide.substr(0, dot);
  const std::wstring extension = dot == std::wstring::npos ? L"" : wide.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != std::wstring::npos && extension.empty()) return false;
  for (wchar_t c : base + extension) {
    if (!IsShortNameCharacter(c)) return false;
  }
  return true;
}

// Upper-cased, spaces and periods dropped, other characters that a short
// name cannot hold made "_", at most `most` characters.
std::string ShortPart(const std::wstring& part, size_t most) {
  std::string out;
  for (wchar_t c : part) {
    if (out.size() == most) break;
    if (c == L' ' || c == L'.') continue;
    out += IsShortNameCharacter(c) ? static_cast<char>(std::toupper(static_cast<int>(c))) : '_';
  }
  return out;
}

// The base (six characters) and extension of the short name NTFS makes.
std::pair<std::string, std::string> ShortStem(const std::string& name) {
  const std::wstring wide = WideFromUtf8(name);
  const size_t dot = wide.rfind(L'.');
  const bool hasExtension = dot != std::wstring::npos && dot > 0;
  return {ShortPart(hasExtension ? wide.substr(0, dot) : wide, 6),
          hasExtension ? ShortPart(wide.substr(dot + 1), 3) : std::string()};
}

}  // namespace

std::string ShortNameIn(const std::string& hostFolder, const std::string& name) {
  if (IsValidShortName(name)) return name;
  const auto stem = ShortStem(name);
  // The entries that would share the name, numbered in order of their names.
  std::vector<std::string> sharing;
  for (const std::string& entry : Entries(hostFolder)) {
    if (!IsValidShortName(entry) && ShortStem(entry) == stem) sharing.push_back(entry);
  }
  std::sort(sharing.begin(), sharing.end(), [](const std::string& a, const std::string& b) {
    std::wstring x = WideFromUtf8(a), y = WideFromUtf8(b);
    for (wchar_t& c : x) c = UpperCase(c);
    for (wchar_t& c : y) c = UpperCase(c);
    return x < y;
  });
  const size_t number = std::find(sharing.begin(), sharing.end(), name) - sharing.begin() + 1;
  return stem.first + "~" + std::to_string(number) + (stem.second.empty() ? "" : "." + stem.second);
}

std::string FindEntry(const std::string& hostFolder, const std::string& name) {
  struct stat status;
  if (lstat((hostFolder + "/" + name).c_str(), &status) == 0) return name;
  const std::vector<std::string> entries = Entries(hostFolder);
  for (const std::string& entry : entries) {
    if (SameIgnoringCase(entry, name)) return entry;
  }
  if (name.find('~') == std::string::npos) return name;
  for (const std::string& entry : entries) {
    if (SameIgnoringCase(ShortNameIn(hostFolder, entry), name)) return entry;
  }
  return name;
}

// Bytes that are no UTF-8 come through as the characters of their values.
std::wstring WideFromUtf8(const std::string& text) {
  std::wstring wide;
  for (size_t at = 0; at < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = at + length <= text.size();
    for (size_t i = 1; valid && i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text[at + i]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      wide += static_cast<wchar_t>(lead);
      ++at;
      continue;
    }
    wide += static_cast<wchar_t>(code);
    at += length;
  }
  return wide;
}

void ResetSandbox() {
  sandbox.clear();
  realSandbox.clear();
  unreachableRoots.clear();
  unreachableAttempts = 0;
  aliases.clear();
}

void AliasRoot(const std::string& root, const std::string& windowsTarget, Alias kind) {
  if (auto path = ResolveWindowsPath(root)) {
    std::string spelled = FormatWindowsPath(*path, false);
    if (spelled.back() == '\\') spelled.pop_back();
    aliases[RootKey(*path)] = AliasTarget{spelled, windowsTarget, kind};
  }
}

std::string PresentedFinalPath(const std::string& openedAs, const std::string& real) {
  const std::optional<WindowsPath> opened = ResolveWindowsPath(openedAs);
  const auto alias = opened ? aliases.find(RootKey(*opened)) : aliases.end();
  if (alias == aliases.end()) return real;
  const std::string inner = PresentedFinalPath(alias->second.target, real);
  if (alias->second.kind == Alias::kLeads) return inner;
  // Below where the alias leads, the alias's own root stands in front.
  const std::optional<std::string> targetHost = HostPath(alias->second.target);
  std::optional<std::string> target = targetHost ? WindowsPathOfHost(*targetHost) : std::nullopt;
  if (!target) return inner;
  if (target->back() == '\\') target->pop_back();
  if (FoldCase(real.substr(0, target->size())) != FoldCase(*target) ||
      (real.size() > target->size() && real[target->size()] != '\\')) {
    return inner;  // a link led out of it
  }
  return alias->second.root + (real.size() > target->size() ? real.substr(target->size()) : "\\");
}

void SetSandbox(const std::string& hostFolder) {
  sandbox = hostFolder;
  char* real = realpath(hostFolder.c_str(), nullptr);
  realSandbox = real ? real : hostFolder;
  std::free(real);
}

void SetUnreachable(const std::string& windowsRoot, DWORD error) {
  if (auto path = ResolveWindowsPath(windowsRoot)) unreachableRoots[RootKey(*path)] = error;
}

std::optional<DWORD> UnreachableError(const std::string& windowsPath) {
  const std::optional<WindowsPath> path = ResolveWindowsPath(windowsPath);
  if (!path) return std::nullopt;
  auto found = unreachableRoots.find(RootKey(*path));
  if (found == unreachableRoots.end()) return std::nullopt;
  ++unreachableAttempts;
  return found->second;
}

int UnreachableAttempts() { return unreachableAttempts; }

bool IsSandboxRoot(const std::string& realHostPath) {
  if (realSandbox.empty() || realHostPath.compare(0, realSandbox.size() + 1, realSandbox + "/") != 0) return false;
  const std::vector<std::string> parts = Split(realHostPath.substr(realSandbox.size() + 1), false);
  return (parts.size() == 1 && parts[0].size() == 1 && IsLetter(parts[0][0])) ||
         (parts.size() == 3 && parts[0] == "UNC");
}

std::optional<std::string> WindowsPathOfHost(const std::string& hostPath) {
  if (realSandbox.empty()) return std::nullopt;
  char* resolved = realpath(hostPath.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  const std::string real = resolved;
  std::free(resolved);
  if (real.size() <= realSandbox.size() + 1 || real.compare(0, realSandbox.size(), realSandbox) != 0 ||
      real[realSandbox.size()] != '/') {
    return std::nullopt;
  }
  const std::vector<std::string> parts = Split(real.substr(realSandbox.size() + 1), false);
  WindowsPath path;
  size_t first = 1;
  if (parts[0] == "UNC") {
    if (parts.size() < 3) return std::nullopt;
    path.server = parts[1];
    path.share = parts[2];
    first = 3;
  } else if (parts[0].size() == 1 && IsLetter(parts[0][0])) {
    path.drive = parts[0];
  } else {
    return std::nullopt;
  }
  path.components.assign(parts.begin() + static_cast<std::ptrdiff_t>(first), parts.end());
  return FormatWindowsPath(path, false);
}

namespace {

// The entry that "<name><stream>" opens: NTFS opens a folder itself by its
// index stream ("::$INDEX_ALLOCATION", ":$I30:$INDEX_ALLOCATION") and a file
// by its unnamed data stream ("::$DATA"); no entry has another stream here.
std::string StreamEntry(const std::string& hostFolder, const std::string& name, const std::string& stream) {
  const std::string entry = FindEntry(hostFolder, name);
  const std::string folded = FoldCase(stream);
  struct stat status;
  const bool found = stat((hostFolder + "/" + entry).c_str(), &status) == 0;
  if (found && S_ISDIR(status.st_mode) && (folded == "::$index_allocation" || folded == ":$i30:$index_allocation")) {
    return entry;
  }
  if (found && S_ISREG(status.st_mode) && folded == "::$data") return entry;
  return entry + stream;
}

}  // namespace

std::optional<std::string> HostPath(const std::string& windowsPath) {
  if (sandbox.empty()) return std::nullopt;
  const std::optional<WindowsPath> path = ResolveWindowsPath(windowsPath);
  if (!path) return std::nullopt;
  std::optional<std::string> host = HostRoot(*path);
  if (!host) return std::nullopt;
  for (size_t i = 0; i < path->components.size(); ++i) {
    const std::string& component = path->components[i];
    const size_t colon = component.find(':');
    if (colon == std::string::npos || i + 1 < path->components.size()) {
      *host += "/" + FindEntry(*host, component);
    } else {
      *host += "/" + StreamEntry(*host, component.substr(0, colon), component.substr(colon));
    }
  }
  if (path->trailingSeparator || path->components.empty()) *host += "/";
  return host;
}

std::optional<std::string> HostPath(const std::wstring& windowsPath) { return HostPath(Utf8(windowsPath)); }

std::optional<std::wstring> ShortName(const std::wstring& windowsPath) {
  const std::optional<std::string> host = HostPath(windowsPath);
  struct stat status;
  if (!host || lstat(host->c_str(), &status) != 0) return std::nullopt;
  std::string entry = *host;
  while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
  const size_t slash = entry.rfind('/');
  return WideFromUtf8(ShortNameIn(entry.substr(0, slash), entry.substr(slash + 1)));
}

}  // namespace standin
