#!/usr/bin/env bash
# A throwaway directory server (Debian's slapd) for the directory-login tests.
#
#   eval "$(scripts/slapd-cluster.sh start)"   # creates and starts one, prints exports
#   scripts/slapd-cluster.sh stop [DIR]        # stops it and removes DIR
#
# start: a new temporary directory holding a certificate authority and a
# server certificate for 127.0.0.1 and localhost (openssl), a second,
# unrelated authority (for tests that must see a certificate refused), the
# server's configuration and a small directory under dc=tivel,dc=test,
# loaded with slapadd. slapd listens on two free loopback ports: ldap://
# (StartTLS offered) and ldaps://. It prints shell export lines:
#   TIVEL_TEST_LDAP_URL          ldap://127.0.0.1:PORT
#   TIVEL_TEST_LDAPS_URL         ldaps://127.0.0.1:PORT
#   TIVEL_TEST_LDAP_CA           the authority that signed the server's certificate
#   TIVEL_TEST_LDAP_WRONG_CA     an authority that did not
#   TIVEL_TEST_LDAP_BASE         dc=tivel,dc=test
#   TIVEL_TEST_LDAP_BIND_DN      the reader account that may search the people
#   TIVEL_TEST_LDAP_BIND_PASSWORD_FILE  its password (a 0600 file)
#   TIVEL_TEST_LDAP_CONF         the server's configuration, for a test that
#                                runs a server of its own on the same data
#   TIVEL_TEST_LDAP_PID          the server's process
#   TIVEL_TEST_LDAP_DIR          the temporary directory (stop takes it)
#
# The people, under ou=people (uid, cn, password); the accounts with *, )(,
# "," and "=" are there to prove that accounts are escaped:
#   alice        Alice Liddell   "Alice pw 1"
#   bob          鲍勃             "Bob pw 2"
#   *            Star            "Star pw 3"
#   x)(y         Paren           "Paren pw 4"
#   comma,name   Comma           "Comma pw 5"
#   eq=ual       Equal           "Equal pw 6"
# The server allows an unauthenticated bind (a name with an empty password),
# as some directories do, so a client that sends one is seen to get in.
set -euo pipefail

die() { echo "slapd-cluster: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/servers.sh"

free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 40000))
    port_in_use "$p" || { echo "$p"; return 0; }
  done
  die "no free port found"
}

certificates() {
  local d=$1
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tivel test authority" \
    -keyout "$d/ca.key" -out "$d/ca.pem" >/dev/null 2>&1
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tivel test authority" \
    -keyout "$d/wrong-ca.key" -out "$d/wrong-ca.pem" >/dev/null 2>&1
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$d/server.key" -out "$d/server.csr" >/dev/null 2>&1
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$d/server.ext"
  openssl x509 -req -in "$d/server.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial -days 2 \
    -extfile "$d/server.ext" -out "$d/server.pem" >/dev/null 2>&1
  rm -f "$d/ca.key" "$d/wrong-ca.key" "$d/server.csr" "$d/server.ext" "$d/ca.srl"
  chmod 600 "$d/server.key"
}

configuration() {
  local d=$1
  cat >"$d/slapd.conf" <<EOF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
allow bind_anon_dn
TLSCACertificateFile $d/ca.pem
TLSCertificateFile $d/server.pem
TLSCertificateKeyFile $d/server.key
database mdb
maxsize 67108864
suffix "dc=tivel,dc=test"
directory $d/data
access to attrs=userPassword
  by anonymous auth
  by * none
access to *
  by dn.exact="cn=reader,dc=tivel,dc=test" read
  by users read
  by * none
EOF
}

people() {
  local reader_hash=$1
  person() {
    # dn-value uid cn password
    printf 'dn: uid=%s,ou=people,dc=tivel,dc=test\nobjectClass: inetOrgPerson\nuid: %s\ncn: %s\nsn: %s\n' \
      "$1" "$2" "$3" "$3"
    printf 'mail: %s@tivel.test\ntelephoneNumber: +86 10 5550 %04d\nuserPassword: %s\n\n' \
      "$(printf '%s' "$2" | tr -c 'a-z' 'x')" "$5" "$(slappasswd -s "$4")"
  }
  cat <<EOF
dn: dc=tivel,dc=test
objectClass: dcObject
objectClass: organization
dc: tivel
o: Tivel test

dn: ou=people,dc=tivel,dc=test
objectClass: organizationalUnit
ou: people

dn: cn=reader,dc=tivel,dc=test
objectClass: organizationalRole
objectClass: simpleSecurityObject
cn: reader
userPassword: $reader_hash

EOF
  person alice alice "Alice Liddell" "Alice pw 1" 101
  person bob bob "鲍勃" "Bob pw 2" 102
  person '\2A' '*' Star "Star pw 3" 103
  person 'x\29\28y' 'x)(y' Paren "Paren pw 4" 104
  person 'comma\2Cname' 'comma,name' Comma "Comma pw 5" 105
  person 'eq\3Dual' 'eq=ual' Equal "Equal pw 6" 106
}

start() {
  command -v slapd >/dev/null || [ -x /usr/sbin/slapd ] || die "slapd is not installed"
  export PATH=$PATH:/usr/sbin
  local dir reader ldap_port ldaps_port
  dir=$(server_dir "${TMPDIR:-/tmp}" tivel-ldap)
  mkdir "$dir/data"
  certificates "$dir" || { rm -rf "$dir"; die "certificates could not be made"; }
  reader=$(random_password)
  (umask 077; printf '%s\n' "$reader" >"$dir/reader.password")
  configuration "$dir"
  if ! people "$(slappasswd -s "$reader")" >"$dir/people.ldif" ||
      ! slapadd -q -f "$dir/slapd.conf" -l "$dir/people.ldif" >"$dir/slapadd.log" 2>&1; then
    cat "$dir/slapadd.log" >&2 2>/dev/null || true
    rm -rf "$dir"
    die "the directory could not be loaded"
  fi
  # A port can be taken between the test and the start; try a few.
  for _ in 1 2 3 4 5 6; do
    ldap_port=$(free_port)
    ldaps_port=$(free_port)
    [ "$ldap_port" != "$ldaps_port" ] || continue
    if slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$ldap_port/ ldaps://127.0.0.1:$ldaps_port/" \
        -l LOCAL4 -s 0 >"$dir/slapd.log" 2>&1; then
      local pid="" i
      for i in $(seq 1 100); do
        pid=$(pgrep -f -n "^slapd -f $dir/slapd.conf " || true)
        [ -n "$pid" ] && port_in_use "$ldap_port" && port_in_use "$ldaps_port" && break
        sleep 0.05
      done
      if [ -n "$pid" ] && port_in_use "$ldap_port"; then
        echo "$pid" >"$dir/slapd.pid"
        echo "export TIVEL_TEST_LDAP_URL=ldap://127.0.0.1:$ldap_port"
        echo "export TIVEL_TEST_LDAPS_URL=ldaps://127.0.0.1:$ldaps_port"
        echo "export TIVEL_TEST_LDAP_CA=$dir/ca.pem"
        echo "export TIVEL_TEST_LDAP_WRONG_CA=$dir/wrong-ca.pem"
        echo "export TIVEL_TEST_LDAP_BASE=dc=tivel,dc=test"
        echo "export TIVEL_TEST_LDAP_BIND_DN=cn=reader,dc=tivel,dc=test"
        echo "export TIVEL_TEST_LDAP_BIND_PASSWORD_FILE=$dir/reader.password"
        echo "export TIVEL_TEST_LDAP_CONF=$dir/slapd.conf"
        echo "export TIVEL_TEST_LDAP_PID=$pid"
        echo "export TIVEL_TEST_LDAP_DIR=$dir"
        return 0
      fi
      [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    fi
  done
  cat "$dir/slapd.log" >&2 2>/dev/null || true
  rm -rf "$dir"
  die "the server did not start"
}

stop() {
  local dir=${1:-${TIVEL_TEST_LDAP_DIR:-}} pid
  [ -n "$dir" ] || die "stop: no directory given and TIVEL_TEST_LDAP_DIR is unset"
  [ -f "$dir/slapd.conf" ] || die "stop: $dir holds no directory server"
  if [ -f "$dir/slapd.pid" ]; then
    pid=$(cat "$dir/slapd.pid")
    # Only our own server: its command line names this directory's configuration.
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "-f $dir/slapd.conf"; then
      kill -CONT "$pid" 2>/dev/null || true
      stop_process "$pid" 100 0.05
    fi
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  start) start ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 start | stop [DIR]" >&2; exit 2 ;;
esac
