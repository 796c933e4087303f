#!/usr/bin/env bash
# Cross-builds the whole Windows tree into build/win with the mingw-w64
# toolchain: the DLL and the programs that the engine tests, the
# demonstration and the engine benchmark run under wine. scripts/build-dll.sh
# builds the DLL alone.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/win --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win -j2
