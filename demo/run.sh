#!/usr/bin/env bash
# The demonstration, under the Installer engine of wine:
#
#   demo/run.sh <windows-build-dir>
#
# Builds the DLL, the demonstration program and the recording icacls
# stand-in (whose empty record shows that no tool starts) in the Windows
# build, then runs the program in a wine prefix of its own: it writes the demonstration product's packages of versions 1.0
# and 2.0, installs 1.0 with msiexec /i, leaves behind what the running
# product makes, upgrades to 2.0 with msiexec /i, uninstalls 2.0 with
# msiexec /x, and prints the actions' lines of the three logs, what changed
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

. "$repo/scripts/wine-prefix.sh"
trap stop_wineserver EXIT
use_wine_prefix "$build/demo-wineprefix" "$build/demo-xdg" "$build/msi_authoring/icacls_double.exe" || {
    echo "no usable wine prefix at $WINEPREFIX" >&2
    exit 1
}
export ICACLS_DOUBLE_DIR='C:\icacls-double'
# The engine's trash, emptied of what older versions moved there: the
# summary shows that nothing lands in it.
rm -rf "$XDG_DATA_HOME/Trash"

to_windows() { printf 'Z:%s' "${1//\//\\}"; }
DEMO_TRASH=$(to_windows "$XDG_DATA_HOME/Trash")
export DEMO_TRASH
work='C:\QuorvelDemo'

timeout 900 wine "$build/demo/quorvel_demo.exe" "$(to_windows "$build/QuorvelCustomActions.dll")" "$work" 2>&1 |
    tr -d '\r' | grep -v -E "$wine32_notice"
status=${PIPESTATUS[0]}
for log in install upgrade uninstall; do
    cp -f "$WINEPREFIX/drive_c/QuorvelDemo/$log.log" "$build/demo-$log.log" 2>/dev/null
done
echo "(full logs: $build/demo-install.log, $build/demo-upgrade.log, $build/demo-uninstall.log)"
exit "$status"
