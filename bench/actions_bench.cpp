// Each exported action, one whole call from session start to finish, against
// the bare frame (session start, CustomActionData read, finish) with no work.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "actions/exports.h"
#include "actions/frame.h"
#include "bench.h"

namespace fs = std::filesystem;

namespace {

constexpr char kFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{12345678-1234-1234-1234-123456789ABC}";

// A scratch folder that stands for the machine's drives, and a folder first
// on PATH whose icacls is /bin/true: the benchmark measures the action's own
// work around one process start, not a real grant.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/quorvel-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(root_ + "/bin");
    fs::create_symlink(fs::exists("/bin/true") ? "/bin/true" : "/usr/bin/true", root_ + "/bin/icacls");
    const char* path = std::getenv("PATH");
    setenv("PATH", (root_ + "/bin:" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
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

void DeleteFolder(benchmark::State& state) {
  const std::string folder = Host("C:\\Program Files\\Quorvel\\SDK");
  Measure(state, "C:\\Program Files\\Quorvel\\SDK|Quorvel SDK", RemoveFolder, [folder] {
    fs::create_directories(folder + "/bin");
    fs::create_directories(folder + "/include");
  });
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
  Measure(state, "C:\\Program Files\\Quorvel\\SDK", ChangeQuorvelFolderPermission,
          [folder] { fs::create_directories(folder); });
}

void RemoveEmptyManufacturer(benchmark::State& state) {
  const std::string folder = Host("C:\\Program Files\\Quorvel");
  Measure(state, "C:\\Program Files\\Quorvel", RemoveManufacturerFolder, [folder] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
  });
}

}  // namespace

BENCHMARK(Frame)->Name("Action/BareFrame")->Unit(benchmark::kMicrosecond);
BENCHMARK(EditSize)->Name("Action/EditEstimatedSize")->Unit(benchmark::kMicrosecond);
BENCHMARK(DeleteFolder)->Name("Action/RemoveFolder")->Unit(benchmark::kMicrosecond);
BENCHMARK(DeleteRegistrations)->Name("Action/RemoveRegistries")->Unit(benchmark::kMicrosecond);
BENCHMARK(GrantOnTree)->Name("Action/ChangeQuorvelFolderPermission")->Unit(benchmark::kMicrosecond);
BENCHMARK(RemoveEmptyManufacturer)->Name("Action/RemoveManufacturerFolder")->Unit(benchmark::kMicrosecond);
