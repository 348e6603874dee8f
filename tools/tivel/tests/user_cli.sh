#!/usr/bin/env bash
# tivel user, group and org through the built command, on the embedded
# engine or on the test server of a server engine: an administrator's day
# (add, list, show, set, passwd, lock, unlock, delete; groups and
# organisations), the --json documents read back, and the statuses of a
# refusal (1) and a wrong command line (2). On a server engine the portal
# lives in a scratch database of the server the TIVEL_TEST_PG_* or
# TIVEL_TEST_MARIADB_* variables name (skipped, 77, without one), dropped
# at the end.
# Usage: user_cli.sh path/to/tivel [sqlite|postgresql|mariadb]
set -uo pipefail
tivel=${1:?usage: user_cli.sh path/to/tivel [sqlite|postgresql|mariadb]}
engine=${2:-sqlite}
skip() { echo "SKIP: $*"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/tivel-user-XXXXXX")
db=tivel_user_$$_$RANDOM
dropdb() { :; }
trap 'dropdb; rm -rf "$dir"' EXIT
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
R=$dir/r
# q STATEMENT [DATABASE]: runs a statement on the portal's database (or another one of its server).
case $engine in
  sqlite) q() { sqlite3 "$R/db/tivel.db" "$1"; } ;;
  postgresql)
    [ -n "${TIVEL_TEST_PG_HOST:-}" ] || skip "no PostgreSQL test server named"
    host=$TIVEL_TEST_PG_HOST port=${TIVEL_TEST_PG_PORT:-5432} user=$TIVEL_TEST_PG_USER
    password=$TIVEL_TEST_PG_PASSWORD driver="PostgreSQL Unicode"
    q() {
      PGPASSWORD=$password psql -h "$host" -p "$port" -U "$user" -d "${2:-$db}" -qAtX -v ON_ERROR_STOP=1 -c "$1"
    }
    q "CREATE DATABASE $db" postgres || skip "cannot create a scratch database"
    dropdb() { q "DROP DATABASE IF EXISTS $db" postgres >/dev/null 2>&1; } ;;
  mariadb)
    [ -n "${TIVEL_TEST_MARIADB_HOST:-}" ] || skip "no MariaDB test server named"
    host=$TIVEL_TEST_MARIADB_HOST port=${TIVEL_TEST_MARIADB_PORT:-3306} user=$TIVEL_TEST_MARIADB_USER
    password=$TIVEL_TEST_MARIADB_PASSWORD driver="MariaDB Unicode"
    q() { MYSQL_PWD=$password mariadb --no-defaults -h "$host" -P "$port" -u "$user" -D "${2:-$db}" -N -B -e "$1"; }
    q "CREATE DATABASE $db CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin" mysql || skip "cannot create a scratch database"
    dropdb() { q "DROP DATABASE IF EXISTS $db" mysql >/dev/null 2>&1; } ;;
  *) echo "unknown engine $engine" >&2; exit 2 ;;
esac
if [ "$engine" != sqlite ]; then
  mkdir -p "$R/ini"
  for f in SysTivel Scrivane; do
    printf '[DB]\nmode=2\n[DBCONN_sql_drive]\nDRIVER=%s\nSERVER=%s,%s\nuid=%s\npwd=%s\nDatabase=%s\n' \
      "$driver" "$host" "$port" "$user" "$password" "$db" >"$R/ini/$f.ini"
  done
  chmod 600 "$R"/ini/*.ini
fi
# Joins to organisations refused by the database, and allowed again.
refuse_joins() {
  case $engine in
    sqlite) q "create trigger refuse_join before insert on umOrg2Usr begin select raise(abort, 'no'); end" ;;
    postgresql)
      q "CREATE FUNCTION refuse_join() RETURNS trigger LANGUAGE plpgsql AS 'BEGIN RAISE EXCEPTION ''no''; END'"
      q "CREATE TRIGGER refuse_join BEFORE INSERT ON umOrg2Usr FOR EACH ROW EXECUTE FUNCTION refuse_join()" ;;
    mariadb) q "CREATE TRIGGER refuse_join BEFORE INSERT ON umOrg2Usr FOR EACH ROW SIGNAL SQLSTATE '45000'" ;;
  esac
}
allow_joins() {
  case $engine in
    sqlite | mariadb) q "drop trigger refuse_join" ;;
    postgresql) q "DROP TRIGGER refuse_join ON umOrg2Usr" ;;
  esac
}
# t ARGS...: runs tivel on the root; sets out, err and rc.
t() {
  "$tivel" "$@" --root "$R" >"$dir/out" 2>"$dir/err"
  rc=$?
  out=$(cat "$dir/out")
  err=$(cat "$dir/err")
}
# json EXPR: evaluates a Python expression over the last output (as d).
json() { python3 -c 'import json,sys; d=json.load(sys.stdin); print('"$1"')' <<<"$out"; }

out=$(echo 'Boss pw' | "$tivel" init --root "$R" --admin boss --password-stdin --policy 2>&1) || complain "init: $out"

# Organisations and groups first, so the user can join them when added.
t org add 总部 --json
hq=$(json 'd["Org_No"]')
t org add 研发部 --parent "$hq" --priority 2
[[ $rc == 0 ]] || complain "org add below a parent: $err"
t org tree --json
[[ $(json '[(o["Name"], [c["Name"] for c in o["children"]]) for o in d]') == "[('总部', ['研发部'])]" ]] ||
  complain "org tree: $out"
t org tree
[[ "$out" == $'总部 ('"$hq"$')\n  研发部 ('* ]] || complain "org tree as text: $out"
t org add 孤儿 --parent NOPE
[[ $rc == 1 && "$err" == *10021012* ]] || complain "a missing parent: rc=$rc $err"
t group add 审计 --description 'read-only auditors' --json
audit=$(json 'd["Grp_no"]')

t user add alice --name 爱丽丝 --email a@example.org --org "$hq" --group "$audit" --group 3 --password-stdin <<<'Alice pw'
[[ $rc == 0 ]] || complain "user add: $err"
t user add alice --password-stdin <<<'x'
[[ $rc == 1 && "$err" == *"10023003 the account is taken"* ]] || complain "a taken account: rc=$rc $err"
t user add bob --password-stdin <<<''
[[ $rc == 1 && "$err" == *"empty password"* ]] || complain "an empty password: rc=$rc $err"
t user show bob
[[ $rc == 1 && "$err" == *10023012* ]] || complain "bob exists after a refused add: rc=$rc $err"

# A join that fails takes the new user back with it.
refuse_joins
t user add carol --org "$hq" --password-stdin <<<'Carol pw'
[[ $rc == 1 && "$err" == *10024004* ]] || complain "a failing join: rc=$rc $err"
allow_joins
t user show carol
[[ $rc == 1 ]] || complain "carol was added although her join failed"

t user list --json
[[ $(json 'sorted(u["Account"] for u in d)') == "['alice', 'boss']" ]] || complain "user list: $out"
t user list
[[ "$out" == *ACCOUNT* && "$out" == *爱丽丝* ]] || complain "user list as text: $out"
t user show alice --json
[[ $(json '(d["Email"], [o["Name"] for o in d["orgs"]], sorted(g["Grp_no"] for g in d["groups"]), "Pwd" in d)') == \
  "('a@example.org', ['总部'], ['3', '$audit'], False)" ]] || complain "user show: $out"

t user set alice --mobile 555-0100 --state 2
t user show alice --json
[[ $(json '(d["Mobile"], d["State"], d["Name"])') == "('555-0100', '2', '爱丽丝')" ]] || complain "user set: $out"
t user set alice
[[ $rc == 2 ]] || complain "user set without a change: rc=$rc"
t user set alice --state 9
[[ $rc == 2 ]] || complain "a state out of range: rc=$rc"
t user set alice --state 0

t user passwd alice --password-stdin <<<'New pw'
login() { echo "$2" | "$tivel" login "$1" --root "$R" --password-stdin >/dev/null 2>&1; }
login alice 'New pw' || complain "the new password does not open"
login alice 'Alice pw' && complain "the old password still opens"
t user passwd alice --password-stdin <<<''
[[ $rc == 1 ]] || complain "an empty new password: rc=$rc"

t user lock alice --json
[[ $rc == 0 && $(json 'd["lock"]["locked"]') == True ]] || complain "user lock: rc=$rc $out $err"
login alice 'New pw' && complain "a locked account opens"
t user unlock alice
login alice 'New pw' || complain "unlock did not open the account"

t group members "$audit" --json
[[ $(json '[u["Account"] for u in d]') == "['alice']" ]] || complain "group members: $out"
t group join "$audit" alice
[[ $rc == 1 && "$err" == *10025003* ]] || complain "joining twice: rc=$rc $err"
t group leave "$audit" alice
t group leave "$audit" alice
[[ $rc == 1 ]] || complain "leaving a group not joined: rc=$rc"
t group join NOPE alice
[[ $rc == 1 && "$err" == *10022012* ]] || complain "a missing group: rc=$rc $err"
t group list --json
[[ $(json '[g["Name"] for g in d if g["Grp_no"] == "'"$audit"'"]') == "['审计']" ]] || complain "group list: $out"

t user delete alice
t user show alice
[[ $rc == 1 ]] || complain "alice after delete: rc=$rc"
[[ $(q "select (select count(*) from umGrp2Usr where usr_no not in (select usr_no from umUsr)) + (select count(*) from umOrg2Usr where usr_no not in (select usr_no from umUsr))") == 0 ]] ||
  complain "delete left memberships behind"
[[ $(q "select count(*) from SysLog where disc like '%alice%'") -ge 5 ]] ||
  complain "the changes are not in the system log"

t user bogus
[[ $rc == 2 ]] || complain "an unknown subcommand: rc=$rc"
t user show
[[ $rc == 2 ]] || complain "a missing account: rc=$rc"

if ((failures)); then exit 1; fi
