#!/usr/bin/env bash
# A setup program's run through `tivel rpc` on a scratch root: the web
# directory (created, then replaced), the FTP root, an administrator account
# (and a second, refused one), packages replaced whatever the case of their
# names, component libraries installed or refused, INI values in and out of
# the ini directory; then what `tivel setup show` reports, that no password
# is readable anywhere in the root, and a damaged store failing regWWW's call
# while the other tasks answer -1.
# Usage: setup_session.sh path/to/tivel path/to/bin
set -euo pipefail
tivel=${1:?usage: setup_session.sh path/to/tivel path/to/bin}
bin=${2:?usage: setup_session.sh path/to/tivel path/to/bin}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-setup-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# The root apart from the session files, which hold the password.
root=$tmp/root
mkdir -p "$root/bin" "$root/ini" "$root/db"
pw='Pa55-口令-xyzzy'
printf 'not a library\n' >"$tmp/notes.txt"

cat >"$tmp/session.jsonl" <<JSON
{"id":"new","new":"Tivel.RegClass"}
{"id":"members","members":"Tivel.RegClass"}
{"id":"noop","object":1,"call":"ShowIsRun"}
{"id":"www.old","object":1,"call":"regWWW","args":["Portal","/srv/portal/old"]}
{"id":"www.new","object":1,"call":"regWWW","args":["portal","/srv/portal"]}
{"id":"www.bad","object":1,"call":"regWWW","args":["a/b","/srv/x"]}
{"id":"ftp","object":1,"call":"regFTP","args":["not used","/srv/ftp"]}
{"id":"user","object":1,"call":"regAddUser","args":["webrunner","$pw"]}
{"id":"user.again","object":1,"call":"regAddUser","args":["WebRunner","other"]}
{"id":"dll.nopack","object":1,"call":"regComDLL","args":["tivel","$bin/libTivelPublicDB.so"]}
{"id":"pack.lower","object":1,"call":"regComPack","args":["tivel","webrunner","$pw"]}
{"id":"pack.mixed","object":1,"call":"regComPack","args":["Tivel","webrunner","$pw"]}
{"id":"pack.spare","object":1,"call":"regComPack","args":["spare","webrunner","$pw"]}
{"id":"dll.missing","object":1,"call":"regComDLL","args":["tivel","$tmp/none.so"]}
{"id":"dll.text","object":1,"call":"regComDLL","args":["tivel","$tmp/notes.txt"]}
{"id":"dll.mgt","object":1,"call":"regComDLL","args":["TIVEL","$bin/libTivelMgt.so"]}
{"id":"dll.elsewhere","object":1,"call":"regComDLL","args":["spare","$bin/libTivelMgt.so"]}
{"id":"ini.write","object":1,"call":"writeIniFile","args":["setup.ini","db","server","主机  "]}
{"id":"ini.read","object":1,"call":"ReadIniFile","args":["setup.ini","DB","server"]}
{"id":"ini.nokey","object":1,"call":"ReadIniFile","args":["setup.ini","db","none"]}
{"id":"ini.nofile","object":1,"call":"ReadIniFile","args":["absent.ini","db","server"]}
{"id":"ini.climb","object":1,"call":"writeIniFile","args":["../escape.ini","a","b","c"]}
{"id":"ini.absolute","object":1,"call":"ReadIniFile","args":["$root/ini/setup.ini","db","server"]}
{"id":"args","object":1,"call":"regWWW","args":["only one"]}
JSON

"$tivel" rpc --root "$root" <"$tmp/session.jsonl" >"$tmp/answers.jsonl"
answers=$tmp/answers.jsonl
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
answer() { grep -F "{\"id\":\"$1\"," "$answers" || true; }
expect() {
  local line
  line=$(answer "$1")
  [[ "$line" == "{\"id\":\"$1\",\"result\":$2}" ]] || complain "$1: expected $2, got ${line:-no answer}"
}
expect_error() {
  local line
  line=$(answer "$1")
  [[ "$line" == "{\"id\":\"$1\",\"error\":{\"number\":$2,"* ]] || complain "$1: expected error $2, got ${line:-no answer}"
}

expect new '{"object":1,"class":"RegClass"}'
expect members '["ShowIsRun","regWWW","regFTP","regAddUser","regComPack","regComDLL","writeIniFile","ReadIniFile"]'
expect noop '{"empty":true}'
expect www.old 0
expect www.new 0
expect www.bad -1
expect ftp 0
expect user 0
expect user.again -1
expect dll.nopack -1
expect pack.lower 0
expect pack.mixed 0
expect pack.spare 0
expect dll.missing -1
expect dll.text -1
expect dll.mgt 0
expect dll.elsewhere -1
expect ini.write 1
expect ini.read '"主机"'
expect ini.nokey '""'
expect ini.nofile '""'
expect ini.climb 0
expect ini.absolute '""'
expect_error args -2147352562  # 0x8002000E: wrong number of arguments
[[ ! -e "$root/escape.ini" ]] || complain "a file was written outside the ini directory"

# What the store holds, as an operator sees it.
"$tivel" setup show --root "$root" >"$tmp/show.txt"
shows() { grep -qF -- "$1" "$tmp/show.txt" || complain "setup show lacks: $1"; }
shows "  portal  path /srv/portal  application in-process  read yes  write no  execute yes"
shows "ftp root: path /srv/ftp  read yes  write yes"
shows "  webrunner  full name 信息发布用户  description VERDAL 应用程序添加  password set (salted hash)"
shows "  Administrators: webrunner"
shows "    TivelMgt.UmMgt  $(readlink -f "$bin/libTivelMgt.so")"
[[ $(grep -c "^  portal\|^  Portal" "$tmp/show.txt") -eq 1 ]] || complain "the old virtual directory was not replaced"
[[ $(grep -c "^  Tivel  key\|^  tivel  key" "$tmp/show.txt") -eq 1 ]] || complain "packages were not replaced: $(grep key "$tmp/show.txt")"
"$tivel" setup show --root "$root" --json >"$tmp/show.json"
grep -q '"passwordSet":true' "$tmp/show.json" || complain "setup show --json does not say the password is set"
! grep -q passwordHash "$tmp/show.json" || complain "setup show --json prints password hashes"

# No password is readable anywhere in the root; the store is its owner's only.
! grep -rqF -- "$pw" "$root" || complain "the password is readable in the root"
[[ $(stat -c %a "$root/db/setup.json") == 600 ]] || complain "the store is readable by others"

# A damaged store: the web site cannot be reached (the call fails), the other tasks answer -1.
printf '{"web": [' >"$root/db/setup.json"
printf '%s\n' '{"id":"www","new":"Tivel.RegClass"}' \
  '{"id":"www.damaged","object":1,"call":"regWWW","args":["Portal","/srv/portal"]}' \
  '{"id":"ftp.damaged","object":1,"call":"regFTP","args":["","/srv/ftp"]}' |
  "$tivel" rpc --root "$root" >"$answers"
expect_error www.damaged -2147024883  # 0x8007000D: the store is damaged
expect ftp.damaged -1
"$tivel" setup show --root "$root" >/dev/null 2>"$tmp/err.txt" && complain "setup show read a damaged store"
grep -q "damaged" "$tmp/err.txt" || complain "setup show does not say the store is damaged"

if ((failures)); then
  echo "--- answers:" >&2
  cat "$tmp/answers.jsonl" >&2
  cat "$tmp/show.txt" >&2
  exit 1
fi
echo "setup session: every task answered as expected"
