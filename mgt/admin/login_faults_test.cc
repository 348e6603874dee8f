// A login is a run of separate statements without a transaction: a failure
// part way leaves the earlier steps in place, and the bookkeeping steps, which
// trap their own failures, all run whatever one of them answers.
#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/testing/portal.h"
#include "platform/com/registry.h"
#include "testing/faults.h"

namespace tivel::mgt {
namespace {

class LoginFaultTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
};

struct Step {
  const char* failing;  // text of the statement made to fail
  bool everyTime;       // it fails every time it runs, not only the first
  const char* code;     // loginByPwd's answer
  long loginCount;      // starts at 1
  bool errorsReset;     // the login-error count was written as 0
  long loginRecords, logEntries;
};

TEST_P(LoginFaultTest, AFailedStepLeavesExactlyTheStepsTheLoginRuns) {
  const Step steps[] = {
      {"where Account=", false, "10002", 1, false, 0, 0},  // the user read traps: no user
      // The policy values read together: a failure reads them one by one.
      {"from UmUsrSecInst where usr_no=", false, "0", 2, true, 1, 1},
      {"from UmUsrSecAttr where isAvail=1", true, "0", 2, true, 1, 1},  // and then a policy read decides nothing
      // A failed count write is no conflict, so it is not tried again.
      {"update umUsr set login_count=", false, "10017", 1, true, 1, 0},
      {"insert into UmUsrSecInst(", false, "10017", 2, false, 1, 0},
      {"insert into umLogInfo", false, "0", 2, true, 0, 1},  // the record's result is not used
      {"insert into SysLog", false, "0", 2, true, 1, 0},
  };
  auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  ASSERT_TRUE(admin);
  int i = 0;
  for (const Step& s : steps) {
    std::string account = "Editor" + std::to_string(++i);
    ASSERT_TRUE(admin->addUsr(account, "Secret", "编辑", "", "", "", "", ""));
    std::string no = portal().scalar("select usr_no from umUsr where account='" + account + "'").toString();
    tivel::testing::Faults faults;
    faults.failStatement(1, s.failing, s.everyTime);
    std::string code = admin->loginByPwd(account, "Secret", "");
    faults.disarm();
    SCOPED_TRACE(s.failing + std::string(s.everyTime ? " (every time)" : ""));
    ASSERT_GT(faults.injected(), 0);
    EXPECT_EQ(code, s.code);
    EXPECT_EQ(portal().scalar("select login_count from umUsr where usr_no='" + no + "'").toLong(), s.loginCount);
    EXPECT_EQ(portal().count("umUsrSecInst", "usa_no='3' and usi_value='0' and usr_no='" + no + "'"),
              s.errorsReset ? 1 : 0);
    EXPECT_EQ(portal().count("umLogInfo", "usr_no='" + no + "'"), s.loginRecords);
    EXPECT_EQ(portal().count("SysLog", "disc='" + account + "登录成功！'"), s.logEntries);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, LoginFaultTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
