#!/usr/bin/env bash
# The engine benchmark: each action's per-call time under wine's Installer,
# the product DLL against a bare DLL that makes only the platform calls each
# action is made of, with no target guard (bench/engine), the grant and the
# deletion on trees of 1,100 and 11,000 objects against the bare calls by
# handle they are made of, and RemoveFolder against the number of profiles on
# the machine beside the reads of their lists. Cross-builds what it needs into build/bench-engine and runs in a wine
# prefix of its own there; stops only that prefix's wineserver.
#
#   scripts/bench-engine.sh [--calls N] [--check-only] [work... | profiles]
#   scripts/bench-engine.sh --trace-calls [work... | profiles]
#   scripts/bench-engine.sh --call-costs
#
# Exits 1 when the bare DLL does not do what the product does or a call
# fails. --trace-calls runs only the checks, under wine's relay trace, and
# writes the platform calls each DLL made in each checked call, and their
# differences, into build/bench-engine/platform-calls. --call-costs times
# each kind of platform call that a guarded call makes.
# Figures and the machine they were taken on are in bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/bench-engine
cmake -S . -B "$build" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target QuorvelCustomActions QuorvelBareActions quorvel_engine_bench icacls_double \
  >/dev/null
build=$(cd "$build" && pwd)

. scripts/wine-prefix.sh
trap stop_wineserver EXIT
use_wine_prefix "$build/bench-wineprefix" "$build/bench-xdg" "$build/msi_authoring/icacls_double.exe"
export ICACLS_DOUBLE_DIR='C:\icacls-double'

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
export BENCH_TRASH
BENCH_TRASH=$(windows_path "$XDG_DATA_HOME/Trash")

# Code page 1252: wine takes it from the locale, and no setting of the caller's wins.
bench() {
  LC_ALL=C.UTF-8 timeout 3600 wine "$build/bench/engine/quorvel_engine_bench.exe" "$(windows_path "$build/QuorvelCustomActions.dll")" \
    "$(windows_path "$build/bench/engine/QuorvelBareActions.dll")" 'C:\quorvel-engine-bench' "$@"
}

if [[ ${1:-} != --trace-calls ]]; then
  echo "== engine benchmark ($(wine --version 2>/dev/null), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
  bench "$@" 2>&1 | tr -d '\r' | grep -v -E "$wine32_notice"
  exit "${PIPESTATUS[0]}"
fi
shift

# Each call loads a fresh temporary copy of its DLL; the calls made from
# inside that copy into the system's DLLs (not the C runtime's or ntdll's,
# which hold the heap) are its platform calls. Numbers and handles are masked.
calls=$build/platform-calls
rm -rf "$calls" && mkdir -p "$calls"
set +o pipefail  # a mismatch still leaves its traces to look at
WINEDEBUG=+relay,+loaddll bench --check-only "$@" 2>"$calls/relay.log" | tr -d '\r' | tee "$calls/check.txt"
checked=${PIPESTATUS[0]}
set -o pipefail
calls=$calls perl -ne '
  if (/Loaded L".*\\(msi[0-9a-f]+\.tmp)" at ([0-9A-F]+)/) {
    push @copies, [hex $2, sprintf("%s/%02d.txt", $ENV{calls}, scalar(@copies) + 1)];
    next;
  }
  next unless /^[0-9a-f]+:Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$/;
  next if $1 =~ /^(msvcrt|ntdll)$/ || $2 eq "GetProcessHeap";
  my ($dll, $function, $arguments, $return) = ($1, $2, $3, hex $4);
  for my $copy (reverse @copies) {
    next unless $return >= $copy->[0] && $return < $copy->[0] + 0x200000;
    $arguments =~ s/\b[0-9a-f]{8,16}\b/#/g;
    $arguments =~ s/msi[0-9a-f]+\.tmp/<module>/g;
    open(my $out, ">>", $copy->[1]); print $out "$dll.$function($arguments)\n"; close($out);
    last;
  }' "$calls/relay.log"
rm -f "$calls/relay.log"
# The checks ran product then bare for every line they printed.
call=0
while read -r _ action mode _; do
  product=$(printf '%s/%02d.txt' "$calls" $((call + 1)))
  bare=$(printf '%s/%02d.txt' "$calls" $((call + 2)))
  call=$((call + 2))
  mode=${mode//[():]/}
  name=$action-$mode
  mv "$product" "$calls/$name.product.txt" && mv "$bare" "$calls/$name.bare.txt"
  diff "$calls/$name.product.txt" "$calls/$name.bare.txt" >"$calls/$name.diff" || true
  # What differs, by function: calls only the product made (<) or only the bare DLL (>).
  differences=$({ grep '^[<>]' "$calls/$name.diff" || true; } | sed -E 's/^(.) ([^(]*)\(.*/\1 \2/' | sort | uniq -c |
    awk '{printf "%s%s %d %s", sep, ($2 == "<" ? "product only" : "bare only"), $1, $3; sep = ", "}')
  echo "$action $mode: $(wc -l <"$calls/$name.product.txt") platform calls of the product," \
    "$(wc -l <"$calls/$name.bare.txt") of the bare DLL; ${differences:-no difference}"
done < <(grep -E '^(same|FAIL) ' "$calls/check.txt")
exit "$checked"
