#include "mgt/sys/sys_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using sys_testing::asRecord;
using sys_testing::keysOf;
using sys_testing::rec;

RecordPtr attr(std::initializer_list<std::pair<const char*, Variant>> v) { return rec("cSysAttr", v); }
RecordPtr mod(std::initializer_list<std::pair<const char*, Variant>> v) { return rec("cSysModule", v); }

class AttributesModulesTest : public sys_testing::SysTest {
 protected:
  std::string addAttr(const RecordPtr& r) {
    Variant key;
    return sys->addSysAttr(r, key);
  }
  std::string addMod(const RecordPtr& r) {
    Variant key;
    return sys->addMod(r, key);
  }
  // Adds a module with a key, a parent and a priority (Empty for none).
  void module(const char* no, const Variant& top, const Variant& priority) {
    ASSERT_EQ(addMod(mod({{"Mod_No", no},
                          {"Name", std::string("模块") + no},
                          {"Top_Mod_No", top},
                          {"Priority", priority},
                          {"IsInstall", Variant::null()},
                          {"IsVisibility", Variant::null()}})),
              "0");
  }
};

TEST_P(AttributesModulesTest, AddSysAttrChecksNameThenKey) {
  // The type is null throughout: an Empty one is refused (see below).
  const std::pair<const char*, Variant> type{"Attr_Type", Variant::null()};
  Variant key;
  EXPECT_EQ(sys->addSysAttr(attr({{"Attr_No", "A1"}, {"Name", ""}, type}), key), "10011001");
  EXPECT_TRUE(key.isEmpty()) << "no key handed back on failure";
  EXPECT_EQ(portal().count("SysAttr"), 0);

  ASSERT_EQ(sys->addSysAttr(attr({{"Attr_No", "A1"}, {"Name", "页面大小"}, type}), key), "0");
  EXPECT_EQ(key.toString(), "A1");
  EXPECT_EQ(sys->addSysAttr(attr({{"Attr_No", "A1"}, {"Name", "别的"}, type}), key), "10011002");
  // No name test: a second attribute may carry the same name.
  EXPECT_EQ(sys->addSysAttr(attr({{"Attr_No", "A2"}, {"Name", "页面大小"}, type}), key), "0");

  ASSERT_EQ(sys->addSysAttr(attr({{"Name", "生成的"}, type}), key), "0");
  EXPECT_EQ(key.toString().rfind("ATT_", 0), 0u) << key.toString();
  EXPECT_EQ(portal().count("SysAttr", "Attr_No='" + key.toString() + "'"), 1);
}

TEST_P(AttributesModulesTest, AddSysAttrDefaultsAndNumericType) {
  ASSERT_EQ(addAttr(attr({{"Attr_No", "N"}, {"Name", "n"}, {"Attr_Type", Variant::null()}})), "0");
  EXPECT_EQ(portal().scalar("select AttR_type from SysAttr where Attr_No='N'").toLong(), 0) << "null type is 0";
  EXPECT_TRUE(portal().scalar("select AttR_value from SysAttr where Attr_No='N'").isNull());
  EXPECT_TRUE(portal().scalar("select disc from SysAttr where Attr_No='N'").isNull());

  ASSERT_EQ(
      addAttr(attr({{"Attr_No", "T"}, {"Name", "t"}, {"Attr_Type", "7"}, {"Attr_Value", "值'一"}, {"Disc", "说明"}})),
      "0");
  EXPECT_EQ(portal().scalar("select AttR_type from SysAttr where Attr_No='T'").toLong(), 7);
  EXPECT_EQ(portal().scalar("select AttR_value from SysAttr where Attr_No='T'").toString(), "值'一");
  ASSERT_EQ(addAttr(attr({{"Attr_No", "I"}, {"Name", "i"}, {"Attr_Type", int32_t{3}}})), "0");
  EXPECT_EQ(portal().scalar("select AttR_type from SysAttr where Attr_No='I'").toLong(), 3);

  // An empty type is not null: it would leave the column without a value.
  EXPECT_EQ(addAttr(attr({{"Attr_No", "E"}, {"Name", "e"}})), "10011003");
  EXPECT_EQ(addAttr(attr({{"Attr_No", "E"}, {"Name", "e"}, {"Attr_Type", "abc"}})), "10011003");
  EXPECT_EQ(addAttr(attr({{"Attr_No", "E"}, {"Name", "e"}, {"Attr_Type", "1,'x','y'); delete from SysAttr; --"}})),
            "10011003");
  EXPECT_EQ(portal().count("SysAttr"), 3) << "a refused type stores nothing and touches nothing";
}

TEST_P(AttributesModulesTest, AddSysAttrQuotesTheNameAndTrapsANullOne) {
  ASSERT_EQ(addAttr(attr({{"Attr_No", "Q"}, {"Name", "O'Neil's"}, {"Attr_Type", "1"}})), "0");
  EXPECT_EQ(portal().scalar("select name from SysAttr where Attr_No='Q'").toString(), "O'Neil's");
  EXPECT_EQ(addAttr(attr({{"Attr_No", "Z"}, {"Name", Variant::null()}, {"Attr_Type", "1"}})), "10011003");
  Variant key;
  EXPECT_EQ(sys->addSysAttr(nullptr, key), "10011003");
  EXPECT_EQ(portal().count("SysAttr"), 1);
}

TEST_P(AttributesModulesTest, ReadUpdateAndDeleteAttributes) {
  ASSERT_EQ(addAttr(attr({{"Attr_No", "K"}, {"Name", "旧"}, {"Attr_Type", "1"}, {"Attr_Value", "v"}})), "0");
  EXPECT_TRUE(sys->getSysAttr("").isNothing());
  EXPECT_TRUE(sys->getSysAttr("missing").isNothing());
  auto r = asRecord(sys->getSysAttr("K"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Name").toString(), "旧");
  EXPECT_EQ(r->get("Attr_Type").toLong(), 1);
  EXPECT_EQ(r->get("Attr_Value").toString(), "v");
  EXPECT_TRUE(r->get("Disc").isNull());

  EXPECT_EQ(sys->updateSysAttr(attr({{"Attr_No", "K"}, {"Name", "新"}}), ""), "10011011");
  EXPECT_EQ(sys->updateSysAttr(attr({{"Attr_No", "K"}, {"Name", "新"}}), "missing"), "10011012");
  // Written as the record holds them: a null value clears the field.
  ASSERT_EQ(sys->updateSysAttr(attr({{"Attr_No", "K"},
                                     {"Name", "新"},
                                     {"Attr_Type", int32_t{2}},
                                     {"Attr_Value", Variant::null()},
                                     {"Disc", "d"}}),
                               "K"),
            "0");
  r = asRecord(sys->getSysAttr("K"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Name").toString(), "新");
  EXPECT_EQ(r->get("Attr_Type").toLong(), 2);
  EXPECT_TRUE(r->get("Attr_Value").isNull());
  EXPECT_EQ(r->get("Disc").toString(), "d");

  EXPECT_EQ(sys->delSysAttr(""), "10011021");
  EXPECT_EQ(sys->delSysAttr("missing"), "0");
  EXPECT_EQ(sys->delSysAttr("K' or '1'='1"), "0");
  EXPECT_EQ(portal().count("SysAttr"), 1);
  EXPECT_EQ(sys->delSysAttr("K"), "0");
  EXPECT_EQ(portal().count("SysAttr"), 0);
}

TEST_P(AttributesModulesTest, AddModChecksAndDefaults) {
  Variant key;
  EXPECT_EQ(sys->addMod(mod({{"Mod_No", "M"}, {"Name", ""}}), key), "10012001");
  EXPECT_EQ(portal().count("SysModule"), 0);

  // Flags left Empty are not null, so only null flags get their default.
  ASSERT_EQ(
      sys->addMod(mod({{"Name", "首页"}, {"IsInstall", Variant::null()}, {"IsVisibility", Variant::null()}}), key),
      "0");
  const std::string k = key.toString();
  EXPECT_EQ(k.rfind("MOD_", 0), 0u) << k;
  const std::string row = " from SysModule where Mod_no='" + k + "'";
  EXPECT_EQ(portal().scalar("select top_Mod_No" + row).toString(), "0");
  EXPECT_EQ(portal().scalar("select priority" + row).toLong(), 99999999);
  EXPECT_EQ(portal().scalar("select isInstall" + row).toLong(), 1);
  EXPECT_EQ(portal().scalar("select isVisibility" + row).toLong(), 1);
  for (const char* column : {"En_Name", "Logo", "Url_Link", "Param", "disc"})
    EXPECT_TRUE(portal().scalar(std::string("select ") + column + row).isNull()) << column;

  EXPECT_EQ(sys->addMod(mod({{"Mod_No", k}, {"Name", "又一个"}, {"IsInstall", 0}, {"IsVisibility", 0}}), key),
            "10012002");
  ASSERT_EQ(sys->addMod(mod({{"Mod_No", "F"},
                             {"Name", "F"},
                             {"IsInstall", "0"},
                             {"IsVisibility", int16_t{0}},
                             {"En_Name", "Fee"},
                             {"Url_Link", "fee/index.asp?a='1'"}}),
                        key),
            "0");
  EXPECT_EQ(portal().scalar("select isInstall from SysModule where Mod_no='F'").toLong(), 0);
  EXPECT_EQ(portal().scalar("select isVisibility from SysModule where Mod_no='F'").toLong(), 0);
  EXPECT_EQ(portal().scalar("select Url_Link from SysModule where Mod_no='F'").toString(), "fee/index.asp?a='1'");
}

TEST_P(AttributesModulesTest, AddModRefusesFlagsThatAreNotNumbers) {
  EXPECT_EQ(addMod(mod({{"Mod_No", "E"}, {"Name", "e"}})), "10012003") << "empty flags";
  EXPECT_EQ(addMod(mod({{"Mod_No", "E"}, {"Name", "e"}, {"IsInstall", "yes"}, {"IsVisibility", 1}})), "10012003");
  EXPECT_EQ(addMod(mod({{"Mod_No", "E"}, {"Name", "e"}, {"IsInstall", 1}, {"IsVisibility", "1)--"}})), "10012003");
  EXPECT_EQ(addMod(mod({{"Mod_No", "E"}, {"Name", Variant::null()}, {"IsInstall", 1}, {"IsVisibility", 1}})),
            "10012003");
  EXPECT_EQ(portal().count("SysModule"), 0);
}

TEST_P(AttributesModulesTest, TopModulesComeInNumericPriorityOrder) {
  module("M10", {}, "10");
  module("M2", "0", "2");
  module("M1", {}, int32_t{1});
  module("Mlast", {}, {});  // 99999999
  module("C1", "M2", "5");
  module("C2", "M2", "3");

  EXPECT_EQ(keysOf(sys->getSonModOfMod("")), (std::vector<std::string>{"ModM1", "ModM2", "ModM10", "ModMlast"}));
  EXPECT_EQ(keysOf(sys->getSonModOfMod("0")), keysOf(sys->getSonModOfMod("")));
  EXPECT_EQ(keysOf(sys->getSonModOfMod("M2")), (std::vector<std::string>{"ModC2", "ModC1"}));
  EXPECT_TRUE(sys->getSonModOfMod("C1").isNothing()) << "no children is nothing, not an empty collection";
  EXPECT_TRUE(sys->getSonModOfMod("0' or '1'='1").isNothing());

  auto first = sys_testing::firstRecord(sys->getSonModOfMod("M2"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->get("Top_Mod_No").toString(), "M2");
  EXPECT_EQ(first->get("Name").toString(), "模块C2");
}

TEST_P(AttributesModulesTest, ReadUpdateAndDeleteModules) {
  module("P", {}, "1");
  module("C", "P", "1");
  EXPECT_TRUE(sys->getMod("").isNothing());
  EXPECT_TRUE(sys->getMod("missing").isNothing());
  auto m = asRecord(sys->getMod("C"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get("Top_Mod_No").toString(), "P");
  EXPECT_EQ(m->get("IsInstall").toLong(), 1);

  EXPECT_EQ(sys->updateMod(mod({{"Mod_No", "C"}, {"Name", "x"}}), ""), "10012011");
  EXPECT_EQ(sys->updateMod(mod({{"Mod_No", "C"}, {"Name", "x"}}), "missing"), "10012012");
  ASSERT_EQ(sys->updateMod(mod({{"Mod_No", "C"},
                                {"Top_Mod_No", "0"},
                                {"Name", "改"},
                                {"En_Name", "Changed"},
                                {"Logo", "logo.gif"},
                                {"Priority", 4},
                                {"IsInstall", 0},
                                {"IsVisibility", 0},
                                {"Url_Link", "u"},
                                {"Param", "p"},
                                {"Disc", "d"}}),
                           "C"),
            "0");
  m = asRecord(sys->getMod("C"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get("Name").toString(), "改");
  EXPECT_EQ(m->get("Logo").toString(), "logo.gif");
  EXPECT_EQ(m->get("IsVisibility").toLong(), 0);
  EXPECT_EQ(m->get("Param").toString(), "p");
  EXPECT_EQ(keysOf(sys->getSonModOfMod("")), (std::vector<std::string>{"ModP", "ModC"}));

  ASSERT_EQ(sys->updateMod(mod({{"Mod_No", "C"},
                                {"Top_Mod_No", "P"},
                                {"Name", "改"},
                                {"Priority", 4},
                                {"IsInstall", 1},
                                {"IsVisibility", 1}}),
                           "C"),
            "0");
  EXPECT_EQ(sys->delMod(""), "10012021");
  EXPECT_EQ(sys->delMod("missing"), "0");
  EXPECT_EQ(sys->delMod("P"), "0") << "a module with children is deleted alone";
  EXPECT_EQ(portal().count("SysModule"), 1);
  EXPECT_EQ(keysOf(sys->getSonModOfMod("P")), (std::vector<std::string>{"ModC"}));
}

INSTANTIATE_TEST_SUITE_P(Engines, AttributesModulesTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
