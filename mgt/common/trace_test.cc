#include "mgt/common/trace.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
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
  auto org = com::CreateObject("TivelPublicDB.cUmOrg");
  org->putProperty("Name", com::Variant("部门"));
  // What one late-bound call adds to the log.
  auto traceOf = [&](const com::ObjectPtr& object, const char* member, com::Args args) {
    const size_t before = logs().size();
    object->call(member, std::move(args));
    return logs().substr(before);
  };
  // An add, an update, a delete, a read and a list, each with its table missing.
  portal().exec("drop table umOrg");
  const std::pair<const char*, com::Args> calls[] = {{"addOrg", {com::Variant(org), com::Variant()}},
                                                     {"updateOrg", {com::Variant(org), "ORG_1"}},
                                                     {"delOrg", {"ORG_1"}},
                                                     {"getOrg", {"ORG_1"}},
                                                     {"getSonOrgOfOrg", {"0"}}};
  const char* const traced[] = {"UmMgt.addOrg [addRow] -> \"10021004\"", "UmMgt.updateOrg [updateRow] -> \"10021013\"",
                                "UmMgt.delOrg [deleteWhere] -> \"10021022\"", "UmMgt.getOrg [readFirst] -> \"Nothing\"",
                                "UmMgt.getSonOrgOfOrg [readKeyedList] -> \"Nothing\""};
  for (size_t i = 0; i < std::size(calls); ++i) {
    const std::string added = traceOf(um, calls[i].first, calls[i].second);
    EXPECT_NE(added.find(std::string("TRACE ") + traced[i] + ": error "), std::string::npos) << added;
  }
  // A transaction whose commit fails.
  tivel::testing::Faults faults;
  faults.failCommit();
  const std::string added = traceOf(com::CreateObject("TivelMgt.AppMgt"), "setAuthOfUsr", {"R", "3", "U", "1"});
  EXPECT_NE(added.find("TRACE AppMgt.setAuthOfUsr [inTransaction] -> \"False\": error "), std::string::npos) << added;
}

INSTANTIATE_TEST_SUITE_P(Engines, TraceTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
