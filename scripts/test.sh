#!/usr/bin/env bash
# Builds the project plainly and under AddressSanitizer + UndefinedBehaviorSanitizer
# and runs the whole test suite in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIVEL_BENCH=OFF "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-ci
run_suite build-ci-asan -DTIVEL_SANITIZE=ON
