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
fi

if ((failures)); then exit 1; fi
echo "tivel totp and ldap: as expected"
