#include <gtest/gtest.h>

#include "mgt/app/app_mgt.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/records.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using testing::PortalTest;

RecordPtr app(const Variant& no, const Variant& name, const Variant& disc = {}) {
  RecordPtr r = records::newRecord("cApp");
  r->set("App_No", no);
  r->set("Name", name);
  r->set("Disc", disc);
  return r;
}

RecordPtr res(const Variant& no, const Variant& appNo, const Variant& name) {
  RecordPtr r = records::newRecord("cAppRes");
  r->set("Res_no", no);
  r->set("App_No", appNo);
  r->set("Name", name);
  return r;
}

using testing::asList;
using testing::asRecord;

class ApplicationTest : public PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    mgt = std::dynamic_pointer_cast<AppMgt>(com::CreateObject("TivelMgt.AppMgt"));
    ASSERT_TRUE(mgt);
  }
  std::string add(const RecordPtr& r) {
    Variant key;
    return mgt->addApp(r, key);
  }
  std::shared_ptr<AppMgt> mgt;
};

TEST_P(ApplicationTest, AddChecksNameThenKeyButNotNameUse) {
  Variant key;
  EXPECT_EQ(mgt->addApp(app("A1", ""), key), "10031001");
  EXPECT_TRUE(key.isEmpty()) << "no key handed back on failure";
  EXPECT_EQ(portal().count("App"), 0);

  ASSERT_EQ(mgt->addApp(app("A1", "稿费"), key), "0");
  EXPECT_EQ(key.toString(), "A1");
  EXPECT_EQ(mgt->addApp(app("A1", "另一个"), key), "10031002") << "key already used";
  EXPECT_EQ(add(app("A2", "稿费")), "0") << "names need not be unique";
  EXPECT_EQ(portal().count("App", "name='稿费'"), 2);
  EXPECT_TRUE(portal().scalar("select disc from App where App_no='A1'").isNull()) << "empty Disc stores NULL";
}

TEST_P(ApplicationTest, AddGeneratesAnAppKeyForAnEmptyOrNullKey) {
  Variant key;
  ASSERT_EQ(mgt->addApp(app({}, "一"), key), "0");
  const std::string first = key.toString();
  EXPECT_EQ(first.rfind("App_", 0), 0u) << first;
  EXPECT_EQ(portal().count("App", "App_no='" + first + "'"), 1);
  ASSERT_EQ(mgt->addApp(app(Variant::null(), "二"), key), "0");
  EXPECT_NE(key.toString(), first);
  EXPECT_EQ(key.toString().rfind("App_", 0), 0u);
  EXPECT_EQ(portal().count("App"), 2);
}

TEST_P(ApplicationTest, NullValuesAndMissingRecordEndInTheTrap) {
  Variant key;
  EXPECT_EQ(mgt->addApp(app("N1", Variant::null()), key), "10031003") << "a null Name passes the test, then fails";
  EXPECT_EQ(mgt->addApp(app("N2", "名", Variant::null()), key), "10031003");
  EXPECT_EQ(mgt->addApp(nullptr, key), "10031003");
  EXPECT_EQ(portal().count("App"), 0);
}

TEST_P(ApplicationTest, DescriptionWithQuotesIsStoredAsGiven) {
  ASSERT_EQ(add(app("Q", "O'Neil", "it's 'quoted'")), "0");
  auto rec = asRecord(mgt->getApp("Q"));
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->get("Name").toString(), "O'Neil");
  EXPECT_EQ(rec->get("Disc").toString(), "it's 'quoted'");
}

TEST_P(ApplicationTest, UpdateWritesTheRecordAsItIs) {
  ASSERT_EQ(add(app("A", "旧", "说明")), "0");
  ASSERT_EQ(add(app("B", "别的")), "0");
  EXPECT_EQ(mgt->updateApp(app("A", "新"), ""), "10031011");
  EXPECT_EQ(mgt->updateApp(app("A", "新"), "missing"), "10031012");

  // An empty Disc is written as it is (no NULL default on update); a Null one as NULL.
  EXPECT_EQ(mgt->updateApp(app("A", "新", Variant::null()), "A"), "0");
  EXPECT_EQ(portal().scalar("select name from App where App_no='A'").toString(), "新");
  EXPECT_TRUE(portal().scalar("select disc from App where App_no='A'").isNull());

  // The key field is in the list: a different App_No moves the row.
  EXPECT_EQ(mgt->updateApp(app("A9", "移动", "d"), "A"), "0");
  EXPECT_EQ(portal().count("App", "App_no='A'"), 0);
  EXPECT_EQ(portal().scalar("select disc from App where App_no='A9'").toString(), "d");
  EXPECT_EQ(portal().scalar("select name from App where App_no='B'").toString(), "别的");
}

TEST_P(ApplicationTest, DeleteRemovesOnlyTheApplicationRow) {
  ASSERT_EQ(add(app("A", "应用")), "0");
  Variant key;
  ASSERT_EQ(mgt->addRes(res("R1", "A", "资源"), key), "0");
  EXPECT_EQ(mgt->delApp(""), "10031021");
  EXPECT_EQ(mgt->delApp("missing"), "0");
  EXPECT_EQ(mgt->delApp("A"), "0");
  EXPECT_EQ(portal().count("App"), 0);
  EXPECT_EQ(portal().count("AppRes"), 1) << "its resources stay";
}

TEST_P(ApplicationTest, AllApplicationsInAscendingKeyOrderOrNothing) {
  EXPECT_TRUE(mgt->getAllApp().isNothing()) << "an empty table gives nothing, not an empty collection";
  ASSERT_EQ(add(app("C3", "丙")), "0");
  ASSERT_EQ(add(app("A1", "甲", "第一")), "0");
  ASSERT_EQ(add(app("B2", "乙")), "0");
  auto list = asList(mgt->getAllApp());
  ASSERT_TRUE(list);
  auto entries = list->entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].first, "AppA1");
  EXPECT_EQ(entries[1].first, "AppB2");
  EXPECT_EQ(entries[2].first, "AppC3");
  auto first = asRecord(entries[0].second);
  EXPECT_EQ(first->recordClass().name, "cApp");
  EXPECT_EQ(first->get("Name").toString(), "甲");
  EXPECT_EQ(first->get("Disc").toString(), "第一");
  EXPECT_TRUE(asRecord(entries[1].second)->get("Disc").isNull());
}

TEST_P(ApplicationTest, ReadOneByKey) {
  ASSERT_EQ(add(app("K", "名")), "0");
  EXPECT_TRUE(mgt->getApp("").isNothing());
  EXPECT_TRUE(mgt->getApp("nope").isNothing());
  auto rec = asRecord(mgt->getApp("K"));
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->get("App_No").toString(), "K");
}

TEST_P(ApplicationTest, HostileKeysNeverReachOtherRows) {
  ASSERT_EQ(add(app("A", "victim")), "0");
  const std::string hostile = "x' or '1'='1";
  EXPECT_TRUE(mgt->getApp(hostile).isNothing());
  EXPECT_EQ(mgt->updateApp(app("A", "changed"), hostile), "10031012");
  EXPECT_EQ(mgt->delApp(hostile), "0");
  EXPECT_EQ(portal().count("App"), 1);
  EXPECT_EQ(add(app(hostile, "hostile")), "0") << "a supplied key with quotes is stored as it is";
  EXPECT_EQ(asRecord(mgt->getApp(hostile))->get("Name").toString(), "hostile");
  EXPECT_EQ(add(app(hostile, "again")), "10031002");
}

TEST_P(ApplicationTest, BrokenTableGivesTheTrapCodes) {
  ASSERT_EQ(add(app("A", "应用")), "0");
  portal().exec("drop table App");
  EXPECT_EQ(add(app("B", "新")), "10031003");
  EXPECT_EQ(mgt->updateApp(app("A", "新"), "A"), "10031013");
  EXPECT_EQ(mgt->delApp("A"), "10031022");
  EXPECT_TRUE(mgt->getAllApp().isNothing());
  EXPECT_TRUE(mgt->getApp("A").isNothing()) << "getApp does not fail the call";
}

INSTANTIATE_TEST_SUITE_P(Engines, ApplicationTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
