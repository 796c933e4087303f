#!/usr/bin/env bash
# Shipping checks on the cross-built DLL: exactly the five exports, only
# system DLLs imported, a version resource, the stripped size within its
# bound, and reproducibility: two clean builds of the working tree, the
# second signed with a certificate made for the purpose, give the bytes of
# the DLL checked (the signed one once its signature is taken off again), and
# the signature verifies.
#
#   engine_tests/ship-check.sh <path-to-QuorvelCustomActions.dll> [signed-copy]
#
# With a second argument, the signed DLL is copied there (run.sh runs an
# engine case with it).
#
# Prints one line per check and closes with "N passed, N failed".
set -u

dll=${1:?usage: ship-check.sh <dll> [signed-copy]}
signed_copy=${2:-}
[[ -n $signed_copy ]] && rm -f "$signed_copy"
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

# Two clean builds of the same sources, each in a folder of its own; the
# second is given a certificate made for the purpose and signs its DLL, as a
# build for a fleet that admits only signed code does.
repo=$(cd "$(dirname "$0")/.." && pwd)
build_clean() {
    local folder=$1
    shift
    cmake -S "$repo" -B "$folder" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null &&
        cmake --build "$folder" --target QuorvelCustomActions -j2 >/dev/null
}
certificate=$rebuilds/signing-certificate.pem
key=$rebuilds/signing-key.pem
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorvel shipping check" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$key" -out "$certificate" >/dev/null 2>&1
first=$rebuilds/first/QuorvelCustomActions.dll
signed=$rebuilds/signed/QuorvelCustomActions.dll
unsigned=$rebuilds/signature-removed.dll
if build_clean "$rebuilds/first" &&
    build_clean "$rebuilds/signed" -DQUORVEL_SIGNING_CERTIFICATE="$certificate" -DQUORVEL_SIGNING_KEY="$key"; then
    if verified=$(osslsigncode verify -CAfile "$certificate" -in "$signed" 2>&1); then
        pass signed-build-verifies
    else
        fail signed-build-verifies "osslsigncode verify $signed:" "$(tail -n 3 <<<"$verified")"
    fi
    # Without its signature the signed DLL is the unsigned one, byte for byte.
    osslsigncode remove-signature -in "$signed" -out "$unsigned" >/dev/null 2>&1
    if cmp -s "$first" "$dll" && cmp -s "$unsigned" "$first"; then
        pass reproducible-bytes
    else
        fail reproducible-bytes "against the checked DLL: $(cmp "$first" "$dll" 2>&1 | head -n 1)" \
            "the signed build without its signature: $(cmp "$unsigned" "$first" 2>&1 | head -n 1)"
    fi
    if [[ -n $signed_copy ]]; then
        mkdir -p "$(dirname "$signed_copy")" && cp -f "$signed" "$signed_copy"
    fi
else
    fail reproducible-bytes "a clean build of $repo, unsigned or signed, failed"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
