#!/usr/bin/env bash
# A portal root end to end through the built command: init with an
# administrator, logins through the components, the published member lists
# of every record class and of UmMgt, the keyed collection's refusals,
# cPublic on a hand-written configuration, and a start-up failure.
# Usage: portal_session.sh path/to/tivel
set -euo pipefail
tivel=${1:?usage: portal_session.sh path/to/tivel}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-portal-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() {  # id bash-regex: the answer line of that request id must match
  local line
  line=$(grep -F "{\"id\":\"$1\"," "$tmp/answers.jsonl" || true)
  [[ "$line" =~ $2 ]] || fail "$1: got ${line:-no answer}"
}

# --- no administrator with an empty password, nor one asked for without a terminal
if printf '\n' | "$tivel" init --root "$tmp/empty" --admin admin --password-stdin >/dev/null 2>"$tmp/err.txt"; then
  fail "init accepted an empty administrator password"
fi
grep -q "password is empty" "$tmp/err.txt" || fail "init: $(cat "$tmp/err.txt")"
[ ! -e "$tmp/empty/ini" ] || fail "a refused init still made the root"
if printf 'S3cret\n' | "$tivel" init --root "$tmp/empty" --admin admin >/dev/null 2>"$tmp/err.txt"; then
  fail "init read a password without a terminal or --password-stdin"
fi
grep -q "needs --password-stdin" "$tmp/err.txt" || fail "init: $(cat "$tmp/err.txt")"

# --- init with an administrator, then logins
printf 'S3cret\n' | "$tivel" init --root "$tmp/root" --admin admin --password-stdin >"$tmp/init.txt"
grep -q "admin:      admin (added to groups 1 and 2)" "$tmp/init.txt" || fail "init: $(cat "$tmp/init.txt")"
printf 'S3cret\n' | "$tivel" init --root "$tmp/root" --admin admin --password-stdin | grep -q "(exists, kept)" ||
  fail "a second init keeps the administrator"

out=$(printf 'S3cret\n' | "$tivel" login admin --root "$tmp/root" --password-stdin)
[[ "$out" == *"loginByPwd:   0 (login accepted)"* ]] || fail "login: $out"
# The login record carries the user, a new token, the time and flag 1; the
# bookkeeping does not record the address.
[[ "$out" =~ login\ record:\ token\ TOK_[0-9]{12}_[0-9]+,\ time\ [0-9-]{10}\ [0-9:]{8},\ address\ NULL,\ IsAvail\ 1 ]] ||
  fail "login record: $out"
[[ "$out" == *"login count:  2"* ]] || fail "login count after the first login: $out"
set +e
out=$(printf 's3cret\n' | "$tivel" login admin --root "$tmp/root" --password-stdin)
rc=$?
set -e
[[ $rc == 2 && "$out" == *"10003 (the password differs from the stored one)"* ]] || fail "wrong password: rc $rc, $out"

# --- member lists, the collection and the administrator's groups, late-bound
{
  for cls in cUmOrg cUmGrp cUmUsr cUmOrg2usr cUmGrp2usr cUmOrgAddAttr cUmOrgAddInst cUmUsrAddAttr cUmUsrAddInst \
             cUmUsrSecAttr cUmUsrSecInst cUmLogInfo cApp cAppRes cAppRgt cAppAuth cAppRol cAppRol2Usr cSysAttr \
             cSysModule cSysHlp cSysHlpRef cSysErr cSysLog cAppAuthPK cAppRgtPK cUmOrgAddress cUmUsrAddress cUmUsrSec; do
    echo "{\"id\":\"m.$cls\",\"members\":\"TivelPublicDB.$cls\"}"
  done
  cat <<'REQUESTS'
{"id":"m.UmMgt","members":"TivelMgt.UmMgt"}
{"id":"list","new":"TivelMgt.cCollection"}
{"id":"rec","new":"TivelPublicDB.cUmGrp"}
{"id":"add","object":1,"call":"Add","args":[{"object":2},"GRPa"]}
{"id":"dup","object":1,"call":"Add","args":[{"object":2},"grpA"]}
{"id":"count","object":1,"get":"Count"}
{"id":"item0","object":1,"get":"Item","args":[0]}
{"id":"item2","object":1,"get":"Item","args":[2]}
{"id":"item1","object":1,"get":"Item","args":[1]}
{"id":"um","new":"TivelMgt.UmMgt"}
{"id":"user","object":4,"call":"getUsrByAccount","args":["admin"]}
{"id":"usrno","object":5,"get":"Usr_No"}
REQUESTS
} | "$tivel" rpc --root "$tmp/root" >"$tmp/answers.jsonl"
members() {  # class property...
  local cls=$1; shift
  local list
  list=$(printf '"%s",' "$@")
  check "m.$cls" "^\\{\"id\":\"m.$cls\",\"result\":\\[${list%,}\\]\\}\$"
}
members cUmOrg Org_No Name Disc Top_Org_No Priority
members cUmGrp Grp_no Name Disc
members cUmUsr Usr_No Account Pwd Name NetName Address Phone Mobile Email EmailOA State Login_Mode Login_Count Account_Time
members cUmOrg2usr Org_No Usr_No IsMain Priority
members cUmGrp2usr Grp_no Usr_No Priority
members cUmOrgAddAttr Oaa_No Org_No Name Parse Default_Value Data_type IsNull Position IsGobal
members cUmOrgAddInst Oaa_No Org_No Oai_Value
members cUmUsrAddAttr Uaa_No Usr_No Name Parse Default_Value Data_type IsNull Position IsGobal
members cUmUsrAddInst Uaa_No Usr_No Uai_Value
members cUmUsrSecAttr Usa_No Usr_No Name Parse Default_Value Data_type IsAvail IsNull Disc IsGobal
members cUmUsrSecInst Usa_No Usr_No IsAvail Usi_Value
members cUmLogInfo Usr_No Token Login_Datetime Login_Ip IsAvail
members cApp App_No Name Disc
members cAppRes Res_no App_No Name Disc Top_Res_No IsRes
members cAppRgt Bit_Nod Res_no Name Disc
members cAppAuth Res_no OGRU_Type OGRU_No Res_Auth IsAvail
members cAppRol Rol_No App_No Name Disc
members cAppRol2Usr Rol_No Usr_No Priority
members cSysAttr Attr_No Name Attr_Type Attr_Value Disc
members cSysModule Mod_No Top_Mod_No Name En_Name Logo Priority IsInstall IsVisibility Url_Link Param Disc
members cSysHlp Hlp_No Mod_No Mod_Name Top_Hlp_No Hlp_Topic Hlp_Context Hlp_Example WdateTime
members cSysHlpRef Hlp_No Hlp_No_Ref
members cSysErr Err_No Hlp_No Err_Type Disc IsLog IsVisibility
members cSysLog Log_No WdateTime Mod_No Mod_Name Disc Log_Type Msg_Type
members cAppAuthPK Res_no Uogr_Type Uogr_No
members cAppRgtPK Bit_Nod Res_no
members cUmOrgAddress Oaa_No Org_No Name Parse Default_Value Data_type IsNull Position Oai_Value IsGobal
members cUmUsrAddress Uaa_No Usr_No Name Parse Default_Value Data_type IsNull Position Uai_Value IsGobal
members cUmUsrSec Usa_No Usr_No Name Parse Default_Value Data_type IsAvail IsNull Disc IsGobal Usi_Value Usi_IsAvail
um=$(grep -F '{"id":"m.UmMgt",' "$tmp/answers.jsonl" | sed 's/.*"result":\[\(.*\)\]}/\1/' | tr -d '"' | tr ',' ' ')
[[ $(wc -w <<<"$um") == 71 && "$um" == "addOrg addGrp addUsr addOrg2Usr "*" addUsrLogCount cleanUsrLogErrNum getUsrSecValue" ]] ||
  fail "UmMgt members: $um"
check add '^\{"id":"add","result":\{"empty":true\}\}$'
check dup '^\{"id":"dup","error":\{"number":-2146827831,'
check count '^\{"id":"count","result":1\}$'
check item0 '^\{"id":"item0","error":\{"number":-2146828279,'
check item2 '^\{"id":"item2","error":\{"number":-2146828279,'
check item1 '^\{"id":"item1","result":\{"object":[0-9]+,"class":"cUmGrp"\}\}$'
usrno=$(grep -F '{"id":"usrno",' "$tmp/answers.jsonl" | sed 's/.*"result":"\([^"]*\)".*/\1/')
out=$("$tivel" call --root "$tmp/root" TivelMgt.AdminMgt isSysSecUsr "$usrno")
[[ "$out" == '{"result":0}' ]] || fail "isSysSecUsr of the administrator: $out"

# --- cPublic on a hand-written configuration (letter case and blanks differ)
mkdir -p "$tmp/hand/bin" "$tmp/hand/ini" "$tmp/hand/db"
: >"$tmp/hand/db/hand.db"
printf '[db]\r\n Mode = 3 \r\n[DBCONN_MDB_DRIVE]\r\nProvider=SQLite\r\nDATABASE = hand.db \r\n[PRODUCT_NAME]\r\n  name  =  稿费系统  \r\nVersion=3.0\r\n[Setting]\r\nWEBPATH = /portal \r\n' \
  >"$tmp/hand/ini/SysTivel.ini"
"$tivel" rpc --root "$tmp/hand" >"$tmp/answers.jsonl" <<'REQUESTS'
{"id":"pub","new":"TivelMgt.cPublic"}
{"id":"name","object":1,"call":"GetProductName"}
{"id":"version","object":1,"call":"GetVersionName"}
{"id":"web","object":1,"call":"GetWebPath"}
{"id":"app","object":1,"call":"GetAppPath"}
{"id":"db","object":1,"call":"GetDBStr"}
REQUESTS
check name '^\{"id":"name","result":"稿费系统"\}$'
check version '^\{"id":"version","result":"3.0"\}$'
check web '^\{"id":"web","result":"/portal"\}$'
check app '^\{"id":"app","result":""\}$'
check db '^\{"id":"db","result":"PROVIDER=SQLite; Data Source=.*/hand/bin/../db/hand.db;"\}$'

# --- a start-up that cannot connect: the creator gets 0x80040001, the log a
# record, though the log directory did not exist
mkdir -p "$tmp/bad/bin" "$tmp/bad/ini"
printf '[DB]\nmode=4\n' >"$tmp/bad/ini/SysTivel.ini"
echo '{"id":"um","new":"TivelMgt.UmMgt"}' | "$tivel" rpc --root "$tmp/bad" >"$tmp/answers.jsonl"
check um '^\{"id":"um","error":\{"number":-2147221503,"source":"[^"]*","description":"连接数据库出错！","detail":"[^"]+"\}\}$'
grep -q '！连接数据库出错,请检查配置文件是否正确！   SysTivel' "$tmp"/bad/log/log*.txt || fail "no start-up log record"

if ((failures)); then
  cat "$tmp/answers.jsonl" >&2
  exit 1
fi
echo "portal session: as expected"
