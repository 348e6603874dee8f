// The HTTP gateway in-process against a portal root on each engine, and the
// built command under SIGTERM.
#include "tools/tivel/serve/server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include <httplib.h>
#include <spawn.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mgt/testing/portal.h"
#include "testing/engines.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/test_gateway.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/tokens.h"
#include "tools/tivel/version.h"

extern char** environ;

namespace tivel::tool {
namespace {

using namespace servetest;

TEST(ServeTest, RefusesWhatItShould) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.maxBody = 4096;
  o.batch.maxRequests = 3;
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
  EXPECT_NE(metrics->body.find("tivel_serve_requests_total{path=\"/rpc\",status=\"401\",token=\"\"} 3"),
            std::string::npos)
      << metrics->body;
  EXPECT_NE(metrics->body.find("tivel_serve_call_errors_total{token=\"pages\"} 2"), std::string::npos);
  EXPECT_NE(metrics->body.find("tivel_serve_workers 1"), std::string::npos);
}

// The count of the latency histogram in a /metrics text.
long histogramCount(const std::string& metrics) {
  const std::string key = "tivel_serve_request_duration_seconds_count ";
  const size_t at = metrics.find(key);
  return at == std::string::npos ? -1 : std::stol(metrics.substr(at + key.size()));
}

// Heads an attacker would send: each is refused with its status and the
// connection closed; heads that never became requests are not timed.
TEST(ServeTest, MalformedHeadsAreRefusedAndLeaveTheHistogramAlone) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.workers = 1;
  Gateway g(o);
  const std::string auth = "Authorization: Bearer " + kToken + "\r\n";
  const std::string body = R"([{"id":1,"members":"TivelPublicDB.cUmOrg"}])";
  const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
  std::string manyLines;
  for (int i = 0; i < 101; ++i) manyLines += "X-Line-" + std::to_string(i) + ": x\r\n";
  const struct {
    std::string head;
    const char* status;
  } cases[] = {
      {"POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + length + "Content-Length: 5\r\n\r\n" + body, " 400 "},
      {"POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + length + length + "\r\n" + body, " 400 "},
      {"POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + length + "Transfer-Encoding: chunked\r\n\r\n" + body, " 400 "},
      {"POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + manyLines + length + "\r\n" + body, " 431 "},
      {"POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "X-Big: " + std::string(70 * 1024, 'b') + "\r\n" + length + "\r\n" +
           body,
       " 431 "},
      // Heads another parser would read differently.
      {"POST /rpc%00 HTTP/1.1\r\nHost: x\r\n" + auth + length + "\r\n" + body, " 400 "},
      {"GET /health%0d%0aX:y HTTP/1.1\r\nHost: x\r\n\r\n", " 400 "},
      {"GET /health?a=%01 HTTP/1.1\r\nHost: x\r\n\r\n", " 400 "},
      {std::string("GET /health HTTP/1.1\r\nHost: x\r\nX-A: a\0b\r\n\r\n", 43), " 400 "},
      {"GET /health HTTP/1.1\r\nHost: x\r\nX-A: a\x01"
       "b\r\n\r\n",
       " 400 "},
      {"GET /health HTTP/1.1\nHost: x\n\n", " 400 "},
      {"GET /health HTTP/1.1\r\nHost: x\r\nX-A: a\nX-B: b\r\n\r\n", " 400 "},
      {"GET /health HTTP/1.1\r\nHost: x\r\nX-A: a\r\n b\r\n\r\n", " 400 "},
      {"GET /health HTTP/1.1\r\nHost: x\r\nTransfer-Encoding : chunked\r\n\r\n", " 400 "},
      {"GET /health HTTP/1.1\r\n\r\n", " 400 "},
  };
  for (const auto& c : cases) {
    RawConnection conn(g.port());
    ASSERT_TRUE(conn.send(c.head));
    const std::string answer = conn.receive();
    EXPECT_NE(answer.substr(0, 16).find(c.status), std::string::npos) << answer.substr(0, 200);
    EXPECT_TRUE(conn.closed());
  }
  const long timed = histogramCount(g.metrics());
  for (const char* junk :
       {"GARBAGE\r\n\r\n", "\x01\x02\x03 / HTTP/1.1\r\n\r\n", "GET /x HTTP/1.1\r\nno colon\r\n\r\n"}) {
    RawConnection conn(g.port());
    conn.send(junk);
    conn.receive();
  }
  EXPECT_EQ(histogramCount(g.metrics()), timed + 1);  // the /metrics request itself
}

// A batch whose statement never ends; its batch's deadline interrupts it.
const std::string kEndless = R"([{"id":"a","new":"TivelMgt.AdminMgt"},{"id":1,"object":{"from":"a"},
  "call":"getRecordset","args":[{"ref":""},
  "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c"]}])";
const std::string kCheap = R"([{"id":1,"new":"TivelMgt.UmMgt"}])";

// Whether /metrics shows `line` within a few seconds.
bool metricWithin(const Gateway& g, const std::string& line) {
  for (int i = 0; i < 500; ++i) {
    if (g.metrics().find(line + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Batches run on workers, apart from the HTTP threads: while long batches
// run, /health and cheap batches on new connections (whichever HTTP thread
// takes them) are answered; once every worker is busy and the queue is
// full, a batch gets 503 with Retry-After, and /health still answers.
TEST(ServeTest, LongBatchesStallNoOne) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.workers = 2;
  o.maxQueued = 1;
  o.batch.timeout = std::chrono::milliseconds(8000);
  Gateway g(o);
  std::atomic<int> longDone{0};
  const auto endless = [&] {
    EXPECT_EQ(statusOf(g.client().Post("/rpc", kEndless, "application/json")), 200);
    ++longDone;
  };
  std::thread first(endless);
  ASSERT_TRUE(metricWithin(g, "tivel_serve_workers_busy 1"));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(statusOf(g.client("").Get("/health")), 200);
    EXPECT_EQ(g.batch(Json::parse(kCheap))[0]["result"]["class"], "UmMgt");
  }
  std::thread second(endless);
  ASSERT_TRUE(metricWithin(g, "tivel_serve_workers_busy 2"));
  std::thread queued([&] { EXPECT_EQ(statusOf(g.client().Post("/rpc", kCheap, "application/json")), 200); });
  ASSERT_TRUE(metricWithin(g, "tivel_serve_queued 1"));
  auto full = g.client().Post("/rpc", kCheap, "application/json");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->status, 503);
  EXPECT_EQ(full->get_header_value("Retry-After"), "1");
  EXPECT_EQ(statusOf(g.client("").Get("/health")), 200);
  EXPECT_EQ(longDone.load(), 0) << "the long batches ended before the checks ran";
  first.join();
  second.join();
  queued.join();
}

// A body over its route's limit gets a 413 the client reads, whether it
// waits for 100 Continue or sends the body at once; bodies of open routes
// are small and held together within one cap.
TEST(ServeTest, BodiesAreBounded) {
  ServeOptions o;
  o.workers = 1;
  o.maxBody = 4096;
  o.maxAnonymousMemory = 64 * 1024;
  Gateway g(o, nullptr, [](ServeServer& s) {
    s.addRoute({"POST", "/open", false, Access::Open,
                [](const HttpRequest& r, HttpResponse& res) { res.body = std::to_string(r.body.size()); }, Lane::Quick,
                40000});
    s.addRoute({"POST", "/small", false, Access::Open, [](const HttpRequest&, HttpResponse&) {}, Lane::Inline});
  });
  auto plain = g.client().Post("/rpc", std::string(1 << 20, ' '), "application/json");  // sent whole, then read
  EXPECT_EQ(statusOf(plain), 413);
  const std::string auth = "Authorization: Bearer " + kToken + "\r\n";
  const std::string chunk = "1000\r\n" + std::string(4096, ' ') + "\r\n";
  const struct {
    std::string request;
    const char* status;
  } cases[] = {
      {"POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n" + chunk + chunk + "0\r\n\r\n",
       " 413 "},
      {"POST /open HTTP/1.1\r\nHost: x\r\nContent-Length: 50000\r\n\r\n" + std::string(50000, 'x'), " 413 "},
      {"POST /small HTTP/1.1\r\nHost: x\r\nContent-Length: 20000\r\n\r\n" + std::string(20000, 'x'), " 413 "},
      {"POST /small HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 2\r\n\r\n{}", " 200 "},
  };
  for (const auto& c : cases) {
    RawConnection conn(g.port());
    ASSERT_TRUE(conn.send(c.request));
    EXPECT_EQ(conn.receive().substr(0, 16).find(c.status), 8u) << c.request.substr(0, 60);
  }
  {
    RawConnection waits(g.port());
    waits.send("POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 5000\r\nExpect: 100-continue\r\n\r\n");
    EXPECT_EQ(waits.receive().substr(0, 13), "HTTP/1.1 413 ");
  }
  // Two bodies of 30,000 bytes fit the cap of 64 KiB, a third does not until one is done.
  const std::string head = "POST /open HTTP/1.1\r\nHost: x\r\nContent-Length: 30000\r\n\r\n";
  RawConnection a(g.port()), b(g.port());
  a.send(head + std::string(100, 'x'));
  b.send(head);
  ASSERT_TRUE(metricWithin(g, "tivel_serve_open_body_bytes 60000"));
  {
    RawConnection c(g.port());
    c.send(head);
    const std::string refused = c.receive();
    EXPECT_EQ(refused.substr(0, 13), "HTTP/1.1 503 ") << refused;
    EXPECT_NE(refused.find("Retry-After: 1"), std::string::npos);
  }
  a.send(std::string(29900, 'x'));
  EXPECT_NE(a.receive(std::chrono::milliseconds(2000)).find("\r\n\r\n30000"), std::string::npos);
  ASSERT_TRUE(metricWithin(g, "tivel_serve_open_body_bytes 30000"));
  RawConnection d(g.port());
  d.send(head + std::string(30000, 'y'));
  EXPECT_NE(d.receive(std::chrono::milliseconds(2000)).find("\r\n\r\n30000"), std::string::npos);
}

// Session routes are checked by the server before their handler runs: no
// session, or no CSRF token where one is needed, and the handler never runs;
// the check's own refusal is the answer, and one that says nothing, or no
// check at all, is a 401.
TEST(ServeTest, SessionRoutesAreCheckedBeforeTheirHandlers) {
  struct Signed : HttpSession {
    std::string who;
  };
  std::atomic<int> ran{0};
  const auto handler = [&ran](const HttpRequest& req, HttpResponse& res) {
    ++ran;
    const auto* s = dynamic_cast<const Signed*>(req.session.get());
    res.body = s ? s->who : "?";
  };
  const auto routes = [&](ServeServer& s) {
    s.addRoute({"GET", "/mine", false, Access::Session, handler, Lane::Batch});
    s.addRoute({"POST", "/change", false, Access::SessionCsrf, handler, Lane::Batch});
  };
  ServeOptions o;
  o.workers = 1;
  Gateway g(o, nullptr, [&](ServeServer& s) {
    routes(s);
    s.setSessionCheck([](const HttpRequest& req, HttpResponse& res, bool csrf) -> std::shared_ptr<const HttpSession> {
      if (req.header("Cookie") == "s=quiet") return nullptr;  // refuses without saying why
      if (req.header("Cookie") != "s=ann") {
        res.status = 401;
        res.body = "sign in";
        return nullptr;
      }
      if (csrf && req.header("X-CSRF") != "t") {
        res.status = 403;
        res.body = "csrf";
        return nullptr;
      }
      auto who = std::make_shared<Signed>();
      who->who = "ann";
      return who;
    });
  });
  httplib::Client c = g.client("");
  const auto answer = [](const httplib::Result& r) { return r ? std::to_string(r->status) + " " + r->body : "none"; };
  EXPECT_EQ(answer(c.Get("/mine")), "401 sign in");
  EXPECT_EQ(answer(c.Get("/mine", {{"Cookie", "s=bob"}})), "401 sign in");
  EXPECT_EQ(statusOf(c.Get("/mine", {{"Cookie", "s=quiet"}})), 401);
  EXPECT_EQ(answer(c.Post("/change", {{"Cookie", "s=ann"}}, "{}", "application/json")), "403 csrf");
  EXPECT_EQ(statusOf(g.client().Post("/change", "{}", "application/json")), 401) << "a gateway token is no session";
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(answer(c.Get("/mine", {{"Cookie", "s=ann"}})), "200 ann");
  EXPECT_EQ(answer(c.Post("/change", {{"Cookie", "s=ann"}, {"X-CSRF", "t"}}, "{}", "application/json")), "200 ann");
  EXPECT_EQ(ran, 2);

  Gateway unchecked(o, nullptr, routes);
  EXPECT_EQ(statusOf(unchecked.client("").Get("/mine", {{"Cookie", "s=ann"}})), 401);
  EXPECT_EQ(ran, 2);
}

// A body that trickles in and an answer its client does not read are cut
// off at the transfer time.
TEST(ServeTest, BodiesAndAnswersHaveDeadlines) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.workers = 1;
  o.transferTimeout = std::chrono::milliseconds(1000);
  Gateway g(o);
  const std::string auth = "Authorization: Bearer " + kToken + "\r\n";
  RawConnection slow(g.port());
  slow.send("POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 100\r\n\r\n[");
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10 && slow.send(" "); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(slow.receive(std::chrono::seconds(5)), "");
  EXPECT_TRUE(slow.closed());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // An answer of about 9 MB (more than the sockets' buffers hold) to a
  // client with a small receive buffer that never reads.
  Json big = Json::array();
  for (int i = 0; i < 10000; ++i) big.push_back(Json{{"id", i}, {"members", "TivelMgt.UmMgt"}});
  const std::string body = big.dump();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(g.port()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const std::string request =
      "POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  EXPECT_TRUE(metricWithin(g, "tivel_serve_slow_transfers_total 2"));
  ::close(fd);
}

// A streamed body: sent whole as it is written; a client that reads a
// little and closes, or stops reading, frees the one worker (the producer's
// write answers false) and the next request is served.
TEST(ServeTest, StreamedBodiesEndWithTheirClient) {
  mgt::testing::Portal portal("sqlite", false);
  std::atomic<int> ended{0};
  const auto withStreams = [&ended](ServeServer& s) {
    s.addRoute({"GET", "/parts", false, Access::Open, [](const HttpRequest&, HttpResponse& res) {
                  res.contentType = "text/plain";
                  res.producer = [](const BodyWriter& write) {
                    for (int i = 0; i < 1000; ++i)
                      if (!write(std::to_string(i) + ",")) return false;
                    return true;
                  };
                }});
    s.addRoute({"GET", "/endless", false, Access::Open, [&ended](const HttpRequest&, HttpResponse& res) {
                  res.producer = [&ended](const BodyWriter& write) {
                    while (write(std::string(8192, 'x'))) {
                    }
                    ++ended;
                    return false;
                  };
                }});
  };
  const auto openAndRead = [](int port, bool close) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string request = "GET /endless HTTP/1.1\r\nHost: x\r\n\r\n";
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    char some[1000];
    EXPECT_GT(::recv(fd, some, sizeof some, 0), 0);
    if (close) ::close(fd);
    return fd;
  };
  const auto endsWithin = [&ended](int count, std::chrono::seconds most) {
    const auto until = std::chrono::steady_clock::now() + most;
    while (ended < count && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ended >= count;
  };
  {
    ServeOptions o;
    o.workers = 1;
    Gateway g(o, nullptr, withStreams);
    auto r = g.client("").Get("/parts");
    ASSERT_EQ(statusOf(r), 200);
    std::string expected;
    for (int i = 0; i < 1000; ++i) expected += std::to_string(i) + ",";
    EXPECT_EQ(r->body, expected);
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain");
    openAndRead(g.port(), true);
    EXPECT_TRUE(endsWithin(1, std::chrono::seconds(5))) << "a closed client frees the worker before its time-out";
    EXPECT_EQ(statusOf(g.client("").Get("/parts")), 200);
  }
  ServeOptions o;
  o.workers = 1;
  o.transferTimeout = std::chrono::milliseconds(1000);
  Gateway g(o, nullptr, withStreams);
  const int stalled = openAndRead(g.port(), false);
  EXPECT_TRUE(endsWithin(2, std::chrono::seconds(5))) << "a client that stops reading is cut after the transfer time";
  EXPECT_EQ(statusOf(g.client("").Get("/parts")), 200);
  ::close(stalled);
}

// Slow heads and idle connections hold no batch thread: with two threads,
// sixteen connections sending a head slowly and 160 that send nothing delay
// no one, and all of them are closed when their head time runs out; a
// kept-alive connection is closed after the idle time.
TEST(ServeTest, SlowAndIdleConnectionsStallNoOne) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.workers = 2;
  o.maxConnectionsPerAddress = 500;
  o.headTimeout = std::chrono::milliseconds(1000);
  o.idleTimeout = std::chrono::milliseconds(2000);
  Gateway g(o);
  std::vector<std::unique_ptr<RawConnection>> slow, idle;
  for (int i = 0; i < 16; ++i) {
    slow.push_back(std::make_unique<RawConnection>(g.port()));
    slow.back()->send("POST /rpc HTTP/1.1\r\n");
  }
  for (int i = 0; i < 160; ++i) idle.push_back(std::make_unique<RawConnection>(g.port()));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(statusOf(g.client("").Get("/health")), 200);
  EXPECT_EQ(g.batch(Json::parse(R"([{"id":1,"new":"TivelMgt.UmMgt"}])"))[0]["result"]["class"], "UmMgt");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  for (int second = 0; second < 3; ++second) {
    for (auto& c : slow) c->send("X-Slow: 1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  for (auto& c : slow) {
    c->receive(std::chrono::seconds(10));
    EXPECT_TRUE(c->closed()) << "a slow head was not cut off";
  }
  for (auto& c : idle) {
    c->receive(std::chrono::seconds(10));
    EXPECT_TRUE(c->closed()) << "an idle connection stayed open";
  }
  EXPECT_NE(g.metrics().find("tivel_serve_slow_heads_total 176"), std::string::npos) << g.metrics();
  RawConnection kept(g.port());
  kept.send("GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_NE(kept.receive(std::chrono::seconds(10)).find(" 200 "), std::string::npos);
  EXPECT_TRUE(kept.closed());
  EXPECT_GT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1500));
}

// The resident size of this process, in KiB.
long residentKib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Header lines without a token, on many connections at once, cost at most
// a request head each, and the memory comes back when they are gone.
TEST(ServeTest, AHeaderFloodsMemoryComesBack) {
  ServeOptions o;
  o.workers = 2;
  o.maxConnectionsPerAddress = 1000;
  Gateway g(o);
  const long before = residentKib();
  std::string lines = "POST /rpc HTTP/1.1\r\n";
  while (lines.size() < 60 * 1024) lines += "X-Flood: " + std::string(100, 'f') + "\r\n";
  for (int round = 0; round < 3; ++round) {
    std::vector<std::unique_ptr<RawConnection>> flood;
    for (int i = 0; i < 300; ++i) {
      flood.push_back(std::make_unique<RawConnection>(g.port()));
      flood.back()->send(lines);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  // The server closes them as it reads their ends, then gives the memory back.
  long after = residentKib();
  for (int i = 0; i < 100 && after - before >= 16 * 1024; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    after = residentKib();
  }
  EXPECT_LT(after - before, 16 * 1024) << before << " KiB before, " << after << " KiB after";
}

// Past the answer limit, the rest of the batch answers an error.
TEST(ServeTest, TheAnswerSizeIsLimited) {
  mgt::testing::Portal portal("sqlite", false);
  ServeOptions o;
  o.workers = 1;
  o.batch.maxAnswer = 1000;
  Gateway g(o);
  Json batch = Json::array();
  for (int i = 0; i < 20; ++i) batch.push_back(Json{{"id", i}, {"members", "TivelPublicDB.cUmUsr"}});
  auto res = g.client().Post("/rpc", batch.dump(), "application/json");
  ASSERT_TRUE(res);
  Json a = Json::parse(res->body);
  ASSERT_EQ(a.size(), 20u);
  EXPECT_FALSE(a[0].contains("error"));
  size_t firstRefused = 0;
  while (firstRefused < a.size() && !a[firstRefused].contains("error")) ++firstRefused;
  ASSERT_LT(firstRefused, a.size());
  for (size_t i = firstRefused; i < a.size(); ++i) EXPECT_EQ(a[i]["error"]["number"], kAnswerTooLarge) << i;
  EXPECT_NE(a[firstRefused + 1]["error"]["description"].get<std::string>().find("not run"), std::string::npos);
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
  bad.tokens = TokenTable::single("pages", kToken, "pages");
  bad.port = 0;
  bad.tlsCert = cert;
  bad.tlsKey = cert;  // no key in it
  EXPECT_THROW(ServeServer(bad).bind(), std::runtime_error);

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
  EXPECT_FALSE(Json::parse(down->body)["error"].value("detail", "").empty());
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
  // Two threads: one runs the batch, the other answers the probe.
  std::vector<std::string> args = {tivel, "serve", "--root", root, "--listen", "127.0.0.1:0", "--threads", "2"};
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
  for (int i = 0; i < 2000; ++i)
    big.push_back(Json{{"id", i}, {"object", {{"from", "um"}}}, {"call", "getUsrByAccount"}, {"args", {"nobody"}}});
  // A statement that ends, but only after a few seconds: the probe below sees the batch run.
  big.push_back(Json::parse(R"({"id":"a","new":"TivelMgt.AdminMgt"})"));
  big.push_back(Json{{"id", "slow"},
                     {"object", {{"from", "a"}}},
                     {"call", "getRecordset"},
                     {"args",
                      {Json{{"ref", ""}},
                       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                       "WHERE x < 20000000) SELECT count(*) FROM c"}}});
  {
    // The running build names itself.
    httplib::Client c("127.0.0.1", port);
    c.set_bearer_token_auth(token.c_str());
    auto m = c.Get("/metrics");
    ASSERT_TRUE(m);
    EXPECT_NE(
        m->body.find("tivel_build_info{version=\"" + buildVersion() + "\",revision=\"" + buildRevision() + "\"} 1"),
        std::string::npos)
        << m->body;
  }
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
  // A new connection for each probe: a kept-alive one stays with the thread
  // that accepted it, which may be the one running the batch.
  bool busy = false;
  for (int i = 0; i < 20000 && !busy; ++i) {
    httplib::Client probe("127.0.0.1", port);
    probe.set_bearer_token_auth(token.c_str());
    // A connection the batch's own thread took waits for the batch: give it
    // up soon, and the next probe's connection reaches the other thread.
    probe.set_read_timeout(0, 200000);
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

namespace tivel::tool {
namespace {

using namespace servetest;

// `tivel serve` started on a root made by `tivel init`.
class ServeProcess {
 public:
  explicit ServeProcess(const std::string& root, std::vector<std::string> extra) {
    const std::string tivel = std::string(std::getenv("TIVEL_BIN")) + "/tivel";
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {tivel, "serve", "--root", root, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    std::string line;
    for (char ch; ::read(out[0], &ch, 1) == 1 && ch != '\n';) line += ch;
    ::close(out[0]);
    if (line.rfind("listening on http://127.0.0.1:", 0) == 0) port_ = std::stoi(line.substr(line.rfind(':') + 1));
  }
  ~ServeProcess() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Waits for the process to end; its wait status.
  int wait() {
    if (status_ < 0) ::waitpid(pid_, &status_, 0);
    return status_;
  }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
  int status_ = -1;
};

// Waits until a batch thread is busy.
bool busyWithin(int port, const std::string& token) {
  for (int i = 0; i < 20000; ++i) {
    httplib::Client probe("127.0.0.1", port);  // a new connection each time (see above)
    probe.set_bearer_token_auth(token.c_str());
    probe.set_read_timeout(0, 200000);  // given up soon when the batch's own thread took it
    auto m = probe.Get("/metrics");
    if (m && m->body.find("tivel_serve_workers_busy 1") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return false;
}

// Options out of range end the command with a clear error, before it serves.
TEST(ServeCommandTest, OptionsAreChecked) {
  const std::string tivel = std::string(std::getenv("TIVEL_BIN")) + "/tivel";
  tivel::testing::TempDir dir;
  const std::string root = dir.path() + "/root";
  ASSERT_EQ(std::system((tivel + " init --root " + root + " >/dev/null").c_str()), 0);
  for (const char* bad :
       {"--threads 100000", "--threads -5", "--threads 0", "--max-body -1", "--max-requests 0", "--max-answer -64",
        "--batch-timeout-ms 0", "--head-timeout-ms -1", "--max-connections-per-address 0", "--drain-timeout-ms x"}) {
    const std::string command = tivel + " serve --root " + root + " --listen 127.0.0.1:0 " + bad + " 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string output;
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) output.append(buf, n);
    const int status = ::pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << bad;
    EXPECT_NE(output.find(std::string(bad).substr(0, std::string(bad).find(' '))), std::string::npos)
        << bad << ": " << output;
    EXPECT_EQ(output.find("listening"), std::string::npos) << bad;
  }
}

// SIGTERM while a statement runs that would never end: after the drain
// time it is interrupted, its batch answers the time-out and the server exits 0.
TEST(ServeCommandTest, StopIsBoundedByTheDrainTime) {
  const std::string tivel = std::string(std::getenv("TIVEL_BIN")) + "/tivel";
  tivel::testing::TempDir dir;
  const std::string root = dir.path() + "/root";
  ASSERT_EQ(std::system((tivel + " init --root " + root + " >/dev/null").c_str()), 0);
  ServeProcess serve(root, {"--threads", "2", "--drain-timeout-ms", "500", "--batch-timeout-ms", "600000"});
  ASSERT_GT(serve.port(), 0);
  const std::string token = readServeToken(root);
  std::string answer;
  std::thread client([&] {
    httplib::Client c("127.0.0.1", serve.port());
    c.set_bearer_token_auth(token.c_str());
    c.set_read_timeout(120, 0);
    auto r =
        c.Post("/rpc", R"([{"id":"a","new":"TivelMgt.AdminMgt"},{"id":1,"object":{"from":"a"},"call":"getRecordset",
      "args":[{"ref":""},"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c"]}])",
               "application/json");
    if (r) answer = r->body;
  });
  EXPECT_TRUE(busyWithin(serve.port(), token));
  const auto start = std::chrono::steady_clock::now();
  ::kill(serve.pid(), SIGTERM);
  const int status = serve.wait();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  client.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(Json::parse(answer)[1]["error"]["number"], kTimedOut) << answer;
}

// Under systemd: READY=1 once it listens, WATCHDOG=1 while its HTTP
// threads take connections, STOPPING=1 on SIGTERM, to the socket
// NOTIFY_SOCKET names (here a datagram socket the test reads).
TEST(ServeCommandTest, TellsTheServiceManager) {
  const std::string tivel = std::string(std::getenv("TIVEL_BIN")) + "/tivel";
  tivel::testing::TempDir dir;
  const std::string root = dir.path() + "/root";
  ASSERT_EQ(std::system((tivel + " init --root " + root + " >/dev/null").c_str()), 0);
  const std::string path = dir.path() + "/notify";
  const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  std::snprintf(where.sun_path, sizeof where.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
  ::setenv("WATCHDOG_USEC", "600000", 1);
  ServeProcess serve(root, {"--threads", "1"});
  ::unsetenv("NOTIFY_SOCKET");
  ::unsetenv("WATCHDOG_USEC");
  ASSERT_GT(serve.port(), 0);
  // The states received until `state` is among them, or a few seconds pass.
  std::string seen;
  const auto await = [&](const std::string& state) {
    for (int i = 0; i < 50 && seen.find(state) == std::string::npos; ++i) {
      pollfd p{sock, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
      if (n > 0) seen += std::string(buf, static_cast<size_t>(n)) + "\n";
    }
    return seen.find(state) != std::string::npos;
  };
  EXPECT_TRUE(await("READY=1")) << seen;
  EXPECT_TRUE(await("WATCHDOG=1")) << seen;
  ::kill(serve.pid(), SIGTERM);
  EXPECT_TRUE(await("STOPPING=1")) << seen;
  const int status = serve.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(sock);
}

}  // namespace
}  // namespace tivel::tool
