// f_GetRecordset and f_SetRs through `tivel rpc`: recordsets read, edited
// and written back; statements, recordsets and arrays of them in one
// transaction with rollback and the trace in the log.
#include <gtest/gtest.h>

#include "fee/testing/rpc_session.h"
#include "fee/testing/slip_pages.h"

namespace tivel::gf::testing {
namespace {

class RecordsetsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    root = std::make_unique<FeeRoot>(GetParam());
    session = std::make_unique<RpcSession>(root->path());
    gf = session->create("TivelGF.interface");
  }
  void TearDown() override {
    session.reset();
    root.reset();
  }
  Json setRs(const Json& var) { return session->call(gf, "f_SetRs", {byRef("before"), "session", var}); }
  std::string insert(const std::string& key) {
    return "INSERT INTO XT_CS_CD(CDBS, CDMC, SHOWORDER) VALUES ('" + key + "', '菜单', '" + key + "')";
  }

  std::unique_ptr<FeeRoot> root;
  std::unique_ptr<RpcSession> session;
  int64_t gf = 0;
};

TEST_P(RecordsetsTest, ReadEditAndWriteBack) {
  EXPECT_EQ(setRs(insert("A"))["result"], true);
  Json a = session->call(gf, "f_GetRecordset", {byRef("kept"), "", "SELECT CDBS, CDMC FROM XT_CS_CD"});
  EXPECT_EQ(a["refs"]["0"], "kept");
  int64_t rs = handleOf(a);
  EXPECT_EQ(session->dump(rs)["rows"].dump(), R"([["A","菜单"]])");

  // Edited and added rows stay in the recordset until f_SetRs writes them,
  // here between two statements of one transaction.
  session->put(rs, "Collect", "稿费", {"CDMC"});
  Json names = Json::array(), values = Json::array();
  names.push_back("CDBS");
  names.push_back("CDMC");
  values.push_back("B");
  values.push_back("审批");
  session->call(rs, "AddNew", Json::array({names, values}));
  EXPECT_EQ(root->count("XT_CS_CD"), 1);
  a = setRs(Json::array({insert("C"), obj(rs), "UPDATE XT_CS_CD SET SHOWORDER = 'z' WHERE CDBS = 'B'"}));
  EXPECT_EQ(a["result"], true);
  EXPECT_EQ(root->scalar("SELECT CDMC FROM XT_CS_CD WHERE CDBS = 'A'").toString(), "稿费");
  EXPECT_EQ(root->scalar("SELECT SHOWORDER FROM XT_CS_CD WHERE CDBS = 'B'").toString(), "z");
  EXPECT_EQ(root->count("XT_CS_CD"), 3);

  // A recordset on its own is written without a transaction.
  rs = openRecordset(*session, gf, "SELECT * FROM XT_CS_CD WHERE CDBS = 'C'");
  session->call(rs, "Delete");
  EXPECT_EQ(setRs(obj(rs))["result"], true);
  EXPECT_EQ(root->count("XT_CS_CD"), 2);

  a = session->call(gf, "f_GetRecordset", {byRef("kept"), "", "SELECT nothing FROM nowhere"});
  EXPECT_EQ(handleOf(a), 0);
  std::string failure = a["refs"]["0"];
  EXPECT_FALSE(failure.empty());
  EXPECT_NE(root->logText().find(failure), std::string::npos);
}

TEST_P(RecordsetsTest, FailedArraysRollBackAndLogTheirTrace) {
  const std::string bad = "INSERT INTO nowhere VALUES (1)";
  Json a = setRs(Json::array({insert("A"), insert("B"), bad}));
  EXPECT_EQ(a["result"], false);
  std::string failure = a["refs"]["0"];
  EXPECT_EQ(root->count("XT_CS_CD"), 0);
  std::string trace = "执行模块：f_SetRs，\r\n操作：判断参数\r\n结果：参数正确\r\n参数共：2个。\r\n参数:0是SQL语句：" +
                      insert("A") + "\r\n参数:1是SQL语句：" + insert("B") + "\r\n参数:2是SQL语句：" + bad + "\r\n" +
                      failure + "\r\n   ";
  EXPECT_NE(root->logText().find(trace), std::string::npos) << root->logText();

  // A recordset whose row was changed meanwhile undoes the statement before it.
  EXPECT_EQ(setRs(insert("R"))["result"], true);
  int64_t rs = openRecordset(*session, gf, "SELECT * FROM XT_CS_CD WHERE CDBS = 'R'");
  session->put(rs, "Collect", "mine", {"CDMC"});
  root->exec("UPDATE XT_CS_CD SET CDMC = 'theirs' WHERE CDBS = 'R'");
  EXPECT_EQ(setRs(Json::array({insert("S"), obj(rs)}))["result"], false);
  EXPECT_EQ(root->count("XT_CS_CD", "CDBS = 'S'"), 0);
  EXPECT_NE(root->logText().find("参数:1是对象。"), std::string::npos);

  a = setRs(Json::array());
  EXPECT_EQ(a["result"], false);
  EXPECT_EQ(a["refs"]["0"], "参数必须大于或等于3");
  EXPECT_EQ(setRs(Json::array({insert("D")}))["result"], true);
  EXPECT_EQ(setRs(bad)["result"], false);
  EXPECT_NE(root->logText().find("参数:1是SQL语句：" + bad), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, RecordsetsTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::gf::testing
