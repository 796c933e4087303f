# Sourced by the scripts that run the DLL under wine's Installer
# (engine_tests/run.sh, demo/run.sh, scripts/bench-engine.sh).
#
#   use_wine_prefix <prefix-folder> <desktop-data-folder> <icacls-double.exe>
#
# A 64-bit prefix of the caller's own, created on first use, with the
# engine's desktop data (and so its trash) in a folder of the caller's too,
# never in the user's home. The prefix's background services start at once,
# detached from any pipe the caller then reads wine through, and the
# recording icacls double replaces the engine's own icacls. Answers nonzero
# when no usable prefix results. stop_wineserver stops this prefix's
# wineserver and no other.

# wine's advice to install its 32-bit half, which 64-bit packages never need.
wine32_notice='^(it looks like wine32 is missing|multiarch needs to be enabled|execute "dpkg --add-architecture|apt-get install wine32)'

use_wine_prefix() {
    export WINEPREFIX=$1
    export WINEARCH=win64
    export WINEDEBUG=-all
    export XDG_DATA_HOME=$2/data
    export XDG_CONFIG_HOME=$2/config
    export XDG_CACHE_HOME=$2/cache
    # No desktop menus, no browser or .NET runtime prompts; the engine's own
    # icacls stub is replaced by the recording double, which only runs as native.
    export WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree,mshtml=d;icacls.exe=n'
    mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        echo "== creating the wine prefix $WINEPREFIX (once)"
        "${WINE:-wine}" wineboot --init >/dev/null 2>&1
        wineserver -w
    fi
    "${WINE:-wine}" cmd /c exit >/dev/null 2>&1
    [[ -d $WINEPREFIX/drive_c/windows/system32 ]] &&
        cp -f "$3" "$WINEPREFIX/drive_c/windows/system32/icacls.exe"
}

stop_wineserver() { wineserver -k >/dev/null 2>&1 || true; }
