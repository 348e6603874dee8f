#!/usr/bin/env bash
# A portal on a PostgreSQL primary with a synchronous streaming standby, its
# data source naming both servers and asking for the writable one: the
# primary is stopped and the standby promoted while a `tivel serve` takes
# logins; the portal's batches succeed on the new primary within 10 s, and
# every login answered as done is on it. Throwaway servers of its own,
# stopped whatever happens; skipped (77) without PostgreSQL.
# Usage: failover.sh path/to/tivel
set -uo pipefail
tivel=${1:?usage: failover.sh path/to/tivel}
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
ls /usr/lib/postgresql/*/bin/pg_basebackup >/dev/null 2>&1 || [ -n "${PG_BINDIR:-}" ] || skip "no PostgreSQL server"
command -v psql >/dev/null || skip "no psql"
odbcinst -q -d -n "PostgreSQL Unicode" >/dev/null 2>&1 || skip "no psqlODBC"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-failover-XXXXXX")
primary= standby= serve_pid=
cleanup() {
  [ -n "$serve_pid" ] && kill "$serve_pid" 2>/dev/null && wait "$serve_pid" 2>/dev/null
  [ -n "$standby" ] && "$scripts/pg-cluster.sh" stop "$standby" >/dev/null 2>&1
  [ -n "$primary" ] && "$scripts/pg-cluster.sh" stop "$primary" >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

lines=$("$scripts/pg-cluster.sh" start) || { echo "FAIL: the primary did not start" >&2; exit 1; }
eval "$lines"
primary=$TIVEL_TEST_PG_DIR
sql() {  # port statement
  PGPASSWORD=$TIVEL_TEST_PG_PASSWORD psql -h 127.0.0.1 -p "$1" -U "$TIVEL_TEST_PG_USER" -d postgres -qAtX \
    -v ON_ERROR_STOP=1 -c "$2"
}
sql "$TIVEL_TEST_PG_PORT" "CREATE DATABASE portal"
lines=$("$scripts/pg-cluster.sh" start --standby-of "$primary" --sync) || { echo "FAIL: no standby" >&2; exit 1; }
eval "$lines"
standby=$TIVEL_TEST_PG_STANDBY_DIR
[ "$(sql "$TIVEL_TEST_PG_PORT" "SELECT sync_state FROM pg_stat_replication")" = sync ] || fail "the standby is not synchronous"

# The data source names both servers, the writable one wanted.
cat >"$tmp/odbc.ini" <<INI
[portal]
Driver = PostgreSQL Unicode
Database = portal
pqopt = host=127.0.0.1,127.0.0.1 port=$TIVEL_TEST_PG_PORT,$TIVEL_TEST_PG_STANDBY_PORT target_session_attrs=read-write
INI
export ODBCINI=$tmp/odbc.ini
root=$tmp/root
mkdir -p "$root/ini"
for f in SysTivel Scrivane; do
  printf '[DB]\nmode=1\n[DBCONN_dsn]\nDSN=portal\nuid=%s\npwd=%s\nConnectTimeout=2\n' \
    "$TIVEL_TEST_PG_USER" "$TIVEL_TEST_PG_PASSWORD" >"$root/ini/$f.ini"
done
chmod 600 "$root"/ini/*.ini
printf 'S3cret\n' | "$tivel" init --root "$root" --admin admin --password-stdin >"$tmp/init.txt" 2>&1 ||
  { cat "$tmp/init.txt" >&2; echo "FAIL: init" >&2; exit 1; }
token=$(cat "$root/ini/serve.token")
"$tivel" serve --root "$root" --listen 127.0.0.1:0 --threads 2 >"$tmp/serve.out" 2>"$tmp/serve.err" &
serve_pid=$!
for i in $(seq 1 20); do
  base=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$tmp/serve.out" 2>/dev/null)
  [ -n "$base" ] && break
  sleep 0.1
done
[ -n "$base" ] || { echo "FAIL: serve: $(cat "$tmp/serve.err")" >&2; exit 1; }
login() {
  curl -s -m 10 -H "Authorization: Bearer $token" -H 'Content-Type: application/json' \
    --data '[{"id":"a","new":"TivelMgt.AdminMgt"},{"id":"l","object":{"from":"a"},"call":"loginByPwd","args":["admin","S3cret","127.0.0.1"]}]' \
    "$base/rpc"
}
done_logins=0
for i in $(seq 1 20); do
  [[ "$(login)" == *'"id":"l","result":"0"'* ]] && done_logins=$((done_logins + 1))
done
((done_logins == 20)) || fail "before the failover: $done_logins of 20 logins"

# The primary stops, the standby is promoted; batches go on until one
# succeeds, timed from the primary's stop.
start=$(date +%s%N)
"$scripts/pg-cluster.sh" halt "$primary" || fail "halt the primary"
"$scripts/pg-cluster.sh" promote "$standby" || fail "promote"
switched=$((($(date +%s%N) - start) / 1000000))
first=
# Tried for 10 s from the stop, however many attempts that takes on a busy machine.
while (($(date +%s%N) - start < 10000000000)); do
  if [[ "$(login)" == *'"id":"l","result":"0"'* ]]; then
    done_logins=$((done_logins + 1))
    first=$((($(date +%s%N) - start) / 1000000))
    break
  fi
  sleep 0.05
done
[ -n "$first" ] && ((first <= 10000)) ||
  fail "no batch succeeded on the new primary within 10 s (${first:-none} ms): $(login) $(grep -v "POST /rpc" "$tmp/serve.err" | tail -n 8)"
for i in $(seq 1 10); do
  [[ "$(login)" == *'"id":"l","result":"0"'* ]] && done_logins=$((done_logins + 1))
done
# Every login answered as done is on the new primary (tivel init's counts one).
count=$(PGPASSWORD=$TIVEL_TEST_PG_PASSWORD psql -h 127.0.0.1 -p "$TIVEL_TEST_PG_STANDBY_PORT" -U "$TIVEL_TEST_PG_USER" \
  -d portal -qAtX -c "SELECT login_count FROM umUsr WHERE account = 'admin'")
[ "$count" = $((done_logins + 1)) ] || fail "logins answered as done: $done_logins, on the new primary: $((count - 1))"
echo "failover: primary stopped and standby promoted in $switched ms; first batch on the new primary after ${first:-none} ms; $done_logins logins answered, $((count - 1)) kept"

if ((failures)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
