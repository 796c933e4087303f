#!/usr/bin/env bash
# Every test: the host tests over the platform stand-in, then the cross-built
# DLL's shipping checks and the engine tests under wine's Windows Installer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== Host build and tests"
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/host -j2
(cd build/host && ctest -j2 --output-on-failure)

echo "== Host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/host-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON >/dev/null
cmake --build build/host-sanitize -j2
(cd build/host-sanitize && ctest -j2 --output-on-failure)

echo "== Windows DLL"
scripts/build-windows.sh

echo "== Engine tests"
engine_tests/run.sh build/win
