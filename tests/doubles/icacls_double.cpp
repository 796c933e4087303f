// A recording stand-in for the access-control tool, put on PATH by the host
// tests. It appends its arguments to the file named by QUORVEL_ICACLS_RECORD
// (a line "argc=<n>", then one argument per line), sleeps for
// QUORVEL_ICACLS_SLEEP_MS milliseconds, and exits with QUORVEL_ICACLS_EXIT:
// a number, or "crash" to die of an access violation.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (const char* record = std::getenv("QUORVEL_ICACLS_RECORD")) {
    if (FILE* file = std::fopen(record, "a")) {
      std::fprintf(file, "argc=%d\n", argc - 1);
      for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
      std::fclose(file);
    }
  }
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
