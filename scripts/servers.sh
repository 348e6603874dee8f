# What the throwaway servers' scripts share (pg-cluster.sh, mariadb-cluster.sh,
# slapd-cluster.sh): sourced by them, after each has defined its own `die`.

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A random password of letters and digits.
random_password() { head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9'; }

# A new owner-only directory BASE/PREFIX-XXXXXX; when we are root it is given
# to OWNER, the user the server runs as (the servers refuse to run as root).
server_dir() {
  local base=$1 prefix=$2 owner=${3:-} dir
  dir=$(mktemp -d "$base/$prefix-XXXXXX")
  chmod 700 "$dir"
  if [ -n "$owner" ] && [ "$(id -u)" = 0 ]; then
    id "$owner" >/dev/null 2>&1 || { rm -rf "$dir"; die "user $owner does not exist"; }
    chown "$owner": "$dir"
  fi
  echo "$dir"
}

# Runs COMMAND... PORT on a free loopback port until it succeeds, eight tries
# at most (a port can be taken between the test and the start). When none
# does, shows LOG, removes DIR and dies with WHAT.
on_free_port() {
  local dir=$1 log=$2 what=$3 port tries
  shift 3
  for tries in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    port_in_use "$port" && continue
    "$@" "$port" && return 0
  done
  cat "$log" >&2 2>/dev/null || true
  rm -rf "$dir"
  die "$what"
}

# Asks process PID to end, waits up to TRIES times INTERVAL seconds for it,
# then kills it.
stop_process() {
  local pid=$1 tries=$2 interval=$3 i
  kill "$pid" 2>/dev/null || true
  for i in $(seq 1 "$tries"); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep "$interval"
  done
  kill -9 "$pid" 2>/dev/null || true
}
