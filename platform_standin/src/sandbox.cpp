// Windows paths on the host: drive-letter and UNC paths map onto a folder of
// the test's choosing, so that tests use the same paths as on Windows.
#include <cctype>
#include <vector>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

std::string sandbox;
const char* const kCurrentFolder = "C:\\Windows\\system32";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Appends the components of `rest`, resolving "." and ".." as Windows does
// (".." stops at the root), so that no path leads out of the sandbox. A
// verbatim path keeps them as names, which no host entry can have: nothing.
std::optional<std::string> Join(std::string base, const std::string& rest, bool verbatim) {
  std::vector<std::string> components;
  size_t at = 0;
  while (at < rest.size()) {
    size_t end = at;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string component = rest.substr(at, end - at);
    at = end + 1;
    if (component.empty()) continue;
    if (component == "." || component == "..") {
      if (verbatim) return std::nullopt;
      if (component == ".." && !components.empty()) components.pop_back();
      continue;
    }
    components.push_back(component);
  }
  for (size_t i = 0; i < components.size(); ++i) base += (i ? "/" : "") + components[i];
  if (!rest.empty() && IsSeparator(rest.back()) && !components.empty()) base += '/';
  return base;
}

}  // namespace

void ResetSandbox() { sandbox.clear(); }

void SetSandbox(const std::string& hostFolder) { sandbox = hostFolder; }

std::optional<std::string> HostPath(const std::string& windowsPath) {
  if (sandbox.empty() || windowsPath.empty()) return std::nullopt;
  std::string path = windowsPath;
  bool verbatim = false;
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
    path = "\\\\" + path.substr(8);
    verbatim = true;
  } else if (path.rfind("\\\\?\\", 0) == 0) {
    path = path.substr(4);
    verbatim = true;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return Join(sandbox + "/UNC/", path.substr(2), verbatim);
  }
  if (path.size() >= 2 && path[1] == ':') {
    std::string drive(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    std::string rest = path.substr(2);
    // A drive-relative path ("C:name") starts in the drive's root here.
    if (rest.empty() || !IsSeparator(rest[0])) rest = "\\" + rest;
    return Join(sandbox + "/" + drive + "/", rest, verbatim);
  }
  if (IsSeparator(path[0])) return Join(sandbox + "/C/", path, verbatim);
  // Relative to the current folder, which for the Installer is the system folder.
  return HostPath(std::string(kCurrentFolder) + "\\" + path);
}

std::optional<std::string> HostPath(const std::wstring& windowsPath) {
  std::string narrow;
  for (wchar_t c : windowsPath) {
    if (c > 0x7F) {
      // Non-ASCII characters go to the host as UTF-8.
      char32_t code = static_cast<char32_t>(c);
      if (code < 0x800) {
        narrow += static_cast<char>(0xC0 | (code >> 6));
      } else if (code < 0x10000) {
        narrow += static_cast<char>(0xE0 | (code >> 12));
        narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      } else {
        narrow += static_cast<char>(0xF0 | (code >> 18));
        narrow += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      }
      narrow += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      narrow += static_cast<char>(c);
    }
  }
  return HostPath(narrow);
}

}  // namespace standin
