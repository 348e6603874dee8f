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
{"id":"def.no","object":{"from":"def"},"put":"Uaa_No","value":"G"}
{"id":"def.owner","object":{"from":"def"},"put":"Usr_No","value":"0"}
{"id":"def.name","object":{"from":"def"},"put":"Name","value":"全体"}
{"id":"def.type","object":{"from":"def"},"put":"Data_type","value":null}
{"id":"def.pos","object":{"from":"def"},"put":"Position","value":null}
{"id":"def.null","object":{"from":"def"},"put":"IsNull","value":null}
{"id":"def.gobal","object":{"from":"def"},"put":"IsGobal","value":null}
{"id":"addUaa","object":{"from":"um"},"call":"addUaa","args":[{"object":{"from":"def"}},{"ref":""}]}
{"id":"val","new":"TivelPublicDB.cUmUsrAddInst"}
{"id":"val.def","object":{"from":"val"},"put":"Uaa_No","value":"G"}
{"id":"val.usr","object":{"from":"val"},"put":"Usr_No","value":"U1"}
{"id":"val.value","object":{"from":"val"},"put":"Uai_Value","value":"值"}
{"id":"addUai","object":{"from":"um"},"call":"addUai","args":[{"object":{"from":"val"}}]}
{"id":"joined","object":{"from":"um"},"call":"getUsrAddOfUsr","args":["U1"]}
{"id":"joined.dump","dump":{"from":"joined"}}
{"id":"noArg","object":{"from":"um"},"call":"getUaiOfUsr","args":[""]}
{"id":"delUai","object":{"from":"um"},"call":"delUai","args":["",""]}
{"id":"org","new":"TivelPublicDB.cUmOrgAddAttr"}
{"id":"org.no","object":{"from":"org"},"put":"Oaa_No","value":"A"}
{"id":"org.owner","object":{"from":"org"},"put":"Org_No","value":"O1"}
{"id":"org.name","object":{"from":"org"},"put":"Name","value":"O'Brien"}
{"id":"org.pos","object":{"from":"org"},"put":"Position","value":null}
{"id":"org.type","object":{"from":"org"},"put":"Data_type","value":1}
{"id":"org.null","object":{"from":"org"},"put":"IsNull","value":0}
{"id":"org.gobal","object":{"from":"org"},"put":"IsGobal","value":0}
{"id":"addOaa","object":{"from":"um"},"call":"addOaa","args":[{"object":{"from":"org"}}]}
{"id":"again","object":{"from":"um"},"call":"addOaa","args":[{"object":{"from":"org"}}]}
EOF

failures=0
check() {  # id bash-regex
  local line
  line=$(grep -F "{\"id\":\"$1\"," "$tmp/answers.jsonl" || true)
  [[ "$line" =~ $2 ]] || { echo "FAIL: $1: got ${line:-no answer}" >&2; failures=$((failures + 1)); }
}
check addUaa '^\{"id":"addUaa","result":"0","refs":\{"1":"G"\}\}$'
check addUai '^\{"id":"addUai","result":"0"\}$'
check joined '^\{"id":"joined","result":\{"object":[0-9]+,"class":"cCollection"\}\}$'
check joined.dump '^\{"id":"joined.dump","result":\[\{"key":"UADG","item":\{"Uaa_No":"G","Usr_No":"0","Name":"全体",.*"Uai_Value":"值","IsGobal":0\}\}\]\}$'
check noArg '^\{"id":"noArg","result":\{"object":null\}\}$'
check delUai '^\{"id":"delUai","result":"10387"\}$'
check addOaa '^\{"id":"addOaa","result":"0"\}$'
check again '^\{"id":"again","result":"10024102"\}$'
if ((failures)); then
  cat "$tmp/answers.jsonl" >&2
  exit 1
fi
echo "extended attribute session: as expected"
