// The gateway and the check as a page reaches them: late-bound through the
// built `tivel rpc` command, on the test's portal root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "mgt/testing/portal.h"

namespace tivel::mgt {
namespace {

using Json = nlohmann::json;

class GatewayRpcTest : public testing::PortalTest {
 protected:
  // Runs the requests in one session; the answers by id.
  std::map<std::string, Json> session(const std::string& requests) {
    const char* bin = std::getenv("TIVEL_BIN");
    EXPECT_TRUE(bin) << "TIVEL_BIN names the directory of the built tivel command";
    if (!bin) return {};
    const std::string in = portal().root() + "/requests.jsonl", out = portal().root() + "/answers.jsonl";
    std::ofstream(in) << requests;
    std::string command =
        "'" + std::string(bin) + "/tivel' rpc --root '" + portal().root() + "' <'" + in + "' >'" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::map<std::string, Json> answers;
    std::ifstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      Json a = Json::parse(line);
      answers[a["id"].get<std::string>()] = a;
    }
    return answers;
  }
};

TEST_P(GatewayRpcTest, PageSession) {
  portal().exec("insert into umOrg(Org_no,name,Priority) values('O1','总部',1)");
  auto a = session(R"rpc({"id":"new","new":"TivelMgt.AdminMgt"}
{"id":"set","object":1,"call":"setAuthOfUsr","args":["RES_1","USR_1","abc"]}
{"id":"check","object":1,"call":"checkAuth","args":["RES_1","USR_1",2]}
{"id":"none","object":1,"call":"checkAuth","args":["RES_1","USR_2",1]}
{"id":"text","object":1,"call":"checkAuth","args":["RES_1","USR_1","two"]}
{"id":"get","object":1,"call":"getRecordset","args":[{"ref":"x"},"select * from umOrg"]}
{"id":"edit","object":2,"put":"Collect","args":["name"],"value":"远程"}
{"id":"write","object":1,"call":"setRecordset","args":[{"ref":"kept"},["insert into umOrg(Org_no,name) values('O9','九')",{"object":2}]]}
{"id":"empty","object":1,"call":"setRecordset","args":[{"ref":""},[]]}
{"id":"bad","object":1,"call":"getRecordset","args":[{"ref":""},"select * from nowhere"]}
)rpc");
  EXPECT_EQ(a["set"]["result"], true);
  EXPECT_EQ(a["check"]["result"], "b");
  EXPECT_EQ(a["none"]["result"], "10011");
  EXPECT_EQ(a["text"]["error"]["number"], -2147352571) << a["text"].dump();
  EXPECT_EQ(a["get"]["result"]["class"], "Recordset");
  EXPECT_EQ(a["get"]["refs"]["0"], "");
  EXPECT_EQ(a["write"]["result"], true) << a["write"].dump();
  EXPECT_EQ(a["write"]["refs"]["0"], "kept");
  EXPECT_EQ(a["empty"]["result"], false);
  EXPECT_EQ(a["empty"]["refs"]["0"], "参数必须大于或等于1");
  EXPECT_EQ(a["bad"]["result"]["object"], nullptr);
  EXPECT_NE(a["bad"]["refs"]["0"], "");

  EXPECT_EQ(portal().scalar("select name from umOrg where Org_no='O1'").toString(), "远程");
  EXPECT_EQ(portal().count("umOrg", "Org_no='O9'"), 1);
  EXPECT_EQ(portal().count("SysLog"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, GatewayRpcTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
