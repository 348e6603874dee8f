// Against the PostgreSQL test server named by TIVEL_TEST_PG_*; skipped
// when none is named.
#include "platform/ado/odbc/odbc_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/ado/connection.h"
#include "platform/ado/constants.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "testing/engines.h"

namespace tivel::ado::odbc {
namespace {

using com::Variant;

using tivel::testing::env;

std::string hostAndPort() {
  std::string s = env("TIVEL_TEST_PG_HOST");
  if (!env("TIVEL_TEST_PG_PORT").empty()) s += "," + env("TIVEL_TEST_PG_PORT");
  return s;
}

class OdbcBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("TIVEL_TEST_PG_HOST").empty()) GTEST_SKIP() << "no PostgreSQL test server (TIVEL_TEST_PG_HOST)";
    db_ = std::make_unique<tivel::testing::ScratchDatabase>("postgresql");
    b_ = openBackend(db_->connectionString(), 30);
  }

  // The management component's mode-2 string for the scratch database.
  std::string modeTwo(const std::string& password) const {
    return "DRIVER=PostgreSQL Unicode; server=" + hostAndPort() + ";uid=" + env("TIVEL_TEST_PG_USER") +
           ";PASSWORD=" + password + ";DATABASE=" + db_->location();
  }

  long count(const std::string& where) {
    StatementResult r = b_->execute("select count(*) from t " + where);
    return r.rows.at(0).at(0).toLong();
  }

  std::unique_ptr<tivel::testing::ScratchDatabase> db_;
  std::unique_ptr<Backend> b_;
};

TEST_F(OdbcBackendTest, ManagementModeTwoOpensAndNamesItsDialect) {
  auto b = openBackend(modeTwo(env("TIVEL_TEST_PG_PASSWORD")), 10);
  EXPECT_EQ(b->dialect(), "postgresql");
  EXPECT_EQ(b->execute("select 41 + 1").rows.at(0).at(0), Variant(int32_t(42)));
}

TEST_F(OdbcBackendTest, ModeOneOpensADataSourceOfTheFileOdbciniNames) {
  tivel::testing::TempDir dir;
  std::string ini = dir.path() + "/odbc.ini";
  {
    std::ofstream out(ini);
    out << "[tivel_portal]\nDriver = PostgreSQL Unicode\nServername = " << env("TIVEL_TEST_PG_HOST")
        << "\nPort = " << (env("TIVEL_TEST_PG_PORT").empty() ? "5432" : env("TIVEL_TEST_PG_PORT"))
        << "\nDatabase = " << db_->location() << "\n";
  }
  std::unique_ptr<Backend> b;
  tivel::testing::withEnvironment("ODBCINI", ini, [&] {
    b = openBackend("dsn=tivel_portal;uid=" + env("TIVEL_TEST_PG_USER") + ";pwd=" + env("TIVEL_TEST_PG_PASSWORD") + ";",
                    10);
  });
  EXPECT_EQ(b->dialect(), "postgresql");
  b->execute("create table t(n integer)");
  EXPECT_EQ(b_->execute("select count(*) from t").rows.at(0).at(0), Variant(int32_t(0)));  // the same database
}

TEST_F(OdbcBackendTest, FeeModeTwoOpensWithAServerProviderName) {
  std::string cs = "Provider=SQLOLEDB;Password=" + env("TIVEL_TEST_PG_PASSWORD") +
                   ";Persist Security Info=True;User ID=" + env("TIVEL_TEST_PG_USER") +
                   ";Initial Catalog=" + db_->location() + ";Data Source=" + hostAndPort();
  EXPECT_EQ(openBackend(cs, 10)->dialect(), "postgresql");
}

TEST_F(OdbcBackendTest, WrongPasswordFailsTheOpenWithTheDriversReason) {
  try {
    openBackend(modeTwo("not-the-password"), 10);
    FAIL() << "opened with a wrong password";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), kOpenFailed);
    EXPECT_NE(e.description().find("password authentication failed"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("SQLSTATE"), std::string::npos);
    EXPECT_EQ(e.description().find("not-the-password"), std::string::npos);
  }
}

TEST_F(OdbcBackendTest, ChineseRoundTripsUnderTheCLocale) {
  std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  b_->execute("create table t(id integer primary key, s text)");
  b_->executeBound("insert into t values (?, ?)", {Variant(int32_t(1)), Variant("连接数据库出错！")});
  b_->execute("insert into t values (2, '登录成功！')");
  StatementResult r = b_->execute("select s, length(s) from t order by id");
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0][0], Variant("连接数据库出错！"));
  EXPECT_EQ(r.rows[0][1], Variant(int32_t(8)));  // characters, not bytes: the server got real text
  EXPECT_EQ(r.rows[1][0], Variant("登录成功！"));
  // And a value found by a bound Chinese text.
  EXPECT_EQ(b_->executeBound("update t set id = 3 where s = ?", {Variant("登录成功！")}), 1);
}

TEST_F(OdbcBackendTest, ValueKindsReadAsTheSystemExpects) {
  b_->execute(
      "create table t(i integer, big bigint, small bigint, num numeric(10,2), r real, s varchar(10), tx text, "
      "d date, ts timestamp, f boolean, by bytea, nothing text)");
  b_->executeBound("insert into t values (?,?,?,?,?,?,?,?,?,?,?,?)",
                   {Variant(int32_t(-7)), Variant(5000000000.0), Variant(int32_t(12)), Variant(2.25), Variant(1.5),
                    Variant("abc"), Variant(std::string(5000, 'x')), Variant(com::DateTime{2026, 12, 7, 0, 0, 0}),
                    Variant(com::DateTime{2026, 12, 7, 13, 4, 5}), Variant(true), Variant(Variant::Bytes{0, 1, 255}),
                    Variant::null()});
  StatementResult r = b_->execute("select * from t");
  ASSERT_EQ(r.rows.size(), 1u);
  const Row row = r.rows[0].unpack();
  EXPECT_EQ(row[0], Variant(int32_t(-7)));
  EXPECT_EQ(row[1], Variant(5000000000.0));  // beyond 32 bits
  EXPECT_EQ(row[2], Variant(int32_t(12)));   // a bigint that fits is a Long
  EXPECT_EQ(row[3], Variant(2.25));
  EXPECT_EQ(row[4], Variant(1.5));
  EXPECT_EQ(row[5], Variant("abc"));
  EXPECT_EQ(row[6], Variant(std::string(5000, 'x')));  // longer than one read
  EXPECT_EQ(row[7], Variant(com::DateTime{2026, 12, 7, 0, 0, 0}));
  EXPECT_EQ(row[8], Variant(com::DateTime{2026, 12, 7, 13, 4, 5}));
  EXPECT_EQ(row[9], Variant(true));
  EXPECT_EQ(row[10], Variant(Variant::Bytes{0, 1, 255}));
  EXPECT_TRUE(row[11].isNull());
  EXPECT_EQ(b_->execute("select count(*) from t").rows[0][0], Variant(int32_t(1)));
}

TEST_F(OdbcBackendTest, TextsAndNumbersCrossIntoEachOthersColumns) {
  // The system assigns numeric texts to integer columns and numbers to text ones.
  b_->execute("create table t(n integer, s text, flag integer, f boolean)");
  b_->executeBound("insert into t values (?, ?, ?, ?)",
                   {Variant("5"), Variant(int32_t(7)), Variant(true), Variant(false)});
  StatementResult r = b_->execute("select n, s, flag, f from t");
  EXPECT_EQ(r.rows.at(0).at(0), Variant(int32_t(5)));
  EXPECT_EQ(r.rows.at(0).at(1), Variant("7"));
  EXPECT_EQ(r.rows.at(0).at(2), Variant(int32_t(1)));  // a Boolean is stored as 1, not the scripting -1
  EXPECT_EQ(r.rows.at(0).at(3), Variant(false));
  EXPECT_EQ(b_->executeBound("update t set n = ? where n = ?", {Variant::null(), Variant("5")}), 1);
}

TEST_F(OdbcBackendTest, CommitKeepsAndRollbackUndoes) {
  b_->execute("create table t(n integer)");
  b_->begin();
  EXPECT_TRUE(b_->inTransaction());
  b_->execute("insert into t values (1)");
  b_->rollback();
  EXPECT_FALSE(b_->inTransaction());
  EXPECT_EQ(count(""), 0);
  b_->begin();
  b_->execute("insert into t values (2)");
  b_->commit();
  EXPECT_FALSE(b_->inTransaction());
  b_->execute("insert into t values (3)");  // autocommit again: another connection sees it
  auto other = openBackend(db_->connectionString(), 10);
  EXPECT_EQ(other->execute("select count(*) from t").rows[0][0], Variant(int32_t(2)));
}

TEST_F(OdbcBackendTest, FailedStatementInATransactionThenRollbackLeavesTheConnectionUsable) {
  b_->execute("create table t(n integer primary key)");
  b_->begin();
  b_->execute("insert into t values (1)");
  try {
    b_->execute("insert into t values (1)");
    FAIL() << "a duplicate key was accepted";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), kProviderError);
    EXPECT_EQ(e.source(), "ODBC");
    EXPECT_NE(e.description().find("23505"), std::string::npos) << e.description();
  }
  // The transaction is still alive, as on the embedded engine.
  EXPECT_EQ(count(""), 1);
  b_->rollback();
  EXPECT_EQ(count(""), 0);
  b_->execute("insert into t values (2)");
  EXPECT_EQ(count(""), 1);
}

TEST_F(OdbcBackendTest, AtMostChangesNothingWhenMoreRowsWouldChange) {
  b_->execute("create table t(n integer, s text)");
  b_->execute("insert into t values (1, 'a'), (2, 'a'), (3, 'b')");
  EXPECT_EQ(b_->executeBoundAtMost("update t set s = ? where s = ?", {Variant("z"), Variant("a")}, 1), 2);
  EXPECT_EQ(count("where s = 'z'"), 0);
  EXPECT_EQ(b_->executeBoundAtMost("update t set s = ? where s = ?", {Variant("z"), Variant("b")}, 1), 1);
  EXPECT_EQ(count("where s = 'z'"), 1);
  EXPECT_FALSE(b_->inTransaction());
}

TEST_F(OdbcBackendTest, AtMostInsideATransactionUndoesOnlyItsOwnStatement) {
  b_->execute("create table t(n integer, s text)");
  b_->execute("insert into t values (1, 'a'), (2, 'a')");
  b_->begin();
  b_->execute("insert into t values (3, 'c')");
  EXPECT_EQ(b_->executeBoundAtMost("delete from t where s = ?", {Variant("a")}, 1), 2);
  EXPECT_THROW(b_->executeBoundAtMost("insert into t(nope) values (?)", {Variant(int32_t(1))}, 1), com::ComError);
  EXPECT_TRUE(b_->inTransaction());
  b_->commit();
  EXPECT_EQ(count(""), 3);
}

TEST_F(OdbcBackendTest, BoundStatementsCheckTheirValueCount) {
  b_->execute("create table t(n integer)");
  EXPECT_THROW(b_->executeBound("insert into t values (?)", {}), com::ComError);
  EXPECT_THROW(b_->executeBound("insert into t values (?)", {Variant(int32_t(1)), Variant(int32_t(2))}), com::ComError);
  EXPECT_EQ(count(""), 0);
}

TEST_F(OdbcBackendTest, PrimaryKeyInKeyOrderAndUnderTheFoldedName) {
  b_->execute(
      "create table AppAuth(x text, res_no text, OGRU_no text, OGRU_type integer, "
      "primary key (res_no, OGRU_type, OGRU_no))");
  b_->execute("create table SysHlpRef(hlp_no text)");
  EXPECT_EQ(b_->primaryKey("appauth"), (std::vector<std::string>{"res_no", "ogru_type", "ogru_no"}));
  EXPECT_EQ(b_->primaryKey("AppAuth"), (std::vector<std::string>{"res_no", "ogru_type", "ogru_no"}));
  EXPECT_TRUE(b_->primaryKey("syshlpref").empty());
  EXPECT_TRUE(b_->primaryKey("no_such_table").empty());
}

TEST_F(OdbcBackendTest, ColumnsNameTheirBaseTableAndColumn) {
  b_->execute("create table umOrg(Org_no text primary key, name text)");
  b_->execute("create table umGrp(Grp_no text primary key)");
  StatementResult r = b_->execute("select o.Org_no as k, name, 1 + 1 as two, g.Grp_no from umOrg o, umGrp g");
  ASSERT_EQ(r.columns.size(), 4u);
  EXPECT_EQ(r.columns[0].name, "k");
  EXPECT_EQ(r.columns[0].baseTable, "umorg");
  EXPECT_EQ(r.columns[0].baseColumn, "org_no");
  EXPECT_EQ(r.columns[1].baseColumn, "name");
  EXPECT_EQ(r.columns[2].baseTable, "");
  EXPECT_EQ(r.columns[3].baseTable, "umgrp");
}

TEST_F(OdbcBackendTest, DatabaseNumberedKeyReadsBack) {
  b_->execute("create table umUsrAddInst(uai_no integer generated by default as identity primary key, v text)");
  b_->execute("create table plain(k integer primary key)");
  b_->execute("insert into umUsrAddInst(v) values ('a')");
  b_->execute("insert into umUsrAddInst(v) values ('b')");
  EXPECT_EQ(b_->generatedKey("umusraddinst", "uai_no"), Variant(int32_t(2)));
  b_->execute("insert into plain values (5)");
  EXPECT_TRUE(b_->generatedKey("plain", "k").isEmpty());
}

TEST_F(OdbcBackendTest, StatementTimeOutEndsALongStatementAndTheConnectionGoesOn) {
  b_->setTimeout(1);
  auto start = std::chrono::steady_clock::now();
  try {
    b_->execute("select pg_sleep(5)");
    FAIL() << "the statement outlived its time-out";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), kProviderError);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  b_->setTimeout(0);
  EXPECT_EQ(b_->execute("select 1").rows.size(), 1u);
}

TEST_F(OdbcBackendTest, SeveralStatementsInOneTextGiveTheFirstResultAndTheirCounts) {
  b_->execute("create table t(n integer)");
  StatementResult w = b_->execute("insert into t values (1), (2); update t set n = n + 1");
  EXPECT_FALSE(w.hasRows);
  EXPECT_EQ(w.affected, 4);
  // A statement that changes nothing does not hide the ones after it.
  EXPECT_EQ(b_->execute("update t set n = 0 where n < 0; delete from t where n = 3").affected, 1);
  StatementResult r = b_->execute("select n from t where n = 2; select 9");
  ASSERT_TRUE(r.hasRows);
  EXPECT_EQ(r.rows.size(), 1u);
  EXPECT_THROW(b_->execute("select 1; select * from no_such_table"), com::ComError);
}

TEST_F(OdbcBackendTest, BareIsNullColumnWorksInStatements) {
  b_->execute("create table umUsrSecAttr(Usa_no text primary key, isNull integer)");
  b_->execute("insert into umUsrSecAttr(Usa_no, isNull) values ('1', 1)");
  StatementResult r = b_->execute("select isNull from umUsrSecAttr where IsNull = 1 and Usa_no is not null");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.columns[0].baseColumn, "isnull");
}

TEST_F(OdbcBackendTest, DriverErrorsCarryTheirSqlState) {
  try {
    b_->execute("select * from no_such_table");
    FAIL();
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), kProviderError);
    EXPECT_NE(e.description().find("42P01"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("no_such_table"), std::string::npos);
  }
}

// Through the data-access classes.
class OdbcRecordsetTest : public OdbcBackendTest {
 protected:
  ConnectionPtr connect() {
    auto c = std::make_shared<Connection>();
    c->cursorLocation = adUseClient;
    c->open(db_->connectionString());
    return c;
  }
};

TEST_F(OdbcRecordsetTest, OptimisticUpdateMeetingAConcurrentChangeFails) {
  b_->execute("create table umUsr(usr_no text primary key, name text, login_count text)");
  b_->execute("insert into umUsr values ('USR_1', '张三', '1')");
  auto conn = connect();
  Recordset rs;
  rs.open("select * from umUsr where usr_no = 'USR_1'", conn, adOpenStatic, adLockOptimistic);
  b_->execute("update umUsr set login_count = '2' where usr_no = 'USR_1'");  // someone else, meanwhile
  rs.setValue("login_count", Variant("5"));
  try {
    rs.update();
    FAIL() << "the concurrent change was overwritten";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x80040E38));
    EXPECT_EQ(e.description(), kRowNotLocatedText);
  }
  EXPECT_EQ(b_->execute("select login_count from umUsr").rows[0][0], Variant("2"));
}

TEST_F(OdbcRecordsetTest, BatchFailingHalfWayInsideATransactionLeavesNothingWritten) {
  b_->execute(
      "create table AppRgt(Res_no text not null, Bit_Nod integer not null, name text, "
      "primary key (Res_no, Bit_Nod))");
  b_->execute("insert into AppRgt values ('RES_1', 2, 'taken')");
  auto conn = connect();
  Recordset rs;
  rs.open("select * from AppRgt where 1 = 0", conn, adOpenKeyset, adLockBatchOptimistic);
  for (int bit : {1, 2, 3}) {
    rs.addNew();
    rs.setValue("Res_no", Variant("RES_1"));
    rs.setValue("Bit_Nod", Variant(int32_t(bit)));
    rs.setValue("name", Variant("读"));
    rs.update();
  }
  conn->beginTrans();
  EXPECT_THROW(rs.updateBatch(), com::ComError);  // the second row's key is taken
  conn->rollbackTrans();
  EXPECT_EQ(b_->execute("select count(*) from AppRgt").rows[0][0], Variant(int32_t(1)));
  // The connection goes on.
  conn->execute("insert into AppRgt values ('RES_2', 1, 'ok')");
  EXPECT_EQ(b_->execute("select count(*) from AppRgt").rows[0][0], Variant(int32_t(2)));
}

TEST_F(OdbcRecordsetTest, AddNewReadsBackTheDatabaseNumberedKey) {
  b_->execute(
      "create table umUsrSecInst(Usi_no integer generated by default as identity primary key, "
      "Usa_no text, usr_no text, Usi_Value text, isAvail integer)");
  auto conn = connect();
  Recordset rs;
  rs.open("select * from umUsrSecInst", conn, adOpenStatic, adLockOptimistic);
  rs.addNew();
  rs.setValue("Usa_no", Variant("3"));
  rs.setValue("Usi_Value", Variant("五"));
  rs.update();
  Variant key = rs.value("Usi_no");
  EXPECT_EQ(key, Variant(int32_t(1)));
  rs.setValue("Usi_Value", Variant("六"));  // and edit it again, located by that key
  rs.update();
  EXPECT_EQ(b_->execute("select Usi_Value from umUsrSecInst where Usi_no = 1").rows.at(0).at(0), Variant("六"));
}

// psqlODBC as Debian installs it logs every connection (CommLog=1 in
// /etc/odbcinst.ini) to /tmp, password and statements included; the layer
// turns its logs off on every connection, and a caller cannot turn them on.
TEST_F(OdbcBackendTest, DriverLogsHoldNoPasswordOrStatementWithDebiansDriverEntry) {
  std::ifstream ini("/etc/odbcinst.ini");
  std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
  if (text.find("[PostgreSQL Unicode]") == std::string::npos) GTEST_SKIP() << "psqlODBC is not installed";

  const std::string password = env("TIVEL_TEST_PG_PASSWORD");
  {
    auto b = openBackend(modeTwo(password), 10);
    b->execute("select 'log-marker-7731'");
  }
  const std::string mine = std::to_string(::getpid()) + ".log";
  for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
    const std::string name = entry.path().filename().string();
    bool driverLog = name.rfind("psqlodbc_", 0) == 0 || name.rfind("mylog_", 0) == 0;
    if (!driverLog || name.size() < mine.size() || name.compare(name.size() - mine.size(), mine.size(), mine) != 0)
      continue;
    std::ifstream in(entry.path());
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(log.find(password), std::string::npos) << name;
    EXPECT_EQ(log.find("log-marker-7731"), std::string::npos) << name;
  }
  for (const char* extra : {";Debug=1;CommLog=1", ";B3=1", ";{CommLog}=1", ";pqopt={passfile=/etc/shadow}"})
    EXPECT_THROW(openBackend(modeTwo(password) + extra, 10), com::ComError) << extra;
}

}  // namespace
}  // namespace tivel::ado::odbc
