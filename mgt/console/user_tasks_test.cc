#include "mgt/console/user_tasks.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "mgt/testing/portal.h"
#include "mgt/testing/records.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using testing::asList;
using testing::asRecord;
using testing::keysOf;

class UserTasksTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    tasks = std::dynamic_pointer_cast<UserTasks>(com::CreateObject("TivelMgt.UserTasks"));
    ASSERT_TRUE(tasks);
  }
  void user(const std::string& no, const std::string& account, const std::string& name, int state) {
    portal().exec("insert into umUsr(usr_no, account, name, state, login_count, account_time) values('" + no + "','" +
                  account + "','" + name + "'," + std::to_string(state) + ",'1','2026-01-0" + no.back() + "')");
  }
  void secValue(const std::string& usa, const std::string& no, const std::string& value) {
    portal().exec("insert into umUsrSecInst(Usa_no, usr_no, Usi_Value, isAvail) values('" + usa + "','" + no + "','" +
                  value + "',1)");
  }
  std::vector<std::string> accounts(const com::Variant& list) {
    std::vector<std::string> out;
    if (auto l = asList(list))
      for (int i = 1; i <= l->Count(); ++i) out.push_back(asRecord(l->Item(i))->get("Account").toString());
    return out;
  }
  std::shared_ptr<UserTasks> tasks;
};

using Names = std::vector<std::string>;

UserFilter by(std::string find, std::string org = "", std::string grp = "", std::string state = "") {
  return {std::move(find), std::move(org), std::move(grp), std::move(state)};
}

TEST_P(UserTasksTest, FindsByTextDepartmentGroupAndStateSortedAndPaged) {
  user("U1", "li", "李四", 0);
  user("U2", "wang", "王五 100%", 2);
  user("U3", "Zhang", "张三", 0);
  user("U4", "zhao", "赵六", 1);
  portal().exec("insert into umOrg2Usr(Org_no, Usr_no, isMain, priority) values('ORG_A','U1',0,1)");
  portal().exec("insert into umOrg2Usr(Org_no, Usr_no, isMain, priority) values('ORG_A','U3',1,1)");
  portal().exec("insert into umGrp2Usr(Grp_no, Usr_no, priority) values('GRP_X','U3',1)");
  portal().exec("insert into umGrp2Usr(Grp_no, Usr_no, priority) values('GRP_X','U4',1)");

  EXPECT_EQ(accounts(tasks->findUsr(by(""), "", 0, 50)), (Names{"li", "wang", "Zhang", "zhao"}));
  EXPECT_EQ(tasks->countUsr(by("")), 4);
  // Text in any letter case, with LIKE's own characters taken literally.
  EXPECT_EQ(accounts(tasks->findUsr(by("ZHA", "", "", ""), "", 0, 50)), (Names{"Zhang", "zhao"}));
  EXPECT_EQ(accounts(tasks->findUsr(by("0%", "", "", ""), "", 0, 50)), (Names{"wang"}));
  EXPECT_EQ(tasks->countUsr(by("_", "", "", "")), 0);
  // Department (main or other), group and state, alone and together.
  EXPECT_EQ(accounts(tasks->findUsr(by("", "ORG_A", "", ""), "", 0, 50)), (Names{"li", "Zhang"}));
  EXPECT_EQ(accounts(tasks->findUsr(by("", "", "GRP_X", ""), "", 0, 50)), (Names{"Zhang", "zhao"}));
  EXPECT_EQ(accounts(tasks->findUsr(by("", "ORG_A", "GRP_X", "0"), "", 0, 50)), (Names{"Zhang"}));
  EXPECT_EQ(tasks->countUsr(by("", "", "", "2")), 1);
  EXPECT_EQ(tasks->countUsr(by("", "ORG_A' or '1'='1", "", "")), 0);
  // Sorted either way, ties by account; paged.
  EXPECT_EQ(accounts(tasks->findUsr(by(""), "-state", 0, 50)), (Names{"wang", "zhao", "li", "Zhang"}));
  EXPECT_EQ(accounts(tasks->findUsr(by(""), "-account_time", 1, 3)), (Names{"li"}));
  EXPECT_EQ(keysOf(tasks->findUsr(by(""), "account", 1, 2)), (Names{"USRU3", "USRU4"}));
  EXPECT_EQ(asList(tasks->findUsr(by(""), "", 9, 2))->Count(), 0);
  // What cannot be answered fails the call, saying what.
  for (auto bad : {std::pair<std::string, int>{"pwd", 50}, {"-", 50}, {"name", 0}, {"name", 201}})
    EXPECT_THROW(tasks->findUsr(by(""), bad.first, 0, bad.second), com::ComError) << bad.first << bad.second;
  EXPECT_THROW(tasks->findUsr(by(""), "", -1, 10), com::ComError);
  EXPECT_THROW(tasks->countUsr(by("", "", "", "x")), com::ComError);
}

TEST_P(UserTasksTest, ListsTheUsersWhoseLockIsInForce) {
  user("U1", "over", "O", 0);
  user("U2", "under", "U", 0);
  user("U3", "own", "W", 0);
  user("U4", "none", "N", 0);
  EXPECT_EQ(asList(tasks->getLockedUsr())->Count(), 0);
  // The seeded default threshold, a user's own threshold, and a user
  // without one where the default is 0 (no lock).
  portal().exec("update UmUsrSecAttr set default_value='3', isAvail=1 where usa_no='4'");
  secValue("3", "U1", "3");
  secValue("3", "U2", "2");
  secValue("3", "U3", "2");
  secValue("4", "U3", "2");
  secValue("3", "U4", "9");
  secValue("4", "U4", "0");
  const com::Variant locked = tasks->getLockedUsr();
  EXPECT_EQ(accounts(locked), (Names{"over", "own"}));
  EXPECT_EQ(asRecord(asList(locked)->Item(1))->get("Login_Count").toString(), "3");
}

INSTANTIATE_TEST_SUITE_P(Engines, UserTasksTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
