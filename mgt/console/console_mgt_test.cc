#include "mgt/console/console_mgt.h"

#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/testing/portal.h"
#include "platform/ado/statement_hook.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

// The most statements a console sign-in may cost: the user, its policy
// values and groups read once each, the login's bookkeeping (login count 1,
// login-error count 1, login record 1, log entry 2) and the session's row,
// with the hourly pruning of old activity rows.
constexpr int kMostStatements = 10;

class ConsoleMgtTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin);
    ASSERT_TRUE(admin->addUsr("boss", "Secret", "主管", "", "", "", "", ""));
    ASSERT_TRUE(admin->addUsr("clerk", "Secret", "职员", "", "", "", "", ""));
    portal().exec("insert into umGrp2Usr(Grp_no,Usr_no,priority) values('1','" + usrNo("boss") + "','1')");
    console = std::dynamic_pointer_cast<ConsoleMgt>(com::CreateObject("TivelMgt.ConsoleMgt"));
    ASSERT_TRUE(console);
  }
  std::string usrNo(const std::string& account) {
    return portal().scalar("select usr_no from umUsr where account='" + account + "'").toString();
  }
  // The sign-in, and the statements it ran on this thread.
  ConsoleSignIn countedSignIn(const std::string& account, const std::string& pwd, int* statements) {
    *statements = 0;
    auto previous = ado::setStatementHook([statements](ado::HookStep step, const std::string&) {
      if (step == ado::HookStep::Statement) ++*statements;
    });
    ConsoleSignIn in = console->signIn(account, pwd, "127.0.0.1", 8 * 3600);
    ado::setStatementHook(previous);
    return in;
  }
  std::shared_ptr<ConsoleMgt> console;
};

// A sign-in reads the user, its policy values and groups once each, and
// costs the login's bookkeeping and the session's row; the first sign-in of a
// user (no policy values of its own yet) costs no more than a later one.
TEST_P(ConsoleMgtTest, SignInOpensASessionInFewStatements) {
  int first = 0, later = 0;
  const ConsoleSignIn in = countedSignIn("boss", "Secret", &first);
  ASSERT_EQ(in.code, "0");
  EXPECT_FALSE(in.denied);
  EXPECT_EQ(in.level, 1);
  EXPECT_EQ(in.usrNo, usrNo("boss"));
  EXPECT_EQ(in.storedPassword, "Secret");
  ASSERT_TRUE(console->sessionExists(in.token));
  const std::optional<ConsoleSessionRow> row = console->sessionRow(in.token);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->account, "boss");
  EXPECT_EQ(row->avail.toLong(), 1);
  ASSERT_EQ(countedSignIn("boss", "Secret", &later).code, "0");
  RecordProperty("first_sign_in_statements", first);
  RecordProperty("later_sign_in_statements", later);
  EXPECT_LE(first, kMostStatements) << "first sign-in";
  EXPECT_LE(later, kMostStatements) << "later sign-in";

  console->endSession(in.token);
  EXPECT_FALSE(console->sessionExists(in.token));
  EXPECT_FALSE(console->sessionRow(in.token));
  EXPECT_EQ(portal().scalar("select isAvail from umLogInfo where token='" + in.token + "'").toLong(), 0);
}

// A right password of a user who is no administrator opens nothing: the
// login record is ended at once and the refusal logged; a wrong password
// writes no record at all.
TEST_P(ConsoleMgtTest, RefusedSignInsLeaveNoSession) {
  const ConsoleSignIn clerk = console->signIn("clerk", "Secret", "127.0.0.1", 3600);
  EXPECT_EQ(clerk.code, "0");
  EXPECT_TRUE(clerk.denied);
  EXPECT_FALSE(console->sessionExists(clerk.token));
  EXPECT_EQ(portal().scalar("select isAvail from umLogInfo where token='" + clerk.token + "'").toLong(), 0);
  EXPECT_EQ(portal().count("SysLog", "disc='clerk无权使用管理控制台，登录被拒绝！'"), 1);

  const long records = portal().count("umLogInfo");
  EXPECT_EQ(console->signIn("boss", "wrong", "127.0.0.1", 3600).code, "10003");
  EXPECT_EQ(console->signIn("nobody", "Secret", "127.0.0.1", 3600).code, "10002");
  EXPECT_EQ(portal().count("umLogInfo"), records);
  EXPECT_EQ(portal().count("consoleSession"), 0);
}

// The reads take their search text literally and refuse pages out of range.
TEST_P(ConsoleMgtTest, ReadsMatchLiterallyAndRefuseBadPages) {
  auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  ASSERT_TRUE(admin->addUsr("a_b", "x", "下划线", "", "", "", "", ""));
  ASSERT_TRUE(admin->addUsr("axb", "x", "叉", "", "", "", "", ""));
  EXPECT_EQ(console->usersCount("A_B"), 1) << "\"_\" is no wildcard; letter case ignored";
  EXPECT_EQ(console->usersCount("'; drop table umUsr; --"), 0);
  auto both = console->usersPage("a", 0, 2);
  auto second = console->usersPage("a", 1, 1);
  ASSERT_FALSE(both->eof());
  EXPECT_EQ(both->value(1).toString(), "a_b") << "by account";
  both->moveNext();
  ASSERT_FALSE(second->eof());
  EXPECT_EQ(second->value(1).toString(), both->value(1).toString()) << "the second page of one";
  EXPECT_THROW(console->usersPage("", -1, 10), std::invalid_argument);
  EXPECT_THROW(console->usersPage("", 0, 201), std::invalid_argument);
  ConsoleLogQuery q;
  q.from = "2026-13-40";
  EXPECT_THROW(console->logPage(q), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsoleMgtTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
