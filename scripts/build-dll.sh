#!/usr/bin/env bash
# Cross-builds the custom-action DLL (and the engine test programs) into
# build/win with the mingw-w64 toolchain.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/win --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win -j2
