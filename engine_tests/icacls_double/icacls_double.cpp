// Recording stand-in for the system's icacls, used only by the engine tests
// and the demonstration. Every start appends one block to calls.txt in its
// folder (ICACLS_DOUBLE_DIR, else C:\icacls-double):
//
//   start
//   cmdline=<the command line exactly as received>
//   argc=<n>
//   argv=<each argument as the C runtime parsed it, one per line>
//   exit=<code>           (written after the delay, just before exiting)
//
// control.txt in the same folder may hold "exit=<code>" and "delay=<ms>".

#include <windows.h>

#include <cstdio>
#include <cstdlib>
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
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
};

Behaviour readBehaviour(const std::string& path) {
    Behaviour behaviour;
    FILE* control = std::fopen(path.c_str(), "r");
    if (control == nullptr) {
        return behaviour;
    }
    char text[128];
    while (std::fgets(text, sizeof text, control) != nullptr) {
        std::sscanf(text, "exit=%lu", &behaviour.exitCode);
        std::sscanf(text, "delay=%lu", &behaviour.delayMs);
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
    append(calls, "exit=" + std::to_string(behaviour.exitCode) + "\n");
    return static_cast<int>(behaviour.exitCode);
}
