// A recording stand-in for the access-control tool, put on PATH by the host
// tests. It appends its arguments to the file named by QUORVEL_ICACLS_RECORD
// (a line "argc=<n>", then one argument per line), sleeps for
// QUORVEL_ICACLS_SLEEP_MS milliseconds, and exits with QUORVEL_ICACLS_EXIT:
// a number, or "crash" to die of an access violation.
//
// With QUORVEL_ICACLS_SANDBOX (the stand-in's sandbox folder) it also grants
// as the tool does on the sandbox's tree and records a line
// "granted=<Windows path>" for every object the grant reaches: the path
// given and, with /t, everything below it. A link is granted on itself with
// /l; without it the grant goes to what the link leads to and, with /t, on
// into the folder it leads to. What lies outside the sandbox is recorded by
// its host path.
//
// With QUORVEL_ICACLS_SWAP ("<folder>|<target>", Windows paths) a user
// renames the folder away and puts a link to the target in its place once
// the tool has listed it: the tool goes on by the full paths of what it
// listed, as the real one does.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::string sandbox;
FILE* record = nullptr;
std::string swapFolder;  // host paths
std::string swapTarget;

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The entry of a host folder that answers to `name` as Windows would find it.
std::string EntryOf(const std::string& folder, const std::string& name) {
  if (DIR* listing = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      if (SameIgnoringCase(entry->d_name, name)) {
        const std::string found = entry->d_name;
        closedir(listing);
        return found;
      }
    }
    closedir(listing);
  }
  return name;
}

// "C:\a\b" -> <sandbox>/C/a/b; "\\server\share\a" -> <sandbox>/UNC/server/share/a.
std::string HostOf(const std::string& windowsPath) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : windowsPath) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  std::string host = sandbox;
  size_t first = 0;
  if (windowsPath.rfind("\\\\", 0) == 0) {
    host += "/UNC";
  } else if (!parts.empty() && parts[0].size() == 2 && parts[0][1] == ':') {
    host += "/" + std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(parts[0][0]))));
    first = 1;
  }
  for (size_t i = first; i < parts.size(); ++i) host += "/" + EntryOf(host, parts[i]);
  return host;
}

// The Windows path of a host path, every link resolved; the host path itself
// when it lies outside the sandbox.
std::string WindowsOf(const std::string& hostPath) {
  char* real = realpath(hostPath.c_str(), nullptr);
  char* realBox = realpath(sandbox.c_str(), nullptr);
  std::string path = real ? real : hostPath;
  const std::string box = realBox ? realBox : sandbox;
  std::free(real);
  std::free(realBox);
  if (path.compare(0, box.size() + 1, box + "/") != 0) return path;
  std::string rest = path.substr(box.size() + 1);
  std::string windows;
  if (rest.rfind("UNC/", 0) == 0) {
    windows = "\\\\" + rest.substr(4);
  } else {
    windows = rest.substr(0, 1) + ":" + (rest.size() > 1 ? rest.substr(1) : "\\");
  }
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

// The Windows path of an entry itself (a link, not what it leads to).
std::string WindowsOfEntry(const std::string& hostPath) {
  const size_t slash = hostPath.rfind('/');
  return WindowsOf(hostPath.substr(0, slash)) + "\\" + hostPath.substr(slash + 1);
}

void Grant(const std::string& hostPath, bool tree, bool linksThemselves, std::set<std::string>* walked) {
  struct stat status;
  if (lstat(hostPath.c_str(), &status) != 0) return;
  const bool link = S_ISLNK(status.st_mode);
  if (link && linksThemselves) {
    std::fprintf(record, "granted=%s\n", WindowsOfEntry(hostPath).c_str());
    return;
  }
  const std::string granted = WindowsOf(hostPath);
  // A loop of links is walked once.
  if (!walked->insert(granted).second) return;
  std::fprintf(record, "granted=%s\n", granted.c_str());
  if (!tree || stat(hostPath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
  std::vector<std::string> names;
  if (DIR* listing = opendir(hostPath.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(listing);
  }
  if (!swapFolder.empty() && hostPath == swapFolder) {
    rename(hostPath.c_str(), (hostPath + ".moved").c_str());
    symlink(swapTarget.c_str(), hostPath.c_str());
    swapFolder.clear();
  }
  for (const std::string& name : names) Grant(hostPath + "/" + name, tree, linksThemselves, walked);
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* recordPath = std::getenv("QUORVEL_ICACLS_RECORD")) {
    record = std::fopen(recordPath, "a");
    if (record) {
      std::fprintf(record, "argc=%d\n", argc - 1);
      for (int i = 1; i < argc; ++i) std::fprintf(record, "%s\n", argv[i]);
    }
  }
  const char* box = std::getenv("QUORVEL_ICACLS_SANDBOX");
  if (record && box && argc > 1) {
    sandbox = box;
    bool tree = false;
    bool linksThemselves = false;
    for (int i = 2; i < argc; ++i) {
      tree = tree || SameIgnoringCase(argv[i], "/t");
      linksThemselves = linksThemselves || SameIgnoringCase(argv[i], "/l");
    }
    if (const char* swap = std::getenv("QUORVEL_ICACLS_SWAP")) {
      const std::string paths = swap;
      swapFolder = HostOf(paths.substr(0, paths.find('|')));
      swapTarget = HostOf(paths.substr(paths.find('|') + 1));
    }
    std::set<std::string> walked;
    Grant(HostOf(argv[1]), tree, linksThemselves, &walked);
  }
  if (record) std::fclose(record);
  if (const char* sleep = std::getenv("QUORVEL_ICACLS_SLEEP_MS"))
    usleep(static_cast<useconds_t>(std::atol(sleep)) * 1000);
  const char* exitCode = std::getenv("QUORVEL_ICACLS_EXIT");
  if (exitCode && std::strcmp(exitCode, "crash") == 0) {
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
  }
  return exitCode ? std::atoi(exitCode) : 0;
}
