#include "tools/tivel/serve/console/export.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "testing/engines.h"
#include "tools/tivel/serve/console/console_test_fixture.h"

namespace tivel::tool {
namespace {

using servetest::statusOf;

// A gateway with the console on a throwaway portal: the administrator
// "admin" and users whose names a spreadsheet would misread.
class ConsoleExportTest : public servetest::ConsoleGatewayTest {
 protected:
  void SetUp() override {
    ConsoleGatewayTest::SetUp();
    Json made = gateway->batch(Json::parse(R"j([{"id":"a","new":"TivelMgt.AdminMgt"},
      {"id":1,"object":{"from":"a"},"call":"addUsr","args":["admin","Secret","管理员","","","","",""]},
      {"id":2,"object":{"from":"a"},"call":"addUsr","args":["f1","Secret","=HYPERLINK(\"x\")","","","","",""]},
      {"id":3,"object":{"from":"a"},"call":"addUsr","args":["f2","Secret","@SUM, \"张\"","","","","",""]},
      {"id":"um","new":"TivelMgt.UmMgt"},
      {"id":"u","object":{"from":"um"},"call":"getUsrByAccount","args":["admin"]},
      {"id":"no","object":{"from":"u"},"get":"Usr_No"},
      {"id":"m","new":"TivelPublicDB.cUmGrp2usr"},
      {"id":4,"object":{"from":"m"},"put":"Usr_No","value":{"from":"no"}},
      {"id":5,"object":{"from":"m"},"put":"Grp_no","value":"1"},
      {"id":6,"object":{"from":"um"},"call":"addGrp2Usr","args":[{"object":{"from":"m"}}]}])j"));
    for (const Json& a : made) ASSERT_FALSE(a.contains("error")) << made.dump();
    auto r = gateway->client("").Post("/console/api/signin", Json{{"account", "admin"}, {"password", "Secret"}}.dump(),
                                      "application/json");
    ASSERT_EQ(statusOf(r), 200);
    const std::string set = r->get_header_value("Set-Cookie");
    cookie = set.substr(0, set.find(';'));
    csrf = Json::parse(r->body)["csrf"];
  }

  httplib::Result get(const std::string& path, bool withSession = true) {
    httplib::Headers h;
    if (withSession) h.emplace("Cookie", cookie);
    return gateway->client("").Get(path, h);
  }

  std::string cookie, csrf;
};

TEST_P(ConsoleExportTest, UsersAndLogAsSpreadsheetsReadThem) {
  auto r = get("/console/export/users.csv?q=f&sort=-account&csrf=" + csrf);
  ASSERT_EQ(statusOf(r), 200) << (r ? r->body : "");
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/csv; charset=utf-8");
  EXPECT_NE(r->get_header_value("Content-Disposition").find("users.csv"), std::string::npos);
  const std::string& csv = r->body;
  ASSERT_EQ(csv.rfind("\xEF\xBB\xBF\"帐号 Account\",", 0), 0u) << csv;
  // Descending by account; quotes doubled, formulas kept as text, Chinese as it is.
  const size_t f2 = csv.find("\r\n\"f2\",\"'@SUM, \"\"张\"\"\","),
               f1 = csv.find("\r\n\"f1\",\"'=HYPERLINK(\"\"x\"\")\"");
  EXPECT_NE(f2, std::string::npos) << csv;
  EXPECT_NE(f1, std::string::npos) << csv;
  EXPECT_LT(f2, f1);
  EXPECT_EQ(csv.find("admin"), std::string::npos) << "the filter holds";
  EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");

  auto log = get("/console/export/log.csv?text=" + std::string("%E5%AF%BC%E5%87%BA") + "&csrf=" + csrf);
  ASSERT_EQ(statusOf(log), 200);
  EXPECT_NE(log->body.find("admin在控制台：导出用户 CSV（2 行）"), std::string::npos) << log->body;

  // What cannot be exported says why; no session, no token: refused.
  EXPECT_EQ(statusOf(get("/console/export/users.csv?sort=pwd&csrf=" + csrf)), 400);
  EXPECT_EQ(statusOf(get("/console/export/log.csv?from=yesterday&csrf=" + csrf)), 400);
  EXPECT_EQ(statusOf(get("/console/export/passwords.csv?csrf=" + csrf)), 404);
  EXPECT_EQ(statusOf(get("/console/export/users.csv")), 403);
  EXPECT_EQ(statusOf(get("/console/export/users.csv?csrf=" + csrf, false)), 401);
}

// A log export of several pages comes whole and in order as it streams,
// the minute bounds of the log page apply, and the entry written after it
// counts its rows (and is not in the file it follows).
TEST_P(ConsoleExportTest, ALongLogStreamsWholeAndInOrder) {
  for (int i = 0; i < 450; ++i) {
    char at[32];
    std::snprintf(at, sizeof at, "2026-05-0%d %02d:%02d:00", 1 + i / 200, i % 200 / 60, i % 200 % 60);
    portal->exec("insert into SysLog(Log_no,WDateTime,Mod_name,disc,Log_Type,Msg_Type) values('P" + std::to_string(i) +
                 "','" + at + "','m','row " + std::to_string(i) + "',1,1)");
  }
  auto r = get("/console/export/log.csv?text=row%20&csrf=" + csrf);
  ASSERT_EQ(statusOf(r), 200);
  std::string expected = "\xEF\xBB\xBF\"时间 Time\",\"模块 Module\",\"内容 Entry\",\"类型 Type\"\r\n";
  for (int i = 449; i >= 0; --i) {
    char at[32];
    std::snprintf(at, sizeof at, "2026-05-0%d %02d:%02d:00", 1 + i / 200, i % 200 / 60, i % 200 % 60);
    expected += "\"" + std::string(at) + "\",\"m\",\"row " + std::to_string(i) + "\",\"1\"\r\n";
  }
  EXPECT_EQ(r->body, expected);
  auto minute = get("/console/export/log.csv?text=row%20&from=2026-05-03T00:49&to=2026-05-03T00:49&csrf=" + csrf);
  ASSERT_EQ(statusOf(minute), 200);
  EXPECT_NE(minute->body.find("\"row 449\""), std::string::npos);
  EXPECT_EQ(std::count(minute->body.begin(), minute->body.end(), '\n'), 2) << minute->body;
  EXPECT_EQ(portal->count("SysLog", "disc like '%导出系统日志 CSV（450 行）'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsoleExportTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::tool
