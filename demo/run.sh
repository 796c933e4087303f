#!/usr/bin/env bash
# The demonstration, under the Installer engine of wine:
#
#   demo/run.sh <windows-build-dir>
#
# Builds the DLL, the demonstration program and the recording icacls
# stand-in in the Windows build, then runs the program in a wine prefix of
# its own: it writes the demonstration product's package, installs it with
# msiexec /i, leaves behind what the running product makes, uninstalls it
# with msiexec /x, and prints the actions' lines of both logs, what changed
# and a summary. Exits 0 when every step did its job.
set -u

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: demo/run.sh <windows-build-dir>}
mkdir -p "$build"
build=$(cd "$build" && pwd)

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" >/dev/null || exit 1
fi
echo "== building the DLL and the demonstration program"
cmake --build "$build" --target QuorvelCustomActions quorvel_demo icacls_double -- -j2 >/dev/null || {
    echo "build failed: run cmake --build $build to see why" >&2
    exit 1
}

export WINEPREFIX=$build/demo-wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export XDG_DATA_HOME=$build/demo-xdg/data
export XDG_CONFIG_HOME=$build/demo-xdg/config
export XDG_CACHE_HOME=$build/demo-xdg/cache
# The engine's own icacls only stands in and changes nothing; the recording
# stand-in shows the command lines the actions ran. It is started only when
# loaded as native.
export WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree,mshtml=d;icacls.exe=n'
export ICACLS_DOUBLE_DIR='C:\icacls-double'
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
# The SDK folder that earlier runs moved into the engine's trash.
rm -rf "$XDG_DATA_HOME/Trash"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "== creating the wine prefix $WINEPREFIX (once)"
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
fi
# Start the prefix's background services now, detached from the pipes below,
# or they would hold those pipes open for as long as the server lives.
wine cmd /c exit >/dev/null 2>&1
cp -f "$build/engine_tests/icacls_double.exe" "$WINEPREFIX/drive_c/windows/system32/icacls.exe"

to_windows() { printf 'Z:%s' "${1//\//\\}"; }
work='C:\QuorvelDemo'
wine32_notice='^(it looks like wine32 is missing|multiarch needs to be enabled|execute "dpkg --add-architecture|apt-get install wine32)'

timeout 900 wine "$build/demo/quorvel_demo.exe" "$(to_windows "$build/QuorvelCustomActions.dll")" "$work" 2>&1 |
    tr -d '\r' | grep -v -E "$wine32_notice"
status=${PIPESTATUS[0]}
for log in install uninstall; do
    cp -f "$WINEPREFIX/drive_c/QuorvelDemo/$log.log" "$build/demo-$log.log" 2>/dev/null
done
echo "(full logs: $build/demo-install.log, $build/demo-uninstall.log)"
exit "$status"
