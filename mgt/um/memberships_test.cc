// Memberships: adds with their checks and identifiers, deletes by whichever
// keys are given, and the lists in membership order.
#include <gtest/gtest.h>

#include "mgt/um/um_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using namespace um_testing;

RecordPtr inOrg(const Variant& org, const Variant& usr, const Variant& isMain = "1", const Variant& priority = {}) {
  return rec("cUmOrg2usr", {{"Org_No", org}, {"Usr_No", usr}, {"IsMain", isMain}, {"Priority", priority}});
}

RecordPtr inGrp(const Variant& grp, const Variant& usr, const Variant& priority = {}) {
  return rec("cUmGrp2usr", {{"Grp_no", grp}, {"Usr_No", usr}, {"Priority", priority}});
}

class MembershipsTest : public UmTest {
 protected:
  void join(const RecordPtr& r) {
    Variant id;
    const bool org = r->recordClass().name == "cUmOrg2usr";
    ASSERT_EQ(org ? um->addOrg2Usr(r, id) : um->addGrp2Usr(r, id), "0");
  }
  void org(const char* key, const char* name, const char* priority) {
    Variant k;
    ASSERT_EQ(um->addOrg(rec("cUmOrg", {{"Org_No", key}, {"Name", name}, {"Priority", priority}}), k), "0");
  }
  void grp(const char* key, const char* name) {
    Variant k;
    ASSERT_EQ(um->addGrp(rec("cUmGrp", {{"Grp_no", key}, {"Name", name}}), k), "0");
  }
};

TEST_P(MembershipsTest, AddOrgMembershipChecksAndHandsBackTheIdentifier) {
  Variant id;
  EXPECT_EQ(um->addOrg2Usr(inOrg("", ""), id), "10024001");
  EXPECT_EQ(um->addOrg2Usr(inOrg("O1", ""), id), "10024002");
  ASSERT_EQ(um->addOrg2Usr(inOrg("O1", "U1", "0", "5"), id), "0");
  EXPECT_EQ(id.toString(), "ORGO1USRU1");
  id = Variant();
  EXPECT_EQ(um->addOrg2Usr(inOrg("O1", "U1", "1", "9"), id), "10024003");
  EXPECT_TRUE(id.isEmpty()) << "not written for a pair that exists";
  EXPECT_EQ(text("select isMain from umOrg2Usr").toLong(), 0) << "the existing row is unchanged";
  EXPECT_EQ(text("select priority from umOrg2Usr").toLong(), 5);
  EXPECT_EQ(um->addOrg2Usr(inOrg("O2", "U1", ""), id), "10024004") << "isMain cannot be left out";
  EXPECT_EQ(um->addOrg2Usr(nullptr, id), "10024004");
  EXPECT_EQ(portal().count("umOrg2Usr"), 1);
}

TEST_P(MembershipsTest, AddGroupMembershipDefaultsThePriority) {
  Variant id;
  EXPECT_EQ(um->addGrp2Usr(inGrp("", "U1"), id), "10025001");
  EXPECT_EQ(um->addGrp2Usr(inGrp("G1", ""), id), "10025002");
  ASSERT_EQ(um->addGrp2Usr(inGrp("G1", "U1"), id), "0");
  EXPECT_EQ(id.toString(), "GRPG1USRU1");
  EXPECT_EQ(text("select priority from umGrp2Usr").toLong(), 999999);
  EXPECT_EQ(um->addGrp2Usr(inGrp("G1", "U1", "3"), id), "10025003");
  ASSERT_EQ(um->addOrg2Usr(inOrg("O1", "U1"), id), "0");
  EXPECT_EQ(text("select priority from umOrg2Usr").toLong(), 999999);
}

TEST_P(MembershipsTest, DeletesByWhicheverKeysAreGiven) {
  join(inOrg("O1", "U1"));
  join(inOrg("O1", "U2"));
  join(inOrg("O2", "U1"));
  join(inOrg("O3", "U3"));
  EXPECT_EQ(um->delOrg2Usr("", ""), "10024021");
  EXPECT_EQ(portal().count("umOrg2Usr"), 4);
  EXPECT_EQ(um->delOrg2Usr("O1", "U2"), "0");
  EXPECT_EQ(portal().count("umOrg2Usr"), 3);
  EXPECT_EQ(um->delOrg2Usr("", "U1"), "0") << "the user leaves every organisation";
  EXPECT_EQ(portal().count("umOrg2Usr"), 1);
  EXPECT_EQ(um->delOrg2Usr("O3", ""), "0");
  EXPECT_EQ(portal().count("umOrg2Usr"), 0);

  join(inGrp("G1", "U1"));
  join(inGrp("G1", "U2"));
  join(inGrp("G2", "U1"));
  join(inGrp("G3", "U3"));
  EXPECT_EQ(um->delGrp2Usr("", ""), "10025021");
  EXPECT_EQ(um->delGrp2Usr("G1", "U1"), "0");
  EXPECT_EQ(portal().count("umGrp2Usr"), 3);
  EXPECT_EQ(um->delGrp2Usr("G1", ""), "0");
  EXPECT_EQ(portal().count("umGrp2Usr", "Grp_no='G1'"), 0);
  EXPECT_EQ(um->delGrp2Usr("", "U1"), "0");
  EXPECT_EQ(portal().count("umGrp2Usr"), 1);
}

TEST_P(MembershipsTest, OrganisationsOfAUserInMembershipPriority) {
  org("A", "甲", "1");
  org("B", "乙", "2");
  org("C", "丙", "3");
  // The membership's priority orders the list, not the organisation's own.
  join(inOrg("A", "U1", "1", "30"));
  join(inOrg("B", "U1", "0", "4"));
  join(inOrg("C", "U1", "1", "10"));
  join(inOrg("A", "U2", "1", "1"));
  EXPECT_EQ(keysOf(um->getOrgOfUsr("U1")), (std::vector<std::string>{"ORGB", "ORGC", "ORGA"}));
  auto first = asRecord(asList(um->getOrgOfUsr("U1"))->Item(1));
  EXPECT_EQ(first->get("Priority").toLong(), 2) << "the organisation's own priority is filled";
  EXPECT_EQ(first->get("Name").toString(), "乙");

  auto none = asList(um->getOrgOfUsr("nobody"));
  ASSERT_TRUE(none);
  EXPECT_EQ(none->Count(), 0);
  // Without a user every membership is listed: A has two members, so its key repeats.
  EXPECT_TRUE(um->getOrgOfUsr("").isNothing());
  EXPECT_EQ(um->delOrg2Usr("A", "U2"), "0");
  EXPECT_EQ(keysOf(um->getOrgOfUsr("")).size(), 3u);
}

TEST_P(MembershipsTest, GroupsOfAUserInMembershipPriority) {
  grp("G1", "一");
  grp("G2", "二");
  join(inGrp("G1", "U1", "20"));
  join(inGrp("G2", "U1", "3"));
  EXPECT_EQ(keysOf(um->getGrpOfUsr("U1")), (std::vector<std::string>{"GrpG2", "GrpG1"}));
  EXPECT_EQ(keysOf(um->getGrpOfUsr("")).size(), 2u);
  join(inGrp("G1", "U2"));
  EXPECT_TRUE(um->getGrpOfUsr("").isNothing()) << "a group with two members repeats its key";
}

TEST_P(MembershipsTest, MembersOfAnOrganisationAndUsersInNone) {
  addUser(user("U1", "a", "一"));
  addUser(user("U2", "b", "二"));
  addUser(user("U3", "c", "三"));
  addUser(user("U4", "d", "四"));
  join(inOrg("O1", "U1", "1", "50"));
  join(inOrg("O1", "U2", "0", "7"));
  join(inOrg("O2", "U3", "0", "1"));
  join(inOrg("O2", "ghost", "0", "1"));  // a membership of no user: the join drops it
  EXPECT_EQ(keysOf(um->getUsrOfOrg("O1")), (std::vector<std::string>{"USRU2", "USRU1"}));
  EXPECT_EQ(keysOf(um->getUsrOfOrg("O2")), (std::vector<std::string>{"USRU3"}));
  EXPECT_EQ(keysOf(um->getUsrOfOrg("0")), (std::vector<std::string>{"USRU4"}));
  EXPECT_TRUE(um->getUsrOfOrg("").isNothing());
  auto member = asRecord(asList(um->getUsrOfOrg("O1"))->Item(1));
  EXPECT_EQ(member->get("Account").toString(), "b");
  EXPECT_EQ(member->get("Login_Mode").toString(), "100000");
  EXPECT_FALSE(member->get("Account_Time").isEmpty()) << "all fourteen fields";

  // A deleted user's membership stays, so the user is in no list at all.
  EXPECT_EQ(um->delUsr("U1"), "0");
  EXPECT_EQ(keysOf(um->getUsrOfOrg("O1")), (std::vector<std::string>{"USRU2"}));
  EXPECT_EQ(keysOf(um->getUsrOfOrg("0")), (std::vector<std::string>{"USRU4"}));
}

TEST_P(MembershipsTest, MembersOfAGroupAndUsersInNone) {
  addUser(user("U1", "a"));
  addUser(user("U2", "b"));
  addUser(user("U3", "c"));
  join(inGrp("G1", "U3", "2"));
  join(inGrp("G1", "U1", "1"));
  EXPECT_EQ(keysOf(um->getUsrOfGrp("G1")), (std::vector<std::string>{"UsrU1", "UsrU3"}));
  EXPECT_EQ(keysOf(um->getUsrOfGrp("0")), (std::vector<std::string>{"UsrU2"}));
  EXPECT_TRUE(um->getUsrOfGrp("").isNothing());
  auto empty = asList(um->getUsrOfGrp("G9"));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Count(), 0);
}

TEST_P(MembershipsTest, HostileKeysChangeNoOtherRow) {
  const std::string hostile = "O1' or '1'='1";
  join(inOrg("O1", "U1"));
  join(inGrp("G1", "U1"));
  Variant id;
  ASSERT_EQ(um->addOrg2Usr(inOrg(hostile, "U'2", "1", "2"), id), "0");
  EXPECT_EQ(id.toString(), "ORG" + hostile + "USRU'2");
  EXPECT_EQ(um->addOrg2Usr(inOrg("O1", "U1' or '1'='1"), id), "0") << "a new pair, not the existing one";
  EXPECT_EQ(um->addOrg2Usr(inOrg("O1", "U1", "1", "1) ; delete from umOrg2Usr; --"), id), "10024003");
  EXPECT_EQ(um->delOrg2Usr(hostile, "U'2"), "0");
  EXPECT_EQ(um->delOrg2Usr("", "x' or '1'='1"), "0");
  EXPECT_EQ(um->delGrp2Usr("G1' or '1'='1", ""), "0");
  EXPECT_EQ(portal().count("umOrg2Usr"), 2);
  EXPECT_EQ(portal().count("umGrp2Usr"), 1);
  EXPECT_EQ(keysOf(um->getOrgOfUsr("U1' or '1'='1")).size(), 0u);
  EXPECT_EQ(keysOf(um->getUsrOfOrg(hostile)).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, MembershipsTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
