#!/usr/bin/env bash
# Runs the engine tests: shipping checks on the cross-built DLL, then the
# engine test runner under wine in this build's own prefix, once per ANSI code
# page: 1252 (every case but the Japanese ones) and 932 (the Japanese cases),
# then the guard held against a decision by identity on wine's own file
# system and registry, and last one lifecycle case with the signed DLL that
# the shipping checks built.
# wine takes a process's code page from its locale, and the processes it
# starts (the custom-action server) keep it; one prefix serves both.
#
#   engine_tests/run.sh <windows-build-dir> [case-name-filter...]
#
# The prefix lives in <windows-build-dir>/wineprefix and is created on first
# use; the engine's desktop data (and so its trash) lives beside it, never in
# the user's home. Only this prefix's wineserver is stopped at the end.
# Closes with "N passed, N failed" and exits nonzero on any failure.
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: engine_tests/run.sh <windows-build-dir> [filter...]}" && pwd) || exit 2
shift

dll=$build/QuorvelCustomActions.dll
runner=$build/engine_tests/engine_tests.exe
double=$build/msi_authoring/icacls_double.exe
identity=$build/engine_tests/guard_identity.exe
for file in "$dll" "$runner" "$double" "$identity"; do
    if [[ ! -f $file ]]; then
        echo "missing $file: build the Windows tree first (cmake --build $build)" >&2
        exit 2
    fi
done

total_passed=0
total_failed=0
# Adds the counts of a closing "N passed, N failed[, N skipped]" line.
count() {
    local closing
    closing=$(LC_ALL=C grep -a -E '^[0-9]+ passed, [0-9]+ failed' "$1" | tail -n 1)
    if [[ -z $closing ]]; then
        total_failed=$((total_failed + 1))
        echo "FAIL $2 (no closing count line)"
        return
    fi
    total_passed=$((total_passed + $(awk '{print $1}' <<<"$closing")))
    total_failed=$((total_failed + $(awk '{print $3}' <<<"$closing")))
}

output=$(mktemp)
trap 'rm -f "$output"' EXIT

echo "== shipping checks"
signed_dll=$build/signed-copy/QuorvelCustomActions.dll
"$here/ship-check.sh" "$dll" "$signed_dll" | tee "$output"
count "$output" ship-check

. "$here/../scripts/wine-prefix.sh"
trap 'stop_wineserver; rm -f "$output"' EXIT
if ! use_wine_prefix "$build/wineprefix" "$build/wine-xdg" "$double"; then
    echo "FAIL engine (no usable prefix at $WINEPREFIX)"
    echo "$total_passed passed, $((total_failed + 1)) failed"
    exit 1
fi
wine_bin=${WINE:-wine}

# Q: is a scratch drive: the cases that check that a volume root is refused
# aim at its root, never at C:.
scratch=$build/wine-scratch-q
mkdir -p "$scratch"
ln -sfn "$scratch" "$WINEPREFIX/dosdevices/q:"
# W: and U: (mapped below for a pass of their own) are no drives of the
# passes before it.
rm -f "$WINEPREFIX/dosdevices/w:" "$WINEPREFIX/dosdevices/u:"
# Host-side symbolic links for the guard cases: one to the prefix's Windows
# folder (only the permission grant, which wine keeps nothing of, is aimed at
# it), one to the scratch folder where the cases point the user's shell
# folders.
links=$WINEPREFIX/drive_c/quorvel-engine-links
mkdir -p "$links"
ln -sfn ../windows "$links/windows"
ln -sfn "../quorvel-engine-shell/Personal Documents" "$links/scratch-documents"
# A profile that is a link to a folder elsewhere, as an administrator makes
# one when profiles move to another disk.
mkdir -p "$WINEPREFIX/drive_c/quorvel-engine-profiles/linked/Downloads"
ln -sfn ../quorvel-engine-profiles/linked "$WINEPREFIX/drive_c/users/quorvel-linked"
# Whatever an earlier run left in the engine's trash: the deletion cases
# check that nothing lands there.
rm -rf "$XDG_DATA_HOME/Trash"

to_windows() { printf 'Z:%s' "${1//\//\\}"; }
export ICACLS_DOUBLE_DIR='C:\icacls-double'
export ENGINE_TESTS_WORK='C:\quorvel-engine-tests'
export ENGINE_TESTS_TRASH
ENGINE_TESTS_TRASH=$(to_windows "$XDG_DATA_HOME/Trash")

# Quorvel Notebook's releases, built from the package's table files the way
# an installer engineer builds a product: with msibuild, of Debian's msitools.
command -v msibuild >/dev/null || "$here/../scripts/install-deps.sh"
notebook=$build/notebook-releases
"$here/notebook_product/build.sh" "$dll" "$notebook" ||
    echo "notebook_product/build.sh failed: the Quorvel Notebook cases fail"
export ENGINE_TESTS_NOTEBOOK
ENGINE_TESTS_NOTEBOOK=$(to_windows "$notebook")

# The locale of each pass (LC_ALL, so that no setting of the caller's wins)
# and the code page wine derives from it. The Japanese locale must be
# generated on the machine; without it wine falls back to 1252 and the runner
# fails that pass.
passes=("C.UTF-8 1252" "ja_JP.UTF-8 932")
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
    "$here/../scripts/install-deps.sh"
fi

# Runs the runner on a DLL under a locale, with case filters; its output
# goes to $output too.
# The runner's working folder is inherited by the custom-action server.
# A bound on each pass, so that a hung engine cannot stall the caller.
# The runner prints UTF-8; bytes it cannot convert come as \xNN.
run_pass() {
    local pass_locale=$1 code_page=$2 tested=$3
    shift 3
    (cd "$build" && LC_ALL=$pass_locale timeout 900 "$wine_bin" "$runner" "$(to_windows "$tested")" \
        --code-page "$code_page" "$@") 2>&1 | tr -d '\r' |
        LC_ALL=C grep -a -v -E "$wine32_notice" | tee "$output"
}

wine_version=$("$wine_bin" --version 2>/dev/null)
for pass in "${passes[@]}"; do
    read -r pass_locale code_page <<<"$pass"
    echo "== engine tests under code page $code_page ($pass_locale, $wine_version)"
    run_pass "$pass_locale" "$code_page" "$dll" "$@"
    count "$output" "engine (code page $code_page)"
done

# W: and U: lead onto the Windows folder and the profiles folder, as a drive
# mapped there does: the guard must see them for what they are. With them
# mapped, wine gives the final path of everything below those folders on
# the mapped drive, so the cases that need them run in a pass of their own.
ln -sfn ../drive_c/windows "$WINEPREFIX/dosdevices/w:"
ln -sfn ../drive_c/users "$WINEPREFIX/dosdevices/u:"
echo "== engine tests on drives mapped onto the Windows and profiles folders (code page 1252)"
run_pass C.UTF-8 1252 "$dll" "$@"
count "$output" "engine (mapped drives)"

# The guard's own sources beside a decision by identity, on a table of
# targets (W: and U: among them): it only decides, and puts back the
# registry values it moves.
echo "== the guard against a decision by identity"
(cd "$build" && LC_ALL=C.UTF-8 timeout 300 "$wine_bin" "$identity") 2>&1 | tr -d '\r' |
    LC_ALL=C grep -a -v -E "$wine32_notice" | tee "$output"
count "$output" "guard against identity"
rm -f "$WINEPREFIX/dosdevices/w:" "$WINEPREFIX/dosdevices/u:"

# The signed DLL that the shipping checks built, through one whole lifecycle.
signed_case='lifecycle/install and uninstall without verbose logging'
echo "== the signed DLL in the engine (code page 1252)"
if [[ -f $signed_dll ]]; then
    run_pass C.UTF-8 1252 "$signed_dll" "$signed_case"
    count "$output" "engine (signed DLL)"
    if ! grep -q -E "^(ok  |FAIL) $signed_case " "$output"; then
        echo "FAIL engine (signed DLL): no case named '$signed_case' ran"
        total_failed=$((total_failed + 1))
    fi
else
    echo "FAIL engine (signed DLL): the shipping checks left no signed DLL at $signed_dll"
    total_failed=$((total_failed + 1))
fi
echo "note: the engine hands deferred actions a database handle (Windows gives 0);" \
    "the database-less session start is covered by the host tests"

echo "$total_passed passed, $total_failed failed"
[[ $total_failed -eq 0 ]]
