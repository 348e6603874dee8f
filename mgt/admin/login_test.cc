#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/processes.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;

class LoginTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin);
    ASSERT_TRUE(admin->addUsr("Editor", "Secret", "编辑", "", "", "", "", ""));
  }
  std::string usrNo(const std::string& account) {
    return portal().scalar("select usr_no from umUsr where account='" + account + "'").toString();
  }
  long loginCount(const std::string& account) {
    return portal().scalar("select login_count from umUsr where account='" + account + "'").toLong();
  }
  long logEntries(const std::string& text) { return portal().count("SysLog", "disc='" + text + "'"); }
  std::shared_ptr<AdminMgt> admin;
};

TEST_P(LoginTest, RefusalCodes) {
  EXPECT_EQ(admin->loginByPwd("", "Secret", ""), "10001");
  EXPECT_EQ(admin->loginByPwd("nobody", "Secret", ""), "10002");
  EXPECT_EQ(admin->loginByPwd("Editor", "secret", ""), "10003") << "letter case counts";
  EXPECT_EQ(admin->loginByPwd("Editor", "", ""), "10003");
  EXPECT_EQ(portal().count("umLogInfo"), 0);
  EXPECT_EQ(portal().count("SysLog"), 0);
  EXPECT_EQ(loginCount("Editor"), 1) << "a refused login changes nothing";
}

TEST_P(LoginTest, SuccessfulLoginDoesTheBookkeeping) {
  std::string no = usrNo("Editor");
  portal().exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('3','" + no + "','4',1)");
  const LoginOutcome first = admin->login("Editor", "Secret", "10.0.0.7");
  EXPECT_EQ(first.code, "0");
  EXPECT_EQ(first.usrNo, no);
  EXPECT_EQ(first.account, "Editor");
  EXPECT_EQ(loginCount("Editor"), 2);
  EXPECT_EQ(portal().scalar("select Usi_Value from umUsrSecInst where Usa_no='3' and usr_no='" + no + "'").toString(),
            "0");
  ASSERT_EQ(portal().count("umLogInfo", "usr_no='" + no + "'"), 1);
  EXPECT_EQ(portal().scalar("select isAvail from umLogInfo").toLong(), 1);
  EXPECT_EQ(portal().scalar("select token from umLogInfo").toString().rfind("TOK_", 0), 0u);
  EXPECT_EQ(first.token, portal().scalar("select token from umLogInfo").toString()) << "the record written";
  EXPECT_EQ(logEntries("Editor登录成功！"), 1);
  EXPECT_EQ(portal().count("SysLog"), 1);

  const LoginOutcome refused = admin->login("Editor", "wrong", "");
  EXPECT_EQ(refused.code, "10003");
  EXPECT_EQ(refused.token, "") << "no record for a refused login";
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "0");
  EXPECT_EQ(portal().count("umLogInfo"), 2);
  EXPECT_EQ(portal().scalar("select count(distinct token) from umLogInfo").toLong(), 2);
}

TEST_P(LoginTest, ChangePassword) {
  EXPECT_FALSE(admin->changePwd("Editor", "wrong", "New1"));
  EXPECT_EQ(portal().scalar("select pwd from umUsr where account='Editor'").toString(), "Secret");
  EXPECT_EQ(portal().count("SysLog"), 0);

  EXPECT_TRUE(admin->changePwd("Editor", "Secret", "New1"));
  EXPECT_EQ(portal().scalar("select pwd from umUsr where account='Editor'").toString(), "New1");
  EXPECT_EQ(logEntries("Editor登录成功！"), 1);
  EXPECT_EQ(logEntries("Editor修改密码成功！"), 1);
  EXPECT_EQ(loginCount("Editor"), 3) << "two logins are recorded";
  EXPECT_EQ(admin->loginByPwd("Editor", "New1", ""), "0");
}

TEST_P(LoginTest, RegistrationJoinsGroupThree) {
  EXPECT_FALSE(admin->addUsr("Editor", "x", "又一个", "", "", "", "", ""));
  EXPECT_EQ(portal().count("umUsr"), 1);
  std::string no = usrNo("Editor");
  EXPECT_EQ(portal().scalar("select priority from umGrp2Usr where Grp_no='3' and Usr_no='" + no + "'").toLong(),
            999999);
  EXPECT_EQ(portal().scalar("select state from umUsr").toLong(), 0);
  EXPECT_FALSE(admin->addUsr("", "x", "无帐号", "", "", "", "", "")) << "the user add refuses an empty account";
}

TEST_P(LoginTest, SystemAndSecurityAdministrators) {
  std::string no = usrNo("Editor");
  EXPECT_EQ(admin->isSysSecUsr(no), -1) << "group 3 only";
  portal().exec("insert into umGrp2Usr(Grp_no,Usr_no,priority) values('2','" + no + "',1)");
  EXPECT_EQ(admin->isSysSecUsr(no), 2);
  portal().exec("insert into umGrp2Usr(Grp_no,Usr_no,priority) values('1','" + no + "',2)");
  EXPECT_EQ(admin->isSysSecUsr(no), 0);
  portal().exec("delete from umGrp2Usr where Grp_no='2'");
  EXPECT_EQ(admin->isSysSecUsr(no), 1);
  EXPECT_EQ(admin->isSysSecUsr("nobody"), -1);
}

TEST_P(LoginTest, SecondLoginIsLoggedForAnyAccount) {
  EXPECT_TRUE(admin->loginAgain("whoever", "anything"));
  EXPECT_EQ(logEntries("whoever二次登录成功！"), 1);
}

TEST_P(LoginTest, PasswordWithoutValueMatchesOnlyAnEmptyPassword) {
  ASSERT_TRUE(admin->addUsr("NoPwd", "", "无密码", "", "", "", "", ""));
  ASSERT_TRUE(portal().scalar("select pwd from umUsr where account='NoPwd'").isNull());
  EXPECT_EQ(admin->loginByPwd("NoPwd", "anything", ""), "10003");
  EXPECT_EQ(admin->loginByPwd("NoPwd", "", ""), "0");
}

TEST_P(LoginTest, LateBoundInterface) {
  const com::ClassInfo* c = com::findClass("TivelMgt.AdminMgt");
  std::vector<std::string> expected = {"getRecordset", "setRecordset", "isSysSecUsr",      "changePwd",
                                       "addUsr",       "loginByPwd",   "loginAgain",       "usrSuccess",
                                       "usrIsAvail",   "usrIpLimit",   "usrTimeLimit",     "usrLogErrLimit",
                                       "usrAcntLimit", "usrPwdLimit",  "usrPwdFirstLimit", "checkAuth",
                                       "WriteLog",     "getAuthOfUsr", "setAuthOfUsr"};
  EXPECT_EQ(c->memberNames(), expected);
  com::Args a{Variant("Editor"), Variant("Secret")};
  EXPECT_EQ(admin->invoke("loginByPwd", com::MemberKind::Method, a).toString(), "0");
  EXPECT_EQ(admin->call("usrIsAvail", {Variant(usrNo("Editor"))}).toString(), "0");
}

// Three processes log one user in 30 times each at the same time.
TEST_P(LoginTest, ConcurrentLoginsLoseNothing) {
  constexpr int kProcesses = 3, kEach = 30;
  long before = loginCount("Editor");
  testing::runInProcesses(kProcesses, [](int) {
    auto mine = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    int failures = 0;
    for (int i = 0; i < kEach; ++i)
      if (mine->loginByPwd("Editor", "Secret", "127.0.0.1") != "0") ++failures;
    return failures;
  });
  EXPECT_EQ(loginCount("Editor"), before + kProcesses * kEach);
  EXPECT_EQ(portal().count("umLogInfo"), kProcesses * kEach);
  EXPECT_EQ(logEntries("Editor登录成功！"), kProcesses * kEach);
}

INSTANTIATE_TEST_SUITE_P(Engines, LoginTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
