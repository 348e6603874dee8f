// The host against the data-access classes on a scratch database: by-
// reference results of Execute, and recordset dumps that leave the cursor
// and any edit in progress as they were.
#include <gtest/gtest.h>

#include "testing/engines.h"
#include "tools/tivel/rpc/host.h"

namespace tivel::tool {
namespace {

class RpcAdoTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = std::make_unique<testing::ScratchDatabase>(GetParam());
    ok(R"({"id":1,"new":"ADODB.Connection"})");  // handle 1
    ok(R"({"id":2,"object":1,"call":"Open","args":[)" + Json(db->connectionString()).dump() + "]}");
    ok(R"sql({"id":3,"object":1,"call":"Execute","args":["CREATE TABLE t_org (k VARCHAR(20) PRIMARY KEY, name VARCHAR(50), n INTEGER)"]})sql");
    for (const char* row : {"('A1','总部',1)", "('A2','财务部',2)", "('A3','人事部',3)"})
      ok(R"({"id":4,"object":1,"call":"Execute","args":["INSERT INTO t_org VALUES )" + std::string(row) + "\"]}");
  }

  Json ask(const std::string& line) { return Json::parse(host.handle(line)); }
  Json ok(const std::string& line) {
    Json a = ask(line);
    EXPECT_FALSE(a.contains("error")) << line << " -> " << a.dump();
    return a;
  }
  // Opens a recordset on the connection and returns its handle.
  int64_t openRecordset(const std::string& sql, int cursorType, int lockType) {
    int64_t rs = ok(R"({"id":5,"new":"ADODB.Recordset"})")["result"]["object"].get<int64_t>();
    ok(R"({"id":6,"object":)" + std::to_string(rs) + R"(,"call":"Open","args":[)" + Json(sql).dump() +
       R"(,{"object":1},)" + std::to_string(cursorType) + "," + std::to_string(lockType) + "]}");
    return rs;
  }
  Json rsCall(int64_t rs, const std::string& member, const std::string& args = "[]") {
    return ok(R"({"id":7,"object":)" + std::to_string(rs) + R"(,"call":")" + member + R"(","args":)" + args +
              "}")["result"];
  }
  std::string dump(int64_t rs) { return ok(R"({"id":8,"dump":)" + std::to_string(rs) + "}")["result"].dump(); }
  // The table as it stands in the database, read through a fresh query.
  std::string stored() {
    int64_t rs = ok(R"({"id":9,"object":1,"call":"Execute","args":["SELECT k, name, n FROM t_org ORDER BY k"]})")
                     ["result"]["object"]
                         .get<int64_t>();
    return dump(rs);
  }

  std::unique_ptr<testing::ScratchDatabase> db;
  RpcHost host;
};

constexpr const char* kAllRows =
    R"({"fields":["k","name","n"],"rows":[["A1","总部",1],["A2","财务部",2],["A3","人事部",3]]})";

TEST_P(RpcAdoTest, ExecuteReportsAffectedRowsByReference) {
  Json a = ok(R"({"id":1,"object":1,"call":"Execute","args":["UPDATE t_org SET n = n + 10 WHERE n >= 2",{"ref":0}]})");
  EXPECT_EQ(a["refs"].dump(), R"({"1":2})");
  EXPECT_EQ(a["result"]["class"], "Recordset");
}

TEST_P(RpcAdoTest, DumpGivesEveryRowAndKeepsThePosition) {
  int64_t rs = openRecordset("SELECT k, name, n FROM t_org ORDER BY k", 3, 1);
  rsCall(rs, "MoveNext");
  EXPECT_EQ(dump(rs), kAllRows);
  EXPECT_EQ(rsCall(rs, "Collect", R"(["k"])"), "A2");
  rsCall(rs, "MoveLast");
  rsCall(rs, "MoveNext");
  EXPECT_EQ(dump(rs), kAllRows);
  EXPECT_EQ(rsCall(rs, "EOF"), true);
  rsCall(rs, "MoveFirst");
  rsCall(rs, "MovePrevious");
  EXPECT_EQ(dump(rs), kAllRows);
  EXPECT_EQ(rsCall(rs, "BOF"), true);
  EXPECT_EQ(rsCall(rs, "EOF"), false);
  rsCall(rs, "MoveLast");
  EXPECT_EQ(dump(rs), kAllRows);
  EXPECT_EQ(rsCall(rs, "Collect", "[0]"), "A3");
}

TEST_P(RpcAdoTest, DumpOfAnEmptyOrClosedRecordset) {
  int64_t rs = openRecordset("SELECT k, n FROM t_org WHERE n > 99", 3, 1);
  EXPECT_EQ(dump(rs), R"({"fields":["k","n"],"rows":[]})");
  rsCall(rs, "Close");
  Json a = ask(R"({"id":1,"dump":)" + std::to_string(rs) + "}");
  EXPECT_TRUE(a.contains("error")) << a.dump();
}

TEST_P(RpcAdoTest, DumpShowsDeletionsNotYetWritten) {
  int64_t rs = openRecordset("SELECT k, name, n FROM t_org ORDER BY k", 3, 4);
  rsCall(rs, "MoveNext");
  rsCall(rs, "Delete");
  EXPECT_EQ(dump(rs), R"({"fields":["k","name","n"],"rows":[["A1","总部",1],["A3","人事部",3]]})");
  EXPECT_EQ(stored(), kAllRows);
}

TEST_P(RpcAdoTest, DumpDuringAnEditWritesNothing) {
  int64_t rs = openRecordset("SELECT k, name, n FROM t_org ORDER BY k", 1, 3);
  rsCall(rs, "MoveNext");
  ok(R"({"id":1,"object":)" + std::to_string(rs) + R"(,"put":"Collect","args":["name"],"value":"改过"})");
  EXPECT_EQ(dump(rs), R"({"fields":["k","name","n"],"rows":[["A1","总部",1],["A2","改过",2],["A3","人事部",3]]})");
  rsCall(rs, "CancelUpdate");
  EXPECT_EQ(rsCall(rs, "Collect", R"(["name"])"), "财务部");
  EXPECT_EQ(stored(), kAllRows);
}

INSTANTIATE_TEST_SUITE_P(Engines, RpcAdoTest, ::testing::ValuesIn(testing::engines()), testing::EngineName());

}  // namespace
}  // namespace tivel::tool
