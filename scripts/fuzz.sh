#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (every library instrumented,
# AddressSanitizer and UndefinedBehaviorSanitizer on) and runs each for a
# bounded time, starting from its seed corpus in fuzz/corpus/NAME.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR] [TARGET...]
#        (default 30, build-fuzz, the four targets on the platform layer;
#        rpc_fuzz, which instruments every component, is named to run it)
# New inputs go to BUILD_DIR/corpus/NAME (the seeds in the tree stay as they
# are); an input that breaks a target is kept as BUILD_DIR/crash/NAME-* and
# the script fails. Every such input becomes a regression test of its suite.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
dir=${2:-build-fuzz}
jobs=${JOBS:-2}
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIVEL_FUZZ=ON -DTIVEL_TESTS=OFF -DTIVEL_BENCH=OFF >/dev/null
shift $(($# < 2 ? $# : 2))
targets=("$@")
((${#targets[@]})) || targets=(profile_fuzz connection_string_fuzz variant_fuzz keyword_fuzz)
cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
mkdir -p "$dir/crash"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  mkdir -p "$dir/corpus/$name"
  echo "fuzz.sh: $t for ${seconds}s"
  if ! "$dir/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/crash/$name-" "$dir/corpus/$name" "fuzz/corpus/$name" 2>"$dir/$name.log"; then
    echo "fuzz.sh: $t FAILED (log: $dir/$name.log, inputs: $dir/crash/$name-*)" >&2
    tail -n 40 "$dir/$name.log" >&2
    failed=1
  else
    grep -E '^stat::number_of_executed_units' "$dir/$name.log" || true
  fi
done
exit $failed
