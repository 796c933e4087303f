#!/usr/bin/env bash
# The demonstration installation, under the Installer engine of wine:
#
#   demo/run.sh <windows-build-dir>
#
# Builds the DLL, the demonstration program and the recording icacls
# stand-in in the Windows build; prepares a demonstration machine in a wine
# prefix of its own (folder tree, Uninstall entry, Installer folder
# registrations, logging policy); writes the package with the Installer's
# database API; installs it with msiexec /i ... /qn /l*v; prints every action's
# lines from the log and what changed. Exits 0 when every action did its job.
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
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "== creating the wine prefix $WINEPREFIX (once)"
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
fi
# Keep this prefix's wineserver up between the steps: the global atoms that
# the actions publish live there and would go when it shuts down.
wineserver -p
# Start the prefix's background services now, detached from the pipes below,
# or they would hold those pipes open for as long as the server lives.
wine cmd /c exit >/dev/null 2>&1
cp -f "$build/engine_tests/icacls_double.exe" "$WINEPREFIX/drive_c/windows/system32/icacls.exe"

to_windows() { printf 'Z:%s' "${1//\//\\}"; }
demo_root='C:\QuorvelDemo'
unix_root=$WINEPREFIX/drive_c/QuorvelDemo

echo "== preparing"
wine32_notice='^(it looks like wine32 is missing|multiarch needs to be enabled|execute "dpkg --add-architecture|apt-get install wine32)'
wine "$build/demo/quorvel_demo.exe" prepare "$(to_windows "$build/QuorvelCustomActions.dll")" "$demo_root" 2>&1 |
    tr -d '\r' | grep -v -E "$wine32_notice"
[[ ${PIPESTATUS[0]} -eq 0 ]] || exit 1

echo "== installing: msiexec /i $demo_root\\QuorvelDemo.msi /qn /l*v $demo_root\\install.log"
timeout 600 wine msiexec /i "$demo_root\\QuorvelDemo.msi" /qn /l*v "$demo_root\\install.log" 2>&1 |
    grep -v -E "$wine32_notice"
installed=${PIPESTATUS[0]}
echo "   msiexec exit code: $installed"
cp -f "$unix_root/install.log" "$build/demo-install.log" 2>/dev/null

echo "== the actions' lines in the log (full log: $build/demo-install.log)"
tr -d '\r' <"$unix_root/install.log" |
    grep -E '^(EditEstimatedSize|RemoveFolder|RemoveRegistries|ChangeQuorvelFolderPermission|RemoveManufacturerFolder):  '

echo "== summary"
wine "$build/demo/quorvel_demo.exe" report "$demo_root" 2>&1 | tr -d '\r' | grep -v -E "$wine32_notice"
reported=${PIPESTATUS[0]}

[[ $installed -eq 0 && $reported -eq 0 ]]
