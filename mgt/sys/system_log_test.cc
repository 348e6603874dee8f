#include <algorithm>
#include <chrono>
#include <ctime>
#include <set>

#include "mgt/sys/sys_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using sys_testing::asRecord;
using sys_testing::keysOf;
using sys_testing::rec;

RecordPtr entry(std::initializer_list<std::pair<const char*, Variant>> v) { return rec("cSysLog", v); }

// The yymmddhhmmss stamp of a log key made by the generator ("LOG_" stamp "_" R).
std::string stampOf(const std::string& key) { return key.substr(4, 12); }

class SystemLogTest : public sys_testing::SysTest {};

TEST_P(SystemLogTest, AddLogChecksTextThenKeyAndFillsDefaults) {
  Variant key;
  EXPECT_EQ(sys->addLog(entry({{"Mod_No", "M"}}), key), "10015001");
  EXPECT_EQ(portal().count("SysLog"), 0);

  ASSERT_EQ(sys->addLog(entry({{"Disc", "启动"}}), key), "0");
  const std::string k = key.toString();
  EXPECT_EQ(k.rfind("LOG_", 0), 0u) << k;
  const std::string row = " from SysLog where Log_no='" + k + "'";
  EXPECT_TRUE(portal().scalar("select WDateTime" + row).isNull());
  EXPECT_EQ(portal().scalar("select Mod_no" + row).toString(), "0");
  EXPECT_EQ(portal().scalar("select Mod_name" + row).toString(), "sys");
  EXPECT_EQ(portal().scalar("select disc" + row).toString(), "启动");
  EXPECT_EQ(portal().scalar("select Log_Type" + row).toLong(), 0);
  EXPECT_EQ(portal().scalar("select Msg_Type" + row).toLong(), 0);

  // A key the caller supplies is never replaced: a used one is reported.
  EXPECT_EQ(sys->addLog(entry({{"Log_No", k}, {"Disc", "again"}}), key), "10015002");
  EXPECT_EQ(sys->addLog(entry({{"Log_No", "X"}, {"Disc", "t"}, {"WdateTime", Variant::null()}}), key), "10015003");
  EXPECT_EQ(sys->addLog(entry({{"Log_No", "X"}, {"Disc", Variant::null()}}), key), "10015003");
  EXPECT_EQ(portal().count("SysLog"), 1);
}

TEST_P(SystemLogTest, WriteLogRefusesAnEmptyText) {
  EXPECT_FALSE(sys->WriteLog("M", "费用", ""));
  EXPECT_EQ(portal().count("SysLog"), 0);
}

TEST_P(SystemLogTest, WriteLogStoresTheCurrentTimeAsText) {
  const com::DateTime before = com::DateTime::now();
  ASSERT_TRUE(sys->WriteLog("M1", "费用", "admin登录成功！", 1, 2));
  const com::DateTime after = com::DateTime::now();

  auto all = keysOf(sys->getAllLog());
  ASSERT_EQ(all.size(), 1u);
  const std::string k = all[0].substr(3);
  EXPECT_EQ(k.rfind("LOG_", 0), 0u) << k;
  const std::string row = " from SysLog where Log_no='" + k + "'";
  Variant stored = portal().scalar("select WDateTime" + row);
  ASSERT_TRUE(stored.isString()) << "stored as text";
  com::DateTime when;
  ASSERT_TRUE(com::DateTime::parse(stored.toString(), &when)) << stored.toString();
  EXPECT_LE(before, when);
  EXPECT_LE(when, after);
  EXPECT_EQ(portal().scalar("select Mod_no" + row).toString(), "M1");
  EXPECT_EQ(portal().scalar("select Mod_name" + row).toString(), "费用");
  EXPECT_EQ(portal().scalar("select disc" + row).toString(), "admin登录成功！");
  EXPECT_EQ(portal().scalar("select Log_Type" + row).toLong(), 1);
  EXPECT_EQ(portal().scalar("select Msg_Type" + row).toLong(), 2);

  // Read back through the component, the time is the stored text unchanged.
  auto r = asRecord(sys->getLog(k));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("WdateTime").toString(), stored.toString());
}

TEST_P(SystemLogTest, AHundredEntriesWrittenTogetherAreAllStored) {
  const auto start = std::chrono::steady_clock::now();
  int stored = 0;
  for (int i = 0; i < 100; ++i) stored += sys->WriteLog("0", "sys", "entry " + std::to_string(i)) ? 1 : 0;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(stored, 100) << "in " << seconds << " s";
  EXPECT_EQ(portal().count("SysLog"), 100);

  std::set<std::string> perSecond;
  for (const auto& key : keysOf(sys->getAllLog())) perSecond.insert(stampOf(key.substr(3)));
  EXPECT_LT(perSecond.size(), 100u) << "entries shared a second, so their keys differ only in the random part";
}

// Another writer (another process) holds a third of the random parts of the
// coming seconds: the keys drawn here collide with them and are drawn again.
TEST_P(SystemLogTest, KeysTakenByAnotherWriterAreDrawnAgain) {
  constexpr int kSeconds = 8;
  long taken = 0;
  const std::time_t now = std::time(nullptr);
  for (int s = 0; s < kSeconds; ++s) {
    std::time_t t = now + s;
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%y%m%d%H%M%S", &tm);
    std::string sql = "insert into SysLog(Log_no,disc) values ";
    for (int r = 100; r <= 1098; r += 3) {
      sql += std::string(r == 100 ? "" : ",") + "('LOG_" + stamp + "_" + std::to_string(r) + "','taken')";
      ++taken;
    }
    portal().exec(sql);
  }
  int stored = 0;
  for (int i = 0; i < 100; ++i) stored += sys->WriteLog("0", "sys", "mine") ? 1 : 0;
  EXPECT_EQ(stored, 100);
  EXPECT_EQ(portal().count("SysLog", "disc='mine'"), 100);
  EXPECT_EQ(portal().count("SysLog", "disc='taken'"), taken) << "no entry of the other writer was touched";
}

TEST_P(SystemLogTest, ReadUpdateAndDelete) {
  EXPECT_TRUE(sys->getAllLog().isNothing()) << "an empty log is nothing";
  Variant key;
  ASSERT_EQ(sys->addLog(entry({{"Log_No", "L1"}, {"Disc", "一"}, {"WdateTime", "2026-12-07 08:00:00"}}), key), "0");
  ASSERT_EQ(sys->addLog(entry({{"Log_No", "L2"}, {"Disc", "二"}, {"Log_Type", "3"}}), key), "0");
  auto keys = keysOf(sys->getAllLog());
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"LogL1", "LogL2"}));
  EXPECT_TRUE(sys->getLog("").isNothing());
  EXPECT_TRUE(sys->getLog("missing").isNothing());
  auto r = asRecord(sys->getLog("L2"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("Log_Type").toLong(), 3);
  EXPECT_EQ(r->get("Mod_Name").toString(), "sys");

  EXPECT_EQ(sys->updateLog(entry({{"Log_No", "L1"}, {"Disc", "x"}}), ""), "10015011");
  EXPECT_EQ(sys->updateLog(entry({{"Log_No", "L1"}, {"Disc", "x"}}), "missing"), "10015012");
  ASSERT_EQ(sys->updateLog(entry({{"Log_No", "L1"},
                                  {"WdateTime", "2026-12-07 09:30:00"},
                                  {"Disc", "改"},
                                  {"Log_Type", 1},
                                  {"Mod_Name", "费用"},
                                  {"Mod_No", "M"},
                                  {"Msg_Type", 2}}),
                           "L1"),
            "0");
  r = asRecord(sys->getLog("L1"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get("WdateTime").toString(), "2026-12-07 09:30:00");
  EXPECT_EQ(r->get("Disc").toString(), "改");
  EXPECT_EQ(r->get("Mod_No").toString(), "M");
  EXPECT_EQ(r->get("Msg_Type").toLong(), 2);

  EXPECT_EQ(sys->delLog(""), "10015021");
  EXPECT_EQ(sys->delLog("L1' or '1'='1"), "0");
  EXPECT_EQ(portal().count("SysLog"), 2);
  EXPECT_EQ(sys->delLog("L1"), "0");
  EXPECT_EQ(keysOf(sys->getAllLog()), (std::vector<std::string>{"LogL2"}));
}

INSTANTIATE_TEST_SUITE_P(Engines, SystemLogTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
