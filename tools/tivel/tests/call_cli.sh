#!/usr/bin/env bash
# The tivel command line: help for every subcommand, exit status and
# messages on failure, and one-shot calls with their argument reading.
# Usage: call_cli.sh path/to/tivel
set -uo pipefail
tivel=${1:?usage: call_cli.sh path/to/tivel}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-cli-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run ARGS...: sets out, err and rc.
run() {
  "$tivel" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}
expect_ok() {  # expected-stdout ARGS...
  local want=$1; shift
  run "$@"
  [[ $rc -eq 0 && "$out" == "$want" ]] || complain "tivel $*: rc=$rc out=$out err=$err (expected $want)"
}
expect_fail() {  # text-in-stderr ARGS...
  local want=$1; shift
  run "$@"
  [[ $rc -ne 0 && -z "$out" && "$err" == *"$want"* ]] || complain "tivel $*: rc=$rc out=$out err=$err (expected failure with $want)"
}

run --help
[[ $rc -eq 0 && "$out" == *rpc* && "$out" == *call* ]] || complain "tivel --help: rc=$rc"
# Every subcommand the help lists answers --help.
subcommands=$(sed -n '/^Subcommands:/,$p' "$tmp/out" | awk 'NR > 1 && NF { print $1 }')
[[ -n "$subcommands" ]] || complain "no subcommands listed"
for sub in $subcommands; do
  run "$sub" --help
  [[ $rc -eq 0 && "$out" == *Usage* ]] || complain "tivel $sub --help: rc=$rc"
done

expect_fail "subcommand is required"
expect_fail "bogus" bogus

db=$tmp/portal.db
: >"$db"
expect_ok '{"result":{"empty":true}}' call TivelPublicDB.cUmOrg Name
expect_ok '{"result":{"empty":true}}' call TivelPublicDB.cUmOrg Name --put 总部
expect_ok '{"result":{"empty":true}}' call TivelPublicDB.cUmOrg Priority --put '{"date":"2024-01-02 03:04:05"}'
# A connection string is no JSON, so it goes as a plain text.
expect_ok '{"result":{"empty":true}}' call ADODB.Connection Open "Provider=SQLite;Data Source=$db;"
expect_ok '{"result":{"empty":true}}' call ADODB.Recordset Open "SELECT 1 AS one" "Provider=SQLite;Data Source=$db;" 3 1
expect_ok '{"result":30}' call ADODB.Connection CommandTimeout --get

expect_fail "Invalid class string: Bad.Class" call Bad.Class Anything
expect_fail "Unknown name: Nope" call TivelPublicDB.cUmOrg Nope
expect_fail "does not exist" call ADODB.Connection Open "Provider=SQLite;Data Source=$tmp/none.db;"
# A negative number is an argument, not an option; the time-out refuses it.
expect_fail "negative" call ADODB.Connection CommandTimeout --put -5
# JSON true is Boolean True, which reads as the number -1...
expect_fail "negative" call ADODB.Connection CommandTimeout --put true
# ...while the quoted text "true" is no number at all.
expect_fail "Type mismatch" call ADODB.Connection CommandTimeout --put '"true"'
expect_fail "Not a date" call TivelPublicDB.cUmOrg Name --put '{"date":"2024-02-30 00:00:00"}'
expect_fail "needs the value" call TivelPublicDB.cUmOrg Name --put
expect_fail "excludes" call TivelPublicDB.cUmOrg Name --get --put x

if ((failures)); then exit 1; fi
echo "tivel command line: as expected"
