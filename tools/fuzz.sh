#!/usr/bin/env bash
# Fuzzes the curve file reader: tools/fuzz.sh [seconds] (default 30).
# Configures a separate clang++ build in build/fuzz, builds the fuzz target and
# runs it on a working copy of fuzz/corpus with the token dictionary. Exits
# non-zero when the fuzzer finds a crash, a hang or a sanitizer report; the
# input that caused it is kept in build/fuzz/findings/.
set -euo pipefail

seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_FUZZ=ON -DKELVORA_TESTS=OFF -DKELVORA_BENCH=OFF -DKELVORA_SANITIZE=OFF \
  -DKELVORA_WERROR=ON >/dev/null
cmake --build "$build" --target curve_reader_fuzz

# The fuzzer adds the inputs it finds interesting to its working corpus, so it
# works on a copy and the seed corpus in the repository stays as committed.
corpus=$build/corpus
mkdir -p "$corpus" "$build/findings"
cp "$root"/fuzz/corpus/* "$corpus"/

# The fuzzer's running log goes to a file; its closing lines are shown.
log=$build/fuzz.log
status=0
"$build/curve_reader_fuzz" "$corpus" -dict="$root/fuzz/curve_reader.dict" \
  -max_total_time="$seconds" -timeout=10 -artifact_prefix="$build/findings/" \
  -print_final_stats=1 >"$log" 2>&1 || status=$?
if [[ $status -ne 0 ]]; then
  tail -n 60 "$log"
  echo "The fuzzer found a fault (exit $status); the input is in $build/findings/"
else
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
fi
exit $status
