#include "platform/ado/connection.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/ado/recordset.h"
#include "platform/com/registry.h"
#include "testing/engines.h"
#include "testing/errors.h"

namespace tivel::ado {
namespace {

using com::Variant;

using tivel::testing::errorOf;

class ConnectionTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = std::make_unique<tivel::testing::ScratchDatabase>(GetParam());
    conn_ = connect();
    conn_->execute("CREATE TABLE notes (id integer NOT NULL PRIMARY KEY, body varchar(100), n integer)");
  }

  ConnectionPtr connect() {
    auto c = std::make_shared<Connection>();
    c->open(db_->connectionString());
    return c;
  }

  Variant scalar(const std::string& sql) { return conn_->execute(sql)->value(0); }
  int32_t count(const std::string& where = "") {
    return scalar("SELECT count(*) FROM notes" + (where.empty() ? "" : " WHERE " + where)).toLong();
  }

  std::unique_ptr<tivel::testing::ScratchDatabase> db_;
  ConnectionPtr conn_;
};

TEST_P(ConnectionTest, StateFollowsOpenAndClose) {
  Connection c;
  EXPECT_EQ(c.state(), adStateClosed);
  EXPECT_EQ(errorOf([&] { c.execute("SELECT 1"); }), kClosedObject);
  c.connectionString = db_->connectionString();
  c.open();
  EXPECT_EQ(c.state(), adStateOpen);
  EXPECT_EQ(errorOf([&] { c.open(); }), kOpenObject);
  c.close();
  EXPECT_EQ(c.state(), adStateClosed);
  EXPECT_EQ(errorOf([&] { c.close(); }), kClosedObject);
  c.open();  // reopens with the string it kept
  EXPECT_TRUE(c.isOpen());
}

TEST_P(ConnectionTest, EmptyOrUnknownStringsDoNotOpen) {
  Connection c;
  std::string d;
  EXPECT_EQ(errorOf([&] { c.open(""); }, &d), kOpenFailed);
  EXPECT_FALSE(d.empty());
  EXPECT_EQ(errorOf([&] { c.open("Color=blue"); }), kOpenFailed);
  EXPECT_EQ(c.state(), adStateClosed);
}

TEST_P(ConnectionTest, ChineseTextRoundTripsAndCountsAffectedRows) {
  long affected = -7;
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, '连接数据库出错！', 1)", &affected);
  EXPECT_EQ(affected, 1);
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (2, '登录成功！', 1), (3, 'plain', 2)", &affected);
  EXPECT_EQ(affected, 2);
  conn_->execute("UPDATE notes SET n = 5 WHERE n = 1", &affected);
  EXPECT_EQ(affected, 2);
  conn_->execute("DELETE FROM notes WHERE id = 99", &affected);
  EXPECT_EQ(affected, 0);
  EXPECT_EQ(scalar("SELECT body FROM notes WHERE id = 1").toString(), "连接数据库出错！");
  EXPECT_EQ(scalar("SELECT body FROM notes WHERE body = '登录成功！'").toString(), "登录成功！");
}

TEST_P(ConnectionTest, QueryGivesOpenReadOnlyRecordsetOtherStatementsAClosedOne) {
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'a', 1)");
  RecordsetPtr rs = conn_->execute("SELECT id, body FROM notes");
  EXPECT_EQ(rs->state(), adStateOpen);
  EXPECT_EQ(rs->lockType(), adLockReadOnly);
  EXPECT_EQ(rs->recordCount(), 1);
  EXPECT_EQ(errorOf([&] { rs->setValue("body", Variant("b")); }), kNotUpdatable);
  RecordsetPtr none = conn_->execute("UPDATE notes SET n = 2");
  EXPECT_EQ(none->state(), adStateClosed);
}

TEST_P(ConnectionTest, EngineErrorsAreCallErrorsWithTheEngineMessage) {
  std::string d;
  EXPECT_EQ(errorOf([&] { conn_->execute("SELECT * FROM no_such_table"); }, &d), kProviderError);
  EXPECT_NE(d.find("no_such_table"), std::string::npos) << d;
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'a', 1)");
  EXPECT_EQ(errorOf([&] { conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'again', 1)"); }, &d),
            kProviderError);
  EXPECT_FALSE(d.empty());
  EXPECT_EQ(count(), 1);  // still usable
}

TEST_P(ConnectionTest, RollbackUndoesAndCommitKeeps) {
  EXPECT_EQ(conn_->beginTrans(), 1);
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'gone', 1)");
  EXPECT_EQ(count(), 1);  // visible inside the transaction
  conn_->rollbackTrans();
  EXPECT_EQ(count(), 0);
  conn_->beginTrans();
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (2, 'kept', 1)");
  conn_->commitTrans();
  ConnectionPtr other = connect();
  EXPECT_EQ(other->execute("SELECT body FROM notes")->value("body").toString(), "kept");
  EXPECT_EQ(errorOf([&] { conn_->commitTrans(); }), kProviderError);
  EXPECT_EQ(errorOf([&] { conn_->rollbackTrans(); }), kProviderError);
}

TEST_P(ConnectionTest, FailedStatementInsideATransactionThenRollbackLeavesItUsable) {
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'before', 1)");
  conn_->beginTrans();
  conn_->execute("UPDATE notes SET body = 'inside' WHERE id = 1");
  EXPECT_EQ(errorOf([&] { conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'dup', 1)"); }), kProviderError);
  conn_->rollbackTrans();
  EXPECT_EQ(scalar("SELECT body FROM notes WHERE id = 1").toString(), "before");
  conn_->beginTrans();
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (2, 'after', 1)");
  conn_->commitTrans();
  EXPECT_EQ(count(), 2);
}

TEST_P(ConnectionTest, CloseRollsBackAnOpenTransaction) {
  conn_->beginTrans();
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'x', 1)");
  conn_->close();
  conn_ = connect();
  EXPECT_EQ(count(), 0);
}

TEST_P(ConnectionTest, LateBoundUse) {
  com::ObjectPtr c = com::CreateObject("ADODB.Connection");
  c->putProperty("ConnectionString", Variant(db_->connectionString()));
  c->putProperty("CommandTimeout", Variant(10));
  c->putProperty("CursorLocation", Variant(adUseClient));
  EXPECT_EQ(c->getProperty("State").toLong(), adStateClosed);
  c->call("Open");
  EXPECT_EQ(c->getProperty("State").toLong(), adStateOpen);
  EXPECT_EQ(c->getProperty("CommandTimeout").toLong(), 10);
  EXPECT_EQ(c->getProperty("CursorLocation").toLong(), adUseClient);

  com::Args args{Variant("INSERT INTO notes (id, body, n) VALUES (1, '一', 1), (2, '二', 2)"), Variant()};
  Variant none = c->invoke("Execute", com::MemberKind::Method, args);
  EXPECT_EQ(args[1].toLong(), 2);  // RecordsAffected comes back by reference
  EXPECT_EQ(none.toObject()->getProperty("State").toLong(), adStateClosed);

  Variant rs = c->call("Execute", {Variant("SELECT body FROM notes ORDER BY id")});
  com::ObjectPtr r = rs.toObject();
  EXPECT_EQ(r->getProperty("RecordCount").toLong(), 2);
  EXPECT_EQ(r->getProperty("Collect", {Variant("BODY")}).toString(), "一");

  EXPECT_EQ(c->call("BeginTrans").toLong(), 1);
  c->call("Execute", {Variant("DELETE FROM notes")});
  c->call("RollbackTrans");
  EXPECT_EQ(count(), 2);
  c->call("Close");
  EXPECT_EQ(c->getProperty("State").toLong(), adStateClosed);

  com::Args bad{Variant("Color=blue")};
  EXPECT_EQ(errorOf([&] { c->invoke("Open", com::MemberKind::Method, bad); }), kOpenFailed);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConnectionTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

// A statement that makes large values row after row is refused as its rows
// pass the byte budget, not after building them all; the connection goes on.
TEST_P(ConnectionTest, AResultPastItsByteBudgetIsRefusedAndTheConnectionGoesOn) {
  // About 300 MB of rows: 30 values of 10 MB on the embedded engine, 4,600
  // of 64 KiB through ODBC (whose drivers read a long text piece by piece).
  const std::map<std::string, std::string> statements = {
      {"sqlite",
       "with recursive r(n) as (select 1 union all select n + 1 from r where n < 30) select zeroblob(10000000) from r"},
      {"postgresql", "select repeat('x', 65536) from generate_series(1, 4600)"},
      {"mariadb", "select repeat('x', 65536) from seq_1_to_4600"}};
  std::string why;
  EXPECT_EQ(errorOf([&] { conn_->execute(statements.at(GetParam())); }, &why), kProviderError);
  EXPECT_NE(why.find("256 MiB"), std::string::npos) << why;
  conn_->execute("INSERT INTO notes (id, body, n) VALUES (1, 'a', 1)");
  EXPECT_EQ(count(), 1);
}

}  // namespace
}  // namespace tivel::ado
