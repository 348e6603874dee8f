#include "platform/ado/odbc/odbc_connection_string.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstdlib>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado::odbc {
namespace {

bool onlyPostgres(const std::string& name) { return strcasecmp(name.c_str(), "PostgreSQL Unicode") == 0; }

OdbcTarget map(const std::string& text) { return toOdbc(ConnectionString::parse(text), onlyPostgres); }

class OdbcConnectionString : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("TIVEL_ODBC_DRIVER"); }
  void TearDown() override { unsetenv("TIVEL_ODBC_DRIVER"); }
};

TEST_F(OdbcConnectionString, ManagementModeTwoWithTheBlankAfterTheSemicolon) {
  OdbcTarget t = map("DRIVER=PostgreSQL Unicode; server=db.local;uid=portal;PASSWORD=s3cret;DATABASE=tivel");
  EXPECT_EQ(t.driver, "PostgreSQL Unicode");
  EXPECT_EQ(t.dsn, "");
  EXPECT_EQ(t.connectString, "DRIVER={PostgreSQL Unicode};SERVER=db.local;UID=portal;PWD=s3cret;DATABASE=tivel;");
}

TEST_F(OdbcConnectionString, ServerWithCommaPortBecomesServerAndPort) {
  EXPECT_EQ(map("DRIVER=X; server=127.0.0.1,54321;uid=u;PASSWORD=p;DATABASE=d").connectString,
            "DRIVER={X};SERVER=127.0.0.1;PORT=54321;UID=u;PWD=p;DATABASE=d;");
  // A Port key given wins; a comma not followed by a number is left alone.
  EXPECT_EQ(map("DRIVER=X;server=h,5;Port=6").connectString, "DRIVER={X};SERVER=h,5;PORT=6;");
  EXPECT_EQ(map("DRIVER=X;server=h,abc").connectString, "DRIVER={X};SERVER=h,abc;");
}

TEST_F(OdbcConnectionString, ManagementModeOneLeavesEmptyValuesToTheDataSource) {
  OdbcTarget t = map("dsn=portal;uid=;pwd=;");
  EXPECT_EQ(t.dsn, "portal");
  EXPECT_EQ(t.driver, "");
  EXPECT_EQ(t.connectString, "DSN=portal;");
  EXPECT_EQ(map("dsn=portal;uid=a;pwd=b;").connectString, "DSN=portal;UID=a;PWD=b;");
}

TEST_F(OdbcConnectionString, FeeModeTwoWithAnInstalledDriverAsProvider) {
  OdbcTarget t =
      map("Provider=PostgreSQL Unicode;Password=p;Persist Security Info=True;User ID=u;Initial Catalog=fee;Data "
          "Source=h,5433");
  EXPECT_EQ(t.driver, "PostgreSQL Unicode");
  EXPECT_EQ(t.connectString, "DRIVER={PostgreSQL Unicode};PWD=p;UID=u;DATABASE=fee;SERVER=h;PORT=5433;");
}

TEST_F(OdbcConnectionString, ServerProviderNamesStandForTheServerDriver) {
  EXPECT_EQ(map("Provider=SQLOLEDB;User ID=u;Data Source=h").connectString,
            "DRIVER={PostgreSQL Unicode};UID=u;SERVER=h;");
  EXPECT_EQ(map("Provider=SQLOLEDB.1;Data Source=h").driver, "PostgreSQL Unicode");
  EXPECT_EQ(map("Provider=SQLNCLI11;Data Source=h").driver, "PostgreSQL Unicode");
  setenv("TIVEL_ODBC_DRIVER", "FreeTDS", 1);
  EXPECT_EQ(map("Provider=MSOLEDBSQL;Data Source=h").driver, "FreeTDS");
}

TEST_F(OdbcConnectionString, OdbcProviderKeepsTheDataSourceItNames) {
  OdbcTarget t = map("Provider=MSDASQL;DSN=portal;UID=u");
  EXPECT_EQ(t.dsn, "portal");
  EXPECT_EQ(t.connectString, "DSN=portal;UID=u;");
}

TEST_F(OdbcConnectionString, UnknownProviderIsRefusedWithoutRepeatingThePassword) {
  try {
    map("Provider=Microsoft.Jet.OLEDB.4.0; Data Source=/x/db/a.mdb;Password=hush");
    FAIL() << "an unknown provider opened";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), kOpenFailed);
    EXPECT_NE(e.description().find("Microsoft.Jet.OLEDB.4.0"), std::string::npos);
    EXPECT_EQ(e.description().find("hush"), std::string::npos);
  }
}

TEST_F(OdbcConnectionString, NeitherDataSourceNorDriverIsRefused) {
  EXPECT_THROW(map("server=h;uid=u"), com::ComError);
  EXPECT_THROW(map("dsn=;uid=u"), com::ComError);  // an empty name names nothing
}

TEST_F(OdbcConnectionString, ValuesThatCouldBreakTheStringAreBraced) {
  // A password holding ";" cannot add a key of its own.
  OdbcTarget t = map("DRIVER=X;PWD={a;DATABASE=evil}");
  EXPECT_EQ(t.connectString, "DRIVER={X};PWD={a;DATABASE=evil};");
  EXPECT_EQ(connectPair("PWD", "a}b"), "PWD={a}}b};");
  EXPECT_EQ(connectPair("PWD", "plain"), "PWD=plain;");
}

TEST_F(OdbcConnectionString, FirstOfDataSourceAndDriverCounts) {
  OdbcTarget t = map("DRIVER=X;DSN=y");
  EXPECT_EQ(t.driver, "X");
  EXPECT_EQ(t.dsn, "");
  t = map("DSN=y;DRIVER=X");
  EXPECT_EQ(t.dsn, "y");
  EXPECT_EQ(t.driver, "");
}

TEST_F(OdbcConnectionString, PostgresDriversGetBooleansAsBits) {
  auto defaults = driverDefaults("PostgreSQL Unicode");
  ASSERT_EQ(defaults.size(), 2u);
  EXPECT_EQ(defaults[0], (std::pair<std::string, std::string>{"BoolsAsChar", "0"}));
  EXPECT_EQ(defaults[1], (std::pair<std::string, std::string>{"UseServerSidePrepare", "0"}));
  EXPECT_TRUE(driverDefaults("FreeTDS").empty());
}

}  // namespace
}  // namespace tivel::ado::odbc
