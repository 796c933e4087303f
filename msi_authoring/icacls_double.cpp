// Recording stand-in for the system's icacls, used only by the engine tests,
// the demonstration and the engine benchmark. Every start appends one block
// to calls.txt in its folder (ICACLS_DOUBLE_DIR, else C:\icacls-double):
//
//   start
//   cmdline=<the command line exactly as received>
//   argc=<n>
//   argv=<each argument as the C runtime parsed it, one per line>
//   exit=<code>           (written after the delay, just before exiting)
//
// control.txt in the same folder may hold "exit=<code>", "delay=<ms>" and,
// to stand for another process acting while the tool runs, "remove=<path>"
// (an empty folder or a file to delete) and "create=<path>" (a file to make).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string doubleFolder() {
  char buffer[MAX_PATH] = {0};
  const DWORD length = GetEnvironmentVariableA("ICACLS_DOUBLE_DIR", buffer, sizeof buffer);
  if (length > 0 && length < sizeof buffer) {
    return buffer;
  }
  return "C:\\icacls-double";
}

void append(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

struct Behaviour {
  unsigned long exitCode = 0;
  unsigned long delayMs = 0;
  std::string removePath;
  std::string createPath;
};

std::string valueAfter(const char* text, const char* key) {
  const size_t length = std::strlen(key);
  if (std::strncmp(text, key, length) != 0) {
    return {};
  }
  std::string value = text + length;
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
    value.pop_back();
  }
  return value;
}

Behaviour readBehaviour(const std::string& path) {
  Behaviour behaviour;
  FILE* control = std::fopen(path.c_str(), "r");
  if (control == nullptr) {
    return behaviour;
  }
  char text[2048];
  while (std::fgets(text, sizeof text, control) != nullptr) {
    std::sscanf(text, "exit=%lu", &behaviour.exitCode);
    std::sscanf(text, "delay=%lu", &behaviour.delayMs);
    if (const std::string path = valueAfter(text, "remove="); !path.empty()) {
      behaviour.removePath = path;
    }
    if (const std::string path = valueAfter(text, "create="); !path.empty()) {
      behaviour.createPath = path;
    }
  }
  std::fclose(control);
  return behaviour;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = doubleFolder();
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string calls = folder + "\\calls.txt";

  std::string block = "start\ncmdline=";
  block += GetCommandLineA();
  block += "\nargc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) {
    block += "argv=";
    block += argv[i];
    block += "\n";
  }
  append(calls, block);

  const Behaviour behaviour = readBehaviour(folder + "\\control.txt");
  if (behaviour.delayMs > 0) {
    Sleep(behaviour.delayMs);
  }
  if (!behaviour.removePath.empty() && !RemoveDirectoryA(behaviour.removePath.c_str())) {
    DeleteFileA(behaviour.removePath.c_str());
  }
  if (!behaviour.createPath.empty()) {
    HANDLE file = CreateFileA(behaviour.createPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
  }
  append(calls, "exit=" + std::to_string(behaviour.exitCode) + "\n");
  return static_cast<int>(behaviour.exitCode);
}
