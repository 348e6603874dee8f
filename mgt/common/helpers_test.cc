// Statement helpers, generated keys and the keyed collection.
#include <gtest/gtest.h>

#include <set>

#include "mgt/common/collection.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
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

TEST(NewNumber, WaitsForTheNextSecondWhenTheRandomPartsRunOut) {
  std::set<std::string> seen;
  for (int i = 0; i < 1100; ++i) ASSERT_TRUE(seen.insert(NewNumber("EXH")).second);
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
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
}

class HelpersOnDb : public testing::PortalTest {};

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
}

INSTANTIATE_TEST_SUITE_P(Engines, HelpersOnDb, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
