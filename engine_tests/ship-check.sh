#!/usr/bin/env bash
# Shipping checks on the cross-built DLL: exactly the five exports, only
# system DLLs imported, a version resource, the stripped size within its
# bound, and reproducibility: two clean builds of the working tree give the
# same bytes as the DLL checked.
#
#   engine_tests/ship-check.sh <path-to-QuorvelCustomActions.dll>
#
# Prints one line per check and closes with "N passed, N failed".
set -u

dll=${1:?usage: ship-check.sh <dll>}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
strip=${STRIP:-x86_64-w64-mingw32-strip}
strings=${STRINGS:-x86_64-w64-mingw32-strings}

passed=0
failed=0
pass() { echo "ok   ship/$1"; passed=$((passed + 1)); }
fail() { echo "FAIL ship/$1"; shift; printf '  %s\n' "$@"; failed=$((failed + 1)); }

if [[ ! -f $dll ]]; then
    fail dll-present "no file at $dll"
    echo "$passed passed, $failed failed"
    exit 1
fi

headers=$("$objdump" -p "$dll")

# Export names: the rows after "[Ordinal/Name Pointer] Table" look like
# "	[   0] ChangeQuorvelFolderPermission".
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {inside = 1; next}
               inside && /^\t\[/ {print $NF; next}
               inside {inside = 0}' <<<"$headers" | sort)
expected=$(printf '%s\n' ChangeQuorvelFolderPermission EditEstimatedSize RemoveFolder RemoveManufacturerFolder \
    RemoveRegistries | sort)
if [[ $exports == "$expected" ]]; then
    pass exports-exactly-the-five-actions
else
    fail exports-exactly-the-five-actions "exported: $(echo $exports)" "expected: $(echo $expected)"
fi

# Imports: only DLLs that every Windows installation carries.
system_dlls='^(kernel32|advapi32|user32|shell32|shlwapi|msi|version|userenv|ole32|oleaut32|rpcrt4|msvcrt|ucrtbase|ntdll|api-ms-win-.*)\.dll$'
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u)
foreign=$(grep -Ev "$system_dlls" <<<"$imports" || true)
if [[ -n $imports && -z $foreign ]]; then
    pass imports-only-system-dlls
else
    fail imports-only-system-dlls "imports: $(echo $imports)" "not a system DLL: $(echo $foreign)"
fi

if "$strings" -el "$dll" | grep -qx 'VS_VERSION_INFO' && "$strings" -el "$dll" | grep -qx 'FileVersion'; then
    pass version-resource-present
else
    fail version-resource-present "no VS_VERSION_INFO block with a FileVersion in $dll"
fi

# The DLL is extracted anew for every action call: its size is bounded.
largest_kib=80
stripped=$(mktemp)
rebuilds=$(mktemp -d)
trap 'rm -rf "$stripped" "$rebuilds"' EXIT
if "$strip" -o "$stripped" "$dll"; then
    size=$(stat -c %s "$stripped")
    echo "     stripped size: $size bytes ($(( (size + 1023) / 1024 )) KiB; at most $largest_kib KiB, aim: under 64 KiB)"
    if (( size <= largest_kib * 1024 )); then
        pass stripped-size-within-bound
    else
        fail stripped-size-within-bound "$size bytes is more than $largest_kib KiB"
    fi
else
    fail stripped-size-within-bound "strip failed on $dll"
fi

# Two clean builds of the same sources, each in a folder of its own.
repo=$(cd "$(dirname "$0")/.." && pwd)
build_clean() {
    cmake -S "$repo" -B "$1" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null &&
        cmake --build "$1" --target QuorvelCustomActions -j2 >/dev/null
}
if build_clean "$rebuilds/first" && build_clean "$rebuilds/second"; then
    first=$rebuilds/first/QuorvelCustomActions.dll
    second=$rebuilds/second/QuorvelCustomActions.dll
    if cmp -s "$first" "$second" && cmp -s "$first" "$dll"; then
        pass reproducible-bytes
    else
        fail reproducible-bytes "clean builds differ: $(cmp "$first" "$second" | head -n 1)" \
            "against the checked DLL: $(cmp "$first" "$dll" | head -n 1)"
    fi
else
    fail reproducible-bytes "a clean build of $repo failed"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
