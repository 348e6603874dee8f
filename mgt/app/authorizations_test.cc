#include <gtest/gtest.h>

#include <algorithm>

#include "mgt/app/app_test_fixture.h"
#include "mgt/common/module.h"
#include "testing/faults.h"

namespace tivel::mgt {
namespace {

using app_testing::asRecord;
using app_testing::keysOf;
using app_testing::rec;
using com::Variant;

RecordPtr auth(const Variant& res, const Variant& type, const Variant& no, const Variant& str = "1",
               const Variant& avail = "1") {
  return rec("cAppAuth",
             {{"Res_no", res}, {"OGRU_Type", type}, {"OGRU_No", no}, {"Res_Auth", str}, {"IsAvail", avail}});
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class AuthorizationTest : public app_testing::AppTest {
 protected:
  std::string add(const RecordPtr& r) {
    Variant id;
    return mgt->addAuth(r, id);
  }
  std::string stored(const std::string& column, const std::string& no = "U") {
    return portal().scalar("select " + column + " from AppAuth where res_no='R' and OGRU_no='" + no + "'").toString();
  }
  // Makes every insert into AppAuth fail, so a replacement fails after its delete.
  void refuseInserts() {
    if (portal().engine() == "sqlite") {
      portal().exec("create trigger refuse_auth before insert on AppAuth begin select raise(abort, 'refused'); end");
    } else if (portal().engine() == "mariadb") {
      portal().exec(
          "create trigger refuse_auth before insert on AppAuth for each row "
          "signal sqlstate '45000' set message_text = 'refused'");
    } else {
      portal().exec(
          "create function refuse_auth() returns trigger language plpgsql as "
          "'begin raise exception ''refused''; end'");
      portal().exec("create trigger refuse_auth before insert on AppAuth for each row execute function refuse_auth()");
    }
  }
};

TEST_P(AuthorizationTest, AddChecksInOrderAndHandsBackTheIdentifier) {
  Variant id("unchanged");
  EXPECT_EQ(mgt->addAuth(auth("", Variant::null(), ""), id), "10034001");
  EXPECT_EQ(mgt->addAuth(auth("R", Variant::null(), ""), id), "10034002");
  EXPECT_EQ(mgt->addAuth(auth("R", "3", ""), id), "10034003");
  EXPECT_EQ(mgt->addAuth(auth("R", "", "U"), id), "10034005") << "an empty type is not null but no number";
  EXPECT_EQ(mgt->addAuth(auth("R", "3 or 1=1", "U"), id), "10034005");
  EXPECT_EQ(mgt->addAuth(auth("R", "3", "U", Variant::null()), id), "10034005");
  EXPECT_EQ(mgt->addAuth(nullptr, id), "10034005");
  EXPECT_EQ(portal().count("AppAuth"), 0);
  EXPECT_EQ(id.toString(), "unchanged");

  ASSERT_EQ(mgt->addAuth(auth("R", "3", "U", "1010", "0"), id), "0");
  EXPECT_EQ(id.toString(), "ResROGRUTYPE3OGRUU");
  EXPECT_EQ(stored("Res_Auth"), "1010");
  EXPECT_EQ(stored("isAvail"), "0");
  EXPECT_EQ(add(auth("R", "3", "U", "1111")), "10034004");
  EXPECT_EQ(add(auth("R", "03", "U", "1111")), "10034004") << "types compare as numbers";
  EXPECT_EQ(add(auth("R", "2", "U")), "0") << "another subject type is another subject";

  ASSERT_EQ(add(auth("R", "3", "V", "", "")), "0");
  EXPECT_EQ(portal().count("AppAuth", "OGRU_no='V' and Res_Auth='' and isAvail=''"), 1)
      << "no defaults: empty values are stored as empty strings";
}

TEST_P(AuthorizationTest, UpdateWritesStringAndFlagOfTheSubject) {
  ASSERT_EQ(add(auth("R", "3", "U", "10")), "0");
  ASSERT_EQ(add(auth("R", "3", "W", "00")), "0");
  EXPECT_EQ(mgt->updateAuth(auth("R", "3", "X", "11")), "10034012");
  EXPECT_EQ(mgt->updateAuth(auth("R", "2", "U", "11")), "10034012");
  EXPECT_EQ(mgt->updateAuth(auth("R", "3", "U' or '1'='1", "11")), "10034012");
  EXPECT_EQ(mgt->updateAuth(auth("R", "x", "U", "11")), "10034013");
  EXPECT_EQ(mgt->updateAuth(nullptr), "10034013");

  EXPECT_EQ(mgt->updateAuth(auth("R", "3", "U", "11", "0")), "0");
  EXPECT_EQ(stored("Res_Auth"), "11");
  EXPECT_EQ(stored("isAvail"), "0");
  EXPECT_EQ(stored("Res_Auth", "W"), "00");
}

TEST_P(AuthorizationTest, SetAuthOfUsrAddsThenReplaces) {
  EXPECT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "10"));
  EXPECT_EQ(stored("Res_Auth"), "10");
  EXPECT_EQ(stored("isAvail"), "1");
  EXPECT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "0110"));
  EXPECT_EQ(portal().count("AppAuth"), 1);
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "0110");
  EXPECT_FALSE(mgt->setAuthOfUsr("R", "3", "", "1")) << "addAuth refuses an empty subject key";
  EXPECT_FALSE(mgt->setAuthOfUsr("R", "x", "U", "1")) << "delAuth refuses a type that is no number";
  EXPECT_FALSE(mgt->setAuthOfUsr("", "3", "U", "1"));
  EXPECT_EQ(portal().count("AppAuth"), 1);
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "0110");
}

TEST_P(AuthorizationTest, FailedReplacementLeavesTheOldAuthorization) {
  ASSERT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "10"));
  refuseInserts();
  EXPECT_FALSE(mgt->setAuthOfUsr("R", "3", "U", "11"));
  EXPECT_EQ(portal().count("AppAuth"), 1) << "the delete was undone with the failed add";
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "10");
  EXPECT_FALSE(mgt->setAuthOfUsr("R", "3", "U", "11")) << "no transaction was left open";
  // Inside a transaction its caller holds, a savepoint undoes the failed
  // replacement alone, and the caller's end decides about the rest.
  const ado::ConnectionPtr& db = sharedConnection();
  db->beginTrans();
  EXPECT_FALSE(mgt->setAuthOfUsr("R", "3", "U", "11"));
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "10");
  db->commitTrans();
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "10");
  portal().exec("drop trigger refuse_auth" + std::string(portal().engine() == "postgresql" ? " on AppAuth" : ""));
  db->beginTrans();
  EXPECT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "01"));
  db->rollbackTrans();
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "10");
  EXPECT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "11"));
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "11");
}

TEST_P(AuthorizationTest, ReadsReturnExactlyTheSubjectAsked) {
  ASSERT_EQ(add(auth("R", "3", "U", "10", "1")), "0");
  ASSERT_EQ(add(auth("R", "1", "G", "11")), "0");
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "10");
  EXPECT_EQ(mgt->getAuthOfUsr("R", "03", "U"), "10");
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "G"), "") << "never merged with another subject's string";
  EXPECT_EQ(mgt->getAuthOfUsr("", "3", "U"), "");
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3 or 1=1", "G"), "");
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "G' or '1'='1"), "");

  EXPECT_TRUE(mgt->getAuth("", "3", "U").isNothing());
  EXPECT_TRUE(mgt->getAuth("R", "3", "G").isNothing());
  EXPECT_TRUE(mgt->getAuth("R", "", "U").isNothing());
  auto a = asRecord(mgt->getAuth("R", "3", "U"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->recordClass().name, "cAppAuth");
  EXPECT_EQ(a->get("Res_no").toString(), "R");
  EXPECT_EQ(a->get("OGRU_Type").toString(), "3");
  EXPECT_EQ(a->get("OGRU_No").toString(), "U");
  EXPECT_EQ(a->get("Res_Auth").toString(), "10");
  EXPECT_EQ(a->get("IsAvail").toString(), "1");

  portal().exec("update AppAuth set Res_Auth=NULL where OGRU_no='U'");
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "") << "a NULL string is a trapped failure";
  ASSERT_TRUE(asRecord(mgt->getAuth("R", "3", "U")));
  EXPECT_TRUE(asRecord(mgt->getAuth("R", "3", "U"))->get("Res_Auth").isNull());
}

TEST_P(AuthorizationTest, AuthorizationsOfAResource) {
  EXPECT_TRUE(mgt->getAuthOfRes("R").isNothing());
  ASSERT_EQ(add(auth("R", "3", "U")), "0");
  ASSERT_EQ(add(auth("R", "1", "G")), "0");
  ASSERT_EQ(add(auth("S", "3", "U")), "0");
  EXPECT_EQ(sorted(keysOf(mgt->getAuthOfRes("R"))), (std::vector<std::string>{"RESROGRUT1OGRUG", "RESROGRUT3OGRUU"}));
  EXPECT_TRUE(mgt->getAuthOfRes("").isNothing());
  EXPECT_TRUE(mgt->getAuthOfRes("T").isNothing());
  EXPECT_TRUE(mgt->getAuthOfRes("R' or '1'='1").isNothing());
}

TEST_P(AuthorizationTest, DeletesByTripleOrByResource) {
  ASSERT_EQ(add(auth("R", "3", "U")), "0");
  ASSERT_EQ(add(auth("R", "1", "U")), "0");
  ASSERT_EQ(add(auth("R", "3", "V")), "0");
  ASSERT_EQ(add(auth("S", "3", "U")), "0");
  EXPECT_EQ(mgt->delAuth("R", "3", "X"), "0");
  EXPECT_EQ(mgt->delAuth("R", "3 or 1=1", "U"), "10034022");
  EXPECT_EQ(mgt->delAuth("R", "", "U"), "10034022");
  EXPECT_EQ(mgt->delAuth("R", "3", "U' or '1'='1"), "0");
  EXPECT_EQ(portal().count("AppAuth"), 4);
  EXPECT_EQ(mgt->delAuth("R", "3", "U"), "0");
  EXPECT_EQ(portal().count("AppAuth"), 3);
  EXPECT_EQ(portal().count("AppAuth", "res_no='R' and OGRU_no='U'"), 1) << "the other type stays";

  EXPECT_EQ(mgt->delAuthOfRes(""), "10034023");
  EXPECT_EQ(mgt->delAuthOfRes("R"), "0");
  EXPECT_EQ(portal().count("AppAuth"), 1);
  EXPECT_EQ(portal().count("AppAuth", "res_no='S'"), 1);
}

TEST_P(AuthorizationTest, UnreadableTableGivesEveryFailureValue) {
  portal().exec("drop table AppAuth");
  EXPECT_EQ(add(auth("R", "3", "U")), "10034005");
  EXPECT_EQ(mgt->updateAuth(auth("R", "3", "U")), "10034013");
  EXPECT_FALSE(mgt->setAuthOfUsr("R", "3", "U", "1"));
  EXPECT_EQ(mgt->delAuth("R", "3", "U"), "10034022");
  EXPECT_EQ(mgt->delAuthOfRes("R"), "10034024");
  EXPECT_TRUE(mgt->getAuth("R", "3", "U").isNothing());
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "");
  EXPECT_TRUE(mgt->getAuthOfRes("R").isNothing());
}

TEST_P(AuthorizationTest, ReplacementLeavesNothingPartialWhicheverStepFails) {
  ASSERT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "10"));
  bool answered = true;
  int statements = tivel::testing::failEachStep([&] { answered = mgt->setAuthOfUsr("R", "3", "U", "0110"); },
                                                [&](const std::string& step) {
                                                  EXPECT_FALSE(answered) << step;
                                                  EXPECT_EQ(portal().count("AppAuth"), 1) << step;
                                                  EXPECT_EQ(stored("Res_Auth"), "10") << step;
                                                });
  EXPECT_GE(statements, 2) << "a delete and an insert at least";
  EXPECT_TRUE(answered) << "no transaction was left open by the failed runs";
  EXPECT_EQ(stored("Res_Auth"), "0110");
}

INSTANTIATE_TEST_SUITE_P(Engines, AuthorizationTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
