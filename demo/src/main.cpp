// quorvel_demo <dll-path> <work-folder>
//
// The demonstration that demo/run.sh runs under wine: the DLL's five actions
// in the installation, the major upgrade and the uninstallation of a product
// with files.

#include "lifecycle.hpp"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quorvel_demo <dll-path> <work-folder>\n");
    return 2;
  }
  return quorvel::demo::runLifecycle(argv[1], argv[2]) ? 0 : 1;
}
