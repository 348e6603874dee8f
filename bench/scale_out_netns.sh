#!/usr/bin/env bash
# Gateway hosts across a real network hop.
#
#   bench/scale_out_netns.sh BENCH_BIN [DELAY_MS ...]    (root; default delays 0 0.5 2)
#
# BENCH_BIN is a built tivel_serve_bench (-DTIVEL_BENCH=ON); the `tivel`
# beside it is the gateway the hosts run.
#
# Makes two network namespaces of its own, one for a throwaway PostgreSQL
# server and one for the gateway hosts and their clients, joined by a veth
# pair and nothing else: every packet stays inside them. For each delay it
# puts that delay on both ends of the pair (tc netem, so a round trip costs
# twice the delay; where the kernel has no netem, bench/delay_proxy.py in
# the database's namespace holds each chunk that long in each direction
# instead), measures the round trip (a TCP connect to the server: one SYN
# and its answer), and runs the
# benchmark's logins and page reads through 1, 2 and 4 `tivel serve`
# hosts. The namespaces and the server are removed whatever happens.
set -euo pipefail

die() { echo "scale-out: $*" >&2; exit 1; }

bench=${1:?usage: $0 BENCH_BIN [DELAY_MS ...]}
shift
[ -x "$bench" ] || die "$bench is not a built benchmark"
[ -x "$(dirname "$bench")/tivel" ] || die "no tivel beside $bench"
[ "$(id -u)" = 0 ] || die "run as root: network namespaces need it"
command -v tc >/dev/null || die "tc is missing (Debian package iproute2)"
delays=("$@")
[ ${#delays[@]} -gt 0 ] || delays=(0 0.5 2)
here=$(cd "$(dirname "$0")/.." && pwd)

dbns=tivel-db-$$
hostns=tivel-hosts-$$
hostif=tvh$$
dbif=tvd$$
pgdir=
proxy=
echoproxy=
echo=
log=${TMPDIR:-/tmp}/tivel-scale-out-$$  # each delay's whole benchmark output

# Waits until something in the database's namespace listens on PORT.
wait_port() {
  for _ in $(seq 100); do
    ip netns exec "$hostns" bash -c "exec 3<>/dev/tcp/10.77.0.2/$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

cleanup() {
  set +e
  for p in $proxy $echoproxy $echo; do kill "$p"; wait "$p"; done 2>/dev/null
  if [ -n "$pgdir" ]; then ip netns exec "$dbns" "$here/scripts/pg-cluster.sh" stop "$pgdir"; fi
  ip netns del "$hostns" 2>/dev/null
  ip netns del "$dbns" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$dbns"
ip netns add "$hostns"
ip link add "$hostif" netns "$hostns" type veth peer name "$dbif" netns "$dbns"
ip -n "$hostns" addr add 10.77.0.1/30 dev "$hostif"
ip -n "$dbns" addr add 10.77.0.2/30 dev "$dbif"
for ns in "$hostns" "$dbns"; do ip -n "$ns" link set lo up; done
ip -n "$hostns" link set "$hostif" up
ip -n "$dbns" link set "$dbif" up

exports=$(ip netns exec "$dbns" env TIVEL_PG_LISTEN=10.77.0.2 "$here/scripts/pg-cluster.sh" start)
eval "$exports"
pgdir=$TIVEL_TEST_PG_DIR
# The benchmark takes PostgreSQL only; MariaDB from the caller's environment
# would sit outside the namespaces.
unset TIVEL_TEST_MARIADB_HOST TIVEL_TEST_MARIADB_PORT TIVEL_TEST_MARIADB_SOCKET

pgport=$TIVEL_TEST_PG_PORT
ip netns exec "$dbns" python3 -c '
import socketserver
class Echo(socketserver.BaseRequestHandler):
    def handle(self):
        while data := self.request.recv(4096):
            self.request.sendall(data)
socketserver.ThreadingTCPServer(("10.77.0.2", 7007), Echo).serve_forever()' &
echo=$!
wait_port 7007 || die "the echo server did not start"
netem=1
tc -n "$dbns" qdisc replace dev "$dbif" root netem delay 0ms 2>/dev/null || netem=0
tc -n "$dbns" qdisc del dev "$dbif" root 2>/dev/null || true
[ "$netem" = 1 ] || echo "this kernel has no netem: delays come from bench/delay_proxy.py"

echo "date: $(date -u +%FT%TZ); load: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc)"
for delay in "${delays[@]}"; do
  for p in $proxy $echoproxy; do kill "$p"; wait "$p" 2>/dev/null || true; done
  proxy= echoproxy=
  export TIVEL_TEST_PG_PORT=$pgport
  echoport=7007
  for pair in "$hostns $hostif" "$dbns $dbif"; do
    set -- $pair
    if [ "$delay" = 0 ] || [ "$netem" = 0 ]; then
      tc -n "$1" qdisc del dev "$2" root 2>/dev/null || true
    else
      tc -n "$1" qdisc replace dev "$2" root netem delay "${delay}ms"
    fi
  done
  if [ "$delay" != 0 ] && [ "$netem" = 0 ]; then
    ip netns exec "$dbns" python3 "$here/bench/delay_proxy.py" 10.77.0.2 15432 10.77.0.2 "$pgport" "$delay" >/dev/null &
    proxy=$!
    ip netns exec "$dbns" python3 "$here/bench/delay_proxy.py" 10.77.0.2 17007 10.77.0.2 7007 "$delay" >/dev/null &
    echoproxy=$!
    wait_port 15432 && wait_port 17007 || die "the delay proxy did not start"
    export TIVEL_TEST_PG_PORT=15432
    echoport=17007
  fi
  # A round trip on a kept connection to an echo server beside the
  # database, by the same path (and the same delay) as the benchmark's.
  rtt=$(ip netns exec "$hostns" python3 - 10.77.0.2 "$echoport" <<'PY'
import socket, sys, time
s = socket.create_connection((sys.argv[1], int(sys.argv[2])))
s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
times = []
for _ in range(21):
    t = time.perf_counter()
    s.sendall(b"x")
    s.recv(1)
    times.append(time.perf_counter() - t)
print(f"{sorted(times)[10] * 1000:.2f}")
PY
)
  echo "== delay ${delay} ms each way: a round trip to the database takes ${rtt} ms (median of 11)"
  ip netns exec "$hostns" "$bench" --benchmark_filter='AcrossHosts' 2>&1 | sed 's/\x1b\[[0-9;]*m//g' >"$log.$delay" || true
  grep -E '^(PgLogins|PgPages)AcrossHosts:|ERROR' "$log.$delay" || echo "no figures: see $log.$delay"
  # Where the time goes: the time a delay adds to each operation in a
  # worker (two a host, every worker kept busy by the eight clients), in
  # round trips.
  if [ "$delay" != 0 ] && [ -f "$log.0" ]; then
    awk -v rtt="$rtt" -v base="$log.0" '
      function key(line) { split(line, w, " "); return w[1] " " w[6] }
      function ms(line) { split(line, w, " "); return 1000 * 2 * w[6] / w[2] }
      BEGIN { while ((getline line < base) > 0) if (line ~ /AcrossHosts:/) zero[key(line)] = ms(line) }
      /AcrossHosts:/ && (key($0) in zero) && rtt > 0 {
        printf "  %s through %s host(s): %.1f ms more in a worker each = %.1f round trips\n", $1, $6, ms($0) - zero[key($0)],
               (ms($0) - zero[key($0)]) / rtt }' "$log.$delay"
  fi
done
