#include "platform/ado/odbc/connect_keys.h"

#include <gtest/gtest.h>

#include "platform/ado/constants.h"
#include "testing/errors.h"

namespace tivel::ado::odbc {
namespace {

using tivel::testing::errorOf;

TEST(ConnectKeysTest, GuardedKeysInEverySpellingAreRefusedUnlessTheAdministratorAllowsThem) {
  const std::string base = "DRIVER={MariaDB Unicode};SERVER=h;UID=u;PWD={p;w};";
  auto none = [] { return ConnectionString(); };
  auto refused = [&](const std::string& cs, const AllowedKeys& allowed) {
    return errorOf([&] { guardConnectKeys(cs, "MariaDB Unicode", allowed); });
  };
  EXPECT_EQ(refused(base + "OPTION=2;CHARSET=utf8mb4;", none), 0);
  for (const char* extra : {"ENABLE_LOCAL_INFILE=1;",
                            "{PLUGIN_DIR}=/tmp;",
                            "SSLKEY=/etc/shadow;",
                            "INITSTMT=select 1;",
                            " initStmt =x;",
                            "{ SslKey }=/k;",
                            "Use_MyCnf=0;",
                            "OPTION=4;",
                            "OPTIONS=524290;",
                            "OPTION=2x;",
                            "Debug=1;CommLog=1;",
                            "B3=1;",
                            "CX=1c3fff;",
                            "pqopt={sslkey=x};",
                            "ConnSettings=set x=1;",
                            "A6=x;",
                            "Logdir=/tmp;",
                            "SERVER=other;",
                            "{server}=other;",
                            "DATABASE={x;ENABLE_LOCAL_INFILE=1};",
                            "PWD2={a};{ Debug }=1;"})
    EXPECT_EQ(refused(base + extra, none), kOpenFailed) << extra;

  // The administrator's pair: that key with that value only; the keys that
  // log, read option or local files or load code never.
  auto admin = [] { return ConnectionString::parse("SSLKEY=/etc/tivel/client.key;initstmt={set a=1;set b=2}"); };
  EXPECT_EQ(refused(base + "sslkey=/etc/tivel/client.key;", admin), 0);
  EXPECT_EQ(refused(base + "INITSTMT={set a=1;set b=2};", admin), 0);
  EXPECT_EQ(refused(base + "SSLKEY=/etc/shadow;", admin), kOpenFailed);
  auto logging = [] { return ConnectionString::parse("CommLog=1;PLUGIN_DIR=/tmp"); };
  EXPECT_EQ(refused(base + "CommLog=1;", logging), kOpenFailed);
  EXPECT_EQ(refused(base + "PLUGIN_DIR=/tmp;", logging), kOpenFailed);

  // The forced pairs come last, where the drivers take them.
  EXPECT_EQ(guardConnectKeys("DRIVER={PostgreSQL Unicode};UID=u", "PostgreSQL Unicode", none),
            "DRIVER={PostgreSQL Unicode};UID=u;Debug=0;CommLog=0;");
  EXPECT_EQ(guardConnectKeys(base, "MariaDB Unicode", none), base + "USE_MYCNF=1;");
  EXPECT_FALSE(mariadbOptionDirectory().empty()) << "the option file beside the library";
}

}  // namespace
}  // namespace tivel::ado::odbc
