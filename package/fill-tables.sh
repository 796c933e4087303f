#!/usr/bin/env bash
# Fills the placeholders of the package's table files (the Installer's text
# table format) with a product's folders, its product code and the DLL, and
# adds their rows to the product's own tables, ready for import:
#
#   package/fill-tables.sh --out <new folder> --dll <QuorvelCustomActions.dll> \
#     --product-code <{GUID}> --install-folder <Directory> --manufacturer-folder <Directory> \
#     --data-folder <Directory> --data-manufacturer-folder <Directory> [--tables <folder>]
#
# The folders are the Directory table's keys of the product's install folder,
# its manufacturer folder, its data folder and the data folder's manufacturer
# folder; the product code is the version's own, with or without braces.
# With --tables, every file of that folder is copied to the new folder first,
# and where it holds one of the package's tables the package's rows are
# added to it (an import replaces a table whole, so each table must come in
# one file). Without it, the new folder holds the package's four tables only.
# The DLL goes into Binary/QuorvelCustomActions.ibd beside them.
set -euo pipefail

package=$(cd "$(dirname "$0")" && pwd)
usage="usage: $0 --out <new folder> --dll <dll> --product-code <{GUID}> --install-folder <Directory>
  --manufacturer-folder <Directory> --data-folder <Directory> --data-manufacturer-folder <Directory>
  [--tables <folder of the product's own .idt files>]"
fail() {
  echo "fill-tables: $*" >&2
  exit 2
}

declare -A value=()
while [[ $# -gt 0 ]]; do
  case $1 in
  --out | --dll | --product-code | --install-folder | --manufacturer-folder | --data-folder | \
    --data-manufacturer-folder | --tables)
    [[ $# -ge 2 ]] || fail "$1 needs a value"
    value[$1]=$2
    shift 2
    ;;
  *) fail "unknown argument '$1'"$'\n'"$usage" ;;
  esac
done
for option in --out --dll --product-code --install-folder --manufacturer-folder --data-folder \
  --data-manufacturer-folder; do
  [[ -n ${value[$option]:-} ]] || fail "$option is missing"$'\n'"$usage"
done

out=${value[--out]}
[[ -f ${value[--dll]} ]] || fail "no DLL at ${value[--dll]}"
[[ ! -e $out || -z $(ls -A "$out") ]] || fail "$out is not empty"
# EditEstimatedSize takes the product code without its braces; the Installer
# wants it in upper case.
product_code=${value[--product-code]#\{}
product_code=${product_code%\}}
[[ $product_code =~ ^[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}$ ]] ||
  fail "--product-code '${value[--product-code]}' is not an upper-case GUID"
declare -A placeholder=(
  [INSTALLFOLDER]=${value[--install-folder]}
  [MANUFACTURERFOLDER]=${value[--manufacturer-folder]}
  [DATAFOLDER]=${value[--data-folder]}
  [DATAMANUFACTURERFOLDER]=${value[--data-manufacturer-folder]}
)
for name in "${!placeholder[@]}"; do
  [[ ${placeholder[$name]} =~ ^[A-Za-z_][A-Za-z0-9_.]*$ ]] ||
    fail "'${placeholder[$name]}' is not a Directory key"
done

own_tables=${value[--tables]:-}
tables=(Binary CustomAction Error InstallExecuteSequence)
# A table of the product's own takes the package's rows: it must have the
# same columns.
for table in "${tables[@]}"; do
  own=$own_tables/$table.idt
  columns=$(head -n 1 "$package/$table.idt")
  if [[ -n $own_tables && -f $own && $(head -n 1 "$own" | tr -d '\r') != "$columns" ]]; then
    fail "the columns of $own differ from the package's: $columns"
  fi
done

mkdir -p "$out/Binary"
[[ -z $own_tables ]] || cp -R "$own_tables/." "$out/"
cp "${value[--dll]}" "$out/Binary/QuorvelCustomActions.ibd"

substitutions=(-e "s/@PRODUCTCODE@/$product_code/g")
for name in "${!placeholder[@]}"; do
  substitutions+=(-e "s/@$name@/${placeholder[$name]}/g")
done

for table in "${tables[@]}"; do
  source=$package/$table.idt
  target=$out/$table.idt
  if [[ -f $target ]]; then
    [[ -z $(tail -c 1 "$target") ]] || echo >>"$target"
    tail -n +4 "$source" | sed "${substitutions[@]}" >>"$target"
  else
    sed "${substitutions[@]}" "$source" >"$target"
  fi
done
