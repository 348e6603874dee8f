#!/usr/bin/env bash
# tivel backup and tivel restore through the built command on the embedded
# engine: a root copied by backup and restore opens and logs in; a database
# holding rows, a damaged archive and a wrong command line are refused with
# their statuses; a root without its empty bin/ still opens; tivel log prune
# deletes the old system-log entries.
# Usage: backup_cli.sh path/to/tivel
set -uo pipefail
tivel=${1:?usage: backup_cli.sh path/to/tivel}
dir=$(mktemp -d "${TMPDIR:-/tmp}/tivel-backup-XXXXXX")
trap 'rm -rf "$dir"' EXIT
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

out=$(echo 'Boss pw' | "$tivel" init --root "$dir/a" --admin boss --password-stdin 2>&1) || complain "init: $out"
sed -i 's/^pwd=.*/pwd=s3cret\r/' "$dir/a/ini/SysTivel.ini"
out=$("$tivel" backup --root "$dir/a" --output "$dir/a.backup" --with-ini 2>&1) || complain "backup: $out"
[[ $(stat -c %a "$dir/a.backup") == 600 ]] || complain "archive mode $(stat -c %a "$dir/a.backup")"
grep -q 's3cret' "$dir/a.backup" && complain "--with-ini without --with-passwords kept a password"
"$tivel" backup --root "$dir/a" --output "$dir/p.backup" --with-ini --with-passwords >/dev/null 2>&1
grep -q 's3cret' "$dir/p.backup" || complain "--with-passwords lost the password"
out=$("$tivel" restore --verify "$dir/a.backup" 2>&1) || complain "verify: $out"

out=$("$tivel" restore --root "$dir/b" --with-ini "$dir/a.backup" 2>&1) || complain "restore: $out"
[[ "$out" == *"counts and checksums read back"* ]] || complain "restore said: $out"
out=$(echo 'Boss pw' | "$tivel" login boss --root "$dir/b" --password-stdin 2>&1) || complain "login in the copy: $out"

"$tivel" restore --root "$dir/b" "$dir/a.backup" >/dev/null 2>&1
[[ $? == 1 ]] || complain "a database holding rows was not refused with 1"
"$tivel" restore --root "$dir/b" --replace "$dir/a.backup" >/dev/null 2>&1 || complain "--replace was refused"

sed 's/系统管理员/系统管理猿/' "$dir/a.backup" >"$dir/damaged.backup"
out=$("$tivel" restore --root "$dir/c" "$dir/damaged.backup" 2>&1)
[[ $? == 1 && "$out" == *"checksum differs"* ]] || complain "a damaged archive: $out"
[[ -e "$dir/c" ]] && complain "a damaged archive made the root"

"$tivel" restore --root "$dir/c" >/dev/null 2>&1
[[ $? == 2 ]] || complain "a missing argument did not end with 2"
"$tivel" backup --no-such-option >/dev/null 2>&1
[[ $? == 2 ]] || complain "an unknown option did not end with 2"

rmdir "$dir/b/bin"
out=$(echo 'Boss pw' | "$tivel" login boss --root "$dir/b" --password-stdin 2>&1) || complain "login without bin/: $out"

sqlite3 "$dir/b/db/tivel.db" "insert into SysLog(Log_no,WDateTime,disc) values('LOG_old','2020-01-01 00:00:00','x')"
out=$("$tivel" log prune --root "$dir/b" --before 2021-01-01 2>&1) || complain "log prune: $out"
[[ "$out" == *"1 entries before 2021-01-01 00:00:00 deleted"* ]] || complain "log prune said: $out"

if ((failures)); then exit 1; fi
