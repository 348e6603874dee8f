#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the server-database tests.
#
#   eval "$(scripts/pg-cluster.sh start)"   # creates and starts one, prints exports
#   scripts/pg-cluster.sh stop [DIR]        # stops it and removes DIR
#
# start: initdb into a new temporary directory (as the postgres user when run
# as root, since the server refuses to run as root), password authentication
# (scram-sha-256) for every connection, a superuser role with a random
# password, listening on a free loopback port only. It prints shell export
# lines for TIVEL_TEST_PG_HOST, TIVEL_TEST_PG_PORT, TIVEL_TEST_PG_USER,
# TIVEL_TEST_PG_PASSWORD and TIVEL_TEST_PG_DIR (the cluster's directory, which
# stop takes when DIR is not given).
#
# PG_BINDIR names the server's bin directory when it is not the newest
# /usr/lib/postgresql/*/bin.
set -euo pipefail

die() { echo "pg-cluster: $*" >&2; exit 1; }

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

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  local bin dir user password port tries
  bin=$(bindir)
  dir=$(mktemp -d "${TMPDIR:-/tmp}/tivel-pg-XXXXXX")
  chmod 700 "$dir"
  if [ "$(id -u)" = 0 ]; then
    id postgres >/dev/null 2>&1 || { rm -rf "$dir"; die "user postgres does not exist"; }
    chown postgres: "$dir"
  fi
  user=tivel_test
  password=$(head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
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
  # A port can be taken between the test and the start; try a few.
  for tries in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    port_in_use "$port" && continue
    if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c max_connections=200 -c fsync=off" \
        start >/dev/null 2>&1; then
      echo "export TIVEL_TEST_PG_HOST=127.0.0.1"
      echo "export TIVEL_TEST_PG_PORT=$port"
      echo "export TIVEL_TEST_PG_USER=$user"
      echo "export TIVEL_TEST_PG_PASSWORD=$password"
      echo "export TIVEL_TEST_PG_DIR=$dir"
      return 0
    fi
  done
  cat "$dir/server.log" >&2 2>/dev/null || true
  rm -rf "$dir"
  die "the server did not start"
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
  start) start ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 start | stop [DIR]" >&2; exit 2 ;;
esac
