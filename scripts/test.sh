#!/usr/bin/env bash
# Builds the project plainly and under AddressSanitizer + UndefinedBehaviorSanitizer
# and runs the whole test suite in both builds.
#
# The data-access and management suites run once per database engine: always
# on the embedded engine, and on PostgreSQL when a test server is named by
# TIVEL_TEST_PG_HOST/PORT/USER/PASSWORD. When these are unset and a
# PostgreSQL server is installed, a throwaway cluster is started for the run
# (scripts/pg-cluster.sh) and torn down afterwards whatever happens.
# TIVEL_TEST_PG=off runs the embedded engine only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=${JOBS:-2}
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIVEL_BENCH=OFF "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

pg_started=""
stop_cluster() {
  if [ -n "$pg_started" ]; then
    scripts/pg-cluster.sh stop "$pg_started" || true
    pg_started=""
  fi
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM

if [ "${TIVEL_TEST_PG:-on}" = off ]; then
  unset TIVEL_TEST_PG_HOST TIVEL_TEST_PG_PORT TIVEL_TEST_PG_USER TIVEL_TEST_PG_PASSWORD
  echo "test.sh: TIVEL_TEST_PG=off, embedded engine only"
elif [ -n "${TIVEL_TEST_PG_HOST:-}" ]; then
  echo "test.sh: PostgreSQL test server given: $TIVEL_TEST_PG_HOST:${TIVEL_TEST_PG_PORT:-5432}"
elif ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || [ -n "${PG_BINDIR:-}" ]; then
  env_lines=$(scripts/pg-cluster.sh start)
  eval "$env_lines"
  pg_started=$TIVEL_TEST_PG_DIR
  echo "test.sh: started a PostgreSQL test cluster on 127.0.0.1:$TIVEL_TEST_PG_PORT"
else
  echo "test.sh: no PostgreSQL server installed, embedded engine only"
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-ci
run_suite build-ci-asan -DTIVEL_SANITIZE=ON
