#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "mgt/app/app_mgt.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/records.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using testing::PortalTest;

RecordPtr res(const Variant& no, const Variant& appNo, const Variant& name, const Variant& top = {},
              const Variant& isRes = {}, const Variant& disc = {}) {
  RecordPtr r = records::newRecord("cAppRes");
  r->set("Res_no", no);
  r->set("App_No", appNo);
  r->set("Name", name);
  r->set("Disc", disc);
  r->set("Top_Res_No", top);
  r->set("IsRes", isRes);
  return r;
}

using testing::asList;
using testing::asRecord;

std::vector<std::string> keysOf(const Variant& v) {
  std::vector<std::string> keys;
  if (auto list = asList(v))
    for (const auto& entry : list->entries()) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class ResourceTest : public PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    mgt = std::dynamic_pointer_cast<AppMgt>(com::CreateObject("TivelMgt.AppMgt"));
    ASSERT_TRUE(mgt);
  }
  std::string add(const RecordPtr& r) {
    Variant key;
    return mgt->addRes(r, key);
  }
  // Application A: R1 (top) > R11, R12; R2 (top). Application B: B1 (top) > B11.
  void tree() {
    ASSERT_EQ(add(res("R1", "A", "一", "0", "1")), "0");
    ASSERT_EQ(add(res("R11", "A", "一一", "R1", "1")), "0");
    ASSERT_EQ(add(res("R12", "A", "一二", "R1")), "0");
    ASSERT_EQ(add(res("R2", "A", "二")), "0");
    ASSERT_EQ(add(res("B1", "B", "乙")), "0");
    ASSERT_EQ(add(res("B11", "B", "乙一", "B1")), "0");
  }
  std::shared_ptr<AppMgt> mgt;
};

TEST_P(ResourceTest, AddChecksNameThenApplicationThenKey) {
  Variant key;
  EXPECT_EQ(mgt->addRes(res("R", "", ""), key), "10032001") << "Name is tested first";
  EXPECT_EQ(mgt->addRes(res("R", "", "名"), key), "10032002");
  EXPECT_EQ(portal().count("AppRes"), 0);
  ASSERT_EQ(mgt->addRes(res("R", "A", "名"), key), "0");
  EXPECT_EQ(key.toString(), "R");
  EXPECT_EQ(mgt->addRes(res("R", "A", "另一个"), key), "10032003");
  EXPECT_EQ(add(res("R2", "A", "名")), "0") << "names need not be unique";
}

TEST_P(ResourceTest, AddFillsDefaultsAndGeneratesResKeys) {
  Variant key;
  ASSERT_EQ(mgt->addRes(res({}, "A", "名"), key), "0");
  const std::string k = key.toString();
  EXPECT_EQ(k.rfind("RES_", 0), 0u) << k;
  const std::string where = " from AppRes where Res_no='" + k + "'";
  EXPECT_TRUE(portal().scalar("select disc" + where).isNull());
  EXPECT_EQ(portal().scalar("select top_res_no" + where).toString(), "0");
  EXPECT_EQ(portal().scalar("select ISres" + where).toString(), "0");
  EXPECT_EQ(portal().scalar("select app_no" + where).toString(), "A");

  ASSERT_EQ(mgt->addRes(res(Variant::null(), "A", "二", "P", "1", "描述"), key), "0");
  const std::string where2 = " from AppRes where Res_no='" + key.toString() + "'";
  EXPECT_EQ(key.toString().rfind("RES_", 0), 0u);
  EXPECT_EQ(portal().scalar("select top_res_no" + where2).toString(), "P");
  EXPECT_EQ(portal().scalar("select ISres" + where2).toString(), "1");
  EXPECT_EQ(portal().scalar("select disc" + where2).toString(), "描述");
}

TEST_P(ResourceTest, NullValuesEndInTheTrapWithoutARow) {
  EXPECT_EQ(add(res("N1", "A", Variant::null())), "10032004");
  EXPECT_EQ(add(res("N2", Variant::null(), "名")), "10032004") << "a null App_No is not empty";
  EXPECT_EQ(add(res("N3", "A", "名", Variant::null())), "10032004");
  EXPECT_EQ(add(res("N4", "A", "名", {}, Variant::null())), "10032004");
  Variant key;
  EXPECT_EQ(mgt->addRes(nullptr, key), "10032004");
  EXPECT_EQ(portal().count("AppRes"), 0);
}

TEST_P(ResourceTest, UpdateWritesEveryListedField) {
  ASSERT_EQ(add(res("R", "A", "旧", "0", "0", "d")), "0");
  ASSERT_EQ(add(res("S", "A", "别的")), "0");
  EXPECT_EQ(mgt->updateRes(res("R", "A", "新"), ""), "10032011");
  EXPECT_EQ(mgt->updateRes(res("R", "A", "新"), "missing"), "10032012");

  EXPECT_EQ(mgt->updateRes(res("R", "B", "新", "S", "1", Variant::null()), "R"), "0");
  const std::string where = " from AppRes where Res_no='R'";
  EXPECT_EQ(portal().scalar("select name" + where).toString(), "新");
  EXPECT_EQ(portal().scalar("select app_no" + where).toString(), "B");
  EXPECT_EQ(portal().scalar("select top_res_no" + where).toString(), "S");
  EXPECT_EQ(portal().scalar("select ISres" + where).toString(), "1");
  EXPECT_TRUE(portal().scalar("select disc" + where).isNull());
  EXPECT_EQ(portal().scalar("select name from AppRes where Res_no='S'").toString(), "别的");

  EXPECT_EQ(mgt->updateRes(res("R2", "B", "移动"), "R"), "0") << "the key field moves the row";
  EXPECT_EQ(portal().count("AppRes", "Res_no='R'"), 0);
  EXPECT_EQ(portal().count("AppRes", "Res_no='R2'"), 1);
}

TEST_P(ResourceTest, DeleteRemovesOnlyTheResourceRow) {
  tree();
  EXPECT_EQ(mgt->delRes(""), "10032021");
  EXPECT_EQ(mgt->delRes("missing"), "0");
  EXPECT_EQ(mgt->delRes("R1"), "0");
  EXPECT_EQ(portal().count("AppRes"), 5) << "its children stay";
  EXPECT_EQ(portal().count("AppRes", "Res_no='R11'"), 1);
}

TEST_P(ResourceTest, ResourcesOfOneApplicationOrOfAll) {
  EXPECT_TRUE(mgt->getResOfApp("").isNothing()) << "an empty table gives nothing";
  tree();
  EXPECT_EQ(keysOf(mgt->getResOfApp("B")), (std::vector<std::string>{"ResB1", "ResB11"}));
  EXPECT_EQ(keysOf(mgt->getResOfApp("")),
            (std::vector<std::string>{"ResB1", "ResB11", "ResR1", "ResR11", "ResR12", "ResR2"}))
      << "without an argument every resource of every application";
  EXPECT_TRUE(mgt->getResOfApp("C").isNothing());

  auto list = asList(mgt->getResOfApp("B"));
  ASSERT_TRUE(list);
  for (const auto& [key, item] : list->entries()) {
    auto rec = asRecord(item);
    EXPECT_EQ(rec->recordClass().name, "cAppRes");
    EXPECT_EQ(key, "Res" + rec->get("Res_no").toString());
    EXPECT_EQ(rec->get("App_No").toString(), "B");
    EXPECT_EQ(rec->get("IsRes").toString(), "0");
  }
}

TEST_P(ResourceTest, ReadOneResource) {
  tree();
  EXPECT_TRUE(mgt->getRes("").isNothing());
  EXPECT_TRUE(mgt->getRes("missing").isNothing()) << "absence is not a failure";
  auto rec = asRecord(mgt->getRes("R11"));
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->get("Res_no").toString(), "R11");
  EXPECT_EQ(rec->get("App_No").toString(), "A");
  EXPECT_EQ(rec->get("Name").toString(), "一一");
  EXPECT_EQ(rec->get("Top_Res_No").toString(), "R1");
  EXPECT_EQ(rec->get("IsRes").toString(), "1");
  EXPECT_TRUE(rec->get("Disc").isNull());
}

TEST_P(ResourceTest, IsResOnlyForAStoredOne) {
  tree();
  EXPECT_TRUE(mgt->isRes("R1"));
  EXPECT_FALSE(mgt->isRes("R12")) << "default flag 0";
  EXPECT_FALSE(mgt->isRes("missing"));
  EXPECT_FALSE(mgt->isRes(""));
  ASSERT_EQ(add(res("T2", "A", "二", {}, "2")), "0");
  EXPECT_FALSE(mgt->isRes("T2"));
  ASSERT_EQ(add(res("TX", "A", "文", {}, "yes")), "0");
  EXPECT_FALSE(mgt->isRes("TX")) << "a text that is no number is not 1";
  ASSERT_EQ(mgt->updateRes(res("R1", "A", "一", "0", Variant::null()), "R1"), "0");
  EXPECT_FALSE(mgt->isRes("R1")) << "a NULL flag is not 1";
}

TEST_P(ResourceTest, ParentOfAResource) {
  tree();
  auto parent = asRecord(mgt->getTopResOfRes("R11"));
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->get("Res_no").toString(), "R1");
  EXPECT_EQ(parent->get("Name").toString(), "一");
  EXPECT_TRUE(mgt->getTopResOfRes("R1").isNothing()) << "parent \"0\" names no row";
  EXPECT_TRUE(mgt->getTopResOfRes("missing").isNothing());

  ASSERT_EQ(add(res("0", "A", "零")), "0");
  auto zero = asRecord(mgt->getTopResOfRes("R1"));
  ASSERT_TRUE(zero) << "unless a resource with key \"0\" exists";
  EXPECT_EQ(zero->get("Name").toString(), "零");
}

TEST_P(ResourceTest, ParentWithEmptyArgumentReadsTheFirstRowOfTheTable) {
  EXPECT_TRUE(mgt->getTopResOfRes("").isNothing()) << "an empty table has no first row";
  // One row whose parent is itself: the first row of the whole table is it,
  // and so is its parent.
  ASSERT_EQ(add(res("S", "A", "自身", "S")), "0");
  auto self = asRecord(mgt->getTopResOfRes(""));
  ASSERT_TRUE(self);
  EXPECT_EQ(self->get("Res_no").toString(), "S");
}

TEST_P(ResourceTest, NullParentFailsTheCall) {
  ASSERT_EQ(add(res("C", "A", "子", "P")), "0");
  ASSERT_EQ(mgt->updateRes(res("C", "A", "子", Variant::null()), "C"), "0");
  try {
    mgt->getTopResOfRes("C");
    ADD_FAILURE() << "a NULL parent key must fail the call";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), -1);
    EXPECT_EQ(e.source(), "TivelMgt.AppMgt.getTopResOfRes");
    EXPECT_FALSE(e.description().empty());
  }
}

TEST_P(ResourceTest, ChildrenWithinOneApplication) {
  tree();
  EXPECT_EQ(keysOf(mgt->getSonResOfRes("A", "R1")), (std::vector<std::string>{"ResR11", "ResR12"}));
  EXPECT_EQ(keysOf(mgt->getSonResOfRes("A", "0")), (std::vector<std::string>{"ResR1", "ResR2"}))
      << "\"0\" lists the application's top resources";
  EXPECT_EQ(keysOf(mgt->getSonResOfRes("B", "0")), (std::vector<std::string>{"ResB1"}));
  EXPECT_TRUE(mgt->getSonResOfRes("B", "R1").isNothing()) << "the children belong to A";
  EXPECT_TRUE(mgt->getSonResOfRes("A", "R11").isNothing()) << "no children gives nothing";
  EXPECT_TRUE(mgt->getSonResOfRes("A", "0' or '1'='1").isNothing());
}

TEST_P(ResourceTest, UnreadableResourceTableFailsTheCallButNotIsRes) {
  tree();
  portal().exec("drop table AppRes");
  try {
    mgt->getRes("R1");
    ADD_FAILURE() << "getRes must fail the call";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), -1);
    EXPECT_EQ(e.source(), "TivelMgt.AppMgt.getRes");
    EXPECT_NE(lower(e.description()).find("appres"), std::string::npos)
        << "the database's own description: " << e.description();
  }
  EXPECT_FALSE(mgt->isRes("R1"));
  EXPECT_THROW(mgt->getTopResOfRes("R11"), com::ComError);
  EXPECT_TRUE(mgt->getResOfApp("A").isNothing());
  EXPECT_TRUE(mgt->getSonResOfRes("A", "0").isNothing());
  Variant key;
  EXPECT_EQ(mgt->addRes(res("R9", "A", "名"), key), "10032004");
  EXPECT_EQ(mgt->updateRes(res("R1", "A", "名"), "R1"), "10032013");
  EXPECT_EQ(mgt->delRes("R1"), "10032022");

  // Late-bound callers see the same failure.
  try {
    mgt->call("getRes", {Variant("R1")});
    ADD_FAILURE() << "late-bound getRes must fail the call";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), -1);
    EXPECT_EQ(e.source(), "TivelMgt.AppMgt.getRes");
  }
  EXPECT_EQ(mgt->call("isRes", {Variant("R1")}), Variant(false));
}

TEST_P(ResourceTest, HostileKeysNeverReachOtherRows) {
  tree();
  const std::string hostile = "x' or '1'='1";
  EXPECT_TRUE(mgt->getRes(hostile).isNothing());
  EXPECT_FALSE(mgt->isRes(hostile));
  EXPECT_TRUE(mgt->getTopResOfRes(hostile).isNothing());
  EXPECT_TRUE(mgt->getResOfApp(hostile).isNothing());
  EXPECT_EQ(mgt->updateRes(res("R1", "A", "changed"), hostile), "10032012");
  EXPECT_EQ(mgt->delRes(hostile), "0");
  EXPECT_EQ(portal().count("AppRes"), 6);
  EXPECT_EQ(add(res("R'q", "A'q", "引号", "R1")), "0");
  EXPECT_EQ(keysOf(mgt->getResOfApp("A'q")), (std::vector<std::string>{"ResR'q"}));
  EXPECT_EQ(asRecord(mgt->getTopResOfRes("R'q"))->get("Res_no").toString(), "R1");
}

INSTANTIATE_TEST_SUITE_P(Engines, ResourceTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
