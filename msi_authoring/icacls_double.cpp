// Recording stand-in for the system's icacls, used only by the engine tests,
// the demonstration and the engine benchmark: the actions start no tool, and
// an empty record proves it. Every start appends its command line, exactly as
// received, as one line of calls.txt in its folder (ICACLS_DOUBLE_DIR, else
// C:\icacls-double), and exits with 0.

#include <windows.h>

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

}  // namespace

int main() {
  const std::string folder = doubleFolder();
  CreateDirectoryA(folder.c_str(), nullptr);
  HANDLE file = CreateFileA((folder + "\\calls.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const std::string line = std::string(GetCommandLineA()) + "\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  return 0;
}
