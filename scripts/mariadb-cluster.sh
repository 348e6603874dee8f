#!/usr/bin/env bash
# A throwaway MariaDB server for the server-database tests.
#
#   eval "$(scripts/mariadb-cluster.sh start)"   # creates and starts one, prints exports
#   scripts/mariadb-cluster.sh stop [DIR]        # stops it and removes DIR
#   scripts/mariadb-cluster.sh halt DIR | resume DIR | restart DIR
#                                                # the server alone, data and port kept
#
# start: mariadb-install-db into a new temporary directory (in /dev/shm when
# it has room, else TMPDIR; the server runs as the mysql user when we are
# root, since it refuses to run as root), a user with a random password and
# every privilege, reachable over TCP only, the server listening on a free
# loopback port and its own socket in that directory, without networking
# names, binary log or durable flushes. It prints shell export lines for
# TIVEL_TEST_MARIADB_HOST, _PORT, _USER, _PASSWORD and TIVEL_TEST_MARIADB_DIR
# (the server's directory, which stop takes when DIR is not given). The
# server keeps the packaged defaults otherwise (no option files are read:
# latin1, REPEATABLE READ, lower_case_table_names 0), so the tests see what a
# site's untuned server does.
set -euo pipefail

die() { echo "mariadb-cluster: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/servers.sh"

need() { command -v "$1" >/dev/null 2>&1 || [ -x "/usr/sbin/$1" ] || die "no $1 found (install mariadb-server)"; }
server() { command -v mariadbd 2>/dev/null || echo /usr/sbin/mariadbd; }

# Runs a command as the server's owner: mysql when we are root, else us.
as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u mysql -- "$@"
  else
    "$@"
  fi
}

# Where the server's directory goes: shared memory when there is room, since
# every test makes and drops tables and InnoDB's file work on a disk costs
# several times the statements themselves; else TMPDIR.
base() {
  if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt 1048576 ]; then
    echo /dev/shm
  else
    echo "${TMPDIR:-/tmp}"
  fi
}

# True once the server answers on its socket (an answer that refuses the
# user counts: the server is up).
ready() { mariadb-admin --no-defaults --socket="$1/server.sock" --user=root ping >/dev/null 2>&1; }

# Starts the server of DIR on PORT in the background (extra options after
# PORT) and notes the port for resume.
launch() {
  local dir=$1 port=$2; shift 2
  echo "$port" >"$dir/port"
  as_owner "$(server)" --no-defaults --datadir="$dir/data" --socket="$dir/server.sock" \
    --pid-file="$dir/server.pid" "$@" --log-error="$dir/server.log" --port="$port" --bind-address=127.0.0.1 \
    --skip-name-resolve --skip-log-bin --max-connections=200 --innodb-buffer-pool-size=128M \
    --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --innodb-log-file-size=64M \
    </dev/null >/dev/null 2>&1 &
}

# Stops the server of DIR, waiting for it to end.
halt() {
  local dir=${1:?halt: no server directory given}
  [ -f "$dir/server.pid" ] || return 0
  stop_process "$(cat "$dir/server.pid")" 240 0.25
}

resume() {
  local dir=${1:?resume: no server directory given} pid i
  launch "$dir" "$(cat "$dir/port")"
  pid=$!
  for i in $(seq 1 120); do
    ready "$dir" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.25
  done
  tail -n 20 "$dir/server.log" >&2
  die "resume: the server did not start"
}

start() {
  need mariadbd
  need mariadb-install-db
  local dir user password
  dir=$(server_dir "$(base)" tivel-mariadb mysql)
  user=tivel_test
  password=$(random_password)
  # The password goes through a file that only the owner reads, never a
  # command line; the server runs it at its start and the file goes as soon
  # as the server answers.
  (umask 077
   printf "CREATE USER IF NOT EXISTS '%s'@'127.0.0.1' IDENTIFIED BY '%s';\nGRANT ALL ON *.* TO '%s'@'127.0.0.1' WITH GRANT OPTION;\n" \
     "$user" "$password" "$user" >"$dir/users.sql")
  [ "$(id -u)" = 0 ] && chown mysql: "$dir/users.sql"
  if ! as_owner mariadb-install-db --no-defaults --datadir="$dir/data" --auth-root-authentication-method=socket \
      --skip-test-db --skip-name-resolve >"$dir/install.log" 2>&1; then
    cat "$dir/install.log" >&2
    rm -rf "$dir"
    die "mariadb-install-db failed"
  fi
  server_up() {
    local port=$1 pid i
    launch "$dir" "$port" --init-file="$dir/users.sql"
    pid=$!
    for i in $(seq 1 120); do
      ready "$dir" && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.25
    done
    if ready "$dir" && port_in_use "$port"; then
      rm -f "$dir/users.sql"
      echo "export TIVEL_TEST_MARIADB_HOST=127.0.0.1"
      echo "export TIVEL_TEST_MARIADB_PORT=$port"
      echo "export TIVEL_TEST_MARIADB_USER=$user"
      echo "export TIVEL_TEST_MARIADB_PASSWORD=$password"
      echo "export TIVEL_TEST_MARIADB_DIR=$dir"
      return 0
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 1
  }
  on_free_port "$dir" "$dir/server.log" "the server did not start" server_up
}

stop() {
  local dir=${1:-${TIVEL_TEST_MARIADB_DIR:-}}
  [ -n "$dir" ] || die "stop: no server directory given and TIVEL_TEST_MARIADB_DIR is unset"
  [ -d "$dir/data" ] || die "stop: $dir holds no server"
  [ -f "$dir/server.pid" ] && stop_process "$(cat "$dir/server.pid")" 120 0.25
  rm -rf "$dir"
}

case "${1:-}" in
  start) start ;;
  stop) shift; stop "$@" ;;
  halt) halt "${2:-}" ;;
  resume) resume "${2:-}" ;;
  restart) halt "${2:-}" && resume "${2:-}" ;;
  *) echo "usage: $0 start | stop [DIR] | halt DIR | resume DIR | restart DIR" >&2; exit 2 ;;
esac
