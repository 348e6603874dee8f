// Password rules of [Policy] on each engine: off, every password is taken as
// before; on, length, character classes and the last passwords are checked
// by every operation that sets one, and a refusal answers one code.
#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/password_rules.h"
#include "mgt/testing/portal.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "testing/errors.h"

namespace tivel::mgt {
namespace {

class PasswordRulesTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
    ASSERT_TRUE(admin->addUsr("Editor", "Secret", "编辑", "", "", "", "", ""));
    no = portal().scalar("select usr_no from umUsr where account='Editor'").toString();
  }
  void setting(const char* key, const char* value) {
    ASSERT_TRUE(profile::writePrivateProfileString("Policy", key, value, ini()));
  }
  std::string ini() { return portal().root() + "/ini/SysTivel.ini"; }
  // "" when the change was made, the refusal's description when refused, "false" when it failed otherwise.
  std::string change(const std::string& pwd) {
    std::string why;
    bool changed = false;
    if (tivel::testing::errorOf([&] { changed = um->changePwd(no, pwd); }, &why) != 0) return why;
    return changed ? "" : "false";
  }
  bool refused(const std::string& pwd) { return change(pwd).rfind(std::string(kPasswordRulesRefused) + ": ", 0) == 0; }

  std::shared_ptr<AdminMgt> admin;
  std::shared_ptr<UmMgt> um;
  std::string no;
};

TEST_P(PasswordRulesTest, EveryPathChecksTheRulesAndOneCodeRefuses) {
  EXPECT_EQ(change("x"), "") << "without rules any password is taken";
  EXPECT_EQ(portal().count("umPwdHist", "1=1"), 0);

  setting("min_length", "8");
  setting("char_classes", "3");
  setting("history", "2");
  EXPECT_TRUE(refused("Ab1-xyz")) << "7 characters";
  EXPECT_TRUE(refused("abcdefghij")) << "one class";
  EXPECT_TRUE(refused("abcdEFGHij")) << "two classes";
  EXPECT_TRUE(refused("x")) << "the current password, and too short";
  EXPECT_EQ(change("密码密码Ab12"), "") << "characters, not bytes; other characters are a class";
  EXPECT_EQ(change("Good pw 1"), "");
  EXPECT_EQ(portal().scalar("select pwd from umUsr where usr_no='" + no + "'").toString(), "Good pw 1");
  EXPECT_TRUE(refused("Good pw 1")) << "the current one";
  EXPECT_EQ(change("Other pw 2"), "");
  EXPECT_TRUE(refused("Good pw 1")) << "one of the last two";
  EXPECT_EQ(change("Third pw 3"), "");
  EXPECT_EQ(change("Good pw 1"), "") << "older than the last two";
  EXPECT_EQ(portal().count("umPwdHist", "usr_no='" + no + "'"), 2) << "only the last two are kept";
  EXPECT_EQ(portal().count("umPwdHist", "pwd like '$argon2id$%'"), 2) << "as hashes, never as text";

  // AdminMgt.changePwd (the user's own change) and a refusal that writes nothing.
  std::string why;
  EXPECT_NE(tivel::testing::errorOf([&] { admin->changePwd("Editor", "Good pw 1", "short"); }, &why), 0);
  EXPECT_EQ(why.rfind(std::string(kPasswordRulesRefused) + ": the password is too short", 0), 0u) << why;
  EXPECT_EQ(admin->loginByPwd("Editor", "Good pw 1", ""), "0");
  EXPECT_TRUE(admin->changePwd("Editor", "Good pw 1", "Fourth pw 4"));

  // A new user's first password, and its place in the history.
  EXPECT_FALSE(admin->addUsr("Writer", "weak", "作者", "", "", "", "", ""));
  EXPECT_EQ(portal().count("umUsr", "account='Writer'"), 0) << "a refused password adds no one";
  ASSERT_TRUE(admin->addUsr("Writer", "First pw 1", "作者", "", "", "", "", ""));
  const std::string writer = portal().scalar("select usr_no from umUsr where account='Writer'").toString();
  EXPECT_EQ(portal().count("umPwdHist", "usr_no='" + writer + "'"), 1);

  EXPECT_EQ(describePasswordRules(readPasswordRules(ini()), "en"),
            "Password rules: at least 8 characters, 3 of lower case, upper case, digits and other characters, none "
            "of the last 2 passwords.");
  EXPECT_TRUE(passwordRuleProblems(ini()).empty());
  setting("min_length", "-1");
  setting("char_classes", "5");
  setting("history", "two");
  const auto problems = passwordRuleProblems(ini());
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[1],
            "[Policy] char_classes=5 is not understood; allowed: a whole number from 0 to 4 (lower case, "
            "upper case, digits, others)");
  EXPECT_EQ(change("ab"), "") << "values not understood set no rule (serve and init refuse to start with them)";
}

INSTANTIATE_TEST_SUITE_P(Engines, PasswordRulesTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
