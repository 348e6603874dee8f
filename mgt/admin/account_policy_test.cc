// The enforced account policy through AdminMgt, on each engine: every check's
// refusal and pass, the login-error lock (also under concurrent guesses from
// several processes) and its end, and the demanded password change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/processes.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

using com::Variant;

class AccountPolicyTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    if (enforce()) setting("Policy", "enforce", "1");
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin->addUsr("Editor", "Secret", "编辑", "", "", "", "", ""));
    no = portal().scalar("select usr_no from umUsr where account='Editor'").toString();
  }
  virtual bool enforce() const { return true; }
  void setting(const char* section, const char* key, const char* value) {
    ASSERT_TRUE(profile::writePrivateProfileString(section, key, value, portal().root() + "/ini/SysTivel.ini"));
  }
  // The user's own value of a security attribute, replacing any earlier one.
  void value(const std::string& usa, const std::string& v) {
    portal().exec("delete from umUsrSecInst where usa_no='" + usa + "' and usr_no='" + no + "'");
    portal().exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('" + usa + "','" + no + "','" + v +
                  "',1)");
  }
  // Puts a definition in force with that default for every user.
  void byDefault(const std::string& usa, const std::string& v) {
    portal().exec("update umUsrSecAttr set default_value='" + v + "', isAvail=1 where usa_no='" + usa + "'");
  }
  std::string errorCount() {
    return portal().scalar("select Usi_Value from umUsrSecInst where usa_no='3' and usr_no='" + no + "'").toString();
  }
  long lockEntries() { return portal().count("SysLog", "disc='Editor登录错误次数已达上限，帐号已锁定！'"); }
  std::string login(const std::string& pwd) { return admin->loginByPwd("Editor", pwd, "10.0.0.7"); }
  std::string fileLog() {
    std::string text;
    for (const auto& f : std::filesystem::directory_iterator(portal().root() + "/log")) {
      std::ifstream in(f.path());
      std::stringstream s;
      s << in.rdbuf();
      text += s.str();
    }
    return text;
  }

  std::shared_ptr<AdminMgt> admin;
  std::string no;
};

class PolicyOffTest : public AccountPolicyTest {
  bool enforce() const override { return false; }
};

TEST_P(PolicyOffTest, EveryValuePassesAndNothingIsCounted) {
  value("1", "192.168.0.0/16");
  value("2", "nonsense");
  value("4", "1");
  value("7", "2000-01-01");
  value("8", "2000-01-01");
  value("9", "1");
  EXPECT_EQ(login("wrong"), "10003");
  EXPECT_EQ(portal().count("umUsrSecInst", "usa_no='3'"), 0) << "a wrong password is not counted";
  EXPECT_EQ(admin->usrIsAvail(no, "10.0.0.7"), "0");
  EXPECT_EQ(login("Secret"), "0");
  EXPECT_EQ(portal().scalar("select pwd from umUsr where usr_no='" + no + "'").toString(), "Secret");
  EXPECT_FALSE(admin->lockUsr(no)) << "a lock the login would not apply";
}

TEST_P(AccountPolicyTest, EachCheckRefusesAndPasses) {
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  com::DateTime now = com::DateTime::now();
  // Today's weekday, Monday 0: count days from a known Monday.
  std::tm t{};
  t.tm_year = now.year - 1900, t.tm_mon = now.month - 1, t.tm_mday = now.day, t.tm_hour = 12;
  std::mktime(&t);
  int today = (t.tm_wday + 6) % 7;
  std::string notToday = std::string(kDays[(today + 1) % 7]) + "-" + kDays[(today + 6) % 7] + " 00:00-24:00";
  std::string wholeToday = std::string(kDays[today]) + " 00:00-24:00";
  struct Case {
    std::string usa, refusing, passing, code;
  };
  const Case cases[] = {
      {"1", "192.168.0.0/16, 2001:db8::/32", "10.0.0.0/8", "10010"},
      {"2", notToday, wholeToday + "; " + notToday, "10011"},
      {"4", "1", "0", "10012"},  // with LogErrNum 1 below
      {"7", "2000-01-01", "2999-12-31 23:00", "10014"},
      {"8", "2000-01-01 10:00", "2999-12-31", "10015"},
      {"9", "1", "0", "10016"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("attribute " + c.usa);
    if (c.usa == "4") value("3", "1");
    value(c.usa, c.refusing);
    EXPECT_EQ(login("Secret"), c.code);
    EXPECT_EQ(admin->usrIsAvail(no, "10.0.0.7"), c.code);
    value(c.usa, c.passing);
    EXPECT_EQ(login("Secret"), "0");
    // A value the check cannot read refuses, and says so in the file log.
    value(c.usa, "??");
    EXPECT_EQ(login("Secret"), c.code);
    value(c.usa, "");
    EXPECT_EQ(login("Secret"), "0") << "an empty value sets no limit";
  }
  EXPECT_NE(fileLog().find("PwdFirstLimit of user " + no + " cannot be read (\"??\")"), std::string::npos);
  // A definition in force gives its default to a user without a value; the user's own value wins.
  portal().exec("delete from umUsrSecInst where usr_no='" + no + "' and usa_no='1'");
  byDefault("1", "172.16.0.0/12");
  EXPECT_EQ(login("Secret"), "10010");
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", "172.20.1.1"), "0");
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "10010") << "an unknown address is no allowed one";
}

TEST_P(AccountPolicyTest, WrongPasswordsLockTheAccountAtTheThreshold) {
  byDefault("4", "3");
  EXPECT_EQ(login("guess1"), "10003");
  EXPECT_EQ(errorCount(), "1");
  EXPECT_EQ(login("Secret"), "0") << "success resets the count";
  EXPECT_EQ(errorCount(), "0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(login("guess"), "10003");
  EXPECT_EQ(errorCount(), "3");
  EXPECT_EQ(lockEntries(), 1);
  EXPECT_EQ(login("Secret"), "10012") << "locked: the password is not even compared";
  EXPECT_EQ(login("guess"), "10012");
  EXPECT_EQ(errorCount(), "3") << "guesses while locked are not counted";
  EXPECT_EQ(lockEntries(), 1);
  EXPECT_FALSE(admin->usrLogErrLimit(no));
  // An administrator's reset ends the lock.
  auto um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  EXPECT_TRUE(um->cleanUsrLogErrNum(no));
  EXPECT_EQ(login("Secret"), "0");
  // A count that cannot be read refuses rather than counting on.
  value("3", "many");
  EXPECT_EQ(login("guess"), "10012");
  EXPECT_EQ(errorCount(), "many");
}

TEST_P(AccountPolicyTest, LockEndsAfterItsTime) {
  setting("Policy", "lock_minutes", "0");
  byDefault("4", "2");
  EXPECT_EQ(login("a"), "10003");
  EXPECT_EQ(login("b"), "10003");
  auto lockedAt = [&] {
    return portal().scalar("select Usi_Value from umUsrSecInst where usa_no='LogErrLockTime' and usr_no='" + no + "'");
  };
  com::DateTime taken;
  ASSERT_TRUE(com::DateTime::parse(lockedAt().toString(), &taken));
  portal().exec("update umUsrSecInst set Usi_Value='2000-01-01 00:00:00' where usa_no='LogErrLockTime'");
  EXPECT_EQ(login("Secret"), "10012") << "lock_minutes=0: until an administrator resets it";
  setting("Policy", "lock_minutes", "5");
  portal().exec("update umUsrSecInst set Usi_Value='" + com::DateTime::now().text() +
                "' where usa_no='LogErrLockTime'");
  EXPECT_EQ(login("Secret"), "10012") << "five minutes have not passed";
  portal().exec("update umUsrSecInst set Usi_Value='2000-01-01 00:00:00' where usa_no='LogErrLockTime'");
  EXPECT_EQ(login("c"), "10003") << "the lock is over and the count starts again";
  EXPECT_EQ(errorCount(), "1");
  EXPECT_EQ(login("Secret"), "0");
  // A lock without a recorded moment (a count set by hand) lasts until reset.
  value("3", "7");
  portal().exec("delete from umUsrSecInst where usa_no='LogErrLockTime'");
  EXPECT_EQ(login("Secret"), "10012");
}

// An administrator's lock holds whatever lock_minutes says, until unlocked;
// without a threshold it is refused rather than taken as a lock that would not hold.
TEST_P(AccountPolicyTest, AdministratorsLockHoldsUntilUnlocked) {
  EXPECT_FALSE(admin->lockUsr(no)) << "no LogErrLockNum in force";
  EXPECT_FALSE(admin->lockUsr("USR_none"));
  byDefault("4", "3");
  value("3", "1");
  value("LogErrLockTime", "2000-01-01 00:00:00");
  setting("Policy", "lock_minutes", "1");
  ASSERT_TRUE(admin->lockUsr(no));
  EXPECT_EQ(errorCount(), "3");
  EXPECT_EQ(login("Secret"), "10012") << "an earlier lock moment does not end this lock";
  EXPECT_EQ(portal().count("SysLog", "disc='Editor帐号已被管理员锁定！'"), 1);
  auto um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  EXPECT_TRUE(um->cleanUsrLogErrNum(no));
  EXPECT_EQ(login("Secret"), "0");
}

// Several processes guess one user's password at once: every wrong guess is
// counted, and with a threshold exactly that many are, the rest meet the lock.
TEST_P(AccountPolicyTest, ConcurrentGuessesAreCountedExactlyAndLockOnce) {
  constexpr int kProcesses = 3, kEach = 12;
  const std::string root = portal().root();
  auto guess = [&root](int index) {
    auto mine = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    int wrong = 0, locked = 0, other = 0;
    for (int i = 0; i < kEach; ++i) {
      std::string r = mine->loginByPwd("Editor", "guess" + std::to_string(i), "10.0.0.7");
      (r == "10003" ? wrong : r == "10012" ? locked : other)++;
    }
    std::ofstream(root + "/tally" + std::to_string(index)) << wrong << " " << locked;
    return other;
  };
  auto tally = [&root](long* wrong, long* locked) {
    *wrong = *locked = 0;
    for (int p = 0; p < kProcesses; ++p) {
      long w = 0, l = 0;
      std::ifstream(root + "/tally" + std::to_string(p)) >> w >> l;
      *wrong += w, *locked += l;
    }
  };
  long wrong = 0, locked = 0;
  testing::runInProcesses(kProcesses, guess);
  tally(&wrong, &locked);
  EXPECT_EQ(errorCount(), std::to_string(kProcesses * kEach)) << "no lock threshold: every guess counted";
  EXPECT_EQ(wrong, kProcesses * kEach);

  value("3", "0");
  byDefault("4", "10");
  testing::runInProcesses(kProcesses, guess);
  tally(&wrong, &locked);
  EXPECT_EQ(errorCount(), "10");
  EXPECT_EQ(wrong, 10) << "each counted guess answered as a wrong password";
  EXPECT_EQ(locked, kProcesses * kEach - 10);
  EXPECT_EQ(lockEntries(), 1);
  // The children closed the copies of this process's connection they were
  // born with, which ends that session on a server: connect again.
  resetThreadState();
  admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  EXPECT_EQ(login("Secret"), "10012");
}

TEST_P(AccountPolicyTest, DemandedPasswordChange) {
  byDefault("9", "1");
  EXPECT_EQ(login("Secret"), "10016");
  EXPECT_EQ(portal().count("umLogInfo"), 0) << "no login bookkeeping";
  EXPECT_FALSE(admin->changePwd("Editor", "wrong", "Fresh1"));
  EXPECT_FALSE(admin->changePwd("Editor", "Secret", "Fresh1")) << "changed, but the answer stays false";
  EXPECT_EQ(portal().scalar("select Usi_Value from umUsrSecInst where usa_no='9' and usr_no='" + no + "'").toString(),
            "0");
  EXPECT_EQ(login("Secret"), "10003");
  EXPECT_EQ(login("Fresh1"), "0");
  EXPECT_TRUE(admin->changePwd("Editor", "Fresh1", "Fresh2")) << "no demand any more";
}

INSTANTIATE_TEST_SUITE_P(Engines, AccountPolicyTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());
INSTANTIATE_TEST_SUITE_P(Engines, PolicyOffTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
