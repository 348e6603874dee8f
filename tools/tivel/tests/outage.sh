#!/usr/bin/env bash
# A portal on a database server that restarts, ends the portal's sessions
# and goes away for a while, with a `tivel serve`, a `tivel rpc` (the
# management and fee components in it) and one-shot commands running: after
# each, the first batch sent a second after the server accepts connections
# again succeeds; while it is away /health says why within the connect
# time-out; a server started while the database is down serves once it
# comes. Also: connection failures say why (wrong password, missing
# database, server down), and a --root that is no portal root is refused.
# The test starts a throwaway server of its own and stops it whatever
# happens; it is skipped (77) where the server is not installed.
# "postgresql-native" runs the same on PostgreSQL through the native backend
# (driver "PostgreSQL", libpq) instead of ODBC.
# Usage: outage.sh path/to/tivel postgresql|postgresql-native|mariadb
set -uo pipefail
tivel=${1:?usage: outage.sh path/to/tivel postgresql|postgresql-native|mariadb}
engine=${2:?usage: outage.sh path/to/tivel postgresql|postgresql-native|mariadb}
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)
skip() { echo "SKIP: $*"; exit 77; }

case $engine in
  postgresql | postgresql-native)
    ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || [ -n "${PG_BINDIR:-}" ] || skip "no PostgreSQL server"
    command -v psql >/dev/null || skip "no psql"
    cluster=$scripts/pg-cluster.sh driver="PostgreSQL Unicode"
    [ "$engine" = postgresql-native ] && driver=PostgreSQL ;;
  mariadb)
    command -v mariadbd >/dev/null || [ -x /usr/sbin/mariadbd ] || skip "no MariaDB server"
    cluster=$scripts/mariadb-cluster.sh driver="MariaDB Unicode" ;;
  *) echo "unknown engine $engine" >&2; exit 2 ;;
esac
[ "$driver" = PostgreSQL ] || odbcinst -q -d -n "$driver" >/dev/null 2>&1 || skip "no ODBC driver $driver"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-outage-XXXXXX")
dir=
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  [ -n "$dir" ] && "$cluster" stop "$dir" >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

env_lines=$("$cluster" start) || { echo "FAIL: the throwaway server did not start" >&2; exit 1; }
eval "$env_lines"
if [ "$engine" != mariadb ]; then
  dir=$TIVEL_TEST_PG_DIR host=$TIVEL_TEST_PG_HOST port=$TIVEL_TEST_PG_PORT user=$TIVEL_TEST_PG_USER
  password=$TIVEL_TEST_PG_PASSWORD
  sql() { PGPASSWORD=$password psql -h "$host" -p "$port" -U "$user" -d postgres -qAtX -v ON_ERROR_STOP=1 -c "$1"; }
  sql "CREATE DATABASE portal"
  kill_sessions() {
    sql "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = 'portal'" >/dev/null
  }
else
  dir=$TIVEL_TEST_MARIADB_DIR host=$TIVEL_TEST_MARIADB_HOST port=$TIVEL_TEST_MARIADB_PORT
  user=$TIVEL_TEST_MARIADB_USER password=$TIVEL_TEST_MARIADB_PASSWORD
  sql() { MYSQL_PWD=$password mariadb --no-defaults -h "$host" -P "$port" -u "$user" -N -B -e "$1"; }
  sql "CREATE DATABASE portal CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin"
  kill_sessions() {
    local id
    for id in $(sql "SELECT id FROM information_schema.processlist WHERE db = 'portal' AND id <> CONNECTION_ID()"); do
      sql "KILL $id" 2>/dev/null
    done
  }
fi

# --- a root on the server, the connect time-out beside the connection
root=$tmp/root
mkdir -p "$root/ini"
write_ini() {  # database password
  local f
  for f in SysTivel Scrivane; do
    printf '[DB]\nmode=2\n[DBCONN_sql_drive]\nDRIVER=%s\nSERVER=%s,%s\nuid=%s\npwd=%s\nDatabase=%s\nConnectTimeout=3\n' \
      "$driver" "$host" "$port" "$user" "$2" "$1" >"$root/ini/$f.ini"
  done
  chmod 600 "$root"/ini/*.ini
}
write_ini portal "$password"
printf 'S3cret\n' | "$tivel" init --root "$root" --admin admin --password-stdin >"$tmp/init.txt" 2>&1 ||
  { cat "$tmp/init.txt" >&2; echo "FAIL: init" >&2; exit 1; }
token=$(cat "$root/ini/serve.token")

# --- the processes that hold connections
start_serve() {  # log file; sets serve_pid and base
  "$tivel" serve --root "$root" --listen 127.0.0.1:0 --threads 2 >"$1" 2>"$1.err" &
  serve_pid=$!
  pids+=("$serve_pid")
  local i
  for i in $(seq 1 100); do
    base=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$1" 2>/dev/null)
    [ -n "$base" ] && return 0
    sleep 0.1
  done
  fail "serve did not start: $(cat "$1.err")"
}
start_serve "$tmp/serve.out"
mkfifo "$tmp/rpc.in"
"$tivel" rpc --root "$root" <"$tmp/rpc.in" >"$tmp/rpc.out" 2>"$tmp/rpc.err" &
pids+=($!)
exec 3>"$tmp/rpc.in"
asked=0
ask() {  # request-json without its id: sets out to the answer line (the id is a number of this run)
  asked=$((asked + 1))
  echo "{\"id\":$asked,${1#\{}" >&3
  local i
  for i in $(seq 1 300); do
    out=$(grep -F "{\"id\":$asked," "$tmp/rpc.out")
    [ -n "$out" ] && return
    sleep 0.05
  done
  out="no answer"
}
ask '{"new":"TivelMgt.AdminMgt"}'  # handle 1
ask '{"new":"TivelGF.interface"}'  # handle 2

health() { curl -s -o "$tmp/health" -w '%{http_code}' "$base/health"; }
batch_login() {
  curl -s -H "Authorization: Bearer $token" -H 'Content-Type: application/json' \
    --data '[{"id":"a","new":"TivelMgt.AdminMgt"},{"id":"l","object":{"from":"a"},"call":"loginByPwd","args":["admin","S3cret","127.0.0.1"]}]' \
    "$base/rpc"
}
logins=1  # the count tivel init leaves

# Every holder of a connection serves again: the serve's batch and health,
# the rpc process's login and fee read, a one-shot login; each login counted.
all_serve() {  # what happened
  local out
  out=$(batch_login)
  [[ "$out" == *'"id":"l","result":"0"'* ]] && logins=$((logins + 1)) || fail "$1: serve batch: $out"
  out=$(health)
  [ "$out" = 200 ] || fail "$1: /health $out $(cat "$tmp/health")"
  ask '{"object":1,"call":"loginByPwd","args":["admin","S3cret","127.0.0.1"]}'
  [[ "$out" == *'"result":"0"'* ]] && logins=$((logins + 1)) || fail "$1: rpc login: $out"
  ask '{"object":2,"call":"f_GetRecordset","args":[{"ref":""},"","SELECT count(*) FROM XT_CS_CD"]}'
  [[ "$out" == *'"result":{"object":'* ]] || fail "$1: fee read: $out"
  out=$(printf 'S3cret\n' | "$tivel" login admin --root "$root" --password-stdin 2>&1)
  [[ "$out" == *"loginByPwd:   0"* ]] && logins=$((logins + 1)) || fail "$1: tivel login: $out"
  [[ "$out" == *"login count:  $logins"* ]] || fail "$1: a login answered as done is missing: $out"
}
all_serve "before any outage"

# --- the server restarts
"$cluster" restart "$dir" || fail "restart"
sleep 1
all_serve "after a restart"

# --- the server ends the portal's sessions
kill_sessions
sleep 1
all_serve "after the sessions were killed"

# --- the server goes away for a while; a serve started meanwhile
"$cluster" halt "$dir" || fail "halt"
start=$(date +%s%N)
code=$(health)
took=$((($(date +%s%N) - start) / 1000000))
[ "$code" = 503 ] || fail "/health while down: $code"
grep -q 'SQLSTATE' "$tmp/health" || fail "/health says no reason: $(cat "$tmp/health")"
((took < 4000)) || fail "/health took ${took} ms while down"
out=$(printf 'S3cret\n' | "$tivel" login admin --root "$root" --password-stdin 2>&1)
[[ "$out" == *"连接数据库出错！ "*SQLSTATE* ]] || fail "tivel login while down: $out"
ask '{"object":1,"call":"loginByPwd","args":["admin","S3cret","127.0.0.1"]}'
[[ "$out" != *'"result":"0"'* ]] || fail "rpc login while down: $out"
grep -q '^tivel rpc: the database .*SQLSTATE' "$tmp/rpc.err" || fail "rpc's stderr while down: $(cat "$tmp/rpc.err")"
out=$("$tivel" call TivelMgt.UmMgt getUsrByAccount admin --root "$root" 2>&1)
[[ "$out" == *"tivel call: 连接数据库出错！ "*SQLSTATE* ]] || fail "tivel call while down: $out"
out=$(echo '{"id":1,"new":"TivelMgt.UmMgt"}' | "$tivel" rpc --root "$root" 2>"$tmp/rpc2.err")
[[ "$out" == *'"number":-2147221503'*'"description":"连接数据库出错！","detail":'*SQLSTATE* ]] ||
  fail "rpc started while down: $out"
grep -q '^tivel rpc: 连接数据库出错！ .*SQLSTATE' "$tmp/rpc2.err" || fail "rpc's stderr: $(cat "$tmp/rpc2.err")"
old_base=$base
start_serve "$tmp/serve2.out"
grep -q 'cannot be reached now' "$tmp/serve2.out.err" || fail "serve started while down: $(cat "$tmp/serve2.out.err")"
[ "$(health)" = 503 ] || fail "the new serve's /health while down"
"$cluster" resume "$dir" || fail "resume"
sleep 1
all_serve "the serve started while down"
base=$old_base
all_serve "after an outage"
[ -z "$(grep -v '^tivel rpc: \(the database \|connected to the database again\)' "$tmp/rpc.err")" ] ||
  fail "rpc's stderr: $(cat "$tmp/rpc.err")"
grep -q "^tivel rpc: connected to the database again" "$tmp/rpc.err" || fail "rpc did not say it is connected again: $(cat "$tmp/rpc.err")"

# --- messages: each failure says what it is, without the password
expect_login_error() {  # what text
  local out
  out=$(printf 'S3cret\n' | "$tivel" login admin --root "$root" --password-stdin 2>&1)
  [[ "$out" == *"$2"* ]] || fail "$1: $out"
  [[ "$out" != *"$password"* && "$out" != *wrongpw* ]] || fail "$1: the password is shown: $out"
  echo "$out"
}
write_ini portal wrongpw
m1=$(expect_login_error "wrong password" "连接数据库出错！ ")
write_ini nosuchdb "$password"
m2=$(expect_login_error "missing database" "nosuchdb")
write_ini portal "$password"
"$cluster" halt "$dir" || fail "halt"
m3=$(expect_login_error "server down" "连接数据库出错！ ")
"$cluster" resume "$dir" || fail "resume"
[[ "$m1" != "$m2" && "$m2" != "$m3" && "$m1" != "$m3" ]] || fail "the three failures read the same: $m1 / $m2 / $m3"
# A server that takes no connection (a listener whose backlog is full, as
# an unreachable host): the open gives up after the connect time-out (3 s).
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(0)
held = [socket.create_connection(s.getsockname(), timeout=1)]
for i in range(3):
    c = socket.socket(); c.setblocking(False); c.connect_ex(s.getsockname()); held.append(c)
print(s.getsockname()[1], flush=True)
time.sleep(60)' >"$tmp/unreachable.port" &
pids+=($!)
for i in $(seq 1 50); do [ -s "$tmp/unreachable.port" ] && break; sleep 0.1; done
real_port=$port
port=$(cat "$tmp/unreachable.port")
write_ini portal "$password"
start=$(date +%s%N)
m4=$(expect_login_error "unreachable server" "SQLSTATE")
took=$((($(date +%s%N) - start) / 1000000))
((took >= 2500 && took < 6000)) || fail "an unreachable server failed the login after $took ms: $m4"
port=$real_port
write_ini portal "$password"

# --- a --root that is no portal root is refused, and nothing is made there
mkdir "$tmp/empty"
for cmd in "login admin" "rpc" "serve" "call TivelMgt.UmMgt getUsrByAccount admin"; do
  out=$("$tivel" $cmd --root "$tmp/empty" </dev/null 2>&1)
  rc=$?
  [[ $rc != 0 && "$out" == *"is no"*root* ]] || fail "tivel $cmd on no root: rc $rc, $out"
done
[ -z "$(ls -A "$tmp/empty")" ] || fail "something was made in a directory that is no root: $(ls -A "$tmp/empty")"

if ((failures)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "outage on $engine: ok"
