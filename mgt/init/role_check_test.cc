#include "mgt/init/role_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "mgt/common/helpers.h"
#include "mgt/testing/portal.h"
#include "platform/ado/odbc/connect_keys.h"
#include "platform/ado/recordset.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

class RoleCheckTest : public testing::PortalTest {};

// The portal's own role (the components' connection) has only the grants it
// needs and raises nothing; the owner of the test database is a superuser,
// which `tivel init` reports; a role made a member of a server-file role
// is reported for it.
TEST_P(RoleCheckTest, WarnsWhenTheDatabaseRoleReachesTheHost) {
  ado::Connection components;
  components.open(GetConnectionString());
  // What holds whatever the role: the server's and the driver entry's settings.
  const std::vector<std::string> host = connectionWarnings(components);
  EXPECT_EQ(roleWarnings(components), host);
  if (GetParam() == "sqlite") {
    EXPECT_EQ(roleWarnings(portal().db()), std::vector<std::string>());
    return;
  }
  const bool localInfile =
      GetParam() == "mariadb" && components.execute("select @@local_infile")->value(0).toLong() != 0;
  EXPECT_EQ(localInfile, !host.empty() && host[0].find("local_infile=ON") != std::string::npos);
  if (GetParam() == "postgresql") {
    const bool debianEntry = !ado::odbc::loggingDriverEntries().empty();
    EXPECT_EQ(debianEntry, !host.empty() && host[0].find("CommLog=1") != std::string::npos);
  }
  if (GetParam() == "mariadb") {
    // The owner holds every privilege; a role the portal's account may
    // enable counts as the account's own, and the enabled role is kept.
    EXPECT_EQ(roleWarnings(portal().db()).size(), 3u + host.size());
    const std::string account = components.execute("select current_user()")->value(0).toString();
    const std::string role = account.substr(0, account.find('@')) + "_r";
    portal().exec("CREATE ROLE " + role);
    portal().exec("GRANT FILE ON *.* TO " + role);
    portal().exec("GRANT " + role + " TO '" + account.substr(0, account.find('@')) + "'@'%'");
    std::vector<std::string> member = roleWarnings(components);
    portal().exec("DROP ROLE " + role);
    ASSERT_EQ(member.size(), 1u + host.size());
    EXPECT_NE(member[0].find("has the FILE privilege"), std::string::npos) << member[0];
    EXPECT_TRUE(components.execute("select current_role()")->value(0).isNull());
    return;
  }
  std::vector<std::string> owner = roleWarnings(portal().db());
  ASSERT_EQ(owner.size(), 1u + host.size());
  EXPECT_NE(owner[0].find("is a superuser"), std::string::npos) << owner[0];

  const std::string role = components.execute("select current_user")->value(0).toString();
  portal().exec("GRANT pg_execute_server_program TO " + role);
  std::vector<std::string> member = roleWarnings(components);
  ASSERT_EQ(member.size(), 1u + host.size());
  EXPECT_NE(member[0].find("pg_execute_server_program"), std::string::npos) << member[0];
  portal().exec("REVOKE pg_execute_server_program FROM " + role);

  // `tivel init` on the root, configured with the owner's account.
  const std::string ini = portal().root() + "/ini/SysTivel.ini";
  profile::writePrivateProfileString("DBCONN_sql_drive", "uid", std::getenv("TIVEL_TEST_PG_USER"), ini);
  profile::writePrivateProfileString("DBCONN_sql_drive", "pwd", std::getenv("TIVEL_TEST_PG_PASSWORD"), ini);
  const std::string command =
      "'" + std::string(std::getenv("TIVEL_BIN")) + "/tivel' init --root '" + portal().root() + "' 2>&1 >/dev/null";
  std::string printed;
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::array<char, 4096> buf;
  for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) printed.append(buf.data(), n);
  EXPECT_EQ(pclose(p), 0) << printed;
  EXPECT_NE(printed.find("tivel init: warning: the database role " + std::string(std::getenv("TIVEL_TEST_PG_USER")) +
                         " is a superuser"),
            std::string::npos)
      << printed;
  if (!ado::odbc::loggingDriverEntries().empty()) {
    EXPECT_NE(printed.find("set CommLog=0"), std::string::npos) << printed;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, RoleCheckTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
