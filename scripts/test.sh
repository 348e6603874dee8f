#!/usr/bin/env bash
# The project's test command, run by CI (.ci/run). Stages, in order:
#   plain    build (warnings are errors) and the whole suite
#   pq       the PostgreSQL runs of the plain build's suites once more, through
#            the native backend (TIVEL_TEST_PG_NATIVE=1) instead of ODBC
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
stages=${TIVEL_CI_STAGES:-plain pq asan tsan release fuzz}
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

# Every test instantiated for PostgreSQL (named .../postgresql, which ctest
# follows with the parameter's comment, hence no "$" after it) and the
# native backend's own, on the plain build; skipped without a PostgreSQL server.
run_native_pg() {
  if [ -z "${TIVEL_TEST_PG_HOST:-}" ]; then
    echo "test.sh: no PostgreSQL server, the native-backend run left out"
    return 0
  fi
  cmake -S . -B build-ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIVEL_BENCH=ON -DTIVEL_WERROR=ON
  cmake --build build-ci -j"$jobs"
  local pick='/postgresql( |$)|^Pq' n
  # A selection that no longer matches the suites would pass with only the
  # backend's own few tests: refuse that.
  n=$(ctest --test-dir build-ci -N -R "$pick" | sed -n 's/^Total Tests: //p')
  if [ "${n:-0}" -lt 100 ]; then
    echo "test.sh: the native-backend run selects only ${n:-0} tests" >&2
    return 1
  fi
  TIVEL_TEST_PG_NATIVE=1 ctest --test-dir build-ci --output-on-failure -j"$jobs" -R "$pick"
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

# The suites' throwaway servers, each stopped whatever happens: PostgreSQL
# and MariaDB (the server engines) and slapd (directory login). A server is
# left out with TIVEL_TEST_<NAME>=off, used as given when the caller names
# one, started when its server is installed, and otherwise left out (the
# directory tests then skip; under CI they fail).
started_servers=()
stop_servers() {
  local entry
  for entry in "${started_servers[@]}"; do
    scripts/"${entry%% *}" stop "${entry#* }" || true
  done
  started_servers=()
}
trap stop_servers EXIT
trap 'exit 130' INT TERM

# test_server NAME SWITCH GIVEN INSTALLED SCRIPT DIR_VARIABLE OFF_VARIABLES...
test_server() {
  local name=$1 switch=$2 given=$3 installed=$4 script=$5 dir_var=$6 lines
  shift 6
  if [ "${!switch:-on}" = off ]; then
    unset "$@"
    echo "test.sh: $switch=off, $name left out"
  elif [ -n "${!given:-}" ]; then
    echo "test.sh: $name server given: ${!given}"
  elif eval "$installed" >/dev/null 2>&1; then
    lines=$(scripts/$script start)
    eval "$lines"
    started_servers+=("$script ${!dir_var}")
    echo "test.sh: started a $name server ($script)"
  else
    echo "test.sh: no $name server installed, $name left out"
  fi
}

test_server PostgreSQL TIVEL_TEST_PG TIVEL_TEST_PG_HOST \
  'ls /usr/lib/postgresql/*/bin/initdb || [ -n "${PG_BINDIR:-}" ]' pg-cluster.sh TIVEL_TEST_PG_DIR \
  TIVEL_TEST_PG_HOST TIVEL_TEST_PG_PORT TIVEL_TEST_PG_USER TIVEL_TEST_PG_PASSWORD
test_server MariaDB TIVEL_TEST_MARIADB TIVEL_TEST_MARIADB_HOST \
  'command -v mariadbd || [ -x /usr/sbin/mariadbd ]' mariadb-cluster.sh TIVEL_TEST_MARIADB_DIR \
  TIVEL_TEST_MARIADB_HOST TIVEL_TEST_MARIADB_PORT TIVEL_TEST_MARIADB_USER TIVEL_TEST_MARIADB_PASSWORD
test_server directory TIVEL_TEST_LDAP TIVEL_TEST_LDAP_URL '[ -x /usr/sbin/slapd ]' slapd-cluster.sh TIVEL_TEST_LDAP_DIR
# Off, the directory tests are told so, rather than finding no server.
if [ "${TIVEL_TEST_LDAP:-on}" = off ]; then export TIVEL_TEST_LDAP=off; fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The plain build compiles the benchmarks too (not run), so a change that
# breaks one fails here and not at the next measurement.
stage plain run_suite build-ci -DTIVEL_BENCH=ON
stage pq run_native_pg
# The browser tests drive the program as a user would; they run in the plain
# stage only (the sanitized stage checks the C++ behind them with its suites),
# as do the outage tests, which restart throwaway database servers.
stage asan run_suite build-ci-asan -LE 'browser|outage' -- -DTIVEL_SANITIZE=ON
stage tsan run_tsan
stage release scripts/release-check.sh build-ci-release
stage fuzz scripts/fuzz.sh "${TIVEL_FUZZ_SECONDS:-30}" build-ci-fuzz
echo "test.sh: all stages passed; times: ${timings[*]}"
