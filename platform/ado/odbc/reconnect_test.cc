// A session the server ends under an open Connection, on each server engine
// of the run (the embedded engine has no connection to lose): the test's
// own session is ended from a second one, as an administrator would.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/ado/connection.h"
#include "platform/ado/reconnecting_backend.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "testing/engines.h"

namespace tivel::ado {
namespace {

class ReconnectTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") GTEST_SKIP() << "the embedded engine has no connection to lose";
    db_ = std::make_unique<tivel::testing::ScratchDatabase>(GetParam());
    conn_.open(db_->connectionString());
    admin_.open(db_->connectionString());
    conn_.execute("create table t(n integer)");
  }

  std::string scalar(Connection& c, const std::string& sql) {
    RecordsetPtr rs = c.execute(sql);
    return rs->value(0).toString();
  }

  std::string session() {
    return scalar(conn_, GetParam() == "postgresql" ? "select pg_backend_pid()" : "select connection_id()");
  }

  // Ends the session and waits until the server no longer lists it.
  void endSession(const std::string& id) {
    const bool pg = GetParam() == "postgresql";
    admin_.execute(pg ? "select pg_terminate_backend(" + id + ")" : "KILL " + id);
    const std::string listed = pg ? "select count(*) from pg_stat_activity where pid = " + id
                                  : "select count(*) from information_schema.processlist where id = " + id;
    for (int i = 0; i < 200 && scalar(admin_, listed) != "0"; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Runs the statement; true when it succeeded.
  bool ran(const std::string& sql) {
    try {
      conn_.execute(sql);
      return true;
    } catch (const com::ComError&) {
      return false;
    }
  }

  std::unique_ptr<tivel::testing::ScratchDatabase> db_;
  Connection conn_, admin_;
};

TEST_P(ReconnectTest, AnEndedSessionCostsOneStatementAtMostAndNothingRunsTwice) {
  const std::string first = session();
  endSession(first);
  // The statement meets the loss and fails, unless the quiet check before
  // it found the loss first; either way it runs once or not at all.
  const bool one = ran("insert into t values (1)");
  EXPECT_TRUE(ran("insert into t values (2)"));
  EXPECT_NE(session(), first);
  EXPECT_EQ(scalar(conn_, "select count(*) from t"), one ? "2" : "1");
  EXPECT_EQ(scalar(conn_, "select count(*) from t where n = 2"), "1");
}

TEST_P(ReconnectTest, ATransactionTheLossEndedIsNeverCommittedPiecemeal) {
  conn_.beginTrans();
  conn_.execute("insert into t values (3)");
  endSession(session());
  EXPECT_FALSE(ran("insert into t values (4)"));
  try {
    conn_.execute("insert into t values (5)");
    FAIL() << "the rest of the transaction ran on a new session";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.description(), kTransactionLostText);
  }
  EXPECT_THROW(conn_.commitTrans(), com::ComError);
  EXPECT_FALSE(conn_.transactionOpen());
  EXPECT_EQ(scalar(conn_, "select count(*) from t"), "0");
  conn_.beginTrans();  // and the next one works
  conn_.execute("insert into t values (6)");
  conn_.commitTrans();
  EXPECT_EQ(scalar(admin_, "select count(*) from t"), "1");
}

INSTANTIATE_TEST_SUITE_P(Engines, ReconnectTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::ado
