#!/usr/bin/env bash
# Builds the host benchmarks in Release into build/bench and runs them; extra
# arguments go to the benchmark binary (e.g. --benchmark_filter=Line).
# Figures and the machine they were taken on are in bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON >/dev/null
cmake --build build/bench -j2 --target quorvel_bench
build/bench/bench/quorvel_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@"
