#include <gtest/gtest.h>

#include "mgt/app/app_test_fixture.h"

namespace tivel::mgt {
namespace {

using app_testing::asRecord;
using app_testing::keysOf;
using app_testing::rec;
using com::Variant;

RecordPtr right(const Variant& res, const Variant& bit, const Variant& name, const Variant& disc = {}) {
  return rec("cAppRgt", {{"Res_no", res}, {"Bit_Nod", bit}, {"Name", name}, {"Disc", disc}});
}

class RightTest : public app_testing::AppTest {
 protected:
  std::string add(const RecordPtr& r) {
    Variant id;
    return mgt->addRgt(r, id);
  }
};

TEST_P(RightTest, AddChecksInOrderAndHandsBackTheIdentifier) {
  Variant id("unchanged");
  EXPECT_EQ(mgt->addRgt(right("", "1", ""), id), "10032101");
  EXPECT_EQ(mgt->addRgt(right("R", "", "读"), id), "10032101");
  EXPECT_EQ(mgt->addRgt(right("R", "1", ""), id), "10032102");
  EXPECT_EQ(portal().count("AppRgt"), 0);
  EXPECT_EQ(id.toString(), "unchanged");

  ASSERT_EQ(mgt->addRgt(right("R", "3", "读"), id), "0");
  EXPECT_EQ(id.toString(), "RESRBIT3");
  EXPECT_TRUE(portal().scalar("select disc from AppRgt where Res_no='R'").isNull());
  EXPECT_EQ(portal().scalar("select name from AppRgt where Res_no='R'").toString(), "读");
  EXPECT_EQ(add(right("R", "3", "写")), "10032103");
  EXPECT_EQ(add(right("S", "3", "读", "别的资源")), "0") << "the same bit node on another resource";
  EXPECT_EQ(portal().count("AppRgt"), 2);
}

TEST_P(RightTest, BitNodesAreWholeNumbers) {
  ASSERT_EQ(add(right("R", "3", "读")), "0");
  EXPECT_EQ(add(right("R", "03", "读")), "10032103") << "03 and 3 are the same bit node";
  EXPECT_EQ(add(right("R", Variant(int32_t{3}), "读")), "10032103");
  for (const char* bad : {"x", "2.5", "1 or 1=1", "4'"}) EXPECT_EQ(add(right("R", bad, "坏")), "10032104") << bad;
  EXPECT_EQ(add(right("R", "4", Variant::null())), "10032104") << "a null name cannot be written";
  EXPECT_EQ(add(right(Variant::null(), "4", "名")), "10032104");
  Variant id;
  EXPECT_EQ(mgt->addRgt(nullptr, id), "10032104");
  EXPECT_EQ(portal().count("AppRgt"), 1);
}

TEST_P(RightTest, RightsOfAResourceInBitNodeOrder) {
  EXPECT_TRUE(mgt->getRgtOfRes("R").isNothing());
  ASSERT_EQ(add(right("R", "10", "十")), "0");
  ASSERT_EQ(add(right("R", "2", "二")), "0");
  ASSERT_EQ(add(right("R", "1", "一", "说明")), "0");
  ASSERT_EQ(add(right("S", "5", "五")), "0");
  EXPECT_EQ(keysOf(mgt->getRgtOfRes("R")), (std::vector<std::string>{"RESRNOD1", "RESRNOD2", "RESRNOD10"}))
      << "ascending as numbers";
  EXPECT_TRUE(mgt->getRgtOfRes("").isNothing());
  EXPECT_TRUE(mgt->getRgtOfRes("T").isNothing());
  EXPECT_TRUE(mgt->getRgtOfRes("R' or '1'='1").isNothing());

  auto first = asRecord(app_testing::asList(mgt->getRgtOfRes("R"))->entries().front().second);
  EXPECT_EQ(first->recordClass().name, "cAppRgt");
  EXPECT_EQ(first->get("Res_no").toString(), "R");
  EXPECT_EQ(first->get("Bit_Nod").toString(), "1");
  EXPECT_EQ(first->get("Name").toString(), "一");
  EXPECT_EQ(first->get("Disc").toString(), "说明");
}

TEST_P(RightTest, ReadOneRight) {
  ASSERT_EQ(add(right("R", "2", "二", "d")), "0");
  EXPECT_TRUE(mgt->getRgt("R", "").isNothing());
  EXPECT_TRUE(mgt->getRgt("", "2").isNothing());
  EXPECT_TRUE(mgt->getRgt("R", "3").isNothing());
  EXPECT_TRUE(mgt->getRgt("S", "2").isNothing());
  EXPECT_TRUE(mgt->getRgt("R", "2' or '1'='1").isNothing());
  auto r = asRecord(mgt->getRgt("R", "02"));
  ASSERT_TRUE(r) << "the bit node compares as a number";
  EXPECT_EQ(r->get("Res_no").toString(), "R");
  EXPECT_EQ(r->get("Bit_Nod").toString(), "2");
  EXPECT_EQ(r->get("Name").toString(), "二");
  EXPECT_EQ(r->get("Disc").toString(), "d");
}

TEST_P(RightTest, UpdateWritesNameAndDiscOnly) {
  ASSERT_EQ(add(right("R", "1", "一", "d")), "0");
  ASSERT_EQ(add(right("R", "2", "二")), "0");
  EXPECT_EQ(mgt->updateRgt(right("R", "1", "新"), "", "1"), "10032111");
  EXPECT_EQ(mgt->updateRgt(right("R", "1", "新"), "R", ""), "10032111");
  EXPECT_EQ(mgt->updateRgt(right("R", "1", "新"), "R", "9"), "10032112");
  EXPECT_EQ(mgt->updateRgt(right("R", "1", "新"), "R", "x"), "10032113") << "a bit node must be a number";

  EXPECT_EQ(mgt->updateRgt(right("Z", "7", "新", Variant::null()), "R", "1"), "0");
  EXPECT_EQ(portal().count("AppRgt", "Res_no='R' and Bit_Nod=1"), 1) << "the pair is not changed";
  EXPECT_EQ(portal().scalar("select name from AppRgt where Res_no='R' and Bit_Nod=1").toString(), "新");
  EXPECT_TRUE(portal().scalar("select disc from AppRgt where Res_no='R' and Bit_Nod=1").isNull());
  EXPECT_EQ(portal().scalar("select name from AppRgt where Res_no='R' and Bit_Nod=2").toString(), "二");
  EXPECT_EQ(mgt->updateRgt(nullptr, "R", "1"), "10032113");
}

TEST_P(RightTest, DeletesTouchOnlyRightsOfTheResource) {
  for (const char* bit : {"1", "2", "3"}) ASSERT_EQ(add(right("R", bit, "名")), "0");
  ASSERT_EQ(add(right("S", "1", "名")), "0");
  ASSERT_TRUE(mgt->setAuthOfUsr("R", "3", "U", "111"));

  EXPECT_EQ(mgt->delRgt("", 1), "10032121");
  EXPECT_EQ(mgt->delRgt("R", 9), "0");
  EXPECT_EQ(mgt->delRgt("R", 2), "0");
  EXPECT_EQ(keysOf(mgt->getRgtOfRes("R")), (std::vector<std::string>{"RESRNOD1", "RESRNOD3"}));

  EXPECT_EQ(mgt->delRgtOfRes(""), "10032123");
  EXPECT_EQ(mgt->delRgtOfRes("R' or '1'='1"), "0");
  EXPECT_EQ(portal().count("AppRgt"), 3);
  EXPECT_EQ(mgt->delRgtOfRes("R"), "0");
  EXPECT_EQ(portal().count("AppRgt"), 1) << "the other resource keeps its right";
  EXPECT_EQ(mgt->getAuthOfUsr("R", "3", "U"), "111") << "authorizations are not rewritten";
}

TEST_P(RightTest, UnreadableTableGivesEveryFailureValue) {
  portal().exec("drop table AppRgt");
  EXPECT_EQ(add(right("R", "1", "名")), "10032104");
  EXPECT_EQ(mgt->updateRgt(right("R", "1", "名"), "R", "1"), "10032113");
  EXPECT_EQ(mgt->delRgt("R", 1), "10032122");
  EXPECT_EQ(mgt->delRgtOfRes("R"), "10032124");
  EXPECT_TRUE(mgt->getRgt("R", "1").isNothing());
  EXPECT_TRUE(mgt->getRgtOfRes("R").isNothing());
}

INSTANTIATE_TEST_SUITE_P(Engines, RightTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
