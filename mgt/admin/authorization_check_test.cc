#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/testing/portal.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;

class AuthorizationCheckTest : public testing::PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin);
  }
  // The number of the call error `f` raises, or 0.
  template <class F>
  static int32_t failure(F f) {
    try {
      f();
    } catch (const com::ComError& e) {
      return e.number();
    }
    return 0;
  }
  std::shared_ptr<AdminMgt> admin;
};

TEST_P(AuthorizationCheckTest, AnswersTheCharacterAtThePosition) {
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", "abc"));
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 1), "a");
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 2), "b");
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 3), "c");
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 4), "10012");
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_2", 1), "10011");
  EXPECT_EQ(admin->checkAuth("RES_2", "USR_1", 1), "10011");
  EXPECT_EQ(admin->checkAuth("", "USR_1", 1), "10011");

  // Only the user's own string counts, not another subject type's.
  portal().exec("insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values('RES_2',2,'USR_1','111','1')");
  EXPECT_EQ(admin->checkAuth("RES_2", "USR_1", 1), "10011");

  // Positions count characters.
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", "读写删"));
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 2), "写");
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 4), "10012");
}

TEST_P(AuthorizationCheckTest, BadPositionOrStringFailsTheCall) {
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", "1"));
  EXPECT_EQ(failure([&] { admin->checkAuth("RES_1", "USR_1", 0); }), com::kInvalidProcedureCall);
  EXPECT_EQ(failure([&] { admin->checkAuth("RES_1", "USR_1", -3); }), com::kInvalidProcedureCall);
  portal().exec("update AppAuth set Res_Auth=NULL");
  EXPECT_EQ(failure([&] { admin->checkAuth("RES_1", "USR_1", 1); }), com::kInvalidUseOfNull);
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", ""));
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 1), "10012");

  com::Args text{Variant("RES_1"), Variant("USR_1"), Variant("two")};
  EXPECT_EQ(failure([&] { admin->invoke("checkAuth", com::MemberKind::Method, text); }), com::kTypeMismatchArg);
  com::Args big{Variant("RES_1"), Variant("USR_1"), Variant(int32_t{40000})};
  EXPECT_NE(failure([&] { admin->invoke("checkAuth", com::MemberKind::Method, big); }), 0);
}

// setAuthOfUsr replaces the string in one step: a failed replacement keeps
// the old one. getAuthOfUsr reads the subject type the caller names.
TEST_P(AuthorizationCheckTest, PassThroughsToTheAuthorizations) {
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", "10"));
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", "01"));
  EXPECT_EQ(portal().count("AppAuth"), 1);
  EXPECT_EQ(portal().scalar("select isAvail from AppAuth").toLong(), 1);
  EXPECT_EQ(admin->getAuthOfUsr("RES_1", "3", "USR_1"), "01");
  EXPECT_EQ(admin->getAuthOfUsr("RES_1", "2", "USR_1"), "");

  portal().exec("insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values('RES_1',3,'','keep','1')");
  EXPECT_FALSE(admin->setAuthOfUsr("RES_1", "", "new")) << "an empty user key is refused by the add";
  EXPECT_EQ(admin->getAuthOfUsr("RES_1", "3", ""), "keep");
}

TEST_P(AuthorizationCheckTest, HostileKeysKeepTheStatementShape) {
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_1", "1"));
  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", "USR_2", "1"));
  const std::string hostile = "x' or '1'='1";
  EXPECT_EQ(admin->checkAuth(hostile, "USR_1", 1), "10011");
  EXPECT_EQ(admin->checkAuth("RES_1", hostile, 1), "10011");
  EXPECT_EQ(admin->getAuthOfUsr("RES_1", "3 or 1=1", "USR_1"), "");
  EXPECT_EQ(admin->getAuthOfUsr("RES_1", "3", hostile), "");

  ASSERT_TRUE(admin->setAuthOfUsr("RES_1", hostile, "0"));
  EXPECT_EQ(portal().count("AppAuth"), 3) << "the replacement deleted no other row";
  EXPECT_EQ(admin->checkAuth("RES_1", hostile, 1), "0");
  EXPECT_EQ(admin->checkAuth("RES_1", "USR_1", 1), "1");
}

TEST_P(AuthorizationCheckTest, LateBound) {
  com::Args set{Variant("RES_1"), Variant("USR_1"), Variant("abc")};
  EXPECT_TRUE(admin->invoke("setAuthOfUsr", com::MemberKind::Method, set).toBool());
  com::Args check{Variant("RES_1"), Variant("USR_1"), Variant("2")};
  EXPECT_EQ(admin->invoke("checkAuth", com::MemberKind::Method, check), Variant("b"));
  com::Args get{Variant("RES_1"), Variant("3"), Variant("USR_1")};
  EXPECT_EQ(admin->invoke("getAuthOfUsr", com::MemberKind::Method, get), Variant("abc"));
}

INSTANTIATE_TEST_SUITE_P(Engines, AuthorizationCheckTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
