#!/usr/bin/env bash
# tivel totp enroll and disable on a scratch root; with a test directory
# (TIVEL_TEST_LDAP_*, scripts/slapd-cluster.sh), tivel ldap test and tivel
# ldap import too. Without one the directory half is skipped (under CI it fails).
# Usage: directory_cli.sh path/to/tivel
set -uo pipefail
tivel=${1:?usage: directory_cli.sh path/to/tivel}
root=$(mktemp -d "${TMPDIR:-/tmp}/tivel-dir-XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
db=$root/db/tivel.db
value() { sqlite3 "$db" "select usi_value from umUsrSecInst where usa_no='$1' and usr_no=(select usr_no from umUsr where account='$2')"; }

echo 'Boss pw' | "$tivel" init --root "$root" --admin boss --password-stdin >/dev/null 2>&1 || complain "init"

out=$("$tivel" totp enroll boss --root "$root" --qr 2>&1) || complain "totp enroll: $out"
secret=$(value 6 boss)
[[ ${#secret} -eq 32 && "$out" == *"address: otpauth://totp/Tivel:boss?secret=$secret&issuer=Tivel"* ]] ||
  complain "enroll printed: $out (secret stored: $secret)"
[[ "$out" == *"█"* && "$out" == *"second_factor=totp is not set"* ]] || complain "no QR code or no note: $out"
[[ $(value 5 boss) == 1 ]] || complain "IsPwdTwo after enroll: $(value 5 boss)"
out=$("$tivel" totp enroll boss --root "$root" 2>&1)
[[ "$out" != *"█"* ]] || complain "a QR code on a pipe without --qr"
[[ $(value 6 boss) != "$secret" ]] || complain "a second enrolment kept the secret"
out=$("$tivel" totp disable boss --root "$root" 2>&1) || complain "totp disable: $out"
[[ $(value 5 boss) == 0 && -z $(value 6 boss) ]] || complain "after disable: IsPwdTwo $(value 5 boss), PwdTwo $(value 6 boss)"
out=$("$tivel" totp enroll nobody --root "$root" 2>&1) && complain "enrolled an account nobody has: $out"

if [[ -z "${TIVEL_TEST_LDAP_URL:-}" || "${TIVEL_TEST_LDAP:-}" == off ]]; then
  if [[ -n "${CI:-}" && "${TIVEL_TEST_LDAP:-}" != off ]]; then complain "no test directory under CI"; fi
  echo "tivel ldap: skipped, no test directory (eval \"\$(scripts/slapd-cluster.sh start)\")"
else
  out=$(echo x | "$tivel" ldap test alice --root "$root" 2>&1)
  [[ $? -eq 1 && "$out" == *"no [LDAP] url"* ]] || complain "ldap test without [LDAP]: $out"
  cat >>"$root/ini/SysTivel.ini" <<INI
[LDAP]
url=$TIVEL_TEST_LDAP_URL
starttls=1
ca_file=$TIVEL_TEST_LDAP_CA
base=$TIVEL_TEST_LDAP_BASE
filter=(uid={account})
bind_dn=$TIVEL_TEST_LDAP_BIND_DN
bind_password_file=$TIVEL_TEST_LDAP_BIND_PASSWORD_FILE
INI
  out=$(echo 'Alice pw 1' | "$tivel" ldap test alice --root "$root" 2>&1) || complain "ldap test: $out"
  [[ "$out" == *"entry:      uid=alice,ou=people,$TIVEL_TEST_LDAP_BASE"* && "$out" == *"bind:       accepted"* &&
     "$out" == *"time:       "*" ms (limit 5000 ms)"* ]] || complain "ldap test printed: $out"
  out=$(echo 'wrong' | "$tivel" ldap test alice --root "$root" 2>&1)
  [[ $? -eq 2 && "$out" == *"bind:       refused: Invalid credentials"* ]] || complain "ldap test, wrong password: $out"
  sqlite3 "$db" "insert into umOrg(Org_no,name,Priority,top_org_no) values('ORG_1','部门',1,'0')"
  out=$("$tivel" ldap import --org ORG_1 --root "$root" 2>&1) || complain "ldap import: $out"
  [[ "$out" == *"added:      6 ("*"alice"*"bob"* && "$out" == *"updated:    0"* ]] || complain "first import: $out"
  out=$("$tivel" ldap import --org ORG_1 --root "$root" 2>&1) || complain "ldap import again: $out"
  [[ "$out" == *"added:      0"* && "$out" == *"updated:    0"* && "$out" == *"unchanged:  6"* ]] ||
    complain "second import: $out"
  out=$(echo 'Bob pw 2' | "$tivel" login bob --root "$root" --password-stdin 2>&1) || complain "login bob: $out"
  out=$("$tivel" ldap import --org ORG_none --root "$root" 2>&1) && complain "import into no organisation: $out"

  # An administrator whose account a directory entry also has: reported, never linked by --link-all.
  sqlite3 "$db" "update umUsr set account='bob0' where account='bob';
    delete from umUsrSecInst where usa_no='12' and usr_no=(select usr_no from umUsr where account='bob0')"
  echo 'Own pw' | "$tivel" init --root "$root" --admin bob --password-stdin >/dev/null 2>&1 || complain "admin bob"
  out=$("$tivel" ldap import --org ORG_1 --root "$root" --link-all --dry-run 2>&1) || complain "dry run: $out"
  echo "$out"
  [[ "$out" == *"(dry run: nothing written)"* && "$out" == *"would add:  0"* && "$out" == *"conflicts:  1 (bob)"* &&
     "$out" == *"of them administrators: 1 (bob)"* ]] || complain "dry run printed: $out"
  [[ -z $(value 12 bob) ]] || complain "the dry run or --link-all linked the administrator"
  out=$(echo 'Bob pw 2' | "$tivel" login bob --root "$root" --password-stdin 2>&1) &&
    complain "the directory's bob took the administrator over: $out"

  # A directory with a size limit of 50 a search and 120 people (paged searches not capped
  # in total, as a Windows domain does): the search pages through it.
  big=$root/big
  mkdir -p "$big/data"
  sed -e "s|^directory .*|directory $big/data|" -e 's|^database mdb|sizelimit size.soft=50 size.hard=50 size.prtotal=unlimited\ndatabase mdb|' \
    "$TIVEL_TEST_LDAP_CONF" >"$big/slapd.conf"
  {
    printf 'dn: dc=tivel,dc=test\nobjectClass: dcObject\nobjectClass: organization\ndc: tivel\no: Tivel test\n\n'
    printf 'dn: ou=people,dc=tivel,dc=test\nobjectClass: organizationalUnit\nou: people\n\n'
    printf 'dn: cn=reader,dc=tivel,dc=test\nobjectClass: organizationalRole\nobjectClass: simpleSecurityObject\n'
    printf 'cn: reader\nuserPassword: %s\n\n' "$(/usr/sbin/slappasswd -s "$(head -1 "$TIVEL_TEST_LDAP_BIND_PASSWORD_FILE")")"
    for i in $(seq -w 1 120); do
      printf 'dn: uid=p%s,ou=people,dc=tivel,dc=test\nobjectClass: inetOrgPerson\nuid: p%s\ncn: P %s\nsn: P\n\n' \
        "$i" "$i" "$i"
    done
  } >"$big/people.ldif"
  /usr/sbin/slapadd -q -f "$big/slapd.conf" -l "$big/people.ldif" >/dev/null 2>&1 || complain "slapadd of 120 people"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  /usr/sbin/slapd -f "$big/slapd.conf" -h "ldap://127.0.0.1:$port/" -s 0 >/dev/null 2>&1 || complain "slapd of 120"
  for _ in $(seq 1 100); do (: </dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.05; done
  big_pid=$(pgrep -f -n "^/usr/sbin/slapd -f $big/slapd.conf ")
  trap 'kill "$big_pid" 2>/dev/null; rm -rf "$root"' EXIT
  sed -i "s|^url=.*|url=ldap://127.0.0.1:$port|" "$root/ini/SysTivel.ini"
  sqlite3 "$db" "insert into umOrg(Org_no,name,Priority,top_org_no) values('ORG_2','大',1,'0')"
  out=$("$tivel" ldap import --org ORG_2 --root "$root" --page-size 0 2>&1) && complain "unpaged past the limit: $out"
  [[ "$out" == *"ended the search early (its size limit)"* ]] || complain "unpaged search printed: $out"
  out=$("$tivel" ldap import --org ORG_2 --root "$root" 2>&1) || complain "import of 120: $out"
  echo "$out" | head -2
  [[ "$out" == *"found:      120 entries"* && "$out" == *"added:      120 (p001, "*"p120)"* ]] ||
    complain "import of 120 printed: $out"
  [[ $(sqlite3 "$db" "select count(*) from umOrg2Usr where org_no='ORG_2'") == 120 ]] || complain "120 not in ORG_2"
fi

if ((failures)); then exit 1; fi
echo "tivel totp and ldap: as expected"
