#!/usr/bin/env bash
# Builds QuorvelCustomActions.dll alone, for a package: cross-compiled with
# mingw-w64 in Release, into build/dll/ beside its SHA-256, and prints both.
#
#   scripts/build-dll.sh                                            # unsigned
#   scripts/build-dll.sh --certificate signing.pem --key signing-key.pem
#
# With a code-signing certificate (PEM, with its chain) and its unencrypted
# private key (PEM), the DLL is signed (Authenticode, SHA-256; README,
# Signing). Installs what the build needs when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: $0 [--certificate <certificate.pem> --key <key.pem>]"
certificate=""
key=""
while [[ $# -gt 0 ]]; do
  case $1 in
  --certificate) certificate=$(realpath "${2:?$usage}") && shift 2 ;;
  --key) key=$(realpath "${2:?$usage}") && shift 2 ;;
  *) echo "$usage" >&2 && exit 2 ;;
  esac
done
if [[ -n $certificate$key && ( -z $certificate || -z $key ) ]]; then
  echo "$usage: a signature needs both the certificate and its key" >&2
  exit 2
fi

scripts/install-deps.sh --dll

# A tree of its own for each kind of build. A signed build links the DLL
# anew, so that the certificate given now signs it.
tree=build/dll-tree/unsigned
if [[ -n $certificate ]]; then
  tree=build/dll-tree/signed
  rm -f "$tree/QuorvelCustomActions.dll"
fi
echo "== building QuorvelCustomActions.dll in $tree" >&2
cmake -S . -B "$tree" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEL_SIGNING_CERTIFICATE="$certificate" -DQUORVEL_SIGNING_KEY="$key" >/dev/null
cmake --build "$tree" -j2 --target QuorvelCustomActions >/dev/null

out=build/dll
mkdir -p "$out"
cp -f "$tree/QuorvelCustomActions.dll" "$out/"
(cd "$out" && sha256sum QuorvelCustomActions.dll >QuorvelCustomActions.dll.sha256)
echo "$(pwd)/$out/QuorvelCustomActions.dll${certificate:+ (signed)}"
echo "SHA-256 $(cut -d' ' -f1 "$out/QuorvelCustomActions.dll.sha256")"
