#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them; prints the median of
# 15 repetitions of each. Extra arguments go to the benchmark programs
# (for example --benchmark_filter=Competition).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/ensure_packages.sh" --tests
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVORA_TESTS=OFF \
  -DKELVORA_BENCH=ON >/dev/null
cmake --build "$build" >/dev/null
for program in "$build"/*_bench; do
  "$program" --benchmark_repetitions=15 --benchmark_report_aggregates_only=true \
    --benchmark_display_aggregates_only=true "$@" | grep -E '^(Benchmark|BM_.*_median|-)'
done
# Accuracy of the point solvers over the parameter box: STRESS_POINTS points
# (default 1e6; 0 skips it) with seed STRESS_SEED (default 1).
if [[ "${STRESS_POINTS:-1000000}" != 0 ]]; then
  "$build/solver_stress" "${STRESS_POINTS:-1000000}" "${STRESS_SEED:-1}"
fi
