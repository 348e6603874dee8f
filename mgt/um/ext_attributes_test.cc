// Extended attributes: definitions and values of users and organisations
// with their codes, defaults and lists, the joined reads, and the dispatch
// members that reach them.
#include <algorithm>
#include <stdexcept>

#include <gtest/gtest.h>

#include "mgt/um/um_test_fixture.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using namespace um_testing;

// Definitions with no value (null) for type, position and flags, so their defaults apply.
RecordPtr uaa(const Variant& no, const Variant& owner, const Variant& name) {
  return rec("cUmUsrAddAttr", {{"Uaa_No", no},
                               {"Usr_No", owner},
                               {"Name", name},
                               {"Data_type", Variant::null()},
                               {"Position", Variant::null()},
                               {"IsNull", Variant::null()},
                               {"IsGobal", Variant::null()}});
}
RecordPtr oaa(const Variant& no, const Variant& owner, const Variant& name) {
  return rec("cUmOrgAddAttr", {{"Oaa_No", no},
                               {"Org_No", owner},
                               {"Name", name},
                               {"Data_type", Variant::null()},
                               {"Position", Variant::null()},
                               {"IsNull", Variant::null()},
                               {"IsGobal", Variant::null()}});
}
RecordPtr uai(const Variant& def, const Variant& usr, const Variant& value) {
  return rec("cUmUsrAddInst", {{"Uaa_No", def}, {"Usr_No", usr}, {"Uai_Value", value}});
}
RecordPtr oai(const Variant& def, const Variant& org, const Variant& value) {
  return rec("cUmOrgAddInst", {{"Oaa_No", def}, {"Org_No", org}, {"Oai_Value", value}});
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class ExtAttributesTest : public UmTest {
 protected:
  void defineUser(const RecordPtr& r) {
    Variant key;
    ASSERT_EQ(um->addUaa(r, key), "0");
  }
  void defineOrg(const RecordPtr& r) {
    Variant key;
    ASSERT_EQ(um->addOaa(r, key), "0");
  }
  void valueOf(const RecordPtr& r) {
    ASSERT_EQ(r->recordClass().name == "cUmUsrAddInst" ? um->addUai(r) : um->addOai(r), "0");
  }
  // The record a list holds under that key.
  RecordPtr item(const Variant& list, const std::string& key) {
    if (auto l = asList(list))
      for (const auto& [k, v] : l->entries())
        if (k == key) return asRecord(v);
    throw std::runtime_error("no item " + key);
  }
  // The uai_no of a user's value of a definition.
  std::string uaiNo(const std::string& def, const std::string& usr) {
    return text("select uai_no from umUsrAddInst where uaa_no='" + def + "' and usr_no='" + usr + "'").toString();
  }
};

TEST_P(ExtAttributesTest, AddUserDefinitionCodesAndDefaults) {
  Variant key;
  EXPECT_EQ(um->addUaa(uaa("A", "", "名"), key), "10372");
  EXPECT_EQ(portal().count("umUsrAddAttr"), 0);
  ASSERT_EQ(um->addUaa(uaa("A", "U1", "爱好"), key), "0");
  EXPECT_EQ(key.toString(), "A");
  EXPECT_EQ(um->addUaa(uaa("A", "U2", "x"), key), "10373");
  ASSERT_EQ(um->addUaa(uaa({}, "0", "爱好"), key), "0") << "no name test";
  EXPECT_EQ(key.toString().rfind("UAA_", 0), 0u) << key.toString();

  auto stored = asRecord(um->getUaa("A"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->get("Usr_No").toString(), "U1");
  EXPECT_TRUE(stored->get("Parse").isNull());
  EXPECT_TRUE(stored->get("Default_Value").isNull());
  EXPECT_EQ(stored->get("Data_type").toLong(), 0);
  EXPECT_EQ(stored->get("Position").toLong(), 0);
  EXPECT_EQ(stored->get("IsNull").toLong(), 1);
  EXPECT_EQ(stored->get("IsGobal").toLong(), 0);

  auto given = uaa("B", "U1", "");
  for (auto [p, v] :
       {std::pair{"Parse", "p'q"}, {"Data_type", "2"}, {"Position", "3"}, {"IsNull", "0"}, {"IsGobal", "1"}})
    given->set(p, v);
  ASSERT_EQ(um->addUaa(given, key), "0");
  stored = asRecord(um->getUaa("B"));
  EXPECT_TRUE(stored->get("Name").isNull()) << "an empty name is stored as NULL";
  EXPECT_EQ(stored->get("Parse").toString(), "p'q");
  EXPECT_EQ(stored->get("Data_type").toLong(), 2);
  EXPECT_EQ(stored->get("Position").toLong(), 3);
  EXPECT_EQ(stored->get("IsNull").toLong(), 0);
  EXPECT_EQ(stored->get("IsGobal").toLong(), 1);

  // Values written without quotes must be numbers; empty is not null and no number.
  for (const char* p : {"Data_type", "Position", "IsNull", "IsGobal"})
    for (const char* bad : {"", "1); delete from umUsrAddAttr; --"}) {
      auto r = uaa("C", "U1", "x");
      r->set(p, bad);
      EXPECT_EQ(um->addUaa(r, key), "10374") << p << " = " << bad;
    }
  EXPECT_EQ(um->addUaa(uaa("C", "U1", Variant::null()), key), "10374") << "a null name is no text";
  EXPECT_EQ(portal().count("umUsrAddAttr"), 3);
}

TEST_P(ExtAttributesTest, AddOrgDefinitionCodesAndDefaults) {
  Variant key;
  EXPECT_EQ(um->addOaa(oaa("A", "", "地址"), key), "10024101");
  ASSERT_EQ(um->addOaa(oaa("A", "O1", "地址"), key), "0");
  EXPECT_EQ(key.toString(), "A");
  EXPECT_EQ(um->addOaa(oaa("B", "O1", "地址"), key), "10024102");
  ASSERT_EQ(um->addOaa(oaa("B", "O2", "地址"), key), "0") << "the same name under another organisation";
  EXPECT_EQ(um->addOaa(oaa("A", "O3", "x"), key), "10024103");
  ASSERT_EQ(um->addOaa(oaa({}, "O1", "O'Brien"), key), "0");
  EXPECT_EQ(key.toString().rfind("OAA_", 0), 0u) << key.toString();
  EXPECT_EQ(um->addOaa(oaa("C", "O1", "O'Brien"), key), "10024102") << "a quoted name is tested, not failed";
  EXPECT_EQ(um->addOaa(oaa("C", "O1' or '1'='1", "地址"), key), "0") << "an odd owner is only a value";

  auto stored = asRecord(um->getOaa("A"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->get("Position").toString(), "0,0,0,0,0,0,0,0");
  EXPECT_EQ(stored->get("Data_type").toLong(), 0);
  EXPECT_EQ(stored->get("IsNull").toLong(), 1);
  EXPECT_EQ(stored->get("IsGobal").toLong(), 0);
  EXPECT_TRUE(stored->get("Parse").isNull());

  auto given = oaa("D", "O1", "电话");
  given->set("Position", "1,2,'3'");
  given->set("IsGobal", "1");
  ASSERT_EQ(um->addOaa(given, key), "0");
  EXPECT_EQ(asRecord(um->getOaa("D"))->get("Position").toString(), "1,2,'3'") << "an organisation's position is text";
  EXPECT_EQ(asRecord(um->getOaa("D"))->get("IsGobal").toLong(), 1);

  const long before = portal().count("umOrgAddAttr");
  for (const char* p : {"Data_type", "IsNull", "IsGobal"}) {
    auto r = oaa("E", "O1", "x");
    r->set(p, "1 or 1=1");
    EXPECT_EQ(um->addOaa(r, key), "10024104") << p;
    r->set(p, "");
    EXPECT_EQ(um->addOaa(r, key), "10024104") << p;
  }
  EXPECT_EQ(um->addOaa(oaa("E", "O1", Variant::null()), key), "10024104");
  EXPECT_EQ(portal().count("umOrgAddAttr"), before);
}

TEST_P(ExtAttributesTest, AddValueCodes) {
  EXPECT_EQ(um->addUai(uai("A", "", "v")), "10381");
  EXPECT_EQ(um->addUai(uai("", "U1", "v")), "10381") << "the same code for either key";
  valueOf(uai("A", "U1", "红"));
  valueOf(uai("A", "U1", "蓝"));
  EXPECT_EQ(portal().count("umUsrAddInst", "uaa_no='A' and usr_no='U1'"), 2) << "a second value is another row";
  EXPECT_EQ(text("select count(distinct uai_no) from umUsrAddInst").toLong(), 2) << "numbered by the database";
  valueOf(uai("B", "U1", ""));
  EXPECT_TRUE(text("select uai_value from umUsrAddInst where uaa_no='B'").isNull());
  EXPECT_EQ(um->addUai(uai("C", "U1", Variant::null())), "10383");
  valueOf(uai("C", "U1' or '1'='1", "x"));
  EXPECT_EQ(portal().count("umUsrAddInst", "usr_no='U1'' or ''1''=''1'"), 1);

  EXPECT_EQ(um->addOai(oai("", "", "v")), "10024202") << "the definition is tested first";
  EXPECT_EQ(um->addOai(oai("A", "", "v")), "10024201");
  valueOf(oai("A", "O1", ""));
  EXPECT_TRUE(text("select oai_value from umOrgAddInst").isNull());
  EXPECT_EQ(um->addOai(oai("A", "O1", "again")), "10024203") << "definition and organisation name the row";
  EXPECT_EQ(um->addOai(oai("B", "O1", Variant::null())), "10024203");
  EXPECT_EQ(portal().count("umOrgAddInst"), 1);
}

TEST_P(ExtAttributesTest, UpdateCodesAndColumns) {
  auto def = uaa("A", "U1", "旧");
  def->set("IsGobal", "1");
  defineUser(def);
  auto change = uaa("X", "U2", "新");
  for (auto [p, v] : {std::pair{"Data_type", "5"}, {"Position", "6"}, {"IsNull", "0"}, {"IsGobal", "0"}})
    change->set(p, v);
  EXPECT_EQ(um->updateUaa(change, ""), "10375");
  EXPECT_EQ(um->updateUaa(change, "Z"), "10376");
  EXPECT_EQ(um->updateUaa(nullptr, "A"), "10377");
  EXPECT_EQ(um->updateUaa(change, "A"), "0");
  auto stored = asRecord(um->getUaa("A"));
  ASSERT_TRUE(stored) << "the key is not changed";
  EXPECT_EQ(stored->get("Name").toString(), "新");
  EXPECT_EQ(stored->get("Usr_No").toString(), "U2");
  EXPECT_EQ(stored->get("Position").toLong(), 6);
  EXPECT_EQ(stored->get("IsGobal").toLong(), 1) << "isGobal is not changed";

  valueOf(uai("A", "U1", "v"));
  const std::string row = uaiNo("A", "U1");
  EXPECT_EQ(um->updateUai(uai("B", "U2", "w"), ""), "10384");
  EXPECT_EQ(um->updateUai(uai("B", "U2", "w"), "999999"), "10385");
  EXPECT_EQ(um->updateUai(nullptr, row), "10386");
  EXPECT_EQ(um->updateUai(uai("B", "U2", "w"), row), "0");
  EXPECT_EQ(text("select usr_no from umUsrAddInst where uai_no=" + row).toString(), "U2");
  EXPECT_EQ(text("select uaa_no from umUsrAddInst where uai_no=" + row).toString(), "B");
  EXPECT_EQ(text("select uai_value from umUsrAddInst where uai_no=" + row).toString(), "w");

  defineOrg(oaa("A", "O1", "旧"));
  auto moved = oaa("A2", "O2", "新");
  moved->set("Position", "9,9");
  moved->set("Data_type", "3");
  moved->set("IsNull", "0");
  EXPECT_EQ(um->updateOaa(moved, ""), "10314");
  EXPECT_EQ(um->updateOaa(moved, "Z"), "10315");
  EXPECT_EQ(um->updateOaa(nullptr, "A"), "10316");
  EXPECT_EQ(um->updateOaa(moved, "A"), "0");
  EXPECT_TRUE(um->getOaa("A").isNothing()) << "the key is among the columns";
  stored = asRecord(um->getOaa("A2"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->get("Name").toString(), "新");
  EXPECT_EQ(stored->get("Org_No").toString(), "O2");
  EXPECT_EQ(stored->get("Data_type").toLong(), 3);
  EXPECT_EQ(stored->get("Position").toString(), "0,0,0,0,0,0,0,0") << "position is not changed";

  valueOf(oai("A2", "O2", "v"));
  EXPECT_EQ(um->updateOai(oai("A2", "", "w")), "10324");
  EXPECT_EQ(um->updateOai(oai("", "O2", "w")), "10324");
  EXPECT_EQ(um->updateOai(oai("A2", "O9", "w")), "10325");
  EXPECT_EQ(um->updateOai(nullptr), "10326");
  EXPECT_EQ(text("select oai_value from umOrgAddInst").toString(), "v");
  EXPECT_EQ(um->updateOai(oai("A2", "O2", "w")), "0");
  EXPECT_EQ(text("select oai_value from umOrgAddInst").toString(), "w");
}

TEST_P(ExtAttributesTest, DeleteCodesAndWhatGoes) {
  defineUser(uaa("A", "U1", "a"));
  defineOrg(oaa("A", "O1", "a"));
  for (const char* usr : {"U1", "U2"})
    for (const char* def : {"A", "B"}) valueOf(uai(def, usr, "v"));
  for (const char* org : {"O1", "O2"})
    for (const char* def : {"A", "B"}) valueOf(oai(def, org, "v"));

  EXPECT_EQ(um->delUaa(""), "10378");
  EXPECT_EQ(um->delUaa("A' or '1'='1"), "0");
  EXPECT_EQ(portal().count("umUsrAddAttr"), 1);
  EXPECT_EQ(um->delUaa("A"), "0");
  EXPECT_EQ(portal().count("umUsrAddAttr"), 0);
  EXPECT_EQ(portal().count("umUsrAddInst"), 4) << "the definition's values stay";
  EXPECT_EQ(um->delUai("", ""), "10387");
  EXPECT_EQ(um->delUai("A", "U2"), "0");
  EXPECT_EQ(portal().count("umUsrAddInst"), 3);
  EXPECT_EQ(um->delUai("", "U1"), "0") << "every value of the user";
  EXPECT_EQ(portal().count("umUsrAddInst"), 1);
  EXPECT_EQ(um->delUai("B", ""), "0") << "the definition's values of every user";
  EXPECT_EQ(portal().count("umUsrAddInst"), 0);

  EXPECT_EQ(um->delOaa(""), "10317");
  EXPECT_EQ(um->delOaa("A"), "0");
  EXPECT_EQ(portal().count("umOrgAddAttr"), 0);
  EXPECT_EQ(portal().count("umOrgAddInst"), 4);
  EXPECT_EQ(um->delOai("", ""), "10329");
  EXPECT_EQ(um->delOai("A", "O2' or '1'='1"), "0");
  EXPECT_EQ(portal().count("umOrgAddInst"), 4);
  EXPECT_EQ(um->delOai("A", "O2"), "0");
  EXPECT_EQ(um->delOai("", "O1"), "0");
  EXPECT_EQ(portal().count("umOrgAddInst"), 1);
  EXPECT_EQ(um->delOai("B", ""), "0");
  EXPECT_EQ(portal().count("umOrgAddInst"), 0);

  // A failing statement gives each delete's last code.
  for (const char* table : {"umUsrAddAttr", "umUsrAddInst", "umOrgAddAttr", "umOrgAddInst"})
    portal().exec(std::string("drop table ") + table);
  EXPECT_EQ(um->delUaa("A"), "10380");
  EXPECT_EQ(um->delUai("A", ""), "10389");
  EXPECT_EQ(um->delOaa("A"), "10319");
  EXPECT_EQ(um->delOai("A", ""), "10329");
}

TEST_P(ExtAttributesTest, UserReadsListsAndTheJoinedRead) {
  defineUser(uaa("G", "0", "全体"));
  defineUser(uaa("A", "U1", "自己"));
  defineUser(uaa("B", "U2", "别人"));
  EXPECT_EQ(sorted(keysOf(um->getUaaOfUsr("U1"))), (std::vector<std::string>{"UAAA", "UAAG"}));
  EXPECT_EQ(keysOf(um->getUaaOfUsr("")), std::vector<std::string>{"UAAG"}) << "the global definitions";
  EXPECT_EQ(keysOf(um->getUaaOfUsr("U1' or '1'='1")), std::vector<std::string>{"UAAG"});
  EXPECT_EQ(item(um->getUaaOfUsr("U1"), "UAAA")->get("Name").toString(), "自己");

  valueOf(uai("X", "U1", "g"));
  valueOf(uai("A", "U1", "a"));
  valueOf(uai("G", "U2", "other"));
  // A changed row may move in the table; the list keeps the order of adding.
  ASSERT_EQ(um->updateUai(uai("G", "U1", "g2"), uaiNo("X", "U1")), "0");
  EXPECT_EQ(keysOf(um->getUaiOfUsr("U1")), (std::vector<std::string>{"UAAGUSRU1", "UAAAUSRU1"}));
  EXPECT_EQ(item(um->getUaiOfUsr("U1"), "UAAGUSRU1")->get("Uai_Value").toString(), "g2");
  EXPECT_TRUE(um->getUaiOfUsr("").isNothing()) << "no user, no collection";
  ASSERT_TRUE(asList(um->getUaiOfUsr("U9")));
  EXPECT_EQ(asList(um->getUaiOfUsr("U9"))->Count(), 0);

  auto one = asRecord(um->getUai("A", "U1"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->get("Uai_Value").toString(), "a");
  EXPECT_TRUE(um->getUai("", "U1").isNothing());
  EXPECT_TRUE(um->getUai("A", "U2").isNothing());
  EXPECT_TRUE(um->getUaa("").isNothing());
  EXPECT_TRUE(um->getUaa("Z").isNothing());

  EXPECT_TRUE(um->getUsrAddOfUsr("").isNothing());
  ASSERT_TRUE(asList(um->getUsrAddOfUsr("U9")));
  EXPECT_EQ(asList(um->getUsrAddOfUsr("U9"))->Count(), 0);
  auto joined = um->getUsrAddOfUsr("U1");
  ASSERT_EQ(sorted(keysOf(joined)), (std::vector<std::string>{"UADA", "UADG"}));
  auto global = item(joined, "UADG");
  EXPECT_EQ(global->recordClass().name, "cUmUsrAddress");
  EXPECT_EQ(global->get("Usr_No").toString(), "0") << "the definition's owner, not the value's";
  EXPECT_EQ(global->get("Name").toString(), "全体");
  EXPECT_EQ(global->get("Uai_Value").toString(), "g2");
  EXPECT_EQ(global->get("IsNull").toLong(), 1);
  EXPECT_EQ(item(joined, "UADA")->get("Usr_No").toString(), "U1");
}

TEST_P(ExtAttributesTest, OrgReadsListsAndTheJoinedRead) {
  defineOrg(oaa("G", "0", "全体"));
  defineOrg(oaa("A", "O1", "自己"));
  defineOrg(oaa("B", "O2", "别人"));
  EXPECT_EQ(sorted(keysOf(um->getOaaOfOrg("O1"))), (std::vector<std::string>{"OAAA", "OAAG"}));
  EXPECT_EQ(keysOf(um->getOaaOfOrg("")), std::vector<std::string>{"OAAG"});
  EXPECT_EQ(item(um->getOaaOfOrg("O1"), "OAAG")->get("Position").toString(), "0,0,0,0,0,0,0,0");

  valueOf(oai("G", "O1", "g"));
  valueOf(oai("A", "O1", "a"));
  valueOf(oai("G", "O2", "other"));
  EXPECT_EQ(sorted(keysOf(um->getOaiOfOrg("O1"))), (std::vector<std::string>{"OAAAORGO1", "OAAGORGO1"}));
  ASSERT_TRUE(asList(um->getOaiOfOrg("")));
  EXPECT_EQ(asList(um->getOaiOfOrg(""))->Count(), 0) << "the values of organisation \"\"";
  auto one = asRecord(um->getOai("G", "O2"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->get("Oai_Value").toString(), "other");
  EXPECT_TRUE(um->getOai("G", "").isNothing());
  EXPECT_TRUE(um->getOai("", "O1").isNothing());
  EXPECT_TRUE(um->getOai("B", "O1").isNothing());
  EXPECT_TRUE(um->getOaa("").isNothing());

  EXPECT_TRUE(um->getOrgAddOfOrg("").isNothing());
  ASSERT_TRUE(asList(um->getOrgAddOfOrg("O9")));
  EXPECT_EQ(asList(um->getOrgAddOfOrg("O9"))->Count(), 0);
  auto joined = um->getOrgAddOfOrg("O1");
  ASSERT_EQ(sorted(keysOf(joined)), (std::vector<std::string>{"OADA", "OADG"}));
  auto global = item(joined, "OADG");
  EXPECT_EQ(global->recordClass().name, "cUmOrgAddress");
  EXPECT_EQ(global->get("Org_No").toString(), "0") << "the definition's owner, not the value's";
  EXPECT_EQ(global->get("Oai_Value").toString(), "g");
  EXPECT_EQ(global->get("Position").toString(), "0,0,0,0,0,0,0,0");
}

TEST_P(ExtAttributesTest, LateBoundMembers) {
  auto obj = [](const RecordPtr& r) { return Variant(std::static_pointer_cast<com::Object>(r)); };
  com::Args add{obj(uaa({}, "0", "全体")), Variant()};
  ASSERT_EQ(um->invoke("addUaa", com::MemberKind::Method, add).toString(), "0");
  EXPECT_EQ(add[1].toString().rfind("UAA_", 0), 0u) << "the key is written back";
  com::Args addOrg{obj(oaa("A", "O1", "a"))};
  EXPECT_EQ(um->invoke("addOaa", com::MemberKind::Method, addOrg).toString(), "0") << "the key argument is optional";
  com::Args value{obj(uai(add[1], "U1", "v"))};
  EXPECT_EQ(um->invoke("addUai", com::MemberKind::Method, value).toString(), "0");
  com::Args wrong{obj(oai("A", "O1", "v"))};
  EXPECT_ANY_THROW(um->invoke("addUai", com::MemberKind::Method, wrong)) << "a record of another class";
  com::Args none;
  EXPECT_EQ(keysOf(um->invoke("getUaaOfUsr", com::MemberKind::Method, none)).size(), 1u);
  EXPECT_TRUE(um->invoke("getOrgAddOfOrg", com::MemberKind::Method, none).isNothing());
  com::Args usr{Variant("U1")};
  EXPECT_EQ(keysOf(um->invoke("getUsrAddOfUsr", com::MemberKind::Method, usr)),
            std::vector<std::string>{"UAD" + add[1].toString()});

  // No member of UmMgt answers "not implemented" any more.
  for (const std::string& name : um->classInfo().memberNames()) {
    const com::MemberInfo* m = um->classInfo().find(name, com::MemberKind::Method);
    ASSERT_TRUE(m) << name;
    com::Args args;
    for (const auto& p : m->params)
      if (!p.optional) args.push_back(p.kind == com::VarType::Object ? Variant::nothing() : Variant("1"));
    try {
      um->invoke(name, com::MemberKind::Method, args);
    } catch (const com::ComError& e) {
      EXPECT_NE(e.number(), com::kNotImplemented) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, ExtAttributesTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
