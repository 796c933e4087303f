// Kernel handles and child processes. CreateProcessA really starts the
// program: the command line is split by the Windows argument rules, the first
// token is looked up on PATH, and waits take real time.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <standin.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

#include "entries.h"
#include "kernel.h"
#include "parts.h"

extern char** environ;

namespace standin {
namespace {

struct Hook {
  std::string name;
  int skip;
  std::function<void()> action;
};

std::map<HANDLE, std::shared_ptr<KernelObject>> handles;
uintptr_t nextHandle = 0x1000;
std::vector<std::shared_ptr<Child>> children;
std::vector<ProcessStart> starts;
std::vector<DWORD> waitRequests;
DWORD waitCap = INFINITE;
std::vector<Hook> hooks;

// Windows reports a crash as the exception's status; abort() exits with 3.
DWORD ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  switch (WTERMSIG(status)) {
    case SIGSEGV:
    case SIGBUS:
      return 0xC0000005;  // access violation
    case SIGILL:
      return 0xC000001D;  // illegal instruction
    case SIGFPE:
      return 0xC0000094;  // integer division by zero
    case SIGABRT:
      return 3;
    default:
      return 1;  // as if ended by TerminateProcess
  }
}

// Reaps the child if it has ended; blocks when `block` is set.
bool Reap(Child& child, bool block) {
  if (child.reaped) return true;
  int status = 0;
  const pid_t answer = waitpid(child.pid, &status, block ? 0 : WNOHANG);
  if (answer != child.pid) return false;
  child.reaped = true;
  child.exitCode = ExitCodeFromStatus(status);
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string FindOnPath(const std::string& program) {
  auto executable = [](const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
  };
  if (program.find('/') != std::string::npos) return executable(program) ? program : std::string();
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty()) {
      for (const char* suffix : {"", ".exe"}) {
        const std::string candidate = folder + "/" + program + suffix;
        if (executable(candidate)) return candidate;
      }
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle);
  nextHandle += 4;
  handles[handle] = std::move(object);
  return handle;
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle, KernelObject::Kind kind) {
  auto found = handles.find(handle);
  if (found == handles.end() || found->second->kind != kind) return nullptr;
  return found->second;
}

bool RemoveHandle(HANDLE handle) { return handles.erase(handle) > 0; }

std::vector<std::shared_ptr<KernelObject>> OpenFilesOf(uint64_t device, uint64_t inode, const KernelObject* except) {
  std::vector<std::shared_ptr<KernelObject>> open;
  for (const auto& [handle, object] : handles) {
    if (object->kind == KernelObject::kFile && object.get() != except && object->device == device &&
        object->inode == inode) {
      open.push_back(object);
    }
  }
  return open;
}

KernelObject::~KernelObject() {
  if (listing) closedir(listing);
  if (fd >= 0) close(fd);
}

void ResetKernel() {
  handles.clear();
  EndStartedProcesses();
  children.clear();
  starts.clear();
  waitRequests.clear();
  waitCap = INFINITE;
  hooks.clear();
}

void RunCallHooks(const char* name) {
  for (size_t i = 0; i < hooks.size(); ++i) {
    if (hooks[i].name != name) continue;
    if (hooks[i].skip-- > 0) continue;
    // Taken out first: the action may itself enter stand-in calls.
    std::function<void()> action = std::move(hooks[i].action);
    hooks.erase(hooks.begin() + static_cast<std::ptrdiff_t>(i));
    action();
    return;
  }
}

void BeforeCall(const std::string& name, std::function<void()> action, int skip) {
  hooks.push_back(Hook{name, skip, std::move(action)});
}

int OpenKernelHandles() { return static_cast<int>(handles.size()); }

const std::vector<ProcessStart>& ProcessStarts() { return starts; }

const std::vector<DWORD>& WaitRequests() { return waitRequests; }

void CapWaits(DWORD milliseconds) { waitCap = milliseconds; }

bool ProcessRunning(DWORD processId) {
  for (auto& child : children) {
    if (static_cast<DWORD>(child->pid) == processId) return !Reap(*child, false);
  }
  return false;
}

void EndStartedProcesses() {
  for (auto& child : children) {
    if (Reap(*child, false)) continue;
    kill(child->pid, SIGKILL);
    Reap(*child, true);
  }
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> arguments;
  size_t at = 0;
  // The program name: up to the next quotation mark when quoted, else up to
  // a blank; backslashes are plain characters in it.
  std::string program;
  if (at < line.size() && line[at] == '"') {
    const size_t close = line.find('"', at + 1);
    program = line.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
    at = close == std::string::npos ? line.size() : close + 1;
  }
  while (at < line.size() && !IsBlank(line[at])) program += line[at++];
  arguments.push_back(program);

  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at >= line.size()) break;
    std::string argument;
    bool quoted = false;
    while (at < line.size() && (quoted || !IsBlank(line[at]))) {
      if (line[at] == '\\') {
        size_t backslashes = 0;
        while (at < line.size() && line[at] == '\\') ++backslashes, ++at;
        if (at < line.size() && line[at] == '"') {
          // 2n backslashes before a quotation mark give n and leave the mark
          // to open or close; 2n + 1 give n and a literal mark.
          argument.append(backslashes / 2, '\\');
          if (backslashes % 2) argument += line[at++];
        } else {
          argument.append(backslashes, '\\');
        }
      } else if (line[at] == '"') {
        if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
          argument += '"';  // a doubled mark inside quotes is a literal one
          at += 2;
        } else {
          quoted = !quoted;
          ++at;
        }
      } else {
        argument += line[at++];
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL inheritHandles, DWORD creationFlags,
                                      LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                                      LPPROCESS_INFORMATION processInformation) {
  const Call call("CreateProcessA");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  ProcessStart start;
  start.commandLine = commandLine ? commandLine : "";
  start.hasApplicationName = application != nullptr;
  start.inheritHandles = inheritHandles;
  start.creationFlags = creationFlags;
  start.hasEnvironment = environment != nullptr;
  start.hasCurrentDirectory = currentDirectory != nullptr;
  if (startupInfo) {
    start.startupSize = startupInfo->cb;
    start.startupFlags = startupInfo->dwFlags;
    start.showWindow = startupInfo->wShowWindow;
    start.hasStandardHandles = startupInfo->hStdInput || startupInfo->hStdOutput || startupInfo->hStdError;
  }
  starts.push_back(start);
  // Only the form that the product uses is modelled.
  if (application || !commandLine || environment || currentDirectory || !startupInfo || !processInformation ||
      startupInfo->cb != sizeof(STARTUPINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  // Windows hands the child its command line in UTF-16, converted from the
  // ANSI code page; the host child gets it in UTF-8, in which no byte of a
  // longer character can pass for a backslash, a quotation mark or a blank.
  const auto wide = Widen(CP_ACP, commandLine);
  const std::vector<std::string> arguments = SplitCommandLine(wide ? Utf8(*wide) : std::string(commandLine));
  const std::string program = arguments[0].empty() ? std::string() : FindOnPath(arguments[0]);
  if (program.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (failed) {
    SetLastError(failed == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
  }

  auto child = std::make_shared<Child>();
  child->pid = pid;
  children.push_back(child);
  starts.back().processId = static_cast<DWORD>(pid);
  auto process = std::make_shared<KernelObject>();
  process->kind = KernelObject::kProcess;
  process->child = child;
  auto thread = std::make_shared<KernelObject>();
  thread->kind = KernelObject::kThread;
  thread->child = child;
  processInformation->hProcess = AddHandle(process);
  processInformation->hThread = AddHandle(thread);
  processInformation->dwProcessId = static_cast<DWORD>(pid);
  processInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const Call call("WaitForSingleObject");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return WAIT_FAILED;
  }
  waitRequests.push_back(milliseconds);
  auto object = FindHandle(handle, KernelObject::kProcess);
  if (!object) object = FindHandle(handle, KernelObject::kThread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  Child& child = *object->child;
  const DWORD limit = milliseconds < waitCap ? milliseconds : waitCap;
  if (limit == INFINITE) {
    Reap(child, true);
    return WAIT_OBJECT_0;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
  while (!Reap(child, false)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(2)));
  }
  return WAIT_OBJECT_0;
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  const Call call("GetExitCodeProcess");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  auto object = FindHandle(process, KernelObject::kProcess);
  if (!object || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = Reap(*object->child, false) ? object->child->exitCode : STILL_ACTIVE;
  return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE handle) {
  const Call call("CloseHandle");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  // A listing is closed with FindClose, not here.
  if (const std::shared_ptr<KernelObject> file = FindHandle(handle, KernelObject::kFile)) FinishClose(*file);
  if (FindHandle(handle, KernelObject::kFind) || !RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
