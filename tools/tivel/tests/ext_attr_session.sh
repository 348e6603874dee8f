#!/usr/bin/env bash
# Extended attributes through the host on a fresh root: a global user
# definition with its key written back, a value, the joined read (its row
# carries the definition's owner "0"), refusal codes, and an organisation
# definition whose name holds a quote.
# Usage: ext_attr_session.sh path/to/tivel
set -euo pipefail
tivel=${1:?usage: ext_attr_session.sh path/to/tivel}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-ext-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$tivel" init --root "$tmp/root" --no-seed >/dev/null

"$tivel" rpc --root "$tmp/root" >"$tmp/answers.jsonl" <<'EOF'
{"id":"um","new":"TivelMgt.UmMgt"}
{"id":"def","new":"TivelPublicDB.cUmUsrAddAttr"}
{"id":"def.no","object":2,"put":"Uaa_No","value":"G"}
{"id":"def.owner","object":2,"put":"Usr_No","value":"0"}
{"id":"def.name","object":2,"put":"Name","value":"全体"}
{"id":"def.type","object":2,"put":"Data_type","value":null}
{"id":"def.pos","object":2,"put":"Position","value":null}
{"id":"def.null","object":2,"put":"IsNull","value":null}
{"id":"def.gobal","object":2,"put":"IsGobal","value":null}
{"id":"addUaa","object":1,"call":"addUaa","args":[{"object":2},{"ref":""}]}
{"id":"val","new":"TivelPublicDB.cUmUsrAddInst"}
{"id":"val.def","object":3,"put":"Uaa_No","value":"G"}
{"id":"val.usr","object":3,"put":"Usr_No","value":"U1"}
{"id":"val.value","object":3,"put":"Uai_Value","value":"值"}
{"id":"addUai","object":1,"call":"addUai","args":[{"object":3}]}
{"id":"joined","object":1,"call":"getUsrAddOfUsr","args":["U1"]}
{"id":"joined.dump","dump":4}
{"id":"item.dump","dump":5}
{"id":"noArg","object":1,"call":"getUaiOfUsr","args":[""]}
{"id":"delUai","object":1,"call":"delUai","args":["",""]}
{"id":"org","new":"TivelPublicDB.cUmOrgAddAttr"}
{"id":"org.no","object":6,"put":"Oaa_No","value":"A"}
{"id":"org.owner","object":6,"put":"Org_No","value":"O1"}
{"id":"org.name","object":6,"put":"Name","value":"O'Brien"}
{"id":"org.pos","object":6,"put":"Position","value":null}
{"id":"org.type","object":6,"put":"Data_type","value":1}
{"id":"org.null","object":6,"put":"IsNull","value":0}
{"id":"org.gobal","object":6,"put":"IsGobal","value":0}
{"id":"addOaa","object":1,"call":"addOaa","args":[{"object":6}]}
{"id":"again","object":1,"call":"addOaa","args":[{"object":6}]}
EOF

failures=0
check() {  # id bash-regex
  local line
  line=$(grep -F "{\"id\":\"$1\"," "$tmp/answers.jsonl" || true)
  [[ "$line" =~ $2 ]] || { echo "FAIL: $1: got ${line:-no answer}" >&2; failures=$((failures + 1)); }
}
check addUaa '^\{"id":"addUaa","result":"0","refs":\{"1":"G"\}\}$'
check addUai '^\{"id":"addUai","result":"0"\}$'
check joined '^\{"id":"joined","result":\{"object":4,"class":"cCollection"\}\}$'
check joined.dump '^\{"id":"joined.dump","result":\[\{"key":"UADG","item":\{"object":5,"class":"cUmUsrAddress"\}\}\]\}$'
check item.dump '^\{"id":"item.dump","result":\{"Uaa_No":"G","Usr_No":"0","Name":"全体",.*"Uai_Value":"值","IsGobal":0\}\}$'
check noArg '^\{"id":"noArg","result":\{"object":null\}\}$'
check delUai '^\{"id":"delUai","result":"10387"\}$'
check addOaa '^\{"id":"addOaa","result":"0"\}$'
check again '^\{"id":"again","result":"10024102"\}$'
if ((failures)); then
  cat "$tmp/answers.jsonl" >&2
  exit 1
fi
echo "extended attribute session: as expected"
