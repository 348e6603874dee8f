// The HTTP gateway in-process against a portal root on each engine, and the
// built command under SIGTERM.
#include "tools/tivel/serve/server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mgt/testing/portal.h"
#include "testing/engines.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/workers.h"

extern char** environ;

namespace tivel::tool {
namespace {

const std::string kToken(64, 'a');

// A gateway on a free loopback port, serving until the object goes.
class Gateway {
 public:
  explicit Gateway(ServeOptions o = {}) {
    o.host = "127.0.0.1";
    o.port = 0;
    if (o.token.empty()) o.token = kToken;
    o.accessLog = [](const std::string&) {};
    server_ = std::make_unique<ServeServer>(std::move(o));
    port_ = server_->bind();
    thread_ = std::thread([this] { server_->run(); });
  }
  ~Gateway() {
    server_->stop();
    thread_.join();
  }
  int port() const { return port_; }
  httplib::Client client(const std::string& token = kToken) const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(60, 0);
    if (!token.empty()) c.set_bearer_token_auth(token.c_str());
    return c;
  }
  // The answers of one batch, expecting 200.
  Json batch(const Json& requests) const {
    auto res = client().Post("/rpc", requests.dump(), "application/json");
    EXPECT_TRUE(res);
    if (!res) return Json::array();
    EXPECT_EQ(res->status, 200) << res->body;
    return Json::parse(res->body);
  }

 private:
  std::unique_ptr<ServeServer> server_;
  int port_ = 0;
  std::thread thread_;
};

int statusOf(const httplib::Result& r) { return r ? r->status : -1; }

TEST(ServeTest, RefusesWhatItShould) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.maxBody = 4096;
  o.maxRequests = 3;
  o.workers = 1;
  Gateway g(o);
  const std::string one = R"([{"id":1,"members":"TivelPublicDB.cUmOrg"}])";
  EXPECT_EQ(statusOf(g.client("").Post("/rpc", one, "application/json")), 401);
  auto wrong = g.client(std::string(64, 'b')).Post("/rpc", one, "application/json");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);
  EXPECT_EQ(Json::parse(wrong->body)["error"]["description"], "Unauthorized");
  EXPECT_EQ(statusOf(g.client(kToken.substr(0, 63)).Post("/rpc", one, "application/json")), 401);
  EXPECT_EQ(statusOf(g.client("").Get("/metrics")), 401);
  EXPECT_EQ(statusOf(g.client().Post("/rpc", one, "application/json")), 200);

  httplib::Client c = g.client();
  EXPECT_EQ(statusOf(c.Post("/rpc", "[" + std::string(5000, ' ') + "]", "application/json")), 413);
  EXPECT_EQ(statusOf(c.Post("/rpc", R"([{"id":1},{"id":2},{"id":3},{"id":4}])", "application/json")), 413);
  for (const std::string& bad :
       std::vector<std::string>{"[{", "{\"id\":1}", "", std::string(70, '[') + std::string(70, ']')}) {
    auto r = c.Post("/rpc", bad, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << bad;
    EXPECT_TRUE(Json::parse(r->body).contains("error")) << r->body;
  }
  EXPECT_EQ(statusOf(c.Get("/nowhere")), 404);
  EXPECT_EQ(statusOf(c.Get("/rpc")), 405);
  EXPECT_EQ(statusOf(c.Post("/health", "", "text/plain")), 405);
  // Bad requests inside a good batch are answers, not HTTP failures.
  Json a = g.batch(Json::parse(R"([{"id":1,"dump":99},7])"));
  EXPECT_TRUE(a[0].contains("error"));
  EXPECT_TRUE(a[1].contains("error"));

  auto health = g.client("").Get("/health");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(health->body, R"({"status":"ok"})");
  auto metrics = c.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("tivel_serve_requests_total{path=\"/rpc\",status=\"401\"} 3"), std::string::npos)
      << metrics->body;
  EXPECT_NE(metrics->body.find("tivel_serve_call_errors_total 2"), std::string::npos);
  EXPECT_NE(metrics->body.find("tivel_serve_workers 1"), std::string::npos);
}

TEST(ServeTest, StopsWhenAskedAtOnce) {
  for (int i = 0; i < 20; ++i) Gateway g;  // stop() may come before the listener starts
}

TEST(ServeTest, TokenFileIsPrivateAndKept) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir.path() + "/ini");
  EXPECT_THROW(readServeToken(dir.path()), std::runtime_error);
  EXPECT_TRUE(ensureServeToken(dir.path()));
  const std::string token = readServeToken(dir.path());
  EXPECT_EQ(token.size(), 64u);
  EXPECT_FALSE(ensureServeToken(dir.path()));
  EXPECT_EQ(readServeToken(dir.path()), token);
  std::filesystem::permissions(serveTokenPath(dir.path()), std::filesystem::perms::group_read,
                               std::filesystem::perm_options::add);
  EXPECT_THROW(readServeToken(dir.path()), std::runtime_error);
  EXPECT_TRUE(sameToken(token, token));
  EXPECT_FALSE(sameToken(token.substr(1), token));
  EXPECT_FALSE(sameToken(token + "x", token));
}

TEST(ServeTest, TlsServesWithTheGivenCertificate) {
  mgt::testing::Portal portal("sqlite", false);
  const std::string cert = portal.root() + "/cert.pem", key = portal.root() + "/key.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                         "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                         key + " -out " + cert + " 2>/dev/null")
                            .c_str()),
            0);
  ServeOptions bad;
  bad.token = kToken;
  bad.tlsCert = cert;
  bad.tlsKey = cert;  // no key in it
  EXPECT_THROW(ServeServer{bad}, std::runtime_error);

  ServeOptions o;
  o.tlsCert = cert;
  o.tlsKey = key;
  o.workers = 1;
  Gateway g(o);
  httplib::SSLClient c("127.0.0.1", g.port());
  c.set_ca_cert_path(cert.c_str());
  c.enable_server_certificate_verification(true);
  c.set_bearer_token_auth(kToken.c_str());
  auto answer = c.Post("/rpc", R"([{"id":"um","new":"TivelMgt.UmMgt"}])", "application/json");
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(Json::parse(answer->body)[0]["result"]["class"], "UmMgt");
  EXPECT_EQ(statusOf(g.client("").Get("/health")), -1);  // plain HTTP gets no answer
}

TEST(ServeTest, WorkersAdmitAtMostTheirCountUntilTheDeadline) {
  Workers w(1);
  const auto soon = [] { return Workers::Clock::now() + std::chrono::milliseconds(20); };
  ASSERT_TRUE(w.enter(soon()));
  EXPECT_FALSE(w.enter(soon()));  // full until the deadline
  std::atomic<bool> admitted{false};
  std::thread waiter([&] { admitted = w.enter(Workers::Clock::now() + std::chrono::seconds(30)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  w.leave();  // lets the waiter in
  waiter.join();
  EXPECT_TRUE(admitted);
  EXPECT_EQ(w.busy(), 1);
  w.leave();
  EXPECT_EQ(w.busy(), 0);
}

TEST(ServeTest, StartUpFailureAnswers503AndTheNextBatchTriesAgain) {
  mgt::testing::Portal portal("sqlite", false);
  const std::string file = portal.root() + "/db/tivel.db";
  std::filesystem::rename(file, file + ".aside");
  std::filesystem::create_directory(file);  // a database that cannot be opened
  ServeOptions o;
  o.workers = 1;
  Gateway g(o);
  const std::string one = R"([{"id":"um","new":"TivelMgt.UmMgt"}])";
  auto down = g.client().Post("/rpc", one, "application/json");
  ASSERT_TRUE(down);
  EXPECT_EQ(down->status, 503);
  EXPECT_EQ(Json::parse(down->body)["error"]["description"], "连接数据库出错！");
  EXPECT_EQ(statusOf(g.client("").Get("/health")), 503);
  std::filesystem::remove(file);
  std::filesystem::rename(file + ".aside", file);
  EXPECT_EQ(statusOf(g.client("").Get("/health")), 200);
  Json up = g.batch(Json::parse(one));
  EXPECT_EQ(up[0]["result"]["class"], "UmMgt");
}

class ServeDbTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { portal = std::make_unique<mgt::testing::Portal>(GetParam(), true); }
  std::unique_ptr<mgt::testing::Portal> portal;
};

TEST_P(ServeDbTest, OneRoundTripAddAndNestedListsThenNothingOutlivesTheBatch) {
  ServeOptions o;
  o.workers = 2;
  Gateway g(o);
  Json a = g.batch(Json::parse(R"([
    {"id":"org","new":"TivelPublicDB.cUmOrg"},
    {"id":1,"object":{"from":"org"},"put":"Name","value":"总部"},
    {"id":"um","new":"TivelMgt.UmMgt"},
    {"id":2,"object":{"from":"um"},"call":"addOrg","args":[{"object":{"from":"org"}},{"ref":""}]},
    {"id":"admin","new":"TivelMgt.AdminMgt"},
    {"id":3,"object":{"from":"admin"},"call":"addUsr","args":["Editor","Secret","编辑","","","","",""]},
    {"id":"users","object":{"from":"um"},"call":"getAllUsr"},
    {"id":4,"dump":{"from":"users"}}])"));
  ASSERT_EQ(a.size(), 8u) << a.dump();
  for (const Json& answer : a) EXPECT_FALSE(answer.contains("error")) << answer.dump();
  EXPECT_EQ(a[3]["result"], "0");
  const std::string orgNo = a[3]["refs"]["1"].get<std::string>();
  EXPECT_EQ(portal->scalar("select name from umOrg where org_no='" + orgNo + "'").toString(), "总部");
  EXPECT_EQ(a[5]["result"], true);
  ASSERT_EQ(a[7]["result"].size(), 1u) << a[7].dump();
  EXPECT_EQ(a[7]["result"][0]["item"]["Account"], "Editor");  // the record's properties, not a handle

  // The next batch starts with no handles and no names.
  Json b = g.batch(Json::parse(R"([{"id":1,"dump":1},{"id":2,"dump":{"from":"users"}}])"));
  EXPECT_TRUE(b[0].contains("error"));
  EXPECT_TRUE(b[1].contains("error"));
}

TEST_P(ServeDbTest, ConcurrentLoginsOfOneUserLoseNothing) {
  ServeOptions o;
  o.workers = 2;
  Gateway g(o);
  Json added = g.batch(Json::parse(R"([{"id":"a","new":"TivelMgt.AdminMgt"},
    {"id":1,"object":{"from":"a"},"call":"addUsr","args":["Editor","Secret","编辑","","","","",""]}])"));
  ASSERT_EQ(added[1]["result"], true) << added.dump();
  const long before = portal->scalar("select login_count from umUsr where account='Editor'").toLong();
  const long logBefore = portal->count("SysLog");
  constexpr int kClients = 8, kEach = 4;
  std::atomic<int> accepted{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&] {
      httplib::Client c = g.client();
      for (int k = 0; k < kEach; ++k) {
        auto r = c.Post("/rpc", R"([{"id":"a","new":"TivelMgt.AdminMgt"},
          {"id":1,"object":{"from":"a"},"call":"loginByPwd","args":["Editor","Secret","10.0.0.9"]}])",
                        "application/json");
        if (r && r->status == 200 && Json::parse(r->body)[1]["result"] == "0") ++accepted;
      }
    });
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(accepted.load(), kClients * kEach);
  EXPECT_EQ(portal->scalar("select login_count from umUsr where account='Editor'").toLong(), before + kClients * kEach);
  EXPECT_EQ(portal->count("umLogInfo"), kClients * kEach);
  EXPECT_EQ(portal->scalar("select count(distinct token) from umLogInfo").toLong(), kClients * kEach);
  EXPECT_EQ(portal->count("SysLog") - logBefore, kClients * kEach);
}

INSTANTIATE_TEST_SUITE_P(Engines, ServeDbTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

// The built command: SIGTERM while a long batch runs lets it finish, then
// the server exits 0.
TEST(ServeCommandTest, SigtermLetsTheBatchInFlightFinish) {
  const char* bin = std::getenv("TIVEL_BIN");
  ASSERT_NE(bin, nullptr);
  const std::string tivel = std::string(bin) + "/tivel";
  testing::TempDir dir;
  const std::string root = dir.path() + "/root";
  ASSERT_EQ(std::system((tivel + " init --root " + root + " >/dev/null").c_str()), 0);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {tivel, "serve", "--root", root, "--listen", "127.0.0.1:0", "--threads", "1"};
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  ::close(out[1]);
  std::string line;
  for (char ch; ::read(out[0], &ch, 1) == 1 && ch != '\n';) line += ch;
  ::close(out[0]);
  ASSERT_EQ(line.rfind("listening on http://127.0.0.1:", 0), 0u) << line;
  const int port = std::stoi(line.substr(line.rfind(':') + 1));
  const std::string token = readServeToken(root);

  Json big = Json::array();
  big.push_back(Json::parse(R"({"id":"um","new":"TivelMgt.UmMgt"})"));
  for (int i = 0; i < 3000; ++i)
    big.push_back(Json{{"id", i}, {"object", {{"from", "um"}}}, {"call", "getUsrByAccount"}, {"args", {"nobody"}}});
  int answerStatus = -1;
  std::string answerBody;
  std::thread client([&] {
    httplib::Client c("127.0.0.1", port);
    c.set_bearer_token_auth(token.c_str());
    c.set_read_timeout(120, 0);
    if (auto r = c.Post("/rpc", big.dump(), "application/json")) {
      answerStatus = r->status;
      answerBody = r->body;
    }
  });
  // Wait until the worker is busy with the batch, then ask the server to stop.
  httplib::Client probe("127.0.0.1", port);
  probe.set_bearer_token_auth(token.c_str());
  bool busy = false;
  for (int i = 0; i < 20000 && !busy; ++i) {
    auto m = probe.Get("/metrics");
    busy = m && m->body.find("tivel_serve_workers_busy 1") != std::string::npos;
    if (!busy) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  EXPECT_TRUE(busy) << "the batch never ran";
  ::kill(pid, SIGTERM);
  client.join();
  ASSERT_EQ(answerStatus, 200) << answerBody;
  Json answers = Json::parse(answerBody);
  ASSERT_EQ(answers.size(), big.size());
  EXPECT_FALSE(answers.back().contains("error")) << answers.back().dump();
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace tivel::tool
