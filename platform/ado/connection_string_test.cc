#include "platform/ado/connection_string.h"

#include <gtest/gtest.h>

#include "platform/ado/backend.h"
#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado {
namespace {

TEST(ConnectionStringTest, KeysMatchWithoutCaseAndSurroundingBlanks) {
  auto cs = ConnectionString::parse("DRIVER={SQL Server}; server=db1; uid=sa;pwd=secret; Database=mgt");
  EXPECT_EQ(cs.get("Server"), "db1");
  EXPECT_EQ(cs.get(" SERVER "), "db1");
  EXPECT_EQ(cs.get("UID"), "sa");
  EXPECT_EQ(cs.get("database"), "mgt");
  EXPECT_TRUE(cs.has("server"));
  EXPECT_FALSE(cs.has("serve"));
  EXPECT_EQ(cs.get("missing"), "");
}

TEST(ConnectionStringTest, ValuesAreTrimmedAndKeepInnerBlanks) {
  auto cs = ConnectionString::parse("PROVIDER=SQLite; Data Source= /srv/db/my file.db ;User ID = 张三 ");
  EXPECT_EQ(cs.get("data source"), "/srv/db/my file.db");
  EXPECT_EQ(cs.get("user id"), "张三");
  EXPECT_FALSE(cs.has("datasource"));
  ASSERT_EQ(cs.pairs().size(), 3u);
  EXPECT_EQ(cs.pairs()[1].first, "Data Source");
}

TEST(ConnectionStringTest, PairsWithoutValueAndEmptyPieces) {
  auto cs = ConnectionString::parse(";;Trusted;dsn=;x=1;;");
  ASSERT_EQ(cs.pairs().size(), 3u);
  EXPECT_TRUE(cs.has("trusted"));
  EXPECT_EQ(cs.get("trusted"), "");
  EXPECT_TRUE(cs.has("DSN"));
  EXPECT_EQ(cs.get("x"), "1");
  EXPECT_TRUE(ConnectionString::parse("").pairs().empty());
  EXPECT_TRUE(ConnectionString::parse("  ; ;").pairs().empty());
}

TEST(ConnectionStringTest, ValueMayHoldEqualsAndBracedSemicolons) {
  auto cs = ConnectionString::parse("pwd=a=b;PWD2={x;y}}z};last=1");
  EXPECT_EQ(cs.get("pwd"), "a=b");
  EXPECT_EQ(cs.get("pwd2"), "{x;y}}z}");
  EXPECT_EQ(cs.get("last"), "1");
}

TEST(ConnectionStringTest, FirstPairOfAKeyWins) {
  auto cs = ConnectionString::parse("uid=first;UID=second");
  EXPECT_EQ(cs.get("uid"), "first");
}

int32_t openError(const std::string& cs, std::string* description) {
  try {
    openBackend(cs, 5);
  } catch (const com::ComError& e) {
    *description = e.description();
    return e.number();
  }
  return 0;
}

TEST(OpenBackendTest, EmptyOrUnrecognisedStringsFailToOpen) {
  std::string d;
  EXPECT_EQ(openError("", &d), kOpenFailed);
  EXPECT_NE(d.find("empty"), std::string::npos) << d;
  EXPECT_EQ(openError(" ; ", &d), kOpenFailed);
  EXPECT_EQ(openError("Data Source=/tmp/x.db;pwd=hush", &d), kOpenFailed);
  EXPECT_NE(d.find("provider"), std::string::npos) << d;
  EXPECT_EQ(d.find("hush"), std::string::npos) << "a password must not reach the message: " << d;
  EXPECT_EQ(openError("Provider=;Data Source=/tmp/x.db", &d), kOpenFailed);
}

TEST(OpenBackendTest, SqliteProviderNeedsAFile) {
  std::string d;
  EXPECT_EQ(openError("Provider=SQLite", &d), kOpenFailed);
  EXPECT_EQ(openError("provider=sqlite;Data Source=/nonexistent/dir/x.db", &d), kOpenFailed);
  EXPECT_NE(d.find("/nonexistent/dir/x.db"), std::string::npos) << d;
}

}  // namespace
}  // namespace tivel::ado
