#include "platform/ado/sqlite/sqlite_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/ado/constants.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "testing/engines.h"
#include "testing/errors.h"

namespace tivel::ado {
namespace {

using com::Variant;
using com::VarType;

using tivel::testing::errorOf;

class SqliteBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = sqlite::open(scratch_.location(), 5); }
  tivel::testing::ScratchDatabase scratch_{"sqlite"};
  std::unique_ptr<Backend> db_;
};

TEST(SqliteOpenTest, OpensAnExistingFileOnlyAndNeverCreatesOne) {
  tivel::testing::TempDir dir;
  std::string missing = dir.path() + "/missing.db";
  std::string d;
  EXPECT_EQ(errorOf([&] { openBackend("Provider=SQLite;Data Source=" + missing, 5); }, &d), kOpenFailed);
  EXPECT_NE(d.find(missing), std::string::npos) << d;
  EXPECT_FALSE(std::filesystem::exists(missing));

  std::string present = dir.path() + "/present.db";
  std::ofstream(present).close();
  EXPECT_NE(openBackend(" provider = sqlite ; Data Source= " + present + " ;", 5), nullptr);
  EXPECT_NE(openBackend("PROVIDER=SQLite;Data Source=" + present + ";", 5), nullptr);

  EXPECT_EQ(errorOf([&] { openBackend("Provider=SQLite;Data Source=" + dir.path(), 5); }), kOpenFailed);
}

TEST(SqliteOpenTest, AFileThatIsNotADatabaseFailsToOpen) {
  tivel::testing::TempDir dir;
  std::string path = dir.path() + "/notes.txt";
  std::ofstream(path) << "this is not a database, just some text that is long enough to be read as a header......";
  std::string d;
  EXPECT_EQ(errorOf([&] { openBackend("Provider=SQLite;Data Source=" + path, 5); }, &d), kOpenFailed);
  EXPECT_FALSE(d.empty());
}

// A text run again reuses its prepared statement: it must still see rows and
// columns added since, hold no lock between runs, and a failing run must not
// poison the next one.
TEST_F(SqliteBackendTest, StatementsRunAgainSeeChangesAndHoldNoLock) {
  db_->execute("CREATE TABLE t(k INTEGER PRIMARY KEY, v TEXT)");
  const std::string read = "select * from t order by k";
  EXPECT_EQ(db_->execute(read).rows.size(), 0u);
  std::unique_ptr<Backend> other = sqlite::open(scratch_.location(), 1);
  other->execute("INSERT INTO t(v) VALUES ('a')");  // no snapshot of the first connection stands in the way
  EXPECT_EQ(db_->execute(read).rows.size(), 1u);
  db_->execute("ALTER TABLE t ADD COLUMN w TEXT");
  StatementResult r = db_->execute(read);
  EXPECT_EQ(r.columns.size(), 3u);
  other->begin();  // the write lock is free: the kept read released everything
  other->commit();

  const std::string insert = "INSERT INTO t(k, v) VALUES (7, 'x')";
  EXPECT_EQ(db_->execute(insert).affected, 1);
  EXPECT_EQ(errorOf([&] { db_->execute(insert); }), kProviderError);  // the key is taken
  db_->execute("DELETE FROM t WHERE k = 7");
  EXPECT_EQ(db_->execute(insert).affected, 1);
  EXPECT_EQ(db_->executeBound("UPDATE t SET v = ? WHERE k = ?", {Variant("y"), Variant(7)}), 1);
  EXPECT_EQ(db_->executeBound("UPDATE t SET v = ? WHERE k = ?", {Variant("z"), Variant(8)}), 0);
  EXPECT_EQ(db_->execute("select v from t where k = 7").rows.at(0).at(0).toString(), "y");
}

TEST_F(SqliteBackendTest, UsesTheWalJournal) {
  StatementResult r = db_->execute("PRAGMA journal_mode");
  ASSERT_TRUE(r.hasRows);
  EXPECT_EQ(r.rows.at(0).at(0).toString(), "wal");
  EXPECT_EQ(db_->dialect(), "sqlite");
}

TEST_F(SqliteBackendTest, ValueKindsReadBack) {
  db_->execute("CREATE TABLE k (i INTEGER, r REAL, t TEXT, b BLOB, d DATETIME, n INTEGER)");
  com::DateTime when{2026, 12, 7, 8, 9, 10};
  db_->executeBound(
      "INSERT INTO k VALUES (?, ?, ?, ?, ?, ?)",
      {Variant(7), Variant(2.5), Variant("稿费"), Variant(Variant::Bytes{0, 1, 255}), Variant(when), Variant::null()});
  db_->executeBound("INSERT INTO k (i, t, d) VALUES (?, ?, ?)", {Variant(true), Variant(false), Variant("not a date")});
  db_->execute("INSERT INTO k (i, d) VALUES (5000000000, '2026-12-07')");
  StatementResult r = db_->execute("SELECT i, r, t, b, d, n FROM k ORDER BY rowid");
  ASSERT_EQ(r.rows.size(), 3u);
  const Row a = r.rows[0].unpack();
  EXPECT_EQ(a[0].type(), VarType::Long);
  EXPECT_EQ(a[0].toLong(), 7);
  EXPECT_EQ(a[1].type(), VarType::Double);
  EXPECT_EQ(a[1].toDouble(), 2.5);
  EXPECT_EQ(a[2].toString(), "稿费");
  EXPECT_EQ(a[3].bytes(), (Variant::Bytes{0, 1, 255}));
  ASSERT_EQ(a[4].type(), VarType::Date);
  EXPECT_EQ(a[4].toDate(), when);
  EXPECT_TRUE(a[5].isNull());
  // Booleans are stored as 1 and 0, not as the scripting -1.
  EXPECT_EQ(r.rows[1][0].toLong(), 1);
  EXPECT_EQ(r.rows[1][2].toString(), "0");
  EXPECT_EQ(r.rows[1][4].type(), VarType::String);
  // Beyond 32 bits an integer reads as a Double.
  EXPECT_EQ(r.rows[2][0].type(), VarType::Double);
  EXPECT_EQ(r.rows[2][0].toDouble(), 5000000000.0);
  // Only the system's own date form reads as a Date, so it binds back unchanged.
  EXPECT_EQ(r.rows[2][4].type(), VarType::String);
  EXPECT_EQ(db_->execute("SELECT count(*) FROM k WHERE d = '2026-12-07 08:09:10'").rows[0][0].toLong(), 1);
}

TEST_F(SqliteBackendTest, ColumnMetadataAndPrimaryKeys) {
  db_->execute("CREATE TABLE pair (b TEXT NOT NULL, a TEXT NOT NULL, v INTEGER, PRIMARY KEY (a, b))");
  db_->execute("CREATE TABLE loose (x INTEGER)");
  StatementResult r = db_->execute("SELECT v AS value, a, v + 1 AS more FROM pair");
  ASSERT_EQ(r.columns.size(), 3u);
  EXPECT_EQ(r.columns[0].name, "value");
  EXPECT_EQ(r.columns[0].baseTable, "pair");
  EXPECT_EQ(r.columns[0].baseColumn, "v");
  EXPECT_EQ(r.columns[2].baseTable, "");
  EXPECT_EQ(db_->primaryKey("pair"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(db_->primaryKey("loose").empty());
  EXPECT_EQ(db_->quoteIdentifier("we\"ird"), "\"we\"\"ird\"");
}

TEST_F(SqliteBackendTest, AtMostChangesNothingWhenMoreRowsWouldChange) {
  db_->execute("CREATE TABLE t (v TEXT)");
  db_->execute("INSERT INTO t VALUES ('x'), ('x'), ('y')");
  EXPECT_EQ(db_->executeBoundAtMost("UPDATE t SET v = ? WHERE v = ?", {Variant("z"), Variant("x")}, 1), 2);
  EXPECT_EQ(db_->execute("SELECT count(*) FROM t WHERE v = 'x'").rows[0][0].toLong(), 2);
  db_->begin();
  EXPECT_EQ(db_->executeBoundAtMost("DELETE FROM t WHERE v = ?", {Variant("x")}, 1), 2);
  EXPECT_EQ(db_->executeBoundAtMost("DELETE FROM t WHERE v = ?", {Variant("y")}, 1), 1);
  EXPECT_TRUE(db_->inTransaction());
  db_->commit();
  EXPECT_EQ(db_->execute("SELECT count(*) FROM t").rows[0][0].toLong(), 2);
  // A failing statement leaves no savepoint behind.
  EXPECT_EQ(errorOf([&] { db_->executeBoundAtMost("UPDATE nope SET v = ?", {Variant(1)}, 1); }), kProviderError);
  EXPECT_FALSE(db_->inTransaction());
}

TEST_F(SqliteBackendTest, BoundStatementsTakeExactlyTheirParameters) {
  db_->execute("CREATE TABLE t (v TEXT)");
  std::string d;
  EXPECT_EQ(errorOf([&] { db_->executeBound("INSERT INTO t VALUES (?)", {}); }, &d), kProviderError);
  EXPECT_EQ(errorOf([&] { db_->executeBound("INSERT INTO t VALUES (?); DELETE FROM t", {Variant(1)}); }),
            kProviderError);
  EXPECT_EQ(db_->execute("SELECT count(*) FROM t").rows[0][0].toLong(), 0);
  // A quote in a bound value is data, never statement text.
  EXPECT_EQ(db_->executeBound("INSERT INTO t VALUES (?)", {Variant("x'); DROP TABLE t; --")}), 1);
  EXPECT_EQ(db_->execute("SELECT v FROM t").rows[0][0].toString(), "x'); DROP TABLE t; --");
}

TEST_F(SqliteBackendTest, SeveralStatementsInOneText) {
  StatementResult r = db_->execute("CREATE TABLE t (v INTEGER); INSERT INTO t VALUES (1); INSERT INTO t VALUES (2);");
  EXPECT_FALSE(r.hasRows);
  EXPECT_EQ(r.affected, 2);
  // Statements that change no rows count none, whatever ran before them.
  EXPECT_EQ(db_->execute("CREATE TABLE u (v INTEGER)").affected, 0);
  EXPECT_EQ(db_->executeBound("CREATE INDEX u_v ON u(v)", {}), 0);
  EXPECT_EQ(errorOf([&] { db_->execute("  ;  "); }), kProviderError);
}

TEST_F(SqliteBackendTest, ImmediateTransactionsMakeASecondWriterWaitThenFail) {
  auto second = sqlite::open(scratch_.location(), 1);
  db_->execute("CREATE TABLE t (v INTEGER)");
  db_->begin();
  db_->execute("INSERT INTO t VALUES (1)");
  auto started = std::chrono::steady_clock::now();
  std::string d;
  EXPECT_EQ(errorOf([&] { second->begin(); }, &d), kProviderError);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
  EXPECT_NE(d.find("locked"), std::string::npos) << d;
  // Readers are not blocked in WAL mode and see the last commit.
  EXPECT_EQ(second->execute("SELECT count(*) FROM t").rows[0][0].toLong(), 0);
  db_->rollback();
  second->begin();
  second->commit();
}

TEST_F(SqliteBackendTest, RecordsetWritesBooleansAndDatesAsStored) {
  db_->execute("CREATE TABLE s (id INTEGER PRIMARY KEY, flag INTEGER, at DATETIME)");
  db_->execute("INSERT INTO s VALUES (1, 0, '2026-01-01 00:00:00')");
  auto conn = std::make_shared<Connection>();
  conn->open(scratch_.connectionString());
  Recordset rs;
  rs.open("SELECT * FROM s", conn, adOpenStatic, adLockOptimistic);
  ASSERT_EQ(rs.value("at").type(), VarType::Date);
  rs.setValue("flag", Variant(true));
  rs.setValue("at", Variant(com::DateTime{2026, 12, 7, 12, 0, 0}));
  rs.update();
  // The date just written is the original of the next edit and still locates the row.
  rs.setValue("at", Variant(com::DateTime{2027, 1, 1, 0, 0, 0}));
  rs.update();
  StatementResult r = db_->execute("SELECT flag, typeof(at), at FROM s");
  EXPECT_EQ(r.rows[0][0].toLong(), 1);
  EXPECT_EQ(r.rows[0][1].toString(), "text");
  EXPECT_EQ(r.rows[0][2].toString(), "2027-01-01 00:00:00");
}

TEST_F(SqliteBackendTest, AutoIncrementKeyIsAssignedByTheDatabase) {
  db_->execute("CREATE TABLE seq (no INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT)");
  auto conn = std::make_shared<Connection>();
  conn->open(scratch_.connectionString());
  Recordset rs;
  rs.open("SELECT * FROM seq", conn, adOpenStatic, adLockOptimistic);
  rs.addNew();
  rs.setValue("name", Variant("a"));
  rs.update();
  EXPECT_EQ(rs.value("no").toLong(), 1);
  rs.addNew();
  rs.setValue("name", Variant("b"));
  rs.update();
  EXPECT_EQ(rs.value("no").toLong(), 2);
  rs.setValue("name", Variant("b2"));  // the read-back key locates the new row
  rs.update();
  StatementResult r = db_->execute("SELECT no, name FROM seq ORDER BY no");
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0][0].toLong(), 1);
  EXPECT_EQ(r.rows[1][1].toString(), "b2");

  // A text key left out is no row number.
  db_->execute("CREATE TABLE named (code TEXT PRIMARY KEY, name TEXT)");
  EXPECT_TRUE(db_->generatedKey("named", "code").isEmpty());
  EXPECT_TRUE(db_->generatedKey("seq", "name").isEmpty());
}

}  // namespace
}  // namespace tivel::ado

namespace tivel::ado {
namespace {

TEST(SqliteConnectionTest, CommandTimeoutChangedAfterOpenBoundsTheWaitForALock) {
  tivel::testing::ScratchDatabase scratch("sqlite");
  auto holder = std::make_shared<Connection>();
  holder->open(scratch.connectionString());
  holder->execute("CREATE TABLE t (v INTEGER)");
  auto waiter = std::make_shared<Connection>();
  waiter->commandTimeout = 600;
  waiter->open(scratch.connectionString());
  waiter->commandTimeout = 1;
  holder->beginTrans();
  holder->execute("INSERT INTO t VALUES (1)");
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(errorOf([&] { waiter->execute("INSERT INTO t VALUES (2)"); }), kProviderError);
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(30));
  holder->commitTrans();
  waiter->execute("INSERT INTO t VALUES (2)");
  EXPECT_EQ(waiter->execute("SELECT count(*) FROM t")->value(0).toLong(), 2);
}

}  // namespace
}  // namespace tivel::ado
