#include "actions/targetpath.h"

#include <shlobj.h>
#include <userenv.h>

#include <cctype>
#include <string>
#include <vector>

#include "runtime/wcalog.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string FoldCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Takes the next component off the front of `rest`, skipping separators.
std::string NextComponent(std::string* rest) {
  size_t start = 0;
  while (start < rest->size() && IsSeparator((*rest)[start])) ++start;
  size_t end = start;
  while (end < rest->size() && !IsSeparator((*rest)[end])) ++end;
  std::string component = rest->substr(start, end - start);
  rest->erase(0, end);
  return component;
}

// The path as the system resolves it, "X:\a\b" or "\\server\share\a", with
// "." and ".." applied and (outside "\\?\" paths) the trailing dots and spaces
// that Windows ignores dropped; empty when the path is not fully qualified,
// climbs above its root or names the root itself.
std::string ResolveQualified(const std::string& path) {
  std::string rest = path;
  bool verbatim = false;
  if (StartsWith(rest, "\\\\?\\UNC\\")) {
    rest = "\\\\" + rest.substr(8);
    verbatim = true;
  } else if (StartsWith(rest, "\\\\?\\")) {
    rest = rest.substr(4);
    verbatim = true;
  }

  std::string root;
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    rest.erase(0, 2);
    const std::string server = NextComponent(&rest);
    const std::string share = NextComponent(&rest);
    if (server.empty() || share.empty() || server == "." || server == "?") return std::string();
    root = "\\\\" + server + "\\" + share;
  } else if (rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':' &&
             IsSeparator(rest[2])) {
    root = rest.substr(0, 2);
    rest.erase(0, 2);
  } else {
    return std::string();
  }

  std::vector<std::string> components;
  for (std::string component = NextComponent(&rest); !component.empty(); component = NextComponent(&rest)) {
    if (!verbatim && component == "..") {
      // Climbing above the root is refused rather than clamped to it.
      if (components.empty()) return std::string();
      components.pop_back();
      continue;
    }
    if (!verbatim) {
      while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.pop_back();
      if (component.empty()) continue;  // "." and the like
    }
    components.push_back(component);
  }
  if (components.empty()) return std::string();

  std::string resolved = root;
  for (const std::string& component : components) resolved += "\\" + component;
  return resolved;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  return path;
}

// The folders that belong to the machine or to the user rather than to any
// package. A folder the system cannot tell is left out.
std::vector<std::string> PrincipalFolders() {
  static const int kFolders[] = {CSIDL_WINDOWS,          CSIDL_SYSTEM,         CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES,
                                 CSIDL_PROGRAM_FILESX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE};
  std::vector<std::string> folders;
  char buffer[MAX_PATH];
  for (int folder : kFolders) {
    buffer[0] = '\0';
    if (SUCCEEDED(SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer)) && buffer[0]) {
      folders.push_back(buffer);
    }
  }
  DWORD chars = MAX_PATH;
  if (GetProfilesDirectoryA(buffer, &chars) && buffer[0]) folders.push_back(buffer);
  return folders;
}

bool IsPrincipalFolder(const std::string& resolved) {
  const std::string folded = FoldCase(resolved);
  for (const std::string& folder : PrincipalFolders()) {
    if (FoldCase(WithoutTrailingSeparators(folder)) == folded) return true;
  }
  return false;
}

}  // namespace

HRESULT RefuseUnsafeTarget(const char* path) {
  if (!*path) return S_OK;
  const std::string resolved = ResolveQualified(path);
  if (!resolved.empty() && !IsPrincipalFolder(resolved)) return S_OK;
  LogErrorLine(E_INVALIDARG, "Refusing path '%s': it is relative, a volume root or a principal folder", path);
  return E_INVALIDARG;
}
