#include <algorithm>

#include "mgt/sys/sys_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using sys_testing::asRecord;
using sys_testing::keysOf;
using sys_testing::rec;

RecordPtr hlp(std::initializer_list<std::pair<const char*, Variant>> v) { return rec("cSysHlp", v); }
RecordPtr ref(const Variant& from, const Variant& to) {
  return rec("cSysHlpRef", {{"Hlp_No", from}, {"Hlp_No_Ref", to}});
}

class HelpTopicsTest : public sys_testing::SysTest {
 protected:
  void topic(const char* no, const Variant& top = {}) {
    Variant key;
    ASSERT_EQ(sys->AddHlp(hlp({{"Hlp_No", no}, {"Hlp_Topic", std::string("主题") + no}, {"Top_Hlp_No", top}}), key),
              "0");
  }
  std::string addRef(const RecordPtr& r) {
    Variant unused;
    return sys->AddHlpRef(r, unused);
  }
};

TEST_P(HelpTopicsTest, AddHlpChecksTopicThenKeyAndFillsDefaults) {
  Variant key;
  EXPECT_EQ(sys->AddHlp(hlp({{"Hlp_No", "H"}, {"Hlp_Topic", ""}}), key), "10013001");
  EXPECT_EQ(portal().count("SysHlp"), 0);

  ASSERT_EQ(sys->AddHlp(hlp({{"Hlp_Topic", "登录"}}), key), "0");
  const std::string k = key.toString();
  EXPECT_EQ(k.rfind("HLP_", 0), 0u) << k;
  const std::string row = " from SysHlp where HLP_no='" + k + "'";
  EXPECT_EQ(portal().scalar("select Mod_No" + row).toString(), "0");
  EXPECT_EQ(portal().scalar("select Mod_Name" + row).toString(), "sys");
  EXPECT_EQ(portal().scalar("select top_hlp_no" + row).toString(), "0");
  EXPECT_EQ(portal().scalar("select Hlp_Topic" + row).toString(), "登录");
  for (const char* column : {"Hlp_Context", "Hlp_Example", "wDateTime"})
    EXPECT_TRUE(portal().scalar(std::string("select ") + column + row).isNull()) << column;

  EXPECT_EQ(sys->AddHlp(hlp({{"Hlp_No", k}, {"Hlp_Topic", "又一个"}}), key), "10013002");
  EXPECT_EQ(sys->AddHlp(hlp({{"Hlp_No", "N"}, {"Hlp_Topic", Variant::null()}}), key), "10013003");
  // The topic goes through quoting like every other text.
  ASSERT_EQ(sys->AddHlp(hlp({{"Hlp_No", "Q"},
                             {"Hlp_Topic", "It's'); delete from SysHlp; --"},
                             {"Mod_No", "M"},
                             {"Mod_Name", "费用"},
                             {"Hlp_Context", "正文"},
                             {"WdateTime", "2026-12-07 10:00:00"}}),
                        key),
            "0");
  EXPECT_EQ(portal().count("SysHlp"), 2);
  auto r = asRecord(sys->getHlp("Q"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Hlp_Topic").toString(), "It's'); delete from SysHlp; --");
  EXPECT_EQ(r->get("Mod_Name").toString(), "费用");
  EXPECT_EQ(r->get("Hlp_Context").toString(), "正文");
  EXPECT_EQ(r->get("WdateTime").toString(), "2026-12-07 10:00:00");
  EXPECT_TRUE(r->get("Hlp_Example").isNull());
}

TEST_P(HelpTopicsTest, ParentsAndChildrenOfTopics) {
  topic("T1");
  topic("T2", "0");
  topic("C1", "T1");
  topic("C2", "T1");
  auto top = keysOf(sys->getSonHlpOfHlp(""));
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"HlpT1", "HlpT2"})) << "an empty argument lists the top topics";
  auto children = keysOf(sys->getSonHlpOfHlp("T1"));
  std::sort(children.begin(), children.end());
  EXPECT_EQ(children, (std::vector<std::string>{"HlpC1", "HlpC2"}));
  EXPECT_EQ(sys_testing::firstRecord(sys->getSonHlpOfHlp("T1"))->get("Top_Hlp_No").toString(), "T1");
  EXPECT_TRUE(sys->getSonHlpOfHlp("C1").isNothing());
  EXPECT_TRUE(sys->getSonHlpOfHlp("0' or '1'='1").isNothing());
}

TEST_P(HelpTopicsTest, ReferencesAndTheirChecks) {
  topic("A");
  topic("B");
  topic("C");
  Variant untouched("keep");
  EXPECT_EQ(sys->AddHlpRef(ref("", "B"), untouched), "10013101");
  EXPECT_EQ(sys->AddHlpRef(ref("A", ""), untouched), "10013102");
  EXPECT_EQ(sys->AddHlpRef(ref("A", Variant::null()), untouched), "10013103");
  EXPECT_EQ(sys->AddHlpRef(nullptr, untouched), "10013103");
  EXPECT_EQ(portal().count("SysHlpRef"), 0);

  EXPECT_EQ(sys->AddHlpRef(ref("A", "B"), untouched), "0");
  EXPECT_EQ(untouched.toString(), "keep") << "the key argument is not written";
  EXPECT_EQ(addRef(ref("A", "C")), "0");
  EXPECT_EQ(addRef(ref("B", "A")), "0");
  auto refs = keysOf(sys->getHlpRefofHlp("A"));
  std::sort(refs.begin(), refs.end());
  EXPECT_EQ(refs, (std::vector<std::string>{"HlpB", "HlpC"})) << "the topics A refers to";
  EXPECT_EQ(keysOf(sys->getHlpRefofHlp("B")), (std::vector<std::string>{"HlpA"}));
  EXPECT_TRUE(sys->getHlpRefofHlp("C").isNothing());
  EXPECT_TRUE(sys->getHlpRefofHlp("").isNothing());
}

TEST_P(HelpTopicsTest, DoubledReferenceIsStoredTwiceAndListsNothing) {
  topic("A");
  topic("B");
  ASSERT_EQ(addRef(ref("A", "B")), "0");
  ASSERT_EQ(addRef(ref("A", "B")), "0");
  EXPECT_EQ(portal().count("SysHlpRef", "hlp_no='A'"), 2);
  EXPECT_TRUE(sys->getHlpRefofHlp("A").isNothing()) << "the repeated collection key spoils the list";
}

TEST_P(HelpTopicsTest, UpdateAndDeleteLeaveRelatedRowsAlone) {
  topic("P");
  topic("C", "P");
  ASSERT_EQ(addRef(ref("P", "C")), "0");
  EXPECT_EQ(sys->updateHlp(hlp({{"Hlp_No", "P"}, {"Hlp_Topic", "x"}}), ""), "10013011");
  EXPECT_EQ(sys->updateHlp(hlp({{"Hlp_No", "P"}, {"Hlp_Topic", "x"}}), "missing"), "10013012");
  ASSERT_EQ(sys->updateHlp(hlp({{"Hlp_No", "P"},
                                {"Mod_No", "M1"},
                                {"Mod_Name", "模块"},
                                {"Top_Hlp_No", "0"},
                                {"Hlp_Topic", "新主题"},
                                {"Hlp_Example", "例子"}}),
                           "P"),
            "0");
  auto r = asRecord(sys->getHlp("P"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Hlp_Topic").toString(), "新主题");
  EXPECT_EQ(r->get("Mod_No").toString(), "M1");
  EXPECT_EQ(r->get("Hlp_Example").toString(), "例子");

  EXPECT_TRUE(sys->getHlp("").isNothing());
  EXPECT_EQ(sys->delHlp(""), "10013021");
  EXPECT_EQ(sys->delHlp("missing"), "0");
  EXPECT_EQ(sys->delHlp("P"), "0");
  EXPECT_TRUE(sys->getHlp("P").isNothing());
  EXPECT_EQ(portal().count("SysHlp"), 1) << "the child stays";
  EXPECT_EQ(portal().count("SysHlpRef"), 1) << "the reference stays";
  EXPECT_EQ(keysOf(sys->getSonHlpOfHlp("P")), (std::vector<std::string>{"HlpC"}));
}

INSTANTIATE_TEST_SUITE_P(Engines, HelpTopicsTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
