// SysMgt as late-bound callers see it: its members in order, optional and
// by-reference arguments, and no failure ever reaching the caller.
#include "mgt/sys/sys_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Args;
using com::Variant;
using sys_testing::rec;

TEST(SysMgtInterface, ListsItsTwentySevenMembersInOrder) {
  const std::vector<std::string> expected = {
      "addSysAttr",     "addMod",         "AddHlp",     "AddHlpRef", "AddErr",     "addLog",         "updateSysAttr",
      "updateMod",      "updateHlp",      "updateErr",  "updateLog", "delSysAttr", "delMod",         "delHlp",
      "delErr",         "delLog",         "getSysAttr", "getAllErr", "getMod",     "getSonModOfMod", "getHlp",
      "getSonHlpOfHlp", "getHlpRefofHlp", "getErr",     "getLog",    "getAllLog",  "WriteLog"};
  ASSERT_EQ(expected.size(), 27u);
  const com::ClassInfo* c = com::findClass("TivelMgt.SysMgt");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->memberNames(), expected);
}

class SysMgtLateBoundTest : public sys_testing::SysTest {};

TEST_P(SysMgtLateBoundTest, WriteLogWithAndWithoutItsOptionalTypes) {
  Args args = {Variant("M"), Variant("费用"), Variant("登录成功！")};
  EXPECT_EQ(sys->invoke("WriteLog", com::MemberKind::Method, args), Variant(true));
  EXPECT_EQ(args[1], Variant("费用")) << "by reference, not changed";
  EXPECT_EQ(portal().scalar("select Log_Type from SysLog").toLong(), 0);

  EXPECT_EQ(sys->call("WriteLog", {Variant("M"), Variant("费用"), Variant("二"), Variant(int32_t{3}), Variant("4")}),
            Variant(true));
  EXPECT_EQ(portal().scalar("select Msg_Type from SysLog where disc='二'").toLong(), 4);
  EXPECT_EQ(sys->call("WriteLog", {Variant("M"), Variant("费用"), Variant("")}), Variant(false));
  EXPECT_EQ(portal().count("SysLog"), 2);
}

TEST_P(SysMgtLateBoundTest, AddsHandBackTheKeyThroughTheReference) {
  Args args = {Variant(std::static_pointer_cast<com::Object>(rec("cSysAttr", {{"Name", "n"}, {"Attr_Type", 1}}))),
               Variant("")};
  EXPECT_EQ(sys->invoke("addSysAttr", com::MemberKind::Method, args), Variant("0"));
  EXPECT_EQ(args[1].toString().rfind("ATT_", 0), 0u) << args[1].toString();

  Args noKey = {Variant(std::static_pointer_cast<com::Object>(rec("cSysHlp", {{"Hlp_Topic", "t"}})))};
  EXPECT_EQ(sys->invoke("AddHlp", com::MemberKind::Method, noKey), Variant("0")) << "the key argument is optional";

  Args refArgs = {
      Variant(std::static_pointer_cast<com::Object>(rec("cSysHlpRef", {{"Hlp_No", "a"}, {"Hlp_No_Ref", "b"}}))),
      Variant("kept")};
  EXPECT_EQ(sys->invoke("AddHlpRef", com::MemberKind::Method, refArgs), Variant("0"));
  EXPECT_EQ(refArgs[1], Variant("kept"));

  EXPECT_TRUE(sys->call("getSysAttr").isNothing()) << "no argument reads as the empty key";
  EXPECT_TRUE(sys->call("getErr").isNothing());
  EXPECT_TRUE(sys->call("getHlp").isNothing());
  EXPECT_TRUE(sys->call("getLog").isNothing());
}

// With the system tables gone every operation still answers its failure
// value: no SysMgt failure reaches the caller.
TEST_P(SysMgtLateBoundTest, EveryOperationAnswersItsFailureValueWhenTheTablesAreGone) {
  for (const char* table : {"SysAttr", "SysModule", "SysHlp", "SysHlpRef", "SysErr", "SysLog"})
    portal().exec(std::string("drop table ") + table);
  Variant key;
  EXPECT_EQ(sys->addSysAttr(rec("cSysAttr", {{"Name", "n"}, {"Attr_Type", 1}}), key), "10011003");
  EXPECT_EQ(sys->addMod(rec("cSysModule", {{"Name", "n"}}), key), "10012003");
  EXPECT_EQ(sys->AddHlp(rec("cSysHlp", {{"Hlp_Topic", "t"}}), key), "10013003");
  EXPECT_EQ(sys->AddHlpRef(rec("cSysHlpRef", {{"Hlp_No", "a"}, {"Hlp_No_Ref", "b"}}), key), "10013103");
  EXPECT_EQ(sys->AddErr(rec("cSysErr", {{"Hlp_No", "h"}}), key), "10014003");
  EXPECT_EQ(sys->addLog(rec("cSysLog", {{"Disc", "d"}}), key), "10015003");
  EXPECT_TRUE(key.isEmpty());
  EXPECT_EQ(sys->updateSysAttr(rec("cSysAttr", {}), "k"), "10011013");
  EXPECT_EQ(sys->updateMod(rec("cSysModule", {}), "k"), "10012013");
  EXPECT_EQ(sys->updateHlp(rec("cSysHlp", {}), "k"), "10013013");
  EXPECT_EQ(sys->updateErr(rec("cSysErr", {}), "k"), "10014013");
  EXPECT_EQ(sys->updateLog(rec("cSysLog", {}), "k"), "10015013");
  EXPECT_EQ(sys->delSysAttr("k"), "10011022");
  EXPECT_EQ(sys->delMod("k"), "10012022");
  EXPECT_EQ(sys->delHlp("k"), "10013022");
  EXPECT_EQ(sys->delErr("k"), "10014022");
  EXPECT_EQ(sys->delLog("k"), "10015022");
  EXPECT_TRUE(sys->getSysAttr("k").isNothing());
  EXPECT_TRUE(sys->getAllErr().isNothing());
  EXPECT_TRUE(sys->getMod("k").isNothing());
  EXPECT_TRUE(sys->getSonModOfMod("").isNothing());
  EXPECT_TRUE(sys->getHlp("k").isNothing());
  EXPECT_TRUE(sys->getSonHlpOfHlp("").isNothing());
  EXPECT_TRUE(sys->getHlpRefofHlp("k").isNothing());
  EXPECT_TRUE(sys->getErr("k").isNothing());
  EXPECT_TRUE(sys->getLog("k").isNothing());
  EXPECT_TRUE(sys->getAllLog().isNothing());
  EXPECT_FALSE(sys->WriteLog("0", "sys", "text"));
}

INSTANTIATE_TEST_SUITE_P(Engines, SysMgtLateBoundTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
