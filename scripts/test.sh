#!/usr/bin/env bash
# The project's test command, run by CI (.ci/run). Stages, in order:
#   plain    build (warnings are errors) and the whole suite
#   asan     the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     the suites that run threads and processes, under ThreadSanitizer
#   release  a Release build installed into a scratch prefix, `tivel init
#            --admin` and a login there (scripts/release-check.sh)
#   fuzz     every libFuzzer target for TIVEL_FUZZ_SECONDS (30) from its seed
#            corpus (scripts/fuzz.sh)
# TIVEL_CI_STAGES="plain tsan" runs only those stages. Each stage's time is
# printed when it ends, and all of them at the end.
#
# The data-access and management suites run once per database engine: always
# on the embedded engine, on PostgreSQL when a test server is named by
# TIVEL_TEST_PG_HOST/PORT/USER/PASSWORD, and on MariaDB when one is named by
# TIVEL_TEST_MARIADB_HOST/PORT/USER/PASSWORD. When a server's variables are
# unset and it is installed, a throwaway one is started for the run
# (scripts/pg-cluster.sh, scripts/mariadb-cluster.sh) and torn down
# afterwards whatever happens. TIVEL_TEST_PG=off and TIVEL_TEST_MARIADB=off
# leave that engine out.
# The directory-login tests get a throwaway slapd likewise
# (TIVEL_TEST_LDAP=off skips them).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=${JOBS:-2}
# Compiler cache keys relative to the checkout, so a fresh clone in another
# folder reuses what an earlier build of the same sources compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
stages=${TIVEL_CI_STAGES:-plain asan tsan release fuzz}
# run_suite DIR [CTEST_ARGS --] [CMAKE_ARGS]
run_suite() {
  local dir=$1 selection=(); shift
  if [ "${1:-}" = -LE ]; then selection=("$1" "$2"); shift 3; fi
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIVEL_BENCH=OFF -DTIVEL_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "${selection[@]}"
}

# The suites that exercise threads and processes: object apartments,
# per-thread module state and key generation, concurrent logins and writers.
tsan_tests='Concurren|Apartment|Thread|Process'
run_tsan() {
  local dir=build-ci-tsan targets=() known
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIVEL_BENCH=OFF -DTIVEL_WERROR=ON \
    -DTIVEL_SANITIZE=thread
  # Only the test programs that hold such suites are built.
  known=$(ninja -C "$dir" -t targets all)
  for t in tivel_platform_tests TivelMgt_tests TivelGF_tests; do
    if grep -q "^$t:" <<<"$known"; then targets+=("$t"); fi
  done
  cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
  # On the embedded engine and PostgreSQL only: the MariaDB dialect keeps its
  # state per connection, shares nothing between threads, and its
  # concurrency suites run in the plain stage.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    env -u TIVEL_TEST_MARIADB_HOST ctest --test-dir "$dir" --output-on-failure -j"$jobs" -R "$tsan_tests"
}

timings=()
stage() {
  local name=$1; shift
  case " $stages " in *" $name "*) ;; *) return 0 ;; esac
  local start=$SECONDS
  echo "test.sh: stage $name"
  "$@"
  timings+=("$name $((SECONDS - start))s")
  echo "test.sh: stage $name took $((SECONDS - start))s"
}

pg_started="" mariadb_started=""
stop_cluster() {
  if [ -n "$pg_started" ]; then
    scripts/pg-cluster.sh stop "$pg_started" || true
    pg_started=""
  fi
  if [ -n "$mariadb_started" ]; then
    scripts/mariadb-cluster.sh stop "$mariadb_started" || true
    mariadb_started=""
  fi
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM

if [ "${TIVEL_TEST_PG:-on}" = off ]; then
  unset TIVEL_TEST_PG_HOST TIVEL_TEST_PG_PORT TIVEL_TEST_PG_USER TIVEL_TEST_PG_PASSWORD
  echo "test.sh: TIVEL_TEST_PG=off, PostgreSQL left out"
elif [ -n "${TIVEL_TEST_PG_HOST:-}" ]; then
  echo "test.sh: PostgreSQL test server given: $TIVEL_TEST_PG_HOST:${TIVEL_TEST_PG_PORT:-5432}"
elif ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || [ -n "${PG_BINDIR:-}" ]; then
  env_lines=$(scripts/pg-cluster.sh start)
  eval "$env_lines"
  pg_started=$TIVEL_TEST_PG_DIR
  echo "test.sh: started a PostgreSQL test cluster on 127.0.0.1:$TIVEL_TEST_PG_PORT"
else
  echo "test.sh: no PostgreSQL server installed, PostgreSQL left out"
fi

if [ "${TIVEL_TEST_MARIADB:-on}" = off ]; then
  unset TIVEL_TEST_MARIADB_HOST TIVEL_TEST_MARIADB_PORT TIVEL_TEST_MARIADB_USER TIVEL_TEST_MARIADB_PASSWORD
  echo "test.sh: TIVEL_TEST_MARIADB=off, MariaDB left out"
elif [ -n "${TIVEL_TEST_MARIADB_HOST:-}" ]; then
  echo "test.sh: MariaDB test server given: $TIVEL_TEST_MARIADB_HOST:${TIVEL_TEST_MARIADB_PORT:-3306}"
elif command -v mariadbd >/dev/null 2>&1 || [ -x /usr/sbin/mariadbd ]; then
  env_lines=$(scripts/mariadb-cluster.sh start)
  eval "$env_lines"
  mariadb_started=$TIVEL_TEST_MARIADB_DIR
  echo "test.sh: started a MariaDB test server on 127.0.0.1:$TIVEL_TEST_MARIADB_PORT"
else
  echo "test.sh: no MariaDB server installed, MariaDB left out"
fi

# The directory-login tests run against a throwaway slapd on free loopback
# ports (scripts/slapd-cluster.sh), stopped whatever happens; without slapd
# they skip (under CI they fail). TIVEL_TEST_LDAP=off skips them.
ldap_started=""
stop_directory() {
  if [ -n "$ldap_started" ]; then
    scripts/slapd-cluster.sh stop "$ldap_started" || true
    ldap_started=""
  fi
}
trap 'stop_cluster; stop_directory' EXIT
if [ "${TIVEL_TEST_LDAP:-on}" = off ]; then
  export TIVEL_TEST_LDAP=off
  echo "test.sh: TIVEL_TEST_LDAP=off, no directory tests"
elif [ -n "${TIVEL_TEST_LDAP_URL:-}" ]; then
  echo "test.sh: directory server given: $TIVEL_TEST_LDAP_URL"
elif [ -x /usr/sbin/slapd ]; then
  ldap_lines=$(scripts/slapd-cluster.sh start)
  eval "$ldap_lines"
  ldap_started=$TIVEL_TEST_LDAP_DIR
  echo "test.sh: started a directory server on $TIVEL_TEST_LDAP_URL and $TIVEL_TEST_LDAPS_URL"
else
  echo "test.sh: slapd not installed, no directory tests"
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage plain run_suite build-ci
# The browser tests drive the program as a user would; they run in the plain
# stage only (the sanitized stage checks the C++ behind them with its suites),
# as do the outage tests, which restart throwaway database servers.
stage asan run_suite build-ci-asan -LE 'browser|outage' -- -DTIVEL_SANITIZE=ON
stage tsan run_tsan
stage release scripts/release-check.sh build-ci-release
stage fuzz scripts/fuzz.sh "${TIVEL_FUZZ_SECONDS:-30}" build-ci-fuzz
echo "test.sh: all stages passed; times: ${timings[*]}"
