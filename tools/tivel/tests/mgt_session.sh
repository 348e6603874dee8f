#!/usr/bin/env bash
# The host in front of the management component on a fresh root: keyed
# collections and records as plain JSON, a by-reference key written back, a
# record passed as an argument, a record of the wrong class refused.
# Usage: mgt_session.sh path/to/tivel
set -euo pipefail
tivel=${1:?usage: mgt_session.sh path/to/tivel}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-mgt-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$tivel" init --root "$tmp/root" >/dev/null

"$tivel" rpc --root "$tmp/root" >"$tmp/answers.jsonl" <<'EOF'
{"id":"um","new":"TivelMgt.UmMgt"}
{"id":"groups","object":{"from":"um"},"call":"getAllGrp"}
{"id":"groups.dump","dump":{"from":"groups"}}
{"id":"group1","object":{"from":"groups"},"get":"Item","args":[1]}
{"id":"group1.dump","dump":{"from":"group1"}}
{"id":"org","new":"TivelPublicDB.cUmOrg"}
{"id":"org.no","object":{"from":"org"},"put":"Org_No","value":"ORG_T"}
{"id":"org.name","object":{"from":"org"},"put":"Name","value":"总部"}
{"id":"add","object":{"from":"um"},"call":"addOrg","args":[{"object":{"from":"org"}}]}
{"id":"again","object":{"from":"um"},"call":"addOrg","args":[{"object":{"from":"org"}}]}
{"id":"get","object":{"from":"um"},"call":"getOrg","args":["ORG_T"]}
{"id":"get.dump","dump":{"from":"get"}}
{"id":"org2","new":"TivelPublicDB.cUmOrg"}
{"id":"org2.name","object":{"from":"org2"},"put":"Name","value":"分部"}
{"id":"add2","object":{"from":"um"},"call":"addOrg","args":[{"object":{"from":"org2"}},{"ref":""}]}
{"id":"wrong","object":{"from":"um"},"call":"addOrg","args":[{"object":{"from":"group1"}}]}
EOF

failures=0
check() {  # id bash-regex
  local line
  line=$(grep -F "{\"id\":\"$1\"," "$tmp/answers.jsonl" || true)
  [[ "$line" =~ $2 ]] || { echo "FAIL: $1: got ${line:-no answer}" >&2; failures=$((failures + 1)); }
}
item='\{"Grp_no":"[0-9]","Name":[^{}]*\}'
check um '^\{"id":"um","result":\{"object":1,"class":"UmMgt"\}\}$'
check groups '^\{"id":"groups","result":\{"object":2,"class":"cCollection"\}\}$'
check groups.dump "^\{\"id\":\"groups.dump\",\"result\":\[\{\"key\":\"GRP1\",\"item\":$item\},\{\"key\":\"GRP2\",\"item\":$item\},\{\"key\":\"GRP3\",\"item\":$item\}\]\}$"
check group1.dump '^\{"id":"group1.dump","result":\{"Grp_no":"1","Name":'
check add '^\{"id":"add","result":"0"\}$'
check again '^\{"id":"again","result":"[0-9]{8}"\}$'
check get.dump '^\{"id":"get.dump","result":\{"Org_No":"ORG_T","Name":"总部","Disc":'
check add2 '^\{"id":"add2","result":"0","refs":\{"1":"ORG_[0-9]{12}_[0-9]+"\}\}$'
check wrong '^\{"id":"wrong","error":\{"number":-2147352571,'
# One shot from the shell: --dump prints the record a call returns.
shot=$("$tivel" call --root "$tmp/root" TivelMgt.UmMgt getOrg ORG_T --dump)
[[ "$shot" =~ ^\{\"result\":\{\"Org_No\":\"ORG_T\",\"Name\":\"总部\", ]] ||
  { echo "FAIL: call --dump: got $shot" >&2; failures=$((failures + 1)); }
if ((failures)); then
  cat "$tmp/answers.jsonl" >&2
  exit 1
fi
echo "management session: as expected"
