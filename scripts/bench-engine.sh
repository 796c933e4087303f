#!/usr/bin/env bash
# The engine benchmark: each action's per-call time under wine's Installer,
# the product DLL against a bare DLL that makes the same platform calls
# (bench/engine). Cross-builds what it needs into build/bench-engine and runs
# in a wine prefix of its own there; stops only that prefix's wineserver.
#
#   scripts/bench-engine.sh [--calls N] [action...]
#
# Exits 1 when the bare DLL does not mirror the product or a call fails.
# Figures and the machine they were taken on are in bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/bench-engine
cmake -S . -B "$build" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target QuorvelCustomActions QuorvelBareActions quorvel_engine_bench icacls_double \
  >/dev/null
build=$(cd "$build" && pwd)

export WINEPREFIX=$build/bench-wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export XDG_DATA_HOME=$build/bench-xdg/data
export XDG_CONFIG_HOME=$build/bench-xdg/config
export XDG_CACHE_HOME=$build/bench-xdg/cache
# No desktop menus or runtime prompts; icacls is the recording double of the
# engine tests, which runs only when loaded as native.
export WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree,mshtml=d;icacls.exe=n'
export ICACLS_DOUBLE_DIR='C:\icacls-double'
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "== creating the wine prefix $WINEPREFIX (once)"
  wine wineboot --init >/dev/null 2>&1
  wineserver -w
fi
# The prefix's background services start now, detached from the pipe below.
wine cmd /c exit >/dev/null 2>&1
cp -f "$build/engine_tests/icacls_double.exe" "$WINEPREFIX/drive_c/windows/system32/icacls.exe"

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
export BENCH_TRASH
BENCH_TRASH=$(windows_path "$XDG_DATA_HOME/Trash")

echo "== engine benchmark ($(wine --version 2>/dev/null), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
wine32_notice='^(it looks like wine32 is missing|multiarch needs to be enabled|execute "dpkg --add-architecture|apt-get install wine32)'
timeout 3600 wine "$build/bench/engine/quorvel_engine_bench.exe" "$(windows_path "$build/QuorvelCustomActions.dll")" \
  "$(windows_path "$build/bench/engine/QuorvelBareActions.dll")" 'C:\quorvel-engine-bench' "$@" 2>&1 |
  tr -d '\r' | grep -v -E "$wine32_notice"
exit "${PIPESTATUS[0]}"
