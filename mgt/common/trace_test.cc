#include "mgt/common/trace.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "mgt/testing/portal.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "testing/faults.h"

namespace tivel::mgt {
namespace {

class TraceTest : public testing::PortalTest {
 protected:
  void TearDown() override {
    ::unsetenv("TIVEL_TRACE");
    PortalTest::TearDown();
  }
  // Adds an authorization late-bound with its insert made to fail.
  std::string failedAdd() {
    auto app = com::CreateObject("TivelMgt.AppMgt");
    auto rec = com::CreateObject("TivelPublicDB.cAppAuth");
    rec->putProperty("Res_no", com::Variant("R"));
    rec->putProperty("OGRU_Type", com::Variant("3"));
    rec->putProperty("OGRU_No", com::Variant("U"));
    tivel::testing::Faults faults;
    faults.failStatement(1, "insert into AppAuth");
    return app->call("addAuth", {com::Variant(rec), com::Variant()}).toString();
  }
  // Every line of the component's daily logs.
  std::string logs() {
    std::string all;
    std::filesystem::path dir = std::filesystem::path(portal().root()) / "log";
    if (!std::filesystem::exists(dir)) return all;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
  }
};

TEST_P(TraceTest, TrappedFailuresAreLoggedOnlyWhenTracingIsOn) {
  EXPECT_EQ(failedAdd(), "10034005");
  EXPECT_EQ(logs().find("TRACE"), std::string::npos) << "off by default";

  ::setenv("TIVEL_TRACE", "1", 1);
  EXPECT_EQ(failedAdd(), "10034005") << "tracing never changes a result";
  std::string log = logs();
  // The running call, then the toolkit shape that held the trap, then the failure.
  EXPECT_NE(log.find("TRACE AppMgt.addAuth ["), std::string::npos) << log;
  EXPECT_NE(log.find("] -> \"10034005\": error -2147467259 "
                     "(0x80004005), source Fault injection: Injected failure of statement: insert into AppAuth"),
            std::string::npos)
      << log;

  std::string ini = portal().root() + "/ini/SysTivel.ini";
  ASSERT_TRUE(profile::writePrivateProfileString("LOG", "trace", "1", ini));
  ::setenv("TIVEL_TRACE", "0", 1);
  failedAdd();
  EXPECT_EQ(logs(), log) << "TIVEL_TRACE=0 outweighs the INI file";
  ::unsetenv("TIVEL_TRACE");
  failedAdd();
  EXPECT_GT(logs().size(), log.size()) << "the INI key alone turns tracing on";
}

TEST_P(TraceTest, EveryShapeFamilyTracesTheFailuresItTraps) {
  ::setenv("TIVEL_TRACE", "1", 1);
  auto um = com::CreateObject("TivelMgt.UmMgt");
  auto app = com::CreateObject("TivelMgt.AppMgt");
  auto org = [] {
    auto rec = com::CreateObject("TivelPublicDB.cUmOrg");
    rec->putProperty("Name", com::Variant("部门"));
    return com::Variant(rec);
  };
  portal().exec("drop table umOrg");
  const struct {
    const char* family;
    std::function<com::Variant()> call;
    const char* traced;
  } families[] = {
      {"adds",
       [&] {
         return um->call("addOrg", {org(), com::Variant()});
       },
       "UmMgt.addOrg [addRow] -> \"10021004\""},
      {"updates",
       [&] {
         return um->call("updateOrg", {org(), com::Variant("ORG_1")});
       },
       "UmMgt.updateOrg [updateRow] -> \"10021013\""},
      {"deletes", [&] { return um->call("delOrg", {com::Variant("ORG_1")}); },
       "UmMgt.delOrg [deleteWhere] -> \"10021022\""},
      {"reads", [&] { return um->call("getOrg", {com::Variant("ORG_1")}); }, "UmMgt.getOrg [readFirst] -> \"Nothing\""},
      {"lists", [&] { return um->call("getSonOrgOfOrg", {com::Variant("0")}); },
       "UmMgt.getSonOrgOfOrg [readKeyedList] -> \"Nothing\""},
      {"transactions",
       [&] {
         tivel::testing::Faults faults;
         faults.failCommit();
         return app->call("setAuthOfUsr", {"R", "3", "U", "1"});
       },
       "AppMgt.setAuthOfUsr [inTransaction] -> \"False\""},
  };
  for (const auto& f : families) {
    const size_t before = logs().size();
    f.call();
    const std::string added = logs().substr(before);
    EXPECT_NE(added.find("TRACE " + std::string(f.traced) + ": error "), std::string::npos)
        << f.family << ": " << added;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, TraceTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
