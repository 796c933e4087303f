#!/usr/bin/env bash
# Builds the releases of Quorvel Notebook the way an installer engineer
# builds a product from README: the product's own tables (tables/ here, and
# the rows that change with each release), the package's rows added by
# package/fill-tables.sh, and Debian's msibuild.
#
#   engine_tests/notebook_product/build.sh <QuorvelCustomActions.dll> <out folder>
#
# For each release, <out>/<version>/ holds tables/ (every table, filled),
# notebook.msi and its uncompressed source image beside it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dll=${1:?usage: build.sh <dll> <out folder>}
out=${2:?usage: build.sh <dll> <out folder>}

# Version, product code, where RemoveExistingProducts removes the older
# version (1450: before InstallInitialize, 6650: after InstallFinalize), and
# what is new, which the program file carries: each release's file differs
# in size, since wine's Installer leaves an unversioned file of the same size
# in place.
releases=(
  "1.0.0 {5E0B6A4F-2C1D-4E8A-9F37-1B6C2D8E4A10} 1450 notes in folders"
  "2.0.0 {5E0B6A4F-2C1D-4E8A-9F37-1B6C2D8E4A20} 1450 notes keep their history"
  "3.0.0 {5E0B6A4F-2C1D-4E8A-9F37-1B6C2D8E4A30} 6650 notes shared between the users of a machine"
)

# Tab-separated rows of one table.
rows() { printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$@" | sed -E 's/\t+$//'; }

for release in "${releases[@]}"; do
  read -r version product_code removal news <<<"$release"
  folder=$out/$version
  rm -rf "$folder"
  mkdir -p "$folder/own-tables"
  cp "$here/tables/"*.idt "$folder/own-tables/"

  program="$folder/PFiles64/Quorvel Works/Quorvel Notebook/notebook.txt"
  settings="$folder/CAppData/Quorvel Works/Quorvel Notebook/settings.ini"
  mkdir -p "$(dirname "$program")" "$(dirname "$settings")"
  printf 'Quorvel Notebook %s: %s\r\n' "$version" "$news" >"$program"
  printf '[notebook]\r\nsync=off\r\n' >"$settings"

  own=$folder/own-tables
  printf 'ProductCode\t%s\nProductVersion\t%s\n' "$product_code" "$version" >>"$own/Property.idt"
  printf 'RemoveExistingProducts\t\t%s\n' "$removal" >>"$own/InstallExecuteSequence.idt"
  {
    rows File Component_ FileName FileSize Version Language Attributes Sequence
    rows s72 s72 l255 i4 S72 S20 I2 i2
    rows File File
    rows notebook.txt Program notebook.txt "$(stat -c %s "$program")" '' '' 0 1
    rows settings.ini Settings settings.ini "$(stat -c %s "$settings")" '' '' 0 2
  } >"$own/File.idt"
  # Every older release; the Remove column makes wine's Installer remove the
  # older version as Windows does (README: testing a package under wine).
  {
    rows UpgradeCode VersionMin VersionMax Language Attributes Remove ActionProperty
    rows s38 S20 S20 S255 i4 S255 s72
    rows Upgrade UpgradeCode VersionMin VersionMax Language Attributes
    printf '%s\t\t%s\t\t0\t%s\tOLDERNOTEBOOKS\n' "$(sed -n 's/^UpgradeCode\t//p' "$own/Property.idt")" "$version" \
      'ALL UPGRADINGPRODUCTCODE=[ProductCode]'
  } >"$own/Upgrade.idt"
  # A new package code for every build; word count 0: long names, files
  # uncompressed beside the package.
  {
    rows PropertyId Value
    rows i2 l255
    rows _SummaryInformation PropertyId
    printf '2\tInstallation Database\n3\tQuorvel Notebook\n4\tQuorvel Works\n7\tx64;1033\n'
    printf '9\t{%s}\n14\t200\n15\t0\n' "$(tr a-f A-F </proc/sys/kernel/random/uuid)"
  } >"$own/_SummaryInformation.idt"

  "$here/../../package/fill-tables.sh" --tables "$own" --out "$folder/tables" --dll "$dll" \
    --product-code "$product_code" --install-folder NOTEBOOKDIR --manufacturer-folder WORKSDIR \
    --data-folder NOTEBOOKDATADIR --data-manufacturer-folder WORKSDATADIR
  # msibuild reads the Binary table's files relative to the working folder.
  (cd "$folder/tables" && msibuild ../notebook.msi -i *.idt)
done
