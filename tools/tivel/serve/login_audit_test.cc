// Failed logins through the gateway and the console's sign-in, on each
// engine: one line with the caller's address on standard error and in the
// root's daily log; a system-log entry only with [Audit] failures=1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/profile/profile.h"
#include "testing/engines.h"
#include "tools/tivel/serve/console/console_test_fixture.h"
#include "tools/tivel/serve/login_audit.h"

namespace tivel::tool {
namespace {

class LoginAuditTest : public servetest::ConsoleGatewayTest {
 protected:
  void SetUp() override {
    ConsoleGatewayTest::SetUp();
    Json made = gateway->batch(Json::parse(R"([{"id":"a","new":"TivelMgt.AdminMgt"},
      {"id":1,"object":{"from":"a"},"call":"addUsr","args":["editor","Secret","编辑","","","","",""]}])"));
    ASSERT_EQ(made[1]["result"], true) << made.dump();
  }
  std::string fileLog() {
    std::string text;
    for (const auto& f : std::filesystem::directory_iterator(portal->root() + "/log")) {
      std::stringstream s;
      s << std::ifstream(f.path()).rdbuf();
      text += s.str();
    }
    return text;
  }
  // A wrong password through /rpc and through the console's sign-in.
  void fail(const std::string& account) {
    Json batch = Json::parse(R"([{"id":"a","new":"TivelMgt.AdminMgt"},
      {"id":1,"object":{"from":"a"},"call":"loginByPwd","args":["","wrong",""]},
      {"id":2,"object":{"from":"a"},"call":"loginByPwd","args":["editor","Secret",""]}])");
    batch[1]["args"][0] = account;
    Json answers = gateway->batch(batch);
    EXPECT_EQ(answers[1]["result"], account == "editor" ? "10003" : "10002");
    EXPECT_EQ(answers[2]["result"], "0");
    gateway->client("").Post("/console/api/signin", Json{{"account", account}, {"password", "wrong"}}.dump(),
                             "application/json");
  }
};

TEST_P(LoginAuditTest, FailuresAreLoggedWithTheCallersAddress) {
  ::testing::internal::CaptureStderr();
  fail("editor");
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string byRpc = R"(login failed: account "editor" from 127.0.0.1 (loginByPwd, 10003))";
  const std::string bySignIn = R"(login failed: account "editor" from 127.0.0.1 (console sign-in, 10003))";
  EXPECT_NE(err.find("tivel serve: " + byRpc + "\n"), std::string::npos) << err;
  EXPECT_NE(err.find("tivel serve: " + bySignIn + "\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("loginByPwd, 0)"), std::string::npos) << "a login that passed is no failure";
  const std::string log = fileLog();
  EXPECT_NE(log.find(byRpc), std::string::npos) << log;
  EXPECT_NE(log.find(bySignIn), std::string::npos) << log;
  EXPECT_EQ(portal->count("SysLog", "disc like '%登录失败%'"), 0) << "the tables stay as the login writes them";

  ASSERT_TRUE(profile::writePrivateProfileString("Audit", "failures", "1", portal->root() + "/ini/SysTivel.ini"));
  ::testing::internal::CaptureStderr();
  fail("a\"b\nc");
  const std::string odd = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(odd.find(R"(account "a\"b\x0ac" from 127.0.0.1 (loginByPwd, 10002))"), std::string::npos)
      << "an account cannot forge a line: " << odd;
  EXPECT_EQ(portal->count("SysLog", "disc like '%登录失败%'"), 2) << "one entry per failure";

  ASSERT_TRUE(profile::writePrivateProfileString("Audit", "failures", "on", portal->root() + "/ini/SysTivel.ini"));
  EXPECT_EQ(audit::identitySettingProblems(portal->root() + "/ini/SysTivel.ini"),
            std::vector<std::string>{"[Audit] failures=on is not understood; allowed: 1/0, yes/no, true/false"});
}

INSTANTIATE_TEST_SUITE_P(Engines, LoginAuditTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::tool
