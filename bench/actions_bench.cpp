// Each exported action, one whole call from session start to finish, against
// the bare frame (session start, CustomActionData read, finish) with no work.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "actions/exports.h"
#include "actions/frame.h"
#include "bench.h"

namespace fs = std::filesystem;

namespace {

constexpr char kFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{12345678-1234-1234-1234-123456789ABC}";

// A scratch folder that stands for the machine's drives.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/quorvel-bench-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Drives() const { return root_ + "/drives"; }

 private:
  std::string root_;
};

const Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// A fresh machine, its drives in the scratch folder, and a session that
// carries `argument`. Recording is off so that repeated calls keep nothing.
MSIHANDLE PrepareMachine(const std::string& argument) {
  bench::LoadLibrary();
  standin::SetRecording(false);
  standin::SetSandbox(TheScratch().Drives());
  const MSIHANDLE session = standin::NewSession();
  standin::SetProperty(session, "CustomActionData", argument);
  return session;
}

std::string Host(const std::string& windowsPath) { return *standin::HostPath(windowsPath); }

HRESULT NoWork(MSIHANDLE, const char*) { return S_OK; }

// Runs `action` once per iteration; `restore` puts back, untimed, what the
// previous call changed. The first call must succeed.
template <typename Restore>
void Measure(benchmark::State& state, const std::string& argument, UINT (*action)(MSIHANDLE), Restore restore) {
  const MSIHANDLE session = PrepareMachine(argument);
  restore();
  bench::Check(action(session) == ERROR_SUCCESS, "an action call failed: " + argument);
  for (auto _ : state) {
    state.PauseTiming();
    restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(action(session));
  }
  bench::Check(standin::OpenInstallerHandles() == 0 && standin::OpenRegistryKeys() == 0 &&
                   standin::OpenKernelHandles() == 0 && standin::LiveHeapBlocks() == 0,
               "an action call left a handle or a heap block behind: " + argument);
}

UINT BareFrame(MSIHANDLE session) {
  static const ActionDefinition kFrame{"BareFrame", "WcaInitialize failed", 1024, NoWork};
  return RunAction(session, kFrame);
}

void Frame(benchmark::State& state) {
  Measure(state, "C:\\Program Files\\Quorvel\\SDK", BareFrame, [] {});
}

void EditSize(benchmark::State& state) {
  Measure(state, "12345678-1234-1234-1234-123456789ABC", EditEstimatedSize,
          [] { standin::SetDwordValue(kUninstallKey, "EstimatedSize", 4096); });
}

// The package folder with two subfolders.
void MakeSdkFolder(const std::string& folder) {
  fs::create_directories(folder + "/bin");
  fs::create_directories(folder + "/include");
}

void DeleteFolder(benchmark::State& state) {
  const std::string folder = Host("C:\\Program Files\\Quorvel\\SDK");
  Measure(state, "C:\\Program Files\\Quorvel\\SDK|Quorvel SDK", RemoveFolder, [folder] { MakeSdkFolder(folder); });
}

void DeleteRegistrations(benchmark::State& state) {
  // A Folders key of a machine with a few products: 100 values, 10 matching.
  Measure(state, "C:\\Program Files\\Quorvel\\SDK", RemoveRegistries, [] {
    for (int i = 0; i < 100; ++i) {
      const std::string number = std::to_string(i);
      standin::SetDwordValue(kFoldersKey,
                             i % 10 == 0 ? "C:\\Program Files\\Quorvel\\SDK\\Part " + number + "\\"
                                         : "C:\\Program Files\\Other\\Product " + number + "\\",
                             1);
    }
  });
}

void GrantOnTree(benchmark::State& state) {
  const std::string folder = Host("C:\\Program Files\\Quorvel\\SDK");
  Measure(state, "C:\\Program Files\\Quorvel\\SDK", ChangeQuorvelFolderPermission, [folder] { MakeSdkFolder(folder); });
}

void RemoveEmptyManufacturer(benchmark::State& state) {
  const std::string folder = Host("C:\\Program Files\\Quorvel");
  Measure(state, "C:\\Program Files\\Quorvel", RemoveManufacturerFolder, [folder] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
  });
}

// A machine of a terminal server: `profiles` more profiles than a default
// Windows has, each a folder in the profiles folder and a ProfileList entry.
MSIHANDLE PrepareProfiles(int profiles, const std::string& argument) {
  const MSIHANDLE session = PrepareMachine(argument);
  const std::string drives = TheScratch().Drives() + "-" + std::to_string(profiles) + "-profiles";
  standin::SetSandbox(drives);
  standin::LayOutProfiles();
  for (int i = 0; i < profiles; ++i) {
    const std::wstring name = L"user" + std::to_wstring(i);
    standin::AddProfile("S-1-5-21-7-7-7-" + std::to_string(5000 + i), L"C:\\Users\\" + name, false);
    fs::create_directories(drives + "/C/Users/" + std::string(name.begin(), name.end()));
  }
  return session;
}

// RemoveFolder on a package folder of one file, against the number of profiles.
void DeleteFolderAmongProfiles(benchmark::State& state) {
  const MSIHANDLE session =
      PrepareProfiles(static_cast<int>(state.range(0)), "C:\\Program Files\\Quorvel\\SDK|Quorvel SDK");
  const std::string folder = Host("C:\\Program Files\\Quorvel\\SDK");
  const auto restore = [&folder] {
    fs::create_directories(folder);
    std::ofstream(folder + "/readme.txt") << "Quorvel";
  };
  restore();
  bench::Check(RemoveFolder(session) == ERROR_SUCCESS, "RemoveFolder failed among profiles");
  for (auto _ : state) {
    state.PauseTiming();
    restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(RemoveFolder(session));
  }
}

// The floor of reading the profiles' lists: the profiles folder's listing
// and each ProfileList entry's image path, the bare calls.
void ReadProfileLists(benchmark::State& state) {
  PrepareProfiles(static_cast<int>(state.range(0)), "unused");
  for (auto _ : state) {
    WIN32_FIND_DATAW entry = {};
    const HANDLE listing =
        FindFirstFileExW(L"\\\\?\\C:\\Users\\*", FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    while (FindNextFileW(listing, &entry)) benchmark::DoNotOptimize(entry.dwFileAttributes);
    FindClose(listing);
    HKEY list = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, standin::kProfileListKey, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &list);
    WCHAR sid[256];
    WCHAR path[1024];
    DWORD sidChars = 256;
    for (DWORD index = 0; RegEnumKeyExW(list, index, sid, &sidChars, nullptr, nullptr, nullptr, nullptr) == 0;
         ++index, sidChars = 256) {
      DWORD bytes = sizeof path;
      RegGetValueW(list, sid, L"ProfileImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, path,
                   &bytes);
    }
    RegCloseKey(list);
  }
}

}  // namespace

BENCHMARK(DeleteFolderAmongProfiles)
    ->Name("Profiles/RemoveFolder")
    ->Arg(5)
    ->Arg(500)
    ->Arg(5000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadProfileLists)->Name("Profiles/ListsFloor")->Arg(5)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Frame)->Name("Action/BareFrame")->Unit(benchmark::kMicrosecond);
BENCHMARK(EditSize)->Name("Action/EditEstimatedSize")->Unit(benchmark::kMicrosecond);
BENCHMARK(DeleteFolder)->Name("Action/RemoveFolder")->Unit(benchmark::kMicrosecond);
BENCHMARK(DeleteRegistrations)->Name("Action/RemoveRegistries")->Unit(benchmark::kMicrosecond);
BENCHMARK(GrantOnTree)->Name("Action/ChangeQuorvelFolderPermission")->Unit(benchmark::kMicrosecond);
BENCHMARK(RemoveEmptyManufacturer)->Name("Action/RemoveManufacturerFolder")->Unit(benchmark::kMicrosecond);
