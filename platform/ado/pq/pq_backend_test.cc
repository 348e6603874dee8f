// The native PostgreSQL backend where it differs from the ODBC one: its own
// placeholder numbering, its own reading of values, and PostgreSQL's failed
// transactions without a savepoint per statement. The shared suites cover
// the rest when TIVEL_TEST_PG_NATIVE=1; these run whenever a PostgreSQL test
// server is named.
#include <gtest/gtest.h>

#include <memory>

#include "platform/ado/backend.h"
#include "platform/ado/constants.h"
#include "platform/ado/pq/connect_params.h"
#include "platform/ado/pq/placeholders.h"
#include "platform/com/error.h"
#include "testing/engines.h"

namespace tivel::ado::pq {
namespace {

TEST(PqPlaceholders, OnlyBarePlaceholdersAreNumbered) {
  NumberedText n = numberPlaceholders(
      "select '?', E'\\'?', \"a?\", $$?$$, $t$ ? $t$, a$b, ? -- ?\n/* ? /* ? */ ? */ from t where x = ? and y=?");
  EXPECT_EQ(n.text,
            "select '?', E'\\'?', \"a?\", $$?$$, $t$ ? $t$, a$b, $1 -- ?\n/* ? /* ? */ ? */ from t where x = $2 and "
            "y=$3");
  EXPECT_EQ(n.count, 3);
  // An unclosed quote runs to the end: nothing in it is a placeholder.
  EXPECT_EQ(numberPlaceholders("select ? where a = 'x?").count, 1);
}

TEST(PqConnectParams, TheProviderAndDriverFormsNameHostPortAndAccount) {
  auto params = [](const char* text) {
    auto p = connectParams(ConnectionString::parse(text));
    return std::map<std::string, std::string>(p.begin(), p.end());
  };
  auto p = params("Provider=PostgreSQL;Data Source=db.local,5433;Initial Catalog=portal;User ID=u;Password={a;b}");
  EXPECT_EQ(p["host"], "db.local");
  EXPECT_EQ(p["port"], "5433");
  EXPECT_EQ(p["dbname"], "portal");
  EXPECT_EQ(p["user"], "u");
  EXPECT_EQ(p["password"], "a;b");
  EXPECT_EQ(p["connect_timeout"], "15");
  p = params("DRIVER=PostgreSQL; server=h;Port=6000;uid=v;PASSWORD=w;DATABASE=d;Connect Timeout=3;sslkey=/x");
  EXPECT_EQ(p["host"] + p["port"] + p["user"] + p["dbname"] + p["connect_timeout"], "h6000vd3");
  EXPECT_EQ(p.count("sslkey"), 0u);
  EXPECT_TRUE(servesConnectionString(ConnectionString::parse("Provider=postgresql")));
  EXPECT_FALSE(servesConnectionString(ConnectionString::parse("DRIVER=PostgreSQL Unicode")));
  EXPECT_FALSE(servesConnectionString(ConnectionString::parse("dsn=x;DRIVER=PostgreSQL")));
}

class PqBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tivel::testing::env("TIVEL_TEST_PG_HOST").empty()) GTEST_SKIP() << "no PostgreSQL test server";
    tivel::testing::withEnvironment("TIVEL_TEST_PG_NATIVE", "1",
                                    [&] { db_ = std::make_unique<tivel::testing::ScratchDatabase>("postgresql"); });
    b_ = openBackend(db_->connectionString(), 30);
  }

  com::Variant scalar(const std::string& sql) { return b_->execute(sql).rows.at(0)[0]; }

  std::unique_ptr<tivel::testing::ScratchDatabase> db_;
  std::unique_ptr<Backend> b_;
};

TEST_F(PqBackendTest, ValuesReadWithTheTypesOfTheOdbcBackend) {
  b_->execute(
      "create table v(id serial primary key, i integer, big bigint, n numeric(10,2), f float8, ok boolean, "
      "s varchar(10), c char(3), d date, ts timestamp, tm time, b bytea, isNull integer)");
  EXPECT_EQ(b_->executeBound("insert into v(i, big, n, f, ok, s, c, d, ts, tm, b, isNull) "
                             "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                             {com::Variant(int32_t{-7}), com::Variant(std::string("5000000000")), com::Variant(2.5),
                              com::Variant(0.1), com::Variant(true), com::Variant(std::string("汉字'?")),
                              com::Variant(std::string("ab")), com::Variant(com::DateTime{2026, 2, 3}),
                              com::Variant(com::DateTime{2026, 2, 3, 4, 5, 6}), com::Variant(std::string("07:08:09")),
                              com::Variant(com::Variant::Bytes{0, 255, 10}), com::Variant::null()}),
            1);
  EXPECT_EQ(b_->generatedKey("v", "id").toString(), "1");
  StatementResult r = b_->execute("select i, big, n, f, ok, s, c, d, ts, tm, b, isNull, i + 1 as j from v");
  ASSERT_EQ(r.rows.size(), 1u);
  const PackedRow& row = r.rows[0];
  EXPECT_EQ(row[0].type(), com::VarType::Long);
  EXPECT_EQ(row[1].type(), com::VarType::Double);  // outside 32 bits
  EXPECT_EQ(row[1].toString(), "5000000000");
  EXPECT_EQ(row[2].type(), com::VarType::Double);
  EXPECT_EQ(row[3].toString(), com::Variant(0.1).toString());
  EXPECT_EQ(row[4].type(), com::VarType::Boolean);
  EXPECT_EQ(row[5].toString(), "汉字'?");
  EXPECT_EQ(row[6].toString(), "ab ");
  EXPECT_EQ(row[7].toDate(), (com::DateTime{2026, 2, 3}));
  EXPECT_EQ(row[8].toDate(), (com::DateTime{2026, 2, 3, 4, 5, 6}));
  EXPECT_EQ(row[9].toDate().hour, 7);
  EXPECT_EQ(row[10].bytes(), (com::Variant::Bytes{0, 255, 10}));
  EXPECT_TRUE(row[11].isNull());
  EXPECT_EQ(r.columns[5].baseTable, "v");
  EXPECT_EQ(r.columns[11].baseColumn, "isnull");
  EXPECT_EQ(r.columns[12].baseTable, "");  // computed
  EXPECT_EQ(b_->primaryKey("V"), std::vector<std::string>{"id"});
  EXPECT_THROW(b_->executeBound("select ? from v", {}), com::ComError);
}

TEST_F(PqBackendTest, AFailedStatementFailsTheTransactionWhole) {
  b_->execute("create table t(k integer primary key)");
  b_->begin();
  b_->executeBound("insert into t values (?)", {com::Variant(int32_t{1})});
  try {
    b_->executeBound("insert into t values (?)", {com::Variant(int32_t{1})});
    FAIL() << "a duplicate key was stored";
  } catch (const com::ComError& e) {
    EXPECT_NE(e.description().find("SQLSTATE 23505"), std::string::npos) << e.description();
  }
  EXPECT_THROW(b_->executeBound("insert into t values (?)", {com::Variant(int32_t{2})}), com::ComError);
  EXPECT_THROW(b_->commit(), com::ComError);
  EXPECT_FALSE(b_->inTransaction());
  EXPECT_EQ(scalar("select count(*) from t").toString(), "0");
  // At most one row: more are undone, inside a transaction and outside one.
  b_->execute("insert into t values (1), (2)");
  EXPECT_EQ(b_->executeBoundAtMost("delete from t where k > ?", {com::Variant(int32_t{0})}, 1), 2);
  b_->begin();
  EXPECT_EQ(b_->executeBoundAtMost("delete from t where k > ?", {com::Variant(int32_t{0})}, 1), 2);
  EXPECT_EQ(b_->executeBoundAtMost("delete from t where k = ?", {com::Variant(int32_t{1})}, 1), 1);
  // A failed at-most write is undone alone: its savepoint keeps the transaction.
  EXPECT_THROW(b_->executeBoundAtMost("insert into t values (?)", {com::Variant(int32_t{2})}, 1), com::ComError);
  EXPECT_EQ(b_->executeBoundAtMost("insert into t values (?)", {com::Variant(int32_t{3})}, 1), 1);
  b_->commit();
  EXPECT_EQ(scalar("select count(*) from t").toString(), "2");
}

TEST_F(PqBackendTest, ATimedOutStatementFailsAndAnEndedSessionIsReplaced) {
  b_->setTimeout(1);
  EXPECT_THROW(b_->execute("select pg_sleep(3)"), com::ComError);
  b_->setTimeout(0);
  const std::string pid = scalar("select pg_backend_pid()").toString();
  auto admin = openBackend(db_->connectionString(), 30);
  admin->execute("select pg_terminate_backend(" + pid + ")");
  for (int i = 0; i < 200; ++i)
    if (admin->execute("select count(*) from pg_stat_activity where pid = " + pid).rows.at(0)[0].toString() == "0")
      break;
  // The statement that meets the loss fails, unless the check of a quiet
  // connection met it first; the one after runs on a new session.
  try {
    b_->execute("select 1");
  } catch (const com::ComError& e) {
    EXPECT_NE(e.description(), "");
  }
  EXPECT_NE(scalar("select pg_backend_pid()").toString(), pid);
}

}  // namespace
}  // namespace tivel::ado::pq
