// Statement helpers, generated keys and the keyed collection.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <set>

#include "mgt/common/collection.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/common/new_number.h"
#include "mgt/common/pattern.h"
#include "mgt/sys/sys_mgt.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/processes.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;

TEST(QuoteSql, DoublesEverySingleQuoteOnly) {
  EXPECT_EQ(QuoteSql("O'Brien"), "O''Brien");
  EXPECT_EQ(QuoteSql("''"), "''''");
  EXPECT_EQ(QuoteSql(""), "");
  EXPECT_EQ(QuoteSql("a\"b\\c"), "a\"b\\c");
  EXPECT_EQ(TrimAtNull(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(TrimAtNull("abc"), "abc");
}

// Splits a key "P_yymmddhhmmss_R" into its three parts; false when it has another shape.
bool keyParts(const std::string& k, std::string* prefix, std::string* stamp, std::string* random) {
  size_t a = k.find('_'), b = k.rfind('_');
  if (a == std::string::npos || a == b) return false;
  *prefix = k.substr(0, a);
  *stamp = k.substr(a + 1, b - a - 1);
  *random = k.substr(b + 1);
  auto digits = [](const std::string& t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
  };
  return !prefix->empty() && stamp->size() == 12 && digits(*stamp) && digits(*random);
}

TEST(NewNumber, FormatAndRange) {
  std::set<std::string> seen;
  for (int i = 0; i < 500; ++i) {
    std::string k = NewNumber(i % 2 ? "ORG" : "");
    std::string prefix, stamp, random;
    ASSERT_TRUE(keyParts(k, &prefix, &stamp, &random)) << k;
    EXPECT_EQ(prefix, i % 2 ? "ORG" : "SYS");
    int r = std::stoi(random);
    EXPECT_GE(r, 100);
    EXPECT_LE(r, 1098);
    EXPECT_NE(random[0], '0');
    EXPECT_TRUE(seen.insert(k).second) << "repeated " << k;
  }
}

// A clock that stands still, as one crowded second looks to the keys: a
// draw that waited for the next second would never end.
com::DateTime stillSecond() { return com::DateTime{2001, 2, 3, 4, 5, 6}; }

// The random part of a key drawn in the still second.
int stillRandomPart(const std::string& key) {
  const size_t last = key.rfind('_');
  if (last == std::string::npos || last < 14 || key.compare(last - 13, 14, "_010203040506_") != 0) return -1;
  return std::stoi(key.substr(last + 1));
}

// In a quiet second a prefix's first 999 keys keep the standard form, the
// rest widen without waiting. A key met taken elsewhere is drawn again in
// the standard form and never issued again; the prefix widens only once
// most standard parts are known used.
TEST(NewNumber, KeysKeepTheStandardFormWhileTheSecondHasRoom) {
  alarm(60);  // a draw that waits for the next second ends the test here
  setKeyClockForTests(stillSecond);
  std::set<std::string> seen;
  for (int i = 0; i < 3000; ++i) {
    const std::string k = NewNumber("QUIET");
    const int r = stillRandomPart(k);
    ASSERT_TRUE(i < 999 ? r >= 100 && r <= 1098 : r > 1098 && r <= 9999999) << i << ": " << k;
    ASSERT_TRUE(seen.insert(k).second) << "repeated " << k;
  }
  // Another process holds every odd part: each meeting is drawn again in the
  // standard form, never repeating a part met, until 90 % are known used
  // (a run of twelve odd parts may take one wide draw on the way).
  std::set<int> met;
  int standard = 0, last = 0;
  for (int i = 0; i < 1200; ++i) {
    const std::string k = NewNumber("ORG_X");
    last = stillRandomPart(k);
    if (last > 1098) continue;
    ASSERT_TRUE(met.insert(last).second) << "drawn again after it met: " << k;
    if (last % 2) NoteKeyTaken(k);
    ++standard;
  }
  EXPECT_GE(standard, 899);
  EXPECT_GT(last, 1098);
  // After twelve meetings in a row one draw is wide, so an add never runs
  // out of draws; the prefix stays standard.
  for (int i = 0; i < 11; ++i) NoteKeyTaken(NewNumber("ROW"));
  EXPECT_LE(stillRandomPart(NewNumber("ROW")), 1098);
  for (int i = 0; i < 12; ++i) NoteKeyTaken(NewNumber("ROW"));
  EXPECT_GT(stillRandomPart(NewNumber("ROW")), 1098);
  EXPECT_LE(stillRandomPart(NewNumber("ROW")), 1098);
  EXPECT_LE(stillRandomPart(NewNumber("GRP")), 1098);
  setKeyClockForTests(nullptr);
  alarm(0);
}

TEST(Collection, KeysPositionsAndClear) {
  cCollection c;
  auto a = records::newRecord("cUmGrp");
  auto b = records::newRecord("cUmGrp");
  c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "GRPa");
  EXPECT_THROW(c.Add(Variant(std::static_pointer_cast<com::Object>(b)), "grpA"), com::ComError);
  EXPECT_EQ(c.Count(), 1);
  c.Add(Variant(std::static_pointer_cast<com::Object>(b)), "GRPb");
  EXPECT_EQ(c.Item(2).toObject(), b);
  EXPECT_THROW(c.Item(0), com::ComError);
  EXPECT_THROW(c.Item(3), com::ComError);
  EXPECT_THROW(c.Remove("nope"), com::ComError);
  c.Remove("grpa");
  EXPECT_EQ(c.Item(1).toObject(), b);
  EXPECT_THROW(c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "grpB"), com::ComError);
  c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "GRPA");
  for (int i = 0; i < 1000; ++i) c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "K" + std::to_string(i));
  EXPECT_THROW(c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "k999"), com::ComError);
  c.Remove("K500");
  EXPECT_THROW(c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "k501"), com::ComError);
  EXPECT_EQ(c.Count(), 1001);
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  c.Add(Variant(std::static_pointer_cast<com::Object>(a)), "k501");
}

class HelpersOnDb : public testing::PortalTest {};

// A condition: the key column holds prefix, a second and a random part of
// 100 to 1098 (3 digits, or 4 from 1000 to 1098), the form stored keys have.
std::string storedForm(const std::string& column, const std::string& prefix) {
  const std::string part = "substr(" + column + ", " + std::to_string(prefix.size() + 14) + ")";
  return "(length(" + part + ") = 3 or (length(" + part + ") = 4 and " + part + " between '1000' and '1098'))";
}

TEST_P(HelpersOnDb, RowExistsMeansExactlyOne) {
  auto um = com::CreateObject("TivelMgt.UmMgt");
  portal().exec("insert into umGrp(Grp_no,name) values('a','twice')");
  portal().exec("insert into umGrp(Grp_no,name) values('b','twice')");
  portal().exec("insert into umGrp(Grp_no,name) values('c','once')");
  EXPECT_TRUE(RowExists("umGrp", "name", "once"));
  EXPECT_FALSE(RowExists("umGrp", "name", "twice"));
  EXPECT_FALSE(RowExists("umGrp", "name", "none"));
}

// Three processes started together, each adding groups with generated keys:
// every add succeeds and no key repeats.
TEST_P(HelpersOnDb, ProcessesStartedInTheSameSecondDrawDistinctKeys) {
  constexpr int kChildren = 3, kEach = 60;
  testing::runInProcesses(kChildren, [](int c) {
    auto um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
    int failures = 0;
    for (int i = 0; i < kEach; ++i) {
      auto g = records::newRecord("cUmGrp");
      g->set("Name", "进程" + std::to_string(c) + "-" + std::to_string(i));
      Variant key;
      if (um->addGrp(g, key) != "0") ++failures;
    }
    return failures;
  });
  EXPECT_EQ(portal().count("umGrp"), kChildren * kEach);
  EXPECT_EQ(portal().scalar("select count(distinct Grp_no) from umGrp").toLong(), kChildren * kEach);
  EXPECT_EQ(portal().scalar("select count(*) from umGrp where " + storedForm("Grp_no", "GRP_")).toLong(),
            kChildren * kEach);
}

// Four processes write 5,000 log entries each within one still second, as
// four hosts at full speed would: every entry is written under its own key,
// and no process waits for the clock (a wait would never end). On the
// embedded engine every commit waits for the disk, so there each process
// writes in transactions of 250 entries (its writers take turns anyway).
TEST_P(HelpersOnDb, FourProcessesDraw20000KeysOfOnePrefixInOneSecond) {
  constexpr int kChildren = 4, kEach = 5000;
  const int batch = GetParam() == "sqlite" ? 250 : 1;
  testing::runInProcesses(kChildren, [batch](int c) {
    alarm(300);  // a child that waits for the next second ends here, failing the test
    setKeyClockForTests(stillSecond);
    auto sys = std::dynamic_pointer_cast<SysMgt>(com::CreateObject("TivelMgt.SysMgt"));
    // The processes take turns at the file's one write lock, and the engine's
    // wait for it polls: under a sanitizer the others' turns can keep one
    // process waiting past the component's 10 s, so here it waits longer.
    sharedConnection()->commandTimeout = 240;
    // A refused entry names the error it met, so a failure says which one.
    auto write = [&](int i) {
      if (sys->WriteLog("0", "sys", std::to_string(c) + "-" + std::to_string(i), 0, 0)) return true;
      std::fprintf(stderr, "process %d, entry %d: trapped error %d\n", c, i, lastTrappedError());
      return false;
    };
    int failures = 0;
    for (int i = 0; i < kEach; i += batch) {
      if (batch == 1) {
        failures += write(i) ? 0 : 1;
        continue;
      }
      const bool written = inTransaction([&] {
        for (int j = i; j < i + batch; ++j)
          if (!write(j)) return false;
        return true;
      });
      if (!written) std::fprintf(stderr, "process %d, entries from %d: transaction undone\n", c, i);
      failures += written ? 0 : batch;
    }
    return failures;
  });
  EXPECT_EQ(portal().count("sysLog"), kChildren * kEach);
  EXPECT_EQ(
      portal().scalar("select count(distinct Log_no) from sysLog where Log_no like 'LOG_010203040506_%'").toLong(),
      kChildren * kEach);
  // Meetings between the processes are drawn again in the standard form, so
  // nearly all of the second's 999 standard keys are used before any widens.
  EXPECT_GE(portal().scalar("select count(*) from sysLog where " + storedForm("Log_no", "LOG_")).toLong(), 900);
}

INSTANTIATE_TEST_SUITE_P(Engines, HelpersOnDb, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
