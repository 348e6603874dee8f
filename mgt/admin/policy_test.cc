// The rules of the enforced account policy, value by value.
#include "mgt/admin/policy.h"

#include <gtest/gtest.h>

namespace tivel::mgt::policy {
namespace {

constexpr Verdict kPass = Verdict::Pass, kRefuse = Verdict::Refuse, kUnreadable = Verdict::Unreadable;

com::DateTime at(const char* text) {
  com::DateTime t;
  EXPECT_TRUE(com::DateTime::parse(text, &t)) << text;
  return t;
}

TEST(PolicyRules, AddressLimit) {
  EXPECT_EQ(addressAllowed("", "1.2.3.4"), kPass);
  EXPECT_EQ(addressAllowed("  ", ""), kPass);
  const char* list = "10.0.0.0/8, 192.168.1.7; 2001:db8::/32 ::1";
  EXPECT_EQ(addressAllowed(list, "10.200.3.4"), kPass);
  EXPECT_EQ(addressAllowed(list, "11.0.0.1"), kRefuse);
  EXPECT_EQ(addressAllowed(list, "192.168.1.7"), kPass);
  EXPECT_EQ(addressAllowed(list, "192.168.1.8"), kRefuse);
  EXPECT_EQ(addressAllowed(list, "2001:db8:ffff::1"), kPass);
  EXPECT_EQ(addressAllowed(list, "2001:db9::1"), kRefuse);
  EXPECT_EQ(addressAllowed(list, "::1"), kPass);
  EXPECT_EQ(addressAllowed(list, "::ffff:10.1.2.3"), kPass) << "an IPv4 address written as IPv6";
  EXPECT_EQ(addressAllowed(list, ""), kRefuse) << "no address given";
  EXPECT_EQ(addressAllowed(list, "host.example"), kRefuse);
  EXPECT_EQ(addressAllowed("172.16.0.0/12", "172.31.255.255"), kPass);
  EXPECT_EQ(addressAllowed("172.16.0.0/12", "172.32.0.0"), kRefuse);
  EXPECT_EQ(addressAllowed("0.0.0.0/0", "8.8.8.8"), kPass);
  EXPECT_EQ(addressAllowed("0.0.0.0/0", "::2"), kRefuse) << "families do not mix";
  for (const char* bad : {"10.0.0.0/33", "10.0.0/8", "10.0.0.0/x", "*", "10.0.0.1-10.0.0.9", "::/129"})
    EXPECT_EQ(addressAllowed(bad, "10.0.0.1"), kUnreadable) << bad;
  EXPECT_EQ(addressAllowed("10.0.0.1, junk", "10.0.0.1"), kUnreadable) << "one bad item spoils the list";
}

TEST(PolicyRules, TimeLimit) {
  // 2026-12-07 is a Monday.
  const char* office = "Mon-Fri 08:00-18:30; sat 09:00-12:00";
  EXPECT_EQ(timeAllowed("", at("2026-12-07 03:00")), kPass);
  EXPECT_EQ(timeAllowed(office, at("2026-12-07 08:00")), kPass);
  EXPECT_EQ(timeAllowed(office, at("2026-12-07 07:59")), kRefuse);
  EXPECT_EQ(timeAllowed(office, at("2026-12-11 18:29")), kPass);
  EXPECT_EQ(timeAllowed(office, at("2026-12-11 18:30")), kRefuse) << "the end is out";
  EXPECT_EQ(timeAllowed(office, at("2026-12-12 10:00")), kPass);
  EXPECT_EQ(timeAllowed(office, at("2026-12-13 10:00")), kRefuse) << "Sunday";
  EXPECT_EQ(timeAllowed("00:00-24:00", at("2026-12-13 23:59:59")), kPass);
  // Past midnight: Friday night into Saturday morning, and Sunday-to-Monday wrapping of days.
  EXPECT_EQ(timeAllowed("Fri 22:00-06:00", at("2026-12-12 05:59")), kPass);
  EXPECT_EQ(timeAllowed("Fri 22:00-06:00", at("2026-12-11 05:59")), kRefuse) << "Friday morning follows Thursday";
  EXPECT_EQ(timeAllowed("Sat-Mon,Wed 12:00-13:00", at("2026-12-13 12:30")), kPass);
  EXPECT_EQ(timeAllowed("Sat-Mon,Wed 12:00-13:00", at("2026-12-08 12:30")), kRefuse) << "Tuesday";
  for (const char* bad : {"8-18", "08:00-08:00", "Mon-Fry 08:00-09:00", "25:00-26:00", "08:60-09:00", "08:00"})
    EXPECT_EQ(timeAllowed(bad, at("2026-12-07 08:30")), kUnreadable) << bad;
}

TEST(PolicyRules, DatesFlagsAndCounts) {
  EXPECT_EQ(beforeLimit("", at("2026-12-08 10:00")), kPass);
  EXPECT_EQ(beforeLimit("2026-12-08", at("2026-12-08 23:59:59")), kPass) << "a date allows its whole day";
  EXPECT_EQ(beforeLimit("2026-12-08", at("2026-12-09 00:00")), kRefuse);
  EXPECT_EQ(beforeLimit("2026-12-08 10:00", at("2026-12-08 10:00")), kPass);
  EXPECT_EQ(beforeLimit("2026-12-08 10:00", at("2026-12-08 10:00:01")), kRefuse);
  for (const char* bad : {"tomorrow", "2026-02-30", "08.12.2026"})
    EXPECT_EQ(beforeLimit(bad, at("2026-12-08 10:00")), kUnreadable) << bad;

  EXPECT_EQ(noChangeDemanded(""), kPass);
  EXPECT_EQ(noChangeDemanded("0"), kPass);
  EXPECT_EQ(noChangeDemanded("1"), kRefuse);
  EXPECT_EQ(noChangeDemanded("yes"), kUnreadable);

  EXPECT_EQ(belowLockThreshold("", ""), kPass);
  EXPECT_EQ(belowLockThreshold("9", "0"), kPass) << "threshold 0 never locks";
  EXPECT_EQ(belowLockThreshold("2", "3"), kPass);
  EXPECT_EQ(belowLockThreshold("3", "3"), kRefuse);
  EXPECT_EQ(belowLockThreshold("4", " 3 "), kRefuse);
  EXPECT_EQ(belowLockThreshold("x", "3"), kUnreadable);
  EXPECT_EQ(belowLockThreshold("1", "-2"), kUnreadable);

  EXPECT_TRUE(lockOver("2026-12-08 10:00:00", 15, at("2026-12-08 10:15:00")));
  EXPECT_FALSE(lockOver("2026-12-08 10:00:00", 15, at("2026-12-08 10:14:59")));
  EXPECT_TRUE(lockOver("2026-12-31 23:50:00", 15, at("2027-01-01 00:05:00"))) << "across a year";
  EXPECT_FALSE(lockOver("2026-12-08 10:00:00", 0, at("2030-01-01 00:00:00"))) << "0: until reset";
  EXPECT_FALSE(lockOver("", 15, at("2030-01-01 00:00:00"))) << "no moment recorded: until reset";
}

}  // namespace
}  // namespace tivel::mgt::policy
