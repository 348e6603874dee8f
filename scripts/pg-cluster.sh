#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the server-database tests.
#
#   eval "$(scripts/pg-cluster.sh start)"   # creates and starts one, prints exports
#   scripts/pg-cluster.sh stop [DIR]        # stops it and removes DIR
#   scripts/pg-cluster.sh halt DIR | resume DIR | restart DIR
#                                           # the server alone, data and port kept
#   scripts/pg-cluster.sh start --standby-of DIR [--sync]
#                                           # a streaming standby of DIR's server
#   scripts/pg-cluster.sh promote DIR       # the standby in DIR becomes a primary
#
# start: initdb into a new temporary directory (as the postgres user when run
# as root, since the server refuses to run as root), password authentication
# (scram-sha-256) for every connection, a superuser role with a random
# password, listening on a free loopback port only. It prints shell export
# lines for TIVEL_TEST_PG_HOST, TIVEL_TEST_PG_PORT, TIVEL_TEST_PG_USER,
# TIVEL_TEST_PG_PASSWORD and TIVEL_TEST_PG_DIR (the cluster's directory, which
# stop takes when DIR is not given).
#
# A standby is a base backup of the primary (pg_basebackup as the primary's
# superuser, whose password TIVEL_TEST_PG_PASSWORD gives), on a port of its
# own; it prints TIVEL_TEST_PG_STANDBY_PORT and TIVEL_TEST_PG_STANDBY_DIR.
# With --sync the primary waits for the standby before a commit returns
# (synchronous_standby_names), so nothing answered as committed is lost
# when the standby is promoted; without it the standby may lag behind.
#
# PG_BINDIR names the server's bin directory when it is not the newest
# /usr/lib/postgresql/*/bin. TIVEL_PG_LISTEN names another address to listen
# on than 127.0.0.1 (inside a network namespace made for a benchmark); the
# server then also takes password logins from that address's own subnet.
set -euo pipefail

die() { echo "pg-cluster: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/servers.sh"

bindir() {
  if [ -n "${PG_BINDIR:-}" ]; then echo "$PG_BINDIR"; return; fi
  local d
  d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  [ -n "$d" ] && [ -x "$d/initdb" ] || die "no PostgreSQL server found (install postgresql or set PG_BINDIR)"
  echo "$d"
}

# Runs a command as the cluster's owner: postgres when we are root, else us.
as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

listen_address() { echo "${TIVEL_PG_LISTEN:-127.0.0.1}"; }

# The shared check, at the address the server listens on.
port_in_use() { (exec 3<>"/dev/tcp/$(listen_address)/$1") 2>/dev/null; }

# Starts the server of DIR on PORT and notes the port and address for resume.
server_on() {
  local dir=$1 port=$2 address
  address=$(cat "$dir/listen" 2>/dev/null || listen_address)
  as_owner "$(bindir)/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses=$address -p $port -k $dir -c max_connections=200 -c fsync=off" \
    start >/dev/null 2>&1 || return 1
  echo "$port" >"$dir/port"
  echo "$address" >"$dir/listen"
}

halt() {
  local dir=${1:?halt: no cluster directory given}
  as_owner "$(bindir)/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
}

resume() {
  local dir=${1:?resume: no cluster directory given}
  server_on "$dir" "$(cat "$dir/port")" || { tail -n 20 "$dir/server.log" >&2; die "resume: the server did not start"; }
}

promote() {
  local dir=${1:?promote: no cluster directory given}
  as_owner "$(bindir)/pg_ctl" -D "$dir/data" -w -t 60 promote >/dev/null
}

standby() {
  local primary=$1 sync=$2 bin dir
  [ -f "$primary/port" ] || die "standby: $primary holds no running cluster"
  [ -n "${TIVEL_TEST_PG_PASSWORD:-}" ] || die "standby: TIVEL_TEST_PG_PASSWORD (the primary's) is unset"
  bin=$(bindir)
  dir=$(server_dir "${TMPDIR:-/tmp}" tivel-pg postgres)
  # The password goes through a password file, never a command line.
  (umask 077; printf '127.0.0.1:%s:*:%s:%s\n' "$(cat "$primary/port")" "${TIVEL_TEST_PG_USER:-tivel_test}" \
    "$TIVEL_TEST_PG_PASSWORD" >"$dir/pgpass")
  [ "$(id -u)" = 0 ] && chown postgres: "$dir/pgpass"
  if ! as_owner env PGPASSFILE="$dir/pgpass" "$bin/pg_basebackup" -h 127.0.0.1 -p "$(cat "$primary/port")" \
      -U "${TIVEL_TEST_PG_USER:-tivel_test}" -D "$dir/data" -R -X stream -c fast >"$dir/basebackup.log" 2>&1; then
    cat "$dir/basebackup.log" >&2
    rm -rf "$dir"
    die "pg_basebackup failed"
  fi
  echo "primary_conninfo = 'host=127.0.0.1 port=$(cat "$primary/port") user=${TIVEL_TEST_PG_USER:-tivel_test} passfile=$dir/pgpass application_name=standby'" \
    >>"$dir/data/postgresql.auto.conf"
  standby_on() {
    server_on "$dir" "$1" || return 1
    if [ "$sync" = 1 ]; then
      as_owner env PGPASSFILE="$dir/pgpass" "$bin/psql" -h 127.0.0.1 -p "$(cat "$primary/port")" -U "${TIVEL_TEST_PG_USER:-tivel_test}" \
        -d postgres -qAtc "ALTER SYSTEM SET synchronous_standby_names = 'standby'" -c "SELECT pg_reload_conf()" \
        >/dev/null
    fi
    echo "export TIVEL_TEST_PG_STANDBY_PORT=$1"
    echo "export TIVEL_TEST_PG_STANDBY_DIR=$dir"
  }
  on_free_port "$dir" "$dir/server.log" "the standby did not start" standby_on
}

start() {
  local bin dir user password
  bin=$(bindir)
  dir=$(server_dir "${TMPDIR:-/tmp}" tivel-pg postgres)
  user=tivel_test
  password=$(random_password)
  # The password goes through a file, never a command line.
  (umask 077; printf '%s\n' "$password" >"$dir/pwfile")
  [ "$(id -u)" = 0 ] && chown postgres: "$dir/pwfile"
  if ! as_owner "$bin/initdb" -D "$dir/data" -U "$user" --pwfile="$dir/pwfile" \
      --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    rm -rf "$dir"
    die "initdb failed"
  fi
  rm -f "$dir/pwfile"
  if [ "$(listen_address)" != 127.0.0.1 ]; then
    echo "host all all samenet scram-sha-256" >>"$dir/data/pg_hba.conf"
  fi
  primary_on() {
    server_on "$dir" "$1" || return 1
    echo "export TIVEL_TEST_PG_HOST=$(listen_address)"
    echo "export TIVEL_TEST_PG_PORT=$1"
    echo "export TIVEL_TEST_PG_USER=$user"
    echo "export TIVEL_TEST_PG_PASSWORD=$password"
    echo "export TIVEL_TEST_PG_DIR=$dir"
  }
  on_free_port "$dir" "$dir/server.log" "the server did not start" primary_on
}

stop() {
  local dir=${1:-${TIVEL_TEST_PG_DIR:-}}
  [ -n "$dir" ] || die "stop: no cluster directory given and TIVEL_TEST_PG_DIR is unset"
  [ -d "$dir/data" ] || die "stop: $dir holds no cluster"
  local bin
  bin=$(bindir)
  as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}

case "${1:-}" in
  start)
    if [ "${2:-}" = --standby-of ]; then
      standby "${3:?start --standby-of DIR}" "$([ "${4:-}" = --sync ] && echo 1 || echo 0)"
    else
      start
    fi ;;
  stop) shift; stop "$@" ;;
  halt) halt "${2:-}" ;;
  resume) resume "${2:-}" ;;
  restart) halt "${2:-}" && resume "${2:-}" ;;
  promote) promote "${2:-}" ;;
  *) echo "usage: $0 start [--standby-of DIR [--sync]] | stop [DIR] | halt DIR | resume DIR | restart DIR | promote DIR" >&2; exit 2 ;;
esac
