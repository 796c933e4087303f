#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, and only those
# that are missing: the host toolchain with GoogleTest and Google Benchmark,
# the mingw-w64 cross compiler, wine for the Installer engine, msitools for
# the packages that the engine tests build from table files, and
# osslsigncode with openssl for the signed DLL of the shipping checks. Then
# generates the Japanese UTF-8 locale if it is missing: wine takes a
# process's ANSI code page from the locale, and the engine tests run one pass
# under code page 932.
#
#   scripts/install-deps.sh [extra package...]   e.g. clang for scripts/fuzz.sh
#   scripts/install-deps.sh --dll                only what the DLL's own build needs
set -euo pipefail

dll_build=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 osslsigncode)
if [[ ${1:-} == --dll ]]; then
  packages=("${dll_build[@]}")
else
  packages=("${dll_build[@]}" g++ libgtest-dev libgmock-dev libbenchmark-dev wine wine64 msitools locales openssl
            "$@")
fi
japanese_locale="ja_JP.UTF-8 UTF-8"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# locale -a lists it as ja_JP.utf8.
generate_japanese_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && return 0
  echo "Generating the locale $japanese_locale"
  if grep -q "^# *$japanese_locale" /etc/locale.gen; then
    $sudo sed -i "s/^# *$japanese_locale/$japanese_locale/" /etc/locale.gen
  elif ! grep -q "^$japanese_locale" /etc/locale.gen; then
    echo "$japanese_locale" | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen >/dev/null
}

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
[[ ${1:-} == --dll ]] || generate_japanese_locale
