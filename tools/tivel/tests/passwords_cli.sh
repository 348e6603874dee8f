#!/usr/bin/env bash
# tivel init --policy --hash-passwords writes the settings and stores the
# administrator's password hashed; tivel passwords hash hashes what a root
# still stores as text, and a second run changes nothing.
# Usage: passwords_cli.sh path/to/tivel
set -uo pipefail
tivel=${1:?usage: passwords_cli.sh path/to/tivel}
root=$(mktemp -d "${TMPDIR:-/tmp}/tivel-pwd-XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
db=$root/db/tivel.db
pwd_of() { sqlite3 "$db" "select pwd from umUsr where account='$1'"; }

out=$(echo 'Boss pw' | "$tivel" init --root "$root" --policy --hash-passwords --admin boss --password-stdin 2>&1) ||
  complain "init: $out"
tr -d '\r' <"$root/ini/SysTivel.ini" | grep -qx 'enforce=1' || complain "no enforce=1 in SysTivel.ini"
tr -d '\r' <"$root/ini/SysTivel.ini" | grep -qx 'password_hash=argon2id' || complain "no password_hash=argon2id in SysTivel.ini"
[[ $(pwd_of boss) == '$argon2id$'* ]] || complain "administrator password stored as $(pwd_of boss)"

sqlite3 "$db" "insert into umUsr(usr_no,account,pwd,name,state,login_count) values('USR_old','old','old pw','旧',0,'0')"
sqlite3 "$db" "insert into umUsr(usr_no,account,pwd,name,state,login_count) values('USR_none','none',NULL,'无',0,'0')"
out=$("$tivel" passwords hash --root "$root" 2>&1) || complain "passwords hash: $out"
[[ "$out" == *"hashed:            1"* && "$out" == *"already hashed:    1"* && "$out" == *"without password:  1"* ]] ||
  complain "first run: $out"
[[ $(pwd_of old) == '$argon2id$'* ]] || complain "old user's password stored as $(pwd_of old)"
first=$(pwd_of old)
out=$("$tivel" passwords hash --root "$root" 2>&1) || complain "passwords hash again: $out"
[[ "$out" == *"hashed:            0"* && "$out" == *"already hashed:    2"* ]] || complain "second run: $out"
[[ $(pwd_of old) == "$first" ]] || complain "second run rehashed a hash"

out=$(echo 'old pw' | "$tivel" login old --root "$root" --password-stdin 2>&1) || complain "login old: $out"
[[ "$out" == *"loginByPwd:   0"* ]] || complain "login after migration: $out"
out=$(echo 'Boss pw' | "$tivel" login boss --root "$root" --password-stdin 2>&1) || complain "login boss: $out"
out=$("$tivel" passwords hash --root "$root/missing" 2>&1) && complain "a root without a database succeeded: $out"

if ((failures)); then exit 1; fi
echo "tivel passwords: as expected"
