// The late-bound face of AppMgt: member order and argument handling.
#include <gtest/gtest.h>

#include <sstream>

#include "mgt/app/app_mgt.h"
#include "mgt/testing/portal.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using testing::PortalTest;

std::vector<std::string> words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

TEST(AppMgtInterface, ListsItsThirtySevenMembersInOrder) {
  const auto expected = words(
      "addApp addRes addRgt addAuth addRol addRol2Usr updateApp updateRes updateRgt setAuthOfUsr updateAuth "
      "updateRol delApp delRes delRgt delRgtOfRes delAuth delAuthOfRes delRol delRol2Usr getAllApp getRolOfApp "
      "getResOfApp getRol getRolName getRolOfUsr getApp getRes isRes getTopResOfRes getSonResOfRes getRgt "
      "getRgtOfRes getAuth getAuthOfUsr getAuthOfRes getUsrOfRol");
  ASSERT_EQ(expected.size(), 37u);
  const com::ClassInfo* c = com::findClass("TivelMgt.AppMgt");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->memberNames(), expected);
}

class AppMgtLateBoundTest : public PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    obj = com::CreateObject("TivelMgt.AppMgt");
    ASSERT_TRUE(obj);
  }
  Variant record(const char* cls, std::vector<std::pair<const char*, Variant>> values) {
    RecordPtr r = records::newRecord(cls);
    for (auto& [name, v] : values) r->set(name, v);
    return Variant(std::static_pointer_cast<com::Object>(r));
  }
  com::ObjectPtr obj;
};

TEST_P(AppMgtLateBoundTest, AddHandsTheKeyBackByReferenceOrNotAtAll) {
  com::Args args{record("cApp", {{"Name", Variant("应用")}}), Variant("")};
  EXPECT_EQ(obj->invoke("addApp", com::MemberKind::Method, args).toString(), "0");
  EXPECT_EQ(args[1].toString().rfind("App_", 0), 0u) << args[1].toString();

  EXPECT_EQ(obj->call("addApp", {record("cApp", {{"App_No", Variant("A2")}, {"Name", Variant("二")}})}).toString(), "0")
      << "the key argument is optional";
  EXPECT_EQ(portal().count("App"), 2);

  EXPECT_EQ(obj->call("addRes", {record("cAppRes", {{"Res_no", Variant("R")},
                                                    {"App_No", Variant("A2")},
                                                    {"Name", Variant("资源")},
                                                    {"IsRes", Variant(int32_t{1})}})})
                .toString(),
            "0");
  EXPECT_EQ(obj->call("isRes", {Variant("R")}), Variant(true)) << "a number 1 written as text reads back as 1";
  EXPECT_TRUE(obj->call("getResOfApp", {}).isObject()) << "the application argument is optional";
}

TEST_P(AppMgtLateBoundTest, RightsAndAuthorizationsThroughTheInterface) {
  com::Args add{
      record("cAppRgt", {{"Res_no", Variant("R")}, {"Bit_Nod", Variant(int32_t{2})}, {"Name", Variant("读")}}),
      Variant("")};
  EXPECT_EQ(obj->invoke("addRgt", com::MemberKind::Method, add).toString(), "0");
  EXPECT_EQ(add[1].toString(), "RESRBIT2");
  EXPECT_EQ(obj->call("getRgt", {Variant("R"), Variant("2")}).isObject(), true);
  EXPECT_EQ(obj->call("delRgt", {Variant("R"), Variant("2")}).toString(), "0")
      << "a numeric text is coerced to the bit node";
  EXPECT_EQ(portal().count("AppRgt"), 0);
  EXPECT_THROW(obj->call("delRgt", {Variant("R"), Variant("two")}), com::ComError) << "not a 16-bit integer";

  com::Args set{Variant("R"), Variant("3"), Variant("U1"), Variant("10")};
  EXPECT_EQ(obj->invoke("setAuthOfUsr", com::MemberKind::Method, set), Variant(true));
  EXPECT_EQ(set[0].toString(), "R");
  EXPECT_EQ(set[3].toString(), "10");
  EXPECT_EQ(obj->call("getAuthOfUsr", {Variant("R"), Variant("3"), Variant("U1")}).toString(), "10");
  com::Args del{Variant("R"), Variant("3"), Variant("U1")};
  EXPECT_EQ(obj->invoke("delAuth", com::MemberKind::Method, del).toString(), "0");
  EXPECT_EQ(del[1].toString(), "3");
  EXPECT_TRUE(obj->call("getAuthOfRes", {Variant("R")}).isNothing());
}

TEST_P(AppMgtLateBoundTest, RolesThroughTheInterfaceWithOptionalArguments) {
  EXPECT_TRUE(obj->call("getRolOfApp", {}).isNothing());
  EXPECT_TRUE(obj->call("getRolOfUsr", {}).isNothing());
  EXPECT_EQ(
      obj->call("addRol",
                {record("cAppRol", {{"Rol_No", Variant("L")}, {"App_No", Variant("A")}, {"Name", Variant("角色")}})})
          .toString(),
      "0");
  com::Args member{record("cAppRol2Usr", {{"Rol_No", Variant("L")}, {"Usr_No", Variant("U")}}), Variant("x")};
  EXPECT_EQ(obj->invoke("addRol2Usr", com::MemberKind::Method, member).toString(), "0");
  EXPECT_EQ(member[1].toString(), "") << "the identifier argument receives the empty string";
  EXPECT_TRUE(obj->call("getRolOfApp", {}).isObject());
  EXPECT_EQ(obj->call("getRolName", {Variant("L")}).toString(), "角色");
  EXPECT_EQ(obj->call("delRol2Usr", {}).toString(), "10033121");
  EXPECT_EQ(obj->call("delRol2Usr", {Variant("L")}).toString(), "0");
  EXPECT_EQ(portal().count("AppRol2Usr"), 0);
}

TEST_P(AppMgtLateBoundTest, NoMemberIsLeftUnbuilt) {
  for (const std::string& name : obj->classInfo().memberNames()) {
    const com::MemberInfo* m = obj->classInfo().find(name, com::MemberKind::Method);
    ASSERT_TRUE(m) << name;
    com::Args args;
    for (const auto& p : m->params)
      if (!p.optional) args.push_back(p.kind == com::VarType::Object ? Variant::nothing() : Variant("1"));
    try {
      obj->invoke(name, com::MemberKind::Method, args);
    } catch (const com::ComError& e) {
      EXPECT_NE(e.number(), com::kNotImplemented) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, AppMgtLateBoundTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
