// Windows paths on the host: drive-letter and UNC paths map onto a folder of
// the test's choosing, so that tests use the same paths as on Windows.
#include <cctype>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

std::string sandbox;
const char* const kCurrentFolder = "C:\\Windows\\system32";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Join(std::string base, const std::string& rest) {
  for (char c : rest) base += IsSeparator(c) ? '/' : c;
  return base;
}

}  // namespace

void ResetSandbox() { sandbox.clear(); }

void SetSandbox(const std::string& hostFolder) { sandbox = hostFolder; }

std::optional<std::string> HostPath(const std::string& windowsPath) {
  if (sandbox.empty() || windowsPath.empty()) return std::nullopt;
  std::string path = windowsPath;
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
    path = "\\\\" + path.substr(8);
  } else if (path.rfind("\\\\?\\", 0) == 0) {
    path = path.substr(4);
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return Join(sandbox + "/UNC/", path.substr(2));
  if (path.size() >= 2 && path[1] == ':') {
    std::string drive(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    std::string rest = path.substr(2);
    // A drive-relative path ("C:name") starts in the drive's root here.
    if (rest.empty() || !IsSeparator(rest[0])) rest = "\\" + rest;
    return Join(sandbox + "/" + drive, rest);
  }
  if (IsSeparator(path[0])) return Join(sandbox + "/C", path);
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
