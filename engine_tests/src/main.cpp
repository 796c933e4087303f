// Engine test runner: runs the DLL's actions inside the Installer engine.
//
//   engine_tests.exe <dll-path> [--code-page N] [name-filter...]
//
// Runs the cases of the pass under ANSI code page N (by default the one the
// runner has); the runner must have been started under that code page, which
// wine takes from the locale (run.sh starts one pass under each).
//
// Reads ENGINE_TESTS_WORK (scratch root), ICACLS_DOUBLE_DIR (the recording
// icacls double's folder, whose empty record shows that no tool starts),
// ENGINE_TESTS_TRASH (the engine's trash folder as a Windows path, where
// nothing deleted may land) and ENGINE_TESTS_NOTEBOOK (the folder of the
// Quorvel Notebook releases that notebook_product/build.sh made); run.sh sets
// them all. Prints one line per case and closes with "N passed, N failed,
// N skipped"; exits 1 on any failure.

#include "cases.hpp"
#include "fixture.hpp"
#include "shell_folders.hpp"
#include "machine.hpp"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace quorvel::engine;

namespace {

std::string environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::set<std::string> exportedActions(const std::string& dllPath) {
  std::set<std::string> names;
  HMODULE module = LoadLibraryExA(dllPath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr) {
    return names;
  }
  for (const char* name : kActionNames) {
    if (GetProcAddress(module, name) != nullptr) {
      names.insert(name);
    }
  }
  FreeLibrary(module);
  return names;
}

bool readFileVersion(const std::string& path, DWORD& ms, DWORD& ls) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) {
    return false;
  }
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) {
    return false;
  }
  ms = info->dwFileVersionMS;
  ls = info->dwFileVersionLS;
  return true;
}

// Failure texts hold the actions' lines in the ANSI code page; they are
// printed as UTF-8 where they convert exactly, and with the bytes above 0x7F
// as \xNN where they do not (a lead byte alone, say), so that no byte is
// hidden.
std::string printable(const std::string& text) {
  const int bytes = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
  if (units > 0) {
    std::wstring characters(units, L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), bytes, characters.data(), units);
    const int length = WideCharToMultiByte(CP_UTF8, 0, characters.data(), units, nullptr, 0, nullptr, nullptr);
    std::string utf8(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, characters.data(), units, utf8.data(), length, nullptr, nullptr);
    return utf8;
  }
  std::string escaped;
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    escaped += byte < 0x80 ? std::string(1, ch) : std::string(hex);
  }
  return escaped;
}

bool selected(const CaseEntry& entry, const std::vector<std::string>& filters) {
  if (filters.empty()) {
    return true;
  }
  const std::string full = entry.group + "/" + entry.name;
  for (const std::string& filter : filters) {
    if (full.find(filter) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: engine_tests <dll-path> [--code-page N] [name-filter...]\n");
    return 2;
  }
  int firstFilter = 2;
  unsigned codePage = GetACP();
  if (argc >= 4 && std::string(argv[2]) == "--code-page") {
    codePage = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    firstFilter = 4;
  }
  if (GetACP() != codePage) {
    // A pass under the wrong code page would prove nothing about its cases.
    std::printf("FAIL code page %u: the runner has ANSI code page %u (is the locale generated?)\n", codePage, GetACP());
    std::printf("0 passed, 1 failed, 0 skipped\n");
    return 1;
  }
  Environment env;
  env.dllPath = argv[1];
  env.workRoot = environmentVariable("ENGINE_TESTS_WORK");
  if (env.workRoot.empty()) {
    env.workRoot = "C:\\quorvel-engine-tests";
  }
  icacls::useFolder(environmentVariable("ICACLS_DOUBLE_DIR"));
  env.trashFolder = environmentVariable("ENGINE_TESTS_TRASH");
  env.notebookFolder = environmentVariable("ENGINE_TESTS_NOTEBOOK");
  env.exports = exportedActions(env.dllPath);
  if (!machine::exists(env.dllPath)) {
    std::fprintf(stderr, "no DLL at %s\n", env.dllPath.c_str());
    return 2;
  }
  readFileVersion(env.dllPath, env.versionMs, env.versionLs);
  machine::removeTree(env.workRoot);
  machine::createFolders(env.workRoot);
  setEnvironment(env);

  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

  Suite suite;
  addRuntimeCases(suite);
  addEditEstimatedSizeCases(suite);
  addRemoveFolderCases(suite);
  addRemoveRegistriesCases(suite);
  addFolderPermissionCases(suite);
  addRemoveManufacturerFolderCases(suite);
  addLifecycleCases(suite);

  const std::vector<std::string> filters(argv + firstFilter, argv + argc);
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  const bool mappedDrives = machine::exists(std::string(shell::kDriveOntoWindows) + "\\");
  for (const CaseEntry& entry : suite.entries()) {
    if (entry.codePage != codePage || entry.onMappedDrives != mappedDrives || !selected(entry, filters)) {
      continue;
    }
    const std::string full = entry.group + "/" + entry.name;
    if (!entry.neededExport.empty() && environment().exports.count(entry.neededExport) == 0) {
      std::printf("SKIP %s (the DLL does not export %s)\n", full.c_str(), entry.neededExport.c_str());
      ++skipped;
      continue;
    }
    Case c(full);
    const DWORD started = GetTickCount();
    entry.run(c);
    const DWORD elapsed = GetTickCount() - started;
    if (c.failed()) {
      ++failed;
      std::printf("FAIL %s (%lu ms)\n", full.c_str(), static_cast<unsigned long>(elapsed));
      for (const std::string& failure : c.failures()) {
        std::printf("  %s\n", printable(failure).c_str());
      }
    } else {
      ++passed;
      std::printf("ok   %s (%lu ms)\n", full.c_str(), static_cast<unsigned long>(elapsed));
    }
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
  return failed == 0 ? 0 : 1;
}
