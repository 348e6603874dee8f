#include <algorithm>

#include "mgt/sys/sys_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using sys_testing::asRecord;
using sys_testing::keysOf;
using sys_testing::rec;

RecordPtr err(std::initializer_list<std::pair<const char*, Variant>> v) { return rec("cSysErr", v); }

class ErrorCatalogueTest : public sys_testing::SysTest {};

TEST_P(ErrorCatalogueTest, AddErrChecksHelpTopicThenKeyAndFillsDefaults) {
  Variant key;
  EXPECT_EQ(sys->AddErr(err({{"Err_No", "E"}, {"Disc", "无主题"}}), key), "10014001");
  EXPECT_EQ(portal().count("SysErr"), 0);

  ASSERT_EQ(sys->AddErr(err({{"Hlp_No", "H1"}}), key), "0");
  const std::string k = key.toString();
  EXPECT_EQ(k.rfind("Err_", 0), 0u) << k;
  const std::string row = " from SysErr where err_no='" + k + "'";
  EXPECT_EQ(portal().scalar("select Hlp_no" + row).toString(), "H1");
  EXPECT_EQ(portal().scalar("select Err_Type" + row).toString(), "1");
  EXPECT_TRUE(portal().scalar("select disc" + row).isNull());
  EXPECT_EQ(portal().scalar("select isLog" + row).toLong(), 0);
  EXPECT_EQ(portal().scalar("select isVisibility" + row).toLong(), 1);

  EXPECT_EQ(sys->AddErr(err({{"Err_No", k}, {"Hlp_No", "H2"}}), key), "10014002");
  EXPECT_EQ(sys->AddErr(err({{"Err_No", "N"}, {"Hlp_No", Variant::null()}}), key), "10014003");
  // The help key goes through quoting too.
  ASSERT_EQ(sys->AddErr(err({{"Err_No", "Q"},
                             {"Hlp_No", "H'); delete from SysErr; --"},
                             {"Err_Type", "2"},
                             {"Disc", "密码错误"},
                             {"IsLog", "1"},
                             {"IsVisibility", int32_t{0}}}),
                        key),
            "0");
  EXPECT_EQ(portal().count("SysErr"), 2);
  auto r = asRecord(sys->getErr("Q"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Hlp_No").toString(), "H'); delete from SysErr; --");
  EXPECT_EQ(r->get("Err_Type").toString(), "2");
  EXPECT_EQ(r->get("Disc").toString(), "密码错误");
  EXPECT_EQ(r->get("IsLog").toLong(), 1);
  EXPECT_EQ(r->get("IsVisibility").toLong(), 0);
}

TEST_P(ErrorCatalogueTest, AllErrorsAreNothingWhenTheCatalogueIsEmpty) {
  EXPECT_TRUE(sys->getAllErr().isNothing());
  Variant key;
  ASSERT_EQ(sys->AddErr(err({{"Err_No", "E1"}, {"Hlp_No", "H"}}), key), "0");
  ASSERT_EQ(sys->AddErr(err({{"Err_No", "E2"}, {"Hlp_No", "H"}}), key), "0");
  auto keys = keysOf(sys->getAllErr());
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"ErrE1", "ErrE2"}));
}

TEST_P(ErrorCatalogueTest, ReadUpdateAndDelete) {
  Variant key;
  ASSERT_EQ(sys->AddErr(err({{"Err_No", "E"}, {"Hlp_No", "H"}}), key), "0");
  EXPECT_TRUE(sys->getErr("").isNothing());
  EXPECT_TRUE(sys->getErr("missing").isNothing());
  EXPECT_EQ(sys->updateErr(err({{"Err_No", "E"}, {"Hlp_No", "H"}}), ""), "10014011");
  EXPECT_EQ(sys->updateErr(err({{"Err_No", "E"}, {"Hlp_No", "H"}}), "E' or '1'='1"), "10014012");
  ASSERT_EQ(sys->updateErr(err({{"Err_No", "E"},
                                {"Hlp_No", "H9"},
                                {"Err_Type", "3"},
                                {"Disc", Variant::null()},
                                {"IsLog", 1},
                                {"IsVisibility", 0}}),
                           "E"),
            "0");
  auto r = asRecord(sys->getErr("E"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Hlp_No").toString(), "H9");
  EXPECT_EQ(r->get("Err_Type").toString(), "3");
  EXPECT_EQ(r->get("IsLog").toLong(), 1);
  EXPECT_EQ(r->get("IsVisibility").toLong(), 0);

  EXPECT_EQ(sys->delErr(""), "10014021");
  EXPECT_EQ(sys->delErr("missing"), "0");
  EXPECT_EQ(sys->delErr("E"), "0");
  EXPECT_TRUE(sys->getAllErr().isNothing());
}

INSTANTIATE_TEST_SUITE_P(Engines, ErrorCatalogueTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
