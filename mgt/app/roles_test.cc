#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>

#include "mgt/app/app_test_fixture.h"

namespace tivel::mgt {
namespace {

using app_testing::asRecord;
using app_testing::keysOf;
using app_testing::rec;
using com::Variant;

RecordPtr role(const Variant& no, const Variant& app, const Variant& name, const Variant& disc = {}) {
  return rec("cAppRol", {{"Rol_No", no}, {"App_No", app}, {"Name", name}, {"Disc", disc}});
}

RecordPtr member(const Variant& rol, const Variant& usr, const Variant& priority = {}) {
  return rec("cAppRol2Usr", {{"Rol_No", rol}, {"Usr_No", usr}, {"Priority", priority}});
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class RoleTest : public app_testing::AppTest {
 protected:
  std::string add(const RecordPtr& r) {
    Variant key;
    return mgt->addRol(r, key);
  }
  std::string join(const RecordPtr& r) {
    Variant id;
    return mgt->addRol2Usr(r, id);
  }
  void user(const std::string& no, const std::string& account) {
    portal().exec("insert into umUsr(usr_no,account,pwd,name,Phone,state,login_mode,login_count) values('" + no +
                  "','" + account + "','pw" + no + "','名" + no + "','555',0,'1','7')");
  }
  // Roles L1, L2 of application A, L3 of B; users U1..U3.
  void setupRoles() {
    ASSERT_EQ(add(role("L1", "A", "管理员")), "0");
    ASSERT_EQ(add(role("L2", "A", "编辑")), "0");
    ASSERT_EQ(add(role("L3", "B", "读者")), "0");
    user("U1", "a1");
    user("U2", "a2");
    user("U3", "a3");
  }
  void expectFailedCall(const std::function<void()>& call, const char* source) {
    try {
      call();
      ADD_FAILURE() << source << " must fail the call";
    } catch (const com::ComError& e) {
      EXPECT_EQ(e.number(), -1);
      EXPECT_EQ(e.source(), source);
      EXPECT_FALSE(e.description().empty());
    }
  }
};

TEST_P(RoleTest, AddChecksApplicationThenNameThenKey) {
  Variant key;
  EXPECT_EQ(mgt->addRol(role("L", "", ""), key), "10033001") << "App_No is tested first";
  EXPECT_EQ(mgt->addRol(role("L", "A", ""), key), "10033002");
  EXPECT_EQ(mgt->addRol(role("L", Variant::null(), "名"), key), "10033004") << "a null App_No is not empty";
  EXPECT_EQ(portal().count("AppRol"), 0);
  ASSERT_EQ(mgt->addRol(role("L", "A", "名"), key), "0");
  EXPECT_EQ(key.toString(), "L");
  EXPECT_TRUE(portal().scalar("select disc from AppRol where Rol_no='L'").isNull());
  EXPECT_EQ(mgt->addRol(role("L", "B", "别的"), key), "10033003");
  ASSERT_EQ(mgt->addRol(role({}, "A'q", "名", "说明"), key), "0") << "names need not be unique";
  EXPECT_EQ(key.toString().rfind("Rol_", 0), 0u) << key.toString();
  EXPECT_EQ(portal().scalar("select app_no from AppRol where Rol_no='" + key.toString() + "'").toString(), "A'q");
}

TEST_P(RoleTest, MembershipChecksDefaultsAndDuplicates) {
  Variant id("x");
  EXPECT_EQ(mgt->addRol2Usr(member("", ""), id), "10033101");
  EXPECT_EQ(mgt->addRol2Usr(member("L", ""), id), "10033102");
  EXPECT_EQ(mgt->addRol2Usr(member("L", "U", Variant::null()), id), "10033104");
  EXPECT_EQ(mgt->addRol2Usr(nullptr, id), "10033104");
  EXPECT_EQ(portal().count("AppRol2Usr"), 0);
  ASSERT_EQ(mgt->addRol2Usr(member("L", "U"), id), "0") << "neither role nor user need exist";
  EXPECT_EQ(id, Variant(std::string()));
  EXPECT_EQ(portal().scalar("select priority from AppRol2Usr where Rol_no='L'").toString(), "99999");
  EXPECT_EQ(join(member("L", "U", "1")), "10033103");
  EXPECT_EQ(join(member("L", "U' or '1'='1", "1")), "0") << "a quote in a key is only text";
  EXPECT_EQ(portal().count("AppRol2Usr"), 2);
}

TEST_P(RoleTest, DeleteMembershipsByPairRoleOrUser) {
  const std::initializer_list<std::pair<const char*, const char*>> pairs = {
      {"L1", "U1"}, {"L1", "U2"}, {"L2", "U1"}, {"L2", "U2"}, {"L3", "U1"}};
  for (const auto& [r, u] : pairs) ASSERT_EQ(join(member(r, u)), "0");
  EXPECT_EQ(mgt->delRol2Usr("", ""), "10033121");
  EXPECT_EQ(mgt->delRol2Usr("L1", "U1"), "0");
  EXPECT_EQ(portal().count("AppRol2Usr"), 4);
  EXPECT_EQ(mgt->delRol2Usr("L2", ""), "0");
  EXPECT_EQ(portal().count("AppRol2Usr"), 2) << "every member of the role";
  EXPECT_EQ(mgt->delRol2Usr("", "U1"), "0");
  EXPECT_EQ(portal().count("AppRol2Usr"), 1) << "every role of the user";
  EXPECT_EQ(portal().count("AppRol2Usr", "Rol_no='L1' and Usr_no='U2'"), 1);
  EXPECT_EQ(mgt->delRol2Usr("L1' or '1'='1", ""), "0");
  EXPECT_EQ(portal().count("AppRol2Usr"), 1);
}

TEST_P(RoleTest, UpdateUsesTheResourceCodesAndDeleteKeepsMemberships) {
  setupRoles();
  ASSERT_EQ(join(member("L1", "U1")), "0");
  EXPECT_EQ(mgt->updateRol(role("L1", "A", "新"), ""), "10032011");
  EXPECT_EQ(mgt->updateRol(role("L1", "A", "新"), "missing"), "10032012");
  EXPECT_EQ(mgt->updateRol(nullptr, "L1"), "10032013");
  EXPECT_EQ(mgt->updateRol(role("L1", "C", "新", "d"), "L1"), "0");
  EXPECT_EQ(mgt->getRolName("L1"), "新");
  EXPECT_EQ(asRecord(mgt->getRol("L1"))->get("App_No").toString(), "C");
  EXPECT_EQ(mgt->updateRol(role("L9", "C", "新"), "L1"), "0") << "the key field moves the row";
  EXPECT_TRUE(mgt->getRol("L1").isNothing());

  EXPECT_EQ(mgt->delRol(""), "10033021");
  EXPECT_EQ(mgt->delRol("L9"), "0");
  EXPECT_EQ(mgt->delRol("missing"), "0");
  EXPECT_EQ(portal().count("AppRol"), 2);
  EXPECT_EQ(portal().count("AppRol2Usr"), 1) << "memberships stay";
}

TEST_P(RoleTest, ReadOneRoleAndItsName) {
  setupRoles();
  ASSERT_EQ(add(role("L4", "A", "带说明", "说明")), "0");
  EXPECT_TRUE(mgt->getRol("").isNothing());
  EXPECT_TRUE(mgt->getRol("missing").isNothing());
  EXPECT_TRUE(mgt->getRol("L1' or '1'='1").isNothing());
  auto r = asRecord(mgt->getRol("L4"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->recordClass().name, "cAppRol");
  EXPECT_EQ(r->get("Rol_No").toString(), "L4");
  EXPECT_EQ(r->get("App_No").toString(), "A");
  EXPECT_EQ(r->get("Name").toString(), "带说明");
  EXPECT_EQ(r->get("Disc").toString(), "说明");
  EXPECT_EQ(mgt->getRolName("L3"), "读者");
  EXPECT_EQ(mgt->getRolName("missing"), "");
  EXPECT_EQ(mgt->getRolName(""), "");
}

TEST_P(RoleTest, RolesOfAnApplication) {
  EXPECT_TRUE(mgt->getRolOfApp("").isNothing());
  setupRoles();
  EXPECT_EQ(sorted(keysOf(mgt->getRolOfApp("A"))), (std::vector<std::string>{"RolL1", "RolL2"}));
  EXPECT_EQ(sorted(keysOf(mgt->getRolOfApp(""))), (std::vector<std::string>{"RolL1", "RolL2", "RolL3"}));
  EXPECT_TRUE(mgt->getRolOfApp("C").isNothing());
  EXPECT_TRUE(mgt->getRolOfApp("A' or '1'='1").isNothing());
}

TEST_P(RoleTest, RolesOfAUserInPriorityOrder) {
  setupRoles();
  ASSERT_EQ(join(member("L1", "U1", "100")), "0");
  ASSERT_EQ(join(member("L2", "U1", "5")), "0");
  ASSERT_EQ(join(member("L3", "U1", "20")), "0");
  ASSERT_EQ(join(member("GONE", "U1", "1")), "0");
  EXPECT_EQ(keysOf(mgt->getRolOfUsr("U1")), (std::vector<std::string>{"RolL2", "RolL3", "RolL1"}))
      << "ascending as numbers; a membership of a missing role is left out";
  EXPECT_TRUE(mgt->getRolOfUsr("U2").isNothing());
  EXPECT_TRUE(mgt->getRolOfUsr("U1' or '1'='1").isNothing());
  EXPECT_EQ(keysOf(mgt->getRolOfUsr("")).size(), 3u) << "every membership, each role once";

  ASSERT_EQ(join(member("L1", "U2")), "0");
  expectFailedCall([&] { mgt->getRolOfUsr(""); }, "TivelMgt.UmMgt.getRolOfUsr");
  try {
    mgt->call("getRolOfUsr", {});
    ADD_FAILURE() << "a repeated role key must fail the late-bound call too";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), -1);
  }
}

TEST_P(RoleTest, UsersOfARoleInPriorityOrder) {
  setupRoles();
  ASSERT_EQ(join(member("L1", "U3", "30")), "0");
  ASSERT_EQ(join(member("L1", "U1", "4")), "0");
  ASSERT_EQ(join(member("L1", "U2")), "0");
  ASSERT_EQ(join(member("L1", "GONE", "1")), "0");
  EXPECT_EQ(keysOf(mgt->getUsrOfRol("L1")), (std::vector<std::string>{"UsrU1", "UsrU3", "UsrU2"}))
      << "a member whose user row is gone is left out";
  EXPECT_TRUE(mgt->getUsrOfRol("L2").isNothing());
  EXPECT_TRUE(mgt->getUsrOfRol("").isNothing());

  auto u = asRecord(app_testing::asList(mgt->getUsrOfRol("L1"))->entries().front().second);
  EXPECT_EQ(u->recordClass().name, "cUmUsr");
  EXPECT_EQ(u->get("Usr_No").toString(), "U1");
  EXPECT_EQ(u->get("Account").toString(), "a1");
  EXPECT_EQ(u->get("Name").toString(), "名U1");
  EXPECT_EQ(u->get("Pwd").toString(), "pwU1");
  EXPECT_EQ(u->get("Login_Count").toString(), "7");
  EXPECT_EQ(u->get("Login_Mode").toString(), "1");
  EXPECT_EQ(u->get("State").toString(), "0");
  EXPECT_TRUE(u->get("Phone").isEmpty()) << "only the seven fields are filled";
}

TEST_P(RoleTest, BrokenReadsFailTheirCallsOrGiveTheirFailureValue) {
  setupRoles();
  ASSERT_EQ(join(member("L1", "U1")), "0");
  portal().exec("drop table umUsr");
  EXPECT_TRUE(mgt->getUsrOfRol("L1").isNothing()) << "no failure reaches the caller";
  portal().exec("drop table AppRol");
  expectFailedCall([&] { mgt->getRol("L1"); }, "TivelMgt.AppMgt.getRol");
  expectFailedCall([&] { mgt->getRolName("L1"); }, "TivelMgt.AppMgt.getRolName");
  expectFailedCall([&] { mgt->getRolOfUsr("U1"); }, "TivelMgt.UmMgt.getRolOfUsr");
  EXPECT_TRUE(mgt->getRolOfApp("A").isNothing());
  Variant key;
  EXPECT_EQ(mgt->addRol(role("L8", "A", "名"), key), "10033004");
  EXPECT_EQ(mgt->updateRol(role("L1", "A", "名"), "L1"), "10032013");
  EXPECT_EQ(mgt->delRol("L1"), "10033022");
  portal().exec("drop table AppRol2Usr");
  EXPECT_EQ(join(member("L1", "U2")), "10033104");
  EXPECT_EQ(mgt->delRol2Usr("L1", ""), "10033122");
}

INSTANTIATE_TEST_SUITE_P(Engines, RoleTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
