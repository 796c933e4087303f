#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) into build/fuzz and runs each for a bounded time:
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
# Each run starts from a temporary copy of fuzz/corpus/<name>, so the seed
# corpus in the repository is never written; a crashing input is kept in
# build/fuzz/findings/<target>/. See fuzz/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_actions fuzz_format fuzz_guard)

# libFuzzer comes with clang's runtime libraries.
scripts/install-deps.sh clang libclang-rt-14-dev

cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=ON >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  corpus="$(mktemp -d)"
  cp -R "fuzz/corpus/${target#fuzz_}/." "$corpus/"
  findings="build/fuzz/findings/$target"
  mkdir -p "$findings"
  # A target's dictionary (fuzz/<name>.dict) gives the mutations the pieces
  # its inputs are made of.
  dictionary=()
  [ -f "fuzz/${target#fuzz_}.dict" ] && dictionary=(-dict="fuzz/${target#fuzz_}.dict")
  echo "== $target for ${seconds}s"
  if ! "build/fuzz/fuzz/$target" "$corpus" "${dictionary[@]}" -max_total_time="$seconds" -timeout=20 \
      -print_final_stats=1 -artifact_prefix="$findings/"; then
    status=1
  fi
  # The product's share of the coverage reached by the corpus the run grew.
  # A crash in that replay is already among the findings: its artifact goes
  # there too, never into the working folder.
  "build/fuzz/fuzz/$target" -runs=0 -print_coverage=1 -artifact_prefix="$findings/" "$corpus" 2>&1 |
    awk '/^(UN)?COVERED_FUNC/ && $NF ~ /\/(runtime|actions|targetguard)\// {
           split($5, e, "/"); covered += e[1]; edges += e[2]; functions++; if (e[1] > 0) reached++ }
         END { if (edges) printf "== %s: product edges covered %d of %d (%.0f%%), functions reached %d of %d\n",
                                 target, covered, edges, 100 * covered / edges, reached, functions }' target="$target"
  rm -rf "$corpus"
done
exit $status
