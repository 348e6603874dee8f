#!/usr/bin/env bash
# A whole JSON-lines session through `tivel rpc` against a scratch SQLite
# file: connection, DDL and inserts with Chinese text, a read-only walk, a
# refused edit, an optimistic edit, a batch edit, a conflicting change,
# transactions, a malformed line and the host going on after it.
# Usage: rpc_session.sh path/to/tivel
set -euo pipefail
tivel=${1:?usage: rpc_session.sh path/to/tivel}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tivel-rpc-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
db=$tmp/portal.db
: >"$db"  # an empty file is an empty SQLite database
mkdir "$tmp/ini" && : >"$tmp/ini/SysTivel.ini"  # --root takes only a portal root
cs="Provider=SQLite;Data Source=$db;"

cat >"$tmp/session.jsonl" <<EOF
{"id":"conn","new":"ADODB.Connection"}
{"id":"missing","object":1,"call":"Open","args":["Provider=SQLite;Data Source=$tmp/none.db;"]}
{"id":"state0","object":1,"get":"State"}
{"id":"open","object":1,"call":"Open","args":["$cs"]}
{"id":"ddl","object":1,"call":"Execute","args":["CREATE TABLE umOrg (Org_No VARCHAR(30) PRIMARY KEY, Name VARCHAR(50), Priority INTEGER)"]}
{"id":"ins1","object":1,"call":"Execute","args":["INSERT INTO umOrg VALUES ('ORG_1','总部',1)",{"ref":0}]}
{"id":"ins2","object":1,"call":"Execute","args":["INSERT INTO umOrg VALUES ('ORG_2','财务部',2)",{"ref":0}]}
{"id":"ins3","object":1,"call":"Execute","args":["INSERT INTO umOrg VALUES ('ORG_3','人事''部',3)",{"ref":0}]}
{"id":"ro","new":"ADODB.Recordset"}
{"id":"ro.open","object":6,"call":"Open","args":["SELECT Org_No, Name, Priority FROM umOrg ORDER BY Priority",{"object":1},1,1]}
{"id":"ro.count","object":6,"get":"RecordCount"}
{"id":"ro.1","object":6,"get":"Collect","args":["Name"]}

{"id":"ro.next1","object":6,"call":"MoveNext"}
{"id":"ro.2","object":6,"get":"Collect","args":["Name"]}
{"id":"ro.next2","object":6,"call":"MoveNext"}
{"id":"ro.3","object":6,"get":"Collect","args":["Name"]}
{"id":"ro.next3","object":6,"call":"MoveNext"}
{"id":"ro.eof","object":6,"get":"EOF"}
{"id":"ro.dump","dump":6}
{"id":"ro.first","object":6,"call":"MoveFirst"}
{"id":"ro.edit","object":6,"put":"Collect","args":["Name"],"value":"改"}
{"id":"opt","new":"ADODB.Recordset"}
{"id":"opt.open","object":7,"call":"Open","args":["SELECT Org_No, Name FROM umOrg WHERE Org_No = 'ORG_2'",{"object":1},1,3]}
{"id":"opt.edit","object":7,"put":"Collect","args":["Name"],"value":"财务处"}
{"id":"opt.update","object":7,"call":"Update"}
{"id":"opt.check","object":1,"call":"Execute","args":["SELECT Name FROM umOrg WHERE Org_No = 'ORG_2'"]}
{"id":"opt.seen","dump":8}
{"id":"batch","new":"ADODB.Recordset"}
{"id":"batch.open","object":9,"call":"Open","args":["SELECT Org_No, Priority FROM umOrg ORDER BY Org_No",{"object":1},3,4]}
{"id":"batch.e1","object":9,"put":"Collect","args":["Priority"],"value":10}
{"id":"batch.next","object":9,"call":"MoveNext"}
{"id":"batch.e2","object":9,"put":"Collect","args":["Priority"],"value":20}
{"id":"batch.before","object":1,"call":"Execute","args":["SELECT Org_No, Priority FROM umOrg ORDER BY Org_No"]}
{"id":"batch.unwritten","dump":10}
{"id":"batch.write","object":9,"call":"UpdateBatch"}
{"id":"batch.after","object":1,"call":"Execute","args":["SELECT Org_No, Priority FROM umOrg ORDER BY Org_No"]}
{"id":"batch.written","dump":11}
{"id":"clash","new":"ADODB.Recordset"}
{"id":"clash.open","object":12,"call":"Open","args":["SELECT Org_No, Name FROM umOrg WHERE Org_No = 'ORG_3'",{"object":1},3,4]}
{"id":"clash.other","object":1,"call":"Execute","args":["UPDATE umOrg SET Name = '人力资源部' WHERE Org_No = 'ORG_3'",{"ref":0}]}
{"id":"clash.edit","object":12,"put":"Collect","args":["Name"],"value":"冲突"}
{"id":"clash.write","object":12,"call":"UpdateBatch"}
{"id":"tx.begin","object":1,"call":"BeginTrans"}
{"id":"tx.ins","object":1,"call":"Execute","args":["INSERT INTO umOrg VALUES ('ORG_4','临时',4)",{"ref":0}]}
{"id":"tx.rollback","object":1,"call":"RollbackTrans"}
{"id":"tx.begin2","object":1,"call":"BeginTrans"}
{"id":"tx.ins2","object":1,"call":"Execute","args":["INSERT INTO umOrg VALUES ('ORG_5','保留',5)",{"ref":0}]}
{"id":"tx.commit","object":1,"call":"CommitTrans"}
{"id":"tx.check","object":1,"call":"Execute","args":["SELECT Org_No, Name FROM umOrg WHERE Org_No IN ('ORG_4','ORG_5') ORDER BY Org_No"]}
{"id":"tx.seen","dump":16}
{"id":"broken","object":1,"call":
{"id":"after","object":1,"get":"State"}
{"id":"rel","release":6}
{"id":"relagain","release":6}
{"id":"close","object":1,"call":"Close"}
EOF

"$tivel" rpc --root "$tmp" <"$tmp/session.jsonl" >"$tmp/answers.jsonl"
answers=$tmp/answers.jsonl
failures=0
complain() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# One answer a line, in request order, none for the blank line.
requests=$(grep -c . "$tmp/session.jsonl")
got=$(wc -l <"$answers")
[[ $got -eq $requests ]] || complain "$requests requests, $got answers"
want_ids=$(grep -o '^{"id":"[^"]*"' "$tmp/session.jsonl" | grep -v '"broken"')
got_ids=$(grep -o '^{"id":"[^"]*"' "$answers")
[[ "$want_ids" == "$got_ids" ]] || complain "answers out of order"

# answer ID: the answer line to the request with that id.
answer() { grep -F "{\"id\":\"$1\"," "$answers" || true; }
expect() {
  local line
  line=$(answer "$1")
  [[ "$line" == "$2" ]] || complain "$1: expected $2, got ${line:-no answer}"
}
expect_error() {
  local line
  line=$(answer "$1")
  [[ "$line" == "{\"id\":\"$1\",\"error\":{\"number\":$2,"* ]] || complain "$1: expected error $2, got ${line:-no answer}"
}

expect conn '{"id":"conn","result":{"object":1,"class":"Connection"}}'
expect_error missing -2147467259
expect state0 '{"id":"state0","result":0}'
expect open '{"id":"open","result":{"empty":true}}'
expect ddl '{"id":"ddl","result":{"object":2,"class":"Recordset"}}'
expect ins1 '{"id":"ins1","result":{"object":3,"class":"Recordset"},"refs":{"1":1}}'
expect ins3 '{"id":"ins3","result":{"object":5,"class":"Recordset"},"refs":{"1":1}}'
expect ro.count '{"id":"ro.count","result":3}'
expect ro.1 '{"id":"ro.1","result":"总部"}'
expect ro.2 '{"id":"ro.2","result":"财务部"}'
expect ro.3 "{\"id\":\"ro.3\",\"result\":\"人事'部\"}"
expect ro.eof '{"id":"ro.eof","result":true}'
expect ro.dump "{\"id\":\"ro.dump\",\"result\":{\"fields\":[\"Org_No\",\"Name\",\"Priority\"],\"rows\":[[\"ORG_1\",\"总部\",1],[\"ORG_2\",\"财务部\",2],[\"ORG_3\",\"人事'部\",3]]}}"
expect_error ro.edit -2146825037  # 0x800A0CB3: the recordset is read-only
expect opt.update '{"id":"opt.update","result":{"empty":true}}'
expect opt.seen '{"id":"opt.seen","result":{"fields":["Name"],"rows":[["财务处"]]}}'
expect batch.unwritten '{"id":"batch.unwritten","result":{"fields":["Org_No","Priority"],"rows":[["ORG_1",1],["ORG_2",2],["ORG_3",3]]}}'
expect batch.write '{"id":"batch.write","result":{"empty":true}}'
expect batch.written '{"id":"batch.written","result":{"fields":["Org_No","Priority"],"rows":[["ORG_1",10],["ORG_2",20],["ORG_3",3]]}}'
expect clash.other '{"id":"clash.other","result":{"object":13,"class":"Recordset"},"refs":{"1":1}}'
expect_error clash.write -2147217864  # 0x80040E38: the row changed since it was read
expect tx.begin '{"id":"tx.begin","result":1}'
expect tx.rollback '{"id":"tx.rollback","result":{"empty":true}}'
expect tx.commit '{"id":"tx.commit","result":{"empty":true}}'
expect tx.seen '{"id":"tx.seen","result":{"fields":["Org_No","Name"],"rows":[["ORG_5","保留"]]}}'
grep -q '^{"id":null,"error":{"number":-2147024809,"source":"tivel","description":"Malformed request line' "$answers" ||
  complain "no error answer for the malformed line"
expect after '{"id":"after","result":1}'
expect rel '{"id":"rel","result":{"empty":true}}'
expect_error relagain -2147024809
expect close '{"id":"close","result":{"empty":true}}'

# What the database holds afterwards, read by the engine's own shell.
if command -v sqlite3 >/dev/null; then
  stored=$(sqlite3 "$db" "SELECT Org_No || '|' || Name || '|' || Priority FROM umOrg ORDER BY Org_No")
  want=$'ORG_1|总部|10\nORG_2|财务处|20\nORG_3|人力资源部|3\nORG_5|保留|5'
  [[ "$stored" == "$want" ]] || complain "database holds: $stored"
fi

if ((failures)); then
  echo "--- answers:" >&2
  cat "$answers" >&2
  exit 1
fi
echo "rpc session: $requests requests answered as expected"
