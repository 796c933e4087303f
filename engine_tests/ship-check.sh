#!/usr/bin/env bash
# Shipping checks on the cross-built DLL: exactly the five exports, only
# system DLLs imported, a version resource, and the stripped size.
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

stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
if "$strip" -o "$stripped" "$dll"; then
    size=$(stat -c %s "$stripped")
    echo "     stripped size: $size bytes ($(( (size + 1023) / 1024 )) KiB; aim: 200 KiB or less)"
    pass stripped-size-reported
else
    fail stripped-size-reported "strip failed on $dll"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
