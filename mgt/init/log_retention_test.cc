#include "mgt/init/log_retention.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mgt/testing/portal.h"
#include "platform/profile/daily_log.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

class LogRetentionTest : public testing::PortalTest {};

// Entries before the date go, batch by batch (each its own transaction);
// those at or after it and those without a time stay.
TEST_P(LogRetentionTest, PrunesTheSystemLogInBatches) {
  portal().db().inTransaction([&] {
    for (int i = 0; i < 2500; ++i)
      portal().exec("insert into SysLog(Log_no,WDateTime,disc) values('LOG_" + std::to_string(i) + "','2026-0" +
                    std::to_string(1 + i % 3) + "-15 08:00:00','条目')");
    portal().exec("insert into SysLog(Log_no,WDateTime,disc) values('LOG_NULL',NULL,'x')");
  });
  std::vector<long> totals;
  com::DateTime before;
  ASSERT_TRUE(com::DateTime::parse("2026-03-01", &before));
  const long expected = portal().count("SysLog", "WDateTime < '2026-03-01'");
  EXPECT_EQ(pruneSystemLog(portal().db(), before, 700, [&](long total) { totals.push_back(total); }), expected);
  EXPECT_EQ(totals, (std::vector<long>{700, 1400, expected}));
  EXPECT_EQ(portal().count("SysLog"), 2501 - expected);
  EXPECT_EQ(portal().count("SysLog", "WDateTime < '2026-03-01'"), 0);
  EXPECT_EQ(pruneSystemLog(portal().db(), before, 700), 0);
  EXPECT_THROW(pruneSystemLog(portal().db(), before, 0), com::ComError);
}

INSTANTIATE_TEST_SUITE_P(Engines, LogRetentionTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

// [Log] keep_days keeps that many days of a prefix's files, today's
// included, removed when a day's first line is written; other prefixes and
// files stay; no setting keeps everything.
TEST(DailyLogRetention, KeepsTheLastDaysOfEachPrefix) {
  tivel::testing::TempDir root;
  namespace fs = std::filesystem;
  const std::string log = root.path() + "/log";
  fs::create_directories(log);
  fs::create_directories(root.path() + "/ini");
  for (const char* name : {"log20261130.txt", "log20261201.txt", "log20261207.txt", "log20261208.txt",
                           "logScrivane20261130.txt", "log2026113.txt", "notes.txt"})
    std::ofstream(log + "/" + name) << "x\n";
  com::DateTime today;
  ASSERT_TRUE(com::DateTime::parse("2026-12-09 00:00:01", &today));
  profile::appendDailyLog(root.path() + "/bin/../log", "log", today, "a\r\n", "test");
  EXPECT_EQ(fs::exists(log + "/log20261130.txt"), true) << "no keep_days: everything stays";
  fs::remove(log + "/log20261209.txt");
  ASSERT_TRUE(profile::writePrivateProfileString("Log", "keep_days", "2", root.path() + "/ini/SysTivel.ini"));
  profile::appendDailyLog(root.path() + "/bin/../log", "log", today, "a\r\n", "test");
  profile::appendDailyLog(root.path() + "/bin/../log", "log", today, "b\r\n", "test");
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(log)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"log2026113.txt", "log20261208.txt", "log20261209.txt",
                                            "logScrivane20261130.txt", "notes.txt"}));
  EXPECT_EQ(profile::pruneDailyLogs(log, "logScrivane", today, 10), 0);
  EXPECT_EQ(profile::pruneDailyLogs(log, "logScrivane", today, 9), 1);
}

}  // namespace
}  // namespace tivel::mgt
