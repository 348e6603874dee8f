#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mgt/admin/second_factor.h"
#include "mgt/testing/directory.h"
#include "mgt/testing/portal.h"
#include "platform/profile/profile.h"
#include "testing/engines.h"
#include "tools/tivel/serve/console/key.h"
#include "tools/tivel/serve/console/routes.h"
#include "tools/tivel/serve/test_gateway.h"

namespace tivel::tool {
namespace {

using servetest::Gateway;
using servetest::statusOf;

TEST(ConsoleKeyTest, PrivateKeySignsCookiesAndCsrfTokens) {
  tivel::testing::TempDir dir;
  std::filesystem::create_directories(dir.path() + "/ini");
  EXPECT_THROW(ConsoleKey::read(dir.path()), std::runtime_error) << "no key yet";
  ASSERT_TRUE(ensureConsoleKey(dir.path()));
  EXPECT_FALSE(ensureConsoleKey(dir.path())) << "an existing key is kept";
  struct stat st {};
  ASSERT_EQ(::stat(consoleKeyPath(dir.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const ConsoleKey key = ConsoleKey::read(dir.path());

  const std::string cookie = key.cookieFor("TOK_261208025337_1067");
  EXPECT_EQ(key.tokenOf(cookie), "TOK_261208025337_1067");
  EXPECT_EQ(key.tokenOf("TOK_261208025337_1068" + cookie.substr(cookie.find('.'))), "") << "another token";
  std::string altered = cookie;
  altered.back() = altered.back() == '0' ? '1' : '0';
  EXPECT_EQ(key.tokenOf(altered), "") << "a signature changed in its last character";
  EXPECT_EQ(key.tokenOf("TOK_261208025337_1067"), "") << "unsigned";
  EXPECT_EQ(key.tokenOf("x'--." + cookie.substr(cookie.find('.') + 1)), "") << "no token at all";
  EXPECT_EQ(ConsoleKey(std::string(64, 'b')).tokenOf(cookie), "") << "signed with another key";
  const std::string csrf = key.csrfFor("TOK_261208025337_1067");
  EXPECT_TRUE(key.csrfMatches("TOK_261208025337_1067", csrf));
  EXPECT_FALSE(key.csrfMatches("TOK_261208025337_1068", csrf));
  EXPECT_FALSE(key.csrfMatches("TOK_261208025337_1067", cookie.substr(cookie.find('.') + 1)))
      << "a cookie's signature is no CSRF token";

  // A challenge holds for its client, until it expires, as signed.
  const std::string challenge = key.challengeFor({"TOK_1", "USR_7", "10.0.0.1", 1000});
  ASSERT_TRUE(key.challengeOf(challenge, "10.0.0.1", 999));
  EXPECT_EQ(key.challengeOf(challenge, "10.0.0.1", 999)->usrNo, "USR_7");
  EXPECT_FALSE(key.challengeOf(challenge, "10.0.0.2", 999)) << "another client";
  EXPECT_FALSE(key.challengeOf(challenge, "10.0.0.1", 1000)) << "expired";
  EXPECT_FALSE(key.challengeOf("TOK_1.USR_8" + challenge.substr(11), "10.0.0.1", 999)) << "another user";
  EXPECT_FALSE(ConsoleKey(std::string(64, 'b')).challengeOf(challenge, "10.0.0.1", 999));
  EXPECT_FALSE(key.challengeOf(key.cookieFor("TOK_1"), "10.0.0.1", 999)) << "a cookie is no challenge";

  ::chmod(consoleKeyPath(dir.path()).c_str(), 0644);
  EXPECT_THROW(ConsoleKey::read(dir.path()), std::runtime_error) << "others may read it";
}

// A gateway with the console on a throwaway portal, with the administrator
// "admin" (groups 1 and 2) and the plain user "editor".
class ConsoleTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    portal = std::make_unique<mgt::testing::Portal>(GetParam(), true);
    ensureConsoleKey(portal->root());
    gateway = start();
    Json made = gateway->batch(Json::parse(R"([{"id":"a","new":"TivelMgt.AdminMgt"},
      {"id":1,"object":{"from":"a"},"call":"addUsr","args":["admin","Secret","管理员","","","","",""]},
      {"id":2,"object":{"from":"a"},"call":"addUsr","args":["editor","Secret","编辑","","","","",""]},
      {"id":"um","new":"TivelMgt.UmMgt"},
      {"id":"u","object":{"from":"um"},"call":"getUsrByAccount","args":["admin"]},
      {"id":"no","object":{"from":"u"},"get":"Usr_No"},
      {"id":"m","new":"TivelPublicDB.cUmGrp2usr"},
      {"id":3,"object":{"from":"m"},"put":"Usr_No","value":{"from":"no"}},
      {"id":4,"object":{"from":"m"},"put":"Grp_no","value":"1"},
      {"id":5,"object":{"from":"um"},"call":"addGrp2Usr","args":[{"object":{"from":"m"}}]},
      {"id":6,"object":{"from":"m"},"put":"Grp_no","value":"2"},
      {"id":7,"object":{"from":"um"},"call":"addGrp2Usr","args":[{"object":{"from":"m"}}]}])"));
    for (const Json& a : made) ASSERT_FALSE(a.contains("error")) << made.dump();
    ASSERT_EQ(made[9]["result"], "0");
    ASSERT_EQ(made[11]["result"], "0");
  }

  std::unique_ptr<Gateway> start() {
    return std::make_unique<Gateway>(ServeOptions{}, nullptr,
                                     [this](ServeServer& s) { EXPECT_EQ(addConsoleRoutes(s, portal->root()), ""); });
  }

  struct Session {
    std::string cookie, csrf;
  };

  httplib::Result signIn(const Gateway& g, const std::string& account, const std::string& pwd,
                         const httplib::Headers& extra = {}) {
    return g.client("").Post("/console/api/signin", extra, Json{{"account", account}, {"password", pwd}}.dump(),
                             "application/json");
  }

  Session session(const Gateway& g) {
    auto r = signIn(g, "admin", "Secret");
    EXPECT_EQ(statusOf(r), 200) << (r ? r->body : "");
    if (!r) return {};
    std::string set = r->get_header_value("Set-Cookie");
    EXPECT_NE(set.find("HttpOnly"), std::string::npos);
    EXPECT_NE(set.find("SameSite=Strict"), std::string::npos);
    return {set.substr(0, set.find(';')), Json::parse(r->body)["csrf"]};
  }

  // A console batch; `change` describes it.
  httplib::Result rpc(const Gateway& g, const Session& s, const std::string& batch, httplib::Headers extra = {}) {
    extra.emplace("Cookie", s.cookie);
    if (!s.csrf.empty()) extra.emplace("X-Tivel-CSRF", s.csrf);
    return g.client("").Post("/console/rpc", extra, batch, "application/json");
  }

  std::unique_ptr<mgt::testing::Portal> portal;
  std::unique_ptr<Gateway> gateway;
};

TEST_P(ConsoleTest, WhatAnAttackerTriesIsRefused) {
  const Gateway& g = *gateway;
  const std::string one = R"([{"id":1,"new":"TivelMgt.UmMgt"}])";
  // No session: every data route answers 401.
  EXPECT_EQ(statusOf(g.client("").Get("/console/api/session")), 401);
  EXPECT_EQ(statusOf(g.client("").Post("/console/rpc", one, "application/json")), 401);
  EXPECT_EQ(statusOf(g.client("").Post("/console/api/signout", "{}", "application/json")), 401);
  EXPECT_EQ(statusOf(g.client("").Get("/console/export/users.csv")), 401);
  EXPECT_EQ(statusOf(g.client().Post("/console/rpc", one, "application/json")), 401) << "a gateway token is no session";
  // A forged or replayed cookie: a login record's token without the key's signature.
  g.batch(Json::parse(R"([{"id":"a","new":"TivelMgt.AdminMgt"},
    {"id":1,"object":{"from":"a"},"call":"loginByPwd","args":["admin","Secret","10.0.0.1"]}])"));
  const std::string pageToken = portal->scalar("select token from umLogInfo").toString();
  for (const std::string& forged : {pageToken, pageToken + ".00", std::string("tivel_console"), std::string("..")}) {
    auto r = rpc(g, {"tivel_console=" + forged, ""}, one);
    EXPECT_EQ(statusOf(r), 401) << forged;
    if (r) {
      EXPECT_NE(r->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
    }
  }

  // Sign-in: refused logins say their code; a user outside groups 1 and 2
  // is told so, logged, and its login record ended.
  auto wrong = signIn(g, "admin", "secret");
  EXPECT_EQ(statusOf(wrong), 401);
  if (wrong) {
    EXPECT_EQ(Json::parse(wrong->body)["code"], "10003");
  }
  auto plain = signIn(g, "editor", "Secret");
  EXPECT_EQ(statusOf(plain), 403);
  if (plain) {
    EXPECT_TRUE(plain->get_header_value("Set-Cookie").empty());
  }
  EXPECT_EQ(portal->count("SysLog", "disc='editor无权使用管理控制台，登录被拒绝！'"), 1);
  EXPECT_EQ(portal
                ->scalar("select isAvail from umLogInfo where usr_no=(select usr_no from umUsr where "
                         "account='editor')")
                .toLong(),
            0);
  EXPECT_EQ(statusOf(signIn(g, "admin", "Secret", {{"Origin", "http://evil.example"}})), 403);
  EXPECT_EQ(statusOf(g.client("").Post("/console/api/signin", R"(account=admin&password=Secret)",
                                       "application/x-www-form-urlencoded")),
            415)
      << "a cross-site form cannot sign in";

  // A session: its requests need the CSRF token and the console's own origin.
  Session s = session(g);
  auto ok = rpc(g, s, one);
  ASSERT_EQ(statusOf(ok), 200);
  EXPECT_EQ(statusOf(rpc(g, {s.cookie, ""}, one)), 403) << "no CSRF token";
  EXPECT_EQ(statusOf(rpc(g, {s.cookie, s.csrf + "0"}, one)), 403) << "a wrong one";
  const std::string host = "127.0.0.1:" + std::to_string(g.port());
  EXPECT_EQ(statusOf(rpc(g, s, one, {{"Origin", "http://evil.example"}})), 403);
  EXPECT_EQ(statusOf(rpc(g, s, one, {{"Sec-Fetch-Site", "same-site"}})), 403);
  EXPECT_EQ(statusOf(rpc(g, s, one, {{"Origin", "http://" + host}, {"Sec-Fetch-Site", "same-origin"}})), 200);
  // The console's scope: no raw data access, no recordset gateways, no connection string.
  auto scoped = rpc(g, s, R"([{"id":1,"new":"ADODB.Connection"},{"id":"a","new":"TivelMgt.AdminMgt"},
    {"id":2,"object":{"from":"a"},"call":"getRecordset","args":[{"ref":""},"select * from umUsr"]},
    {"id":"p","new":"TivelMgt.cPublic"},{"id":3,"object":{"from":"p"},"call":"GetDBStr"},
    {"id":4,"new":"Tivel.RegClass"},{"id":5,"new":"TivelGF.interface"}])");
  ASSERT_EQ(statusOf(scoped), 200);
  Json a = Json::parse(scoped->body);
  for (int i : {0, 2, 4, 5, 6}) EXPECT_EQ(a[i]["error"]["number"], kScopeRefused) << a[i].dump();
  EXPECT_EQ(statusOf(rpc(g, s, "not json")), 400);

  // The pages: compiled in, with the security headers; "/" leads there.
  auto index = g.client("").Get("/console/");
  ASSERT_EQ(statusOf(index), 200);
  EXPECT_NE(index->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
  EXPECT_EQ(index->get_header_value("X-Frame-Options"), "DENY");
  EXPECT_EQ(index->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(statusOf(g.client("").Get("/console/", {{"If-None-Match", index->get_header_value("ETag")}})), 304);
  EXPECT_EQ(statusOf(g.client("").Get("/console/../ini/console.key")), 404);
  auto texts = g.client("").Get("/console/codes.js");  // written by the build from the result-code table
  ASSERT_EQ(statusOf(texts), 200);
  EXPECT_NE(texts->body.find(R"("10016": ["必须先修改密码。", "The password must be changed first."])"),
            std::string::npos);
  EXPECT_NE(texts->body.find(R"("NotRun": -2147467260)"), std::string::npos);
  auto root = g.client("").Get("/");
  ASSERT_EQ(statusOf(root), 302);
  EXPECT_EQ(root->get_header_value("Location"), "/console/");

  portal->exec("update umUsr set pwd='' where account='admin'");
  EXPECT_EQ(statusOf(signIn(g, "admin", "")), 401) << "an empty stored password opens no console";
}

TEST_P(ConsoleTest, AChangeIsDoneWholeAndLoggedOrNotAtAll) {
  const Gateway& g = *gateway;
  Session s = session(g);
  const auto change = [&](const std::string& batch, const std::string& what) {
    auto r = rpc(g, s, batch, {{"Tivel-Change", what}});
    EXPECT_EQ(statusOf(r), 200);
    return r ? std::make_pair(r->get_header_value("Tivel-Change"), Json::parse(r->body))
             : std::make_pair(std::string(), Json());
  };
  const long logBefore = portal->count("SysLog"), groupsBefore = portal->count("umGrp2Usr");
  // A user in a department: AdminMgt.addUsr, its key read back and the
  // membership added, in one batch. The membership fails (no department):
  // the user is not left behind, and nothing is logged.
  const std::string addUser = R"([{"id":"a","new":"TivelMgt.AdminMgt"},
    {"id":1,"object":{"from":"a"},"call":"addUsr","args":["clerk","pw","职员","","","","",""]},
    {"id":"um","new":"TivelMgt.UmMgt"},
    {"id":"u","object":{"from":"um"},"call":"getUsrByAccount","args":["clerk"]},
    {"id":"no","object":{"from":"u"},"get":"Usr_No"},
    {"id":"m","new":"TivelPublicDB.cUmOrg2usr"},
    {"id":2,"object":{"from":"m"},"put":"Usr_No","value":{"from":"no"}},
    {"id":3,"object":{"from":"m"},"put":"Org_No","value":"ORGNO"},
    {"id":4,"object":{"from":"m"},"put":"IsMain","value":"0"},
    {"id":5,"object":{"from":"um"},"call":"addOrg2Usr","args":[{"object":{"from":"m"}}]},
    {"id":6,"object":{"from":"um"},"call":"getUsrByAccount","args":["clerk"]}])";
  std::string failing = addUser;
  failing.replace(failing.find("\"ORGNO\""), 7, "\"\"");
  auto [undone, answers] = change(failing, "add clerk");
  EXPECT_EQ(undone, "undone");
  EXPECT_EQ(answers[1]["result"], true) << "it ran, and was undone";
  EXPECT_EQ(answers[9]["result"], "10024001");
  EXPECT_EQ(answers[10]["error"]["number"], kNotRun) << "nothing runs after the failure";
  EXPECT_EQ(portal->count("umUsr", "account='clerk'"), 0);
  EXPECT_EQ(portal->count("umGrp2Usr"), groupsBefore) << "nor its group membership";
  EXPECT_EQ(portal->count("SysLog"), logBefore);

  std::string good = addUser;
  good.replace(good.find("\"ORGNO\""), 7, "\"ORG_1\"");
  auto [done, added] = change(good, "%E6%B7%BB%E5%8A%A0%E7%94%A8%E6%88%B7%20clerk%0A%3Cb%3E");
  EXPECT_EQ(done, "done") << added.dump();
  const std::string usrNo = portal->scalar("select usr_no from umUsr where account='clerk'").toString();
  EXPECT_EQ(portal->count("umOrg2Usr", "usr_no='" + usrNo + "' and org_no='ORG_1' and isMain=0"), 1);
  ASSERT_EQ(portal->count("SysLog"), logBefore + 1) << "one entry for the whole change";
  EXPECT_EQ(portal->scalar("select disc from SysLog where Mod_name='console'").toString(),
            "admin在控制台：添加用户 clerk <b> [AdminMgt.addUsr,UmMgt.addOrg2Usr]");

  // Reads change nothing and log nothing; a component's failure code in a
  // read-only batch is its answer.
  auto [none, read] = change(R"([{"id":"um","new":"TivelMgt.UmMgt"},
    {"id":1,"object":{"from":"um"},"call":"getUsr","args":[")" +
                                 usrNo + R"("]},{"id":2,"dump":{"from":1}}])",
                             "");
  EXPECT_EQ(none, "none");
  EXPECT_EQ(read[2]["result"]["Account"], "clerk");
  EXPECT_EQ(portal->count("SysLog"), logBefore + 1);

  // The users' list (ConsoleMgt, in a batch like every read) finds by
  // account or name in any letter case, takes the text literally, and pages.
  const auto users = [&](const std::string& args) {
    auto r = rpc(g, s,
                 R"([{"id":"c","new":"TivelMgt.ConsoleMgt"},
      {"id":1,"object":{"from":"c"},"call":"getUsrPage","args":)" +
                     args + R"(},{"id":2,"dump":{"from":1}},
      {"id":3,"object":{"from":"c"},"call":"getUsrCount","args":[)" +
                     Json::parse(args)[0].dump() + "]}]",
                 {});
    EXPECT_EQ(statusOf(r), 200);
    const Json a = r ? Json::parse(r->body) : Json::array();
    return a.size() == 4 && !a[1].contains("error") ? Json{{"rows", a[2]["result"]["rows"]}, {"total", a[3]["result"]}}
                                                    : Json(a.size() > 1 ? a[1] : Json());
  };
  EXPECT_EQ(users(R"(["CLE",0,50])")["rows"][0][1], "clerk");
  EXPECT_EQ(users(R"(["职员",0,50])")["rows"][0][0], usrNo) << "by name";
  EXPECT_EQ(users(R"(["%",0,50])")["total"], 0) << "% is no wildcard";
  EXPECT_EQ(users(R"(["_",0,50])")["total"], 0);
  const Json second = users(R"(["",1,2])");
  EXPECT_EQ(second["total"], 3);
  EXPECT_EQ(second["rows"].size(), 1u);
  EXPECT_TRUE(users(R"(["",0,201])").contains("error")) << "no such page";
  EXPECT_TRUE(users(R"(["a\u0000b",0,50])").contains("error")) << "a control character reaches no statement";
}

TEST_P(ConsoleTest, SessionsEndOnEveryHost) {
  Session s = session(*gateway);
  Gateway second({}, nullptr, [this](ServeServer& srv) { addConsoleRoutes(srv, portal->root()); });
  const auto status = [&](const Gateway& g) {
    return statusOf(g.client("").Get("/console/api/session", {{"Cookie", s.cookie}}));
  };
  EXPECT_EQ(status(*gateway), 200);
  EXPECT_EQ(status(second), 200) << "the login record is the session, on any host";
  auto out = second.client("").Post("/console/api/signout", {{"Cookie", s.cookie}, {"X-Tivel-CSRF", s.csrf}}, "",
                                    "application/json");
  EXPECT_EQ(statusOf(out), 200);
  EXPECT_EQ(status(*gateway), 401);
  EXPECT_EQ(status(second), 401);

  // Idle past the time-out (30 minutes by default), or older than the
  // lifetime (8 hours): ended, for every host.
  s = session(*gateway);
  const std::string token = portal->scalar("select token from consoleSession").toString();
  EXPECT_EQ(status(second), 200);
  portal->exec("update consoleSession set last_seen='2000-01-01 00:00:00'");
  EXPECT_EQ(status(second), 401);
  EXPECT_EQ(portal->scalar("select isAvail from umLogInfo where token='" + token + "'").toLong(), 0);
  s = session(*gateway);
  EXPECT_EQ(status(*gateway), 200);
  portal->exec("update umLogInfo set login_datetime='2000-01-01 00:00:00' where isAvail=1");
  EXPECT_EQ(status(second), 401);
  s = session(*gateway);
  // An administrator no longer in groups 1 and 2 is out at the next request.
  portal->exec("delete from umGrp2Usr where Grp_no in ('1','2')");
  EXPECT_EQ(status(*gateway), 401);
}

// With the second factor on for an administrator, the password opens no
// session: it answers a challenge, and only the challenge with a right code
// (AdminMgt.loginAgain) does, once.
TEST_P(ConsoleTest, TheSecondFactorOpensTheSession) {
  const Gateway& g = *gateway;
  const std::string secret = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
  ASSERT_TRUE(
      profile::writePrivateProfileString("Security", "second_factor", "totp", portal->root() + "/ini/SysTivel.ini"));
  const std::string no = portal->scalar("select usr_no from umUsr where account='admin'").toString();
  portal->exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('5','" + no + "','1',1)");
  portal->exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('6','" + no + "','" + secret + "',1)");
  const auto code = [&] {
    return mgt::second_factor::codeAt(*mgt::second_factor::decodeBase32(secret), std::time(nullptr) / 30);
  };
  const auto second = [&](const std::string& challenge, const std::string& c) {
    return g.client("").Post("/console/api/code", Json{{"challenge", challenge}, {"code", c}}.dump(),
                             "application/json");
  };
  auto first = signIn(g, "admin", "Secret");
  ASSERT_EQ(statusOf(first), 202);
  EXPECT_TRUE(first->get_header_value("Set-Cookie").empty()) << "no session from the password";
  const std::string challenge = Json::parse(first->body)["challenge"];
  EXPECT_EQ(portal->count("consoleSession"), 0);

  auto wrong = second(challenge, std::to_string((std::stoi(code()) + 1) % 1000000 + 1000000).substr(1));
  EXPECT_EQ(statusOf(wrong), 401);
  EXPECT_EQ(Json::parse(wrong->body)["error"], "code");
  std::string altered = challenge;
  altered.back() = altered.back() == '0' ? '1' : '0';
  EXPECT_EQ(Json::parse(second(altered, code())->body)["error"], "challenge");
  EXPECT_EQ(portal->count("consoleSession"), 0);

  auto right = second(challenge, code());
  ASSERT_EQ(statusOf(right), 200) << right->body;
  const std::string set = right->get_header_value("Set-Cookie");
  EXPECT_EQ(statusOf(g.client("").Get("/console/api/session", {{"Cookie", set.substr(0, set.find(';'))}})), 200);
  EXPECT_EQ(Json::parse(second(challenge, code())->body)["error"], "challenge") << "a challenge opens once";
  EXPECT_EQ(portal->count("SysLog", "disc='admin二次登录成功！'"), 1);
}

// A session ends when its user's password changes (by any path), or the
// user expires, is frozen or locked; an administrator lists a user's
// sessions and ends them all.
TEST_P(ConsoleTest, ASessionEndsWithItsCredentialsAndStanding) {
  const std::string ini = portal->root() + "/ini/SysTivel.ini";
  ASSERT_TRUE(profile::writePrivateProfileString("Console", "recheck_seconds", "0", ini));
  gateway = start();  // the settings are read as the routes are added
  const std::string no = portal->scalar("select usr_no from umUsr where account='admin'").toString();
  const auto alive = [&](const Session& s) {
    return statusOf(gateway->client("").Get("/console/api/session", {{"Cookie", s.cookie}})) == 200;
  };
  const auto pages = [&](const std::string& call) {
    Json a = gateway->batch(Json::parse(R"([{"id":"o","new":"TivelMgt.UmMgt"},)" + call + "]"));
    EXPECT_FALSE(a[1].contains("error")) << a.dump();
  };
  Session s = session(*gateway);
  ASSERT_TRUE(alive(s));
  pages(R"({"id":1,"object":{"from":"o"},"call":"changePwd","args":[")" + no + R"(","Secret"]})");
  EXPECT_TRUE(alive(s)) << "the same password written again";
  pages(R"({"id":1,"object":{"from":"o"},"call":"changePwd","args":[")" + no + R"(","Other"]})");
  EXPECT_FALSE(alive(s)) << "a password reset through the pages";
  pages(R"({"id":1,"object":{"from":"o"},"call":"changePwd","args":[")" + no + R"(","Secret"]})");

  s = session(*gateway);
  portal->exec("update umUsr set state=2 where usr_no='" + no + "'");
  EXPECT_FALSE(alive(s)) << "frozen";
  portal->exec("update umUsr set state=0 where usr_no='" + no + "'");

  ASSERT_TRUE(profile::writePrivateProfileString("Policy", "enforce", "1", ini));
  s = session(*gateway);
  portal->exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('7','" + no + "','2001-01-01',1)");
  EXPECT_FALSE(alive(s)) << "the account expired";
  portal->exec("delete from umUsrSecInst where usa_no='7'");
  s = session(*gateway);
  portal->exec("delete from umUsrSecInst where usa_no in ('3','4')");
  portal->exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('3','" + no + "','9',1)");
  portal->exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('4','" + no + "','3',1)");
  EXPECT_FALSE(alive(s)) << "locked";
  portal->exec("delete from umUsrSecInst where usa_no in ('3','4')");

  // Sign out everywhere: two sessions listed, both ended, the act logged.
  Session one = session(*gateway), two = session(*gateway);
  const std::string console = R"([{"id":"c","new":"TivelMgt.ConsoleMgt"},)";
  auto listed = rpc(*gateway, one,
                    console + R"({"id":1,"object":{"from":"c"},"call":"getUsrSessions","args":[")" + no +
                        R"("]},{"id":2,"dump":{"from":1}}])");
  ASSERT_EQ(statusOf(listed), 200);
  const Json rows = Json::parse(listed->body)[2]["result"]["rows"];
  ASSERT_EQ(rows.size(), 2u) << listed->body;
  EXPECT_NE(rows[0][3], rows[1][3]) << "the caller's own session is marked";
  auto unknown = rpc(*gateway, one,
                     console + R"({"id":1,"object":{"from":"c"},"call":"endUsrSessions","args":["none",{"ref":0}]}])");
  ASSERT_EQ(statusOf(unknown), 200);
  EXPECT_EQ(unknown->get_header_value("Tivel-Change"), "undone") << "no such user: nothing ends";
  EXPECT_TRUE(alive(one));
  auto ended =
      rpc(*gateway, two,
          console + R"({"id":1,"object":{"from":"c"},"call":"endUsrSessions","args":[")" + no + R"(",{"ref":0}]}])",
          {{"Tivel-Change", "end"}});
  ASSERT_EQ(statusOf(ended), 200);
  EXPECT_EQ(Json::parse(ended->body)[1]["refs"]["1"], 2) << ended->body;
  EXPECT_NE(ended->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos) << "its own session ended";
  EXPECT_FALSE(alive(one));
  EXPECT_FALSE(alive(two));
  EXPECT_EQ(portal->count("SysLog", "disc like 'admin在控制台：结束 admin 的全部会话%'"), 1);
}

// Users' secrets never reach the console, nor a token whose scope withholds
// them; the pages' own scope keeps them. A second factor enrolled in the
// console shows its secret once.
TEST_P(ConsoleTest, SecretsStayHome) {
  Session s = session(*gateway);
  const std::string no = portal->scalar("select usr_no from umUsr where account='admin'").toString();
  auto enrolled = rpc(*gateway, s,
                      R"([{"id":"c","new":"TivelMgt.ConsoleMgt"},{"id":1,"object":{"from":"c"},"call":"enrollUsrTotp",
                         "args":[")" +
                          no + R"(",{"ref":""},{"ref":""},{"ref":""}]}])");
  ASSERT_EQ(statusOf(enrolled), 200);
  ASSERT_EQ(enrolled->get_header_value("Tivel-Change"), "done") << enrolled->body;
  const Json shown = Json::parse(enrolled->body)[1]["refs"];
  const std::string secret = shown["1"];
  EXPECT_EQ(secret.size(), 32u);
  EXPECT_EQ(shown["2"].get<std::string>().rfind("otpauth://", 0), 0u);
  EXPECT_EQ(shown["3"].get<std::string>().rfind("<svg", 0), 0u);
  EXPECT_EQ(portal->count("SysLog", "disc like 'admin在控制台：为 admin 启用二次验证'"), 1);
  EXPECT_EQ(portal->scalar("select usi_value from umUsrSecInst where usa_no='6' and usr_no='" + no + "'").toString(),
            secret);

  const std::string reads = R"([{"id":"um","new":"TivelMgt.UmMgt"},
    {"id":"u","object":{"from":"um"},"call":"getUsr","args":[")" +
                            no + R"("]},{"id":1,"dump":{"from":"u"}},
    {"id":2,"object":{"from":"u"},"get":"Pwd"},
    {"id":3,"object":{"from":"um"},"call":"getUsrSecValue","args":["PwdTwo",")" +
                            no + R"("]},
    {"id":"v","object":{"from":"um"},"call":"getUsiOfUsr","args":[")" +
                            no + R"("]},{"id":4,"dump":{"from":"v"}},
    {"id":"all","object":{"from":"um"},"call":"getAllUsr"},{"id":5,"dump":{"from":"all"}},
    {"id":"i","object":{"from":"um"},"call":"getUsi","args":["6",")" +
                            no + R"("]},
    {"id":6,"object":{"from":"i"},"get":"Usi_Value"}])";
  auto console = rpc(*gateway, s, reads);
  ASSERT_EQ(statusOf(console), 200);
  EXPECT_EQ(console->body.find("Secret"), std::string::npos) << console->body;
  EXPECT_EQ(console->body.find(secret), std::string::npos) << console->body;
  const Json a = Json::parse(console->body);
  EXPECT_EQ(a[3]["error"]["number"], kScopeRefused);
  EXPECT_EQ(a[2]["result"]["Account"], "admin") << "the rest of the record is there";

  EXPECT_NE(gateway->batch(Json::parse(reads)).dump().find(secret), std::string::npos) << "the pages' scope keeps them";
  const std::string withheld(64, 'w');
  ServeOptions o;
  o.tokens = TokenTable::single("reports", withheld, "pages,secrets=withheld");
  Gateway g(o);
  const std::string answer = g.batch(Json::parse(reads), withheld).dump();
  EXPECT_EQ(answer.find("Secret"), std::string::npos) << answer;
  EXPECT_EQ(answer.find(secret), std::string::npos) << answer;
}

// Guessing: an unknown account answers as a wrong password, and after a few
// failures the account must wait (429, Retry-After), also for the right
// password. Reads refuse control characters.
TEST_P(ConsoleTest, GuessesAreThrottledAndTellNothing) {
  const Gateway& g = *gateway;
  auto unknown = signIn(g, "nobody", "Secret");
  EXPECT_EQ(statusOf(unknown), 401);
  EXPECT_EQ(Json::parse(unknown->body)["code"], "10003");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(statusOf(signIn(g, i % 2 ? "admin" : " ADMIN", "wrong")), 401) << i;
  auto held = signIn(g, "admin", "Secret");
  ASSERT_EQ(statusOf(held), 429);
  EXPECT_EQ(held->get_header_value("Retry-After"), "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Session s = session(g);
  EXPECT_EQ(statusOf(signIn(g, "editor", "Secret")), 403) << "another account is not held";
  auto nul = rpc(g, s, R"([{"id":"c","new":"TivelMgt.ConsoleMgt"},
    {"id":1,"object":{"from":"c"},"call":"getUsrSessions","args":["a\u0000b"]}])");
  ASSERT_EQ(statusOf(nul), 200);
  EXPECT_TRUE(Json::parse(nul->body)[1].contains("error")) << nul->body;
}

// Sign-ins of directory users wait on a directory that never answers on a
// lane of their own, at most max_binds at the directory: /health and the
// console's pages answer meanwhile.
TEST_P(ConsoleTest, AHangingDirectoryHoldsOnlySignIns) {
  mgt::testing::BlackHole hole;
  mgt::testing::writeDirectoryConfig(portal->root(), {{"url", hole.url()},
                                                      {"user_dn", "uid={account},dc=example,dc=org"},
                                                      {"all_users", "1"},
                                                      {"timeout_ms", "3000"},
                                                      {"max_binds", "2"}});
  std::atomic<int> ended{0};
  std::vector<std::thread> signIns;
  for (int i = 0; i < 4; ++i)
    signIns.emplace_back([&] {
      auto r = gateway->client("").Post("/console/api/signin", R"({"account":"editor","password":"pw"})",
                                        "application/json");
      EXPECT_EQ(statusOf(r), 401);
      ++ended;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(statusOf(gateway->client("").Get("/health")), 200);
    EXPECT_EQ(statusOf(gateway->client("").Get("/console/")), 200);
  }
  EXPECT_EQ(ended.load(), 0) << "the sign-ins ended before the checks ran";
  for (std::thread& t : signIns) t.join();
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsoleTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::tool
