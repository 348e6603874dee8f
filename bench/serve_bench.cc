// The HTTP gateway's cost beside the same work in-process, and its rate
// under load:
// - one `checkAuth` in-process, as a batch answered by the host in-process,
//   and as a batch over a kept-alive HTTP connection (median of every batch);
// - batches per second with one and with two admitted batches at once, for a
//   portal page's read (a list of 100 users as data) and for a single check;
// - /health (median and 99th percentile) and a cheap batch's wait while as
//   many long batches run as there are workers;
// - with a PostgreSQL test server in the environment, logins per second
//   through 1, 2 and 4 gateway processes ("hosts") on one database, and
//   where the machine's CPU went meanwhile.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/proc_cpu.h"
#include "bench/run_times.h"
#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "mgt/testing/portal.h"
#include "platform/com/registry.h"
#include "testing/engines.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/server.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/tokens.h"

extern char** environ;

namespace {

using tivel::tool::Json;
using Clock = std::chrono::steady_clock;

const std::string kToken(64, 't');
const std::string kCheckBatch =
    R"([{"id":"a","new":"TivelMgt.AdminMgt"},{"id":1,"object":{"from":"a"},"call":"checkAuth","args":["RES_bench","USR_bench",3]}])";
const std::string kPageBatch =
    R"([{"id":"um","new":"TivelMgt.UmMgt"},{"id":"users","object":{"from":"um"},"call":"getAllUsr"},{"id":1,"dump":{"from":"users"}}])";

// A SQLite root with the bench user's authorization and 100 users.
struct Root {
  Root() {
    tivel::mgt::initRoot({dir.path(), true});
    tivel::mgt::resetThreadState();
    auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
    for (int i = 0; i < 100; ++i) admin->addUsr("user" + std::to_string(i), "secret", "用户", "", "", "", "", "");
    admin.reset();
    tivel::mgt::sharedConnection()->execute(
        "insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values('RES_bench',3,'USR_bench','10110','1')");
    tivel::mgt::resetThreadState();
  }
  tivel::testing::TempDir dir;
};

struct Gateway {
  explicit Gateway(int workers, size_t maxQueued = 64) {
    tivel::tool::ServeOptions o;
    o.host = "127.0.0.1";
    o.port = 0;
    o.workers = workers;
    o.maxQueued = maxQueued;
    o.tokens = tivel::tool::TokenTable::single("pages", kToken, "pages");
    o.accessLog = [](const std::string&) {};
    server = std::make_unique<tivel::tool::ServeServer>(std::move(o));
    port = server->bind();
    thread = std::thread([this] { server->run(); });
  }
  ~Gateway() {
    server->stop();
    thread.join();
  }
  std::unique_ptr<tivel::tool::ServeServer> server;
  int port = 0;
  std::thread thread;
};

// A lean client on one kept-alive connection: the request's bytes are made
// once and the answer is read by its Content-Length, so a batch costs the
// client one send and a receive or two and the figures are the server's.
class LeanClient {
 public:
  LeanClient(int port, const std::string& body, const std::string& token = kToken) : port_(port) {
    request_ = "POST /rpc HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
               "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body;
    connect();
  }
  ~LeanClient() { ::close(fd_); }
  LeanClient(const LeanClient&) = delete;
  LeanClient& operator=(const LeanClient&) = delete;

  // Sends the batch and returns the answer's status (-1: the connection broke).
  int post() {
    if (::send(fd_, request_.data(), request_.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request_.size())) return -1;
    answer_.clear();
    size_t headEnd = std::string::npos, need = 0;
    char buf[65536];
    while (headEnd == std::string::npos || answer_.size() < need) {
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return -1;
      answer_.append(buf, static_cast<size_t>(n));
      if (headEnd == std::string::npos && (headEnd = answer_.find("\r\n\r\n")) != std::string::npos) {
        size_t at = answer_.find("Content-Length: ");
        if (at == std::string::npos || at > headEnd) return -1;
        need = headEnd + 4 + std::stoul(answer_.substr(at + 16));
      }
    }
    // The server ends a connection after so many requests; a browser or an
    // HTTP library opens the next one, and so does this client.
    if (answer_.find("Connection: close") < headEnd) {
      ::close(fd_);
      connect();
    }
    return std::atoi(answer_.c_str() + 9);  // "HTTP/1.1 200 OK"
  }
  // The last answer's body.
  std::string body() const {
    const size_t at = answer_.find("\r\n\r\n");
    return at == std::string::npos ? "" : answer_.substr(at + 4);
  }

 private:
  void connect() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  int port_ = 0;
  int fd_ = -1;
  std::string request_, answer_;
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

void BM_CheckInProcess(benchmark::State& state) {
  Root root;
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  for (auto _ : state)
    if (admin->checkAuth("RES_bench", "USR_bench", 3) != "1") state.SkipWithError("checkAuth refused");
  admin.reset();
  tivel::mgt::resetThreadState();
}
BENCHMARK(BM_CheckInProcess)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_CheckBatchInProcess(benchmark::State& state) {
  Root root;
  Json batch = Json::parse(kCheckBatch);
  for (auto _ : state) {
    tivel::tool::RpcHost host;
    for (const Json& r : batch) benchmark::DoNotOptimize(host.answer(r));
  }
  tivel::mgt::resetThreadState();
}
BENCHMARK(BM_CheckBatchInProcess)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Each batch timed on its own; the median goes to the counter "median_us".
template <class Post>
void timeBatches(benchmark::State& state, Post post) {
  std::vector<double> us;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!post()) state.SkipWithError("batch failed");
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  state.counters["median_us"] = median(std::move(us));
}

void BM_CheckOverHttp(benchmark::State& state) {
  Root root;
  Gateway g(1);
  LeanClient c(g.port, kCheckBatch);
  timeBatches(state, [&] { return c.post() == 200 && c.body().find(R"("result":"1")") != std::string::npos; });
}
BENCHMARK(BM_CheckOverHttp)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same with cpp-httplib's client, which polls its socket before each
// read and write: closer to what a page's HTTP library costs.
void BM_CheckOverHttplib(benchmark::State& state) {
  Root root;
  Gateway g(1);
  httplib::Client c("127.0.0.1", g.port);
  c.set_bearer_token_auth(kToken.c_str());
  c.set_keep_alive(true);
  c.set_tcp_nodelay(true);
  timeBatches(state, [&] {
    auto r = c.Post("/rpc", kCheckBatch, "application/json");
    return r && r->status == 200;
  });
}
BENCHMARK(BM_CheckOverHttplib)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Batches a second from `clients` lean clients, each on its own connection
// to one of `ports` in turn, sending `body` for `seconds`.
double loadRate(const std::vector<int>& ports, int clients, const std::string& body, const std::string& token,
                double seconds, std::atomic<int>& failed) {
  std::atomic<int64_t> batches{0};
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&, i] {
      LeanClient c(ports[static_cast<size_t>(i) % ports.size()], body, token);
      int64_t n = 0;
      while (Clock::now() < end) {
        if (c.post() != 200) ++failed;
        ++n;
      }
      batches += n;
    });
  for (std::thread& t : threads) t.join();
  return static_cast<double>(batches) / std::chrono::duration<double>(Clock::now() - start).count();
}

// Four clients against a gateway admitting range(0) batches at once.
void throughput(benchmark::State& state, const std::string& body) {
  Root root;
  Gateway g(static_cast<int>(state.range(0)));
  std::atomic<int> failed{0};
  double rate = 0;
  for (auto _ : state) rate = loadRate({g.port}, 4, body, kToken, 2.0, failed);
  if (failed) state.SkipWithError("batches failed");
  state.counters["batches_per_s"] = rate;
}
void BM_PageThroughput(benchmark::State& state) { throughput(state, kPageBatch); }
void BM_CheckThroughput(benchmark::State& state) { throughput(state, kCheckBatch); }
BENCHMARK(BM_PageThroughput)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckThroughput)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The q-quantile of `v`.
double quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

// Two workers, each kept busy by a client sending a batch of about a second
// (a recursive count) again and again; meanwhile /health on a new connection
// each time, and a cheap batch, which waits for a worker.
void BM_HealthUnderLongBatches(benchmark::State& state) {
  Root root;
  Gateway g(2);
  const std::string longBatch =
      R"([{"id":"a","new":"TivelMgt.AdminMgt"},{"id":1,"object":{"from":"a"},"call":"getRecordset","args":[{"ref":""},)"
      R"("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 3000000) SELECT count(*) FROM c"]}])";
  std::atomic<bool> done{false};
  std::vector<std::thread> longClients;
  for (int i = 0; i < 2; ++i)
    longClients.emplace_back([&] {
      LeanClient c(g.port, longBatch);
      while (!done) c.post();
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<double> health, cheap;
  for (auto _ : state) {
    for (int i = 0; i < 200; ++i) {
      const auto start = Clock::now();
      httplib::Client c("127.0.0.1", g.port);
      auto r = c.Get("/health");
      if (!r || r->status != 200) state.SkipWithError("/health failed");
      health.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int i = 0; i < 5; ++i) {
      LeanClient c(g.port, kCheckBatch);
      const auto start = Clock::now();
      if (c.post() != 200) state.SkipWithError("a cheap batch failed");
      cheap.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  done = true;
  for (std::thread& t : longClients) t.join();
  state.counters["health_median_us"] = quantile(health, 0.5);
  state.counters["health_p99_us"] = quantile(health, 0.99);
  state.counters["cheap_median_ms"] = quantile(cheap, 0.5);
}
BENCHMARK(BM_HealthUnderLongBatches)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// `tivel serve` processes on one root, each admitting two batches at once.
struct Hosts {
  Hosts(const std::string& root, int count) {
    std::string tivel = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tivel";
    for (int i = 0; i < count; ++i) {
      int out[2];
      if (::pipe(out) != 0) throw std::runtime_error("pipe");
      posix_spawn_file_actions_t fa;
      posix_spawn_file_actions_init(&fa);
      posix_spawn_file_actions_adddup2(&fa, out[1], 1);
      posix_spawn_file_actions_addclose(&fa, out[0]);
      posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
      std::vector<std::string> args = {tivel, "serve", "--root", root, "--listen", "127.0.0.1:0", "--threads", "2"};
      std::vector<char*> argv;
      for (std::string& s : args) argv.push_back(s.data());
      argv.push_back(nullptr);
      pid_t pid = 0;
      if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
      posix_spawn_file_actions_destroy(&fa);
      ::close(out[1]);
      std::string line;
      for (char ch; ::read(out[0], &ch, 1) == 1 && ch != '\n';) line += ch;
      ::close(out[0]);
      if (line.rfind("listening on http://", 0) != 0) throw std::runtime_error("tivel serve did not start: " + line);
      pids.push_back(pid);
      ports.push_back(std::stoi(line.substr(line.rfind(':') + 1)));
    }
  }
  ~Hosts() {
    for (pid_t pid : pids) ::kill(pid, SIGTERM);
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  }
  int64_t ticks() const {
    int64_t t = 0;
    for (pid_t pid : pids) t += tivel::bench::processTicks(pid);
    return t;
  }
  std::vector<pid_t> pids;
  std::vector<int> ports;
};

// Eight clients send one kind of batch over and over, spread over range(0)
// gateway processes on one PostgreSQL database. The counters say where the
// machine's CPU went: the gateways, the clients (this process), the
// database server, and the rest (whatever else the machine ran meanwhile);
// what no CPU accounts for is time spent waiting, on the network among
// others (the database may sit in a namespace behind a delayed link:
// bench/scale_out_netns.sh).
template <class BodyFor>
void acrossHosts(benchmark::State& state, BodyFor bodyFor, const std::string& success) {
  if (tivel::testing::engines().size() < 2) return state.SkipWithError("no PostgreSQL test server in the environment");
  tivel::mgt::testing::Portal portal("postgresql", true);
  {
    auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
    for (int i = 0; i < 8; ++i) admin->addUsr("editor" + std::to_string(i), "secret", "编辑", "", "", "", "", "");
    for (int i = 0; i < 92; ++i) admin->addUsr("reader" + std::to_string(i), "secret", "读者", "", "", "", "", "");
  }
  tivel::mgt::resetThreadState();
  tivel::tool::ensureServeToken(portal.root());
  const std::string token = tivel::tool::readServeToken(portal.root());
  Hosts hosts(portal.root(), static_cast<int>(state.range(0)));
  std::atomic<int> failed{0};
  double rate = 0, latency = 0;
  const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
  const double cores = static_cast<double>(std::thread::hardware_concurrency());
  for (auto _ : state) {
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const int64_t machine0 = tivel::bench::machineBusyTicks(), hosts0 = hosts.ticks();
    const double server0 = tivel::bench::postgresCpuSeconds();
    const auto start = Clock::now();
    // One client per user, each on its own connection: logins of one user
    // serialise on the user's row, which is not what this measures.
    std::vector<std::thread> clients;
    std::atomic<int64_t> done{0};
    const auto end = start + std::chrono::seconds(3);
    for (int i = 0; i < 8; ++i)
      clients.emplace_back([&, i] {
        LeanClient c(hosts.ports[static_cast<size_t>(i) % hosts.ports.size()], bodyFor(i), token);
        while (Clock::now() < end) {
          if (c.post() != 200 || c.body().find(success) == std::string::npos) ++failed;
          ++done;
        }
      });
    for (std::thread& t : clients) t.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    auto seconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    const double self =
        seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) - seconds(before.ru_stime);
    const double machine = static_cast<double>(tivel::bench::machineBusyTicks() - machine0) / ticksPerSecond;
    const double database = tivel::bench::postgresCpuSeconds() - server0;
    const double gateways = static_cast<double>(hosts.ticks() - hosts0) / ticksPerSecond;
    rate = static_cast<double>(done) / wall;
    latency = 8 * wall / static_cast<double>(done) * 1000;
    state.counters["machine_busy_pct"] = 100 * machine / (wall * cores);
    state.counters["gateways_pct"] = 100 * gateways / (wall * cores);
    state.counters["clients_pct"] = 100 * self / (wall * cores);
    state.counters["database_pct"] = 100 * database / (wall * cores);
    state.counters["rest_pct"] = 100 * (machine - gateways - self - database) / (wall * cores);
  }
  if (failed) state.SkipWithError("batches failed");
  state.counters["per_s"] = rate;
  state.counters["latency_ms"] = latency;
}

void BM_PgLoginsAcrossHosts(benchmark::State& state) {
  acrossHosts(
      state,
      [](int i) {
        return R"([{"id":"a","new":"TivelMgt.AdminMgt"},{"id":1,"object":{"from":"a"},"call":"loginByPwd","args":["editor)" +
               std::to_string(i) + R"(","secret","10.0.0.7"]}])";
      },
      R"("result":"0")");
}
BENCHMARK(BM_PgLoginsAcrossHosts)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A portal page's read: the list of 100 users as data.
void BM_PgPagesAcrossHosts(benchmark::State& state) {
  acrossHosts(
      state, [](int) { return kPageBatch; }, R"("reader91")");
}
BENCHMARK(BM_PgPagesAcrossHosts)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

// Runs the benchmarks, then prints the lines the targets are about.
int main(int argc, char** argv) {
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  const double inProcess = times.real("BM_CheckInProcess"), http = times.counter("BM_CheckOverHttp", "median_us"),
               httplib = times.counter("BM_CheckOverHttplib", "median_us");
  if (inProcess > 0 && http > 0)
    std::printf("one checkAuth batch over HTTP, median: %.1f us = in-process %.1f us + %.1f us (target: + <= 100 us)\n",
                http, inProcess, http - inProcess);
  if (inProcess > 0 && httplib > 0)
    std::printf("the same with cpp-httplib's client, median: %.1f us = in-process + %.1f us\n", httplib,
                httplib - inProcess);
  for (const char* kind : {"BM_PageThroughput", "BM_CheckThroughput"}) {
    const double one = times.counter(std::string(kind) + "/1", "batches_per_s"),
                 two = times.counter(std::string(kind) + "/2", "batches_per_s");
    if (one > 0 && two > 0)
      std::printf("%s: %.0f batches/s with two workers / %.0f with one = %.2f (target >= 1.6)\n", kind, two, one,
                  two / one);
  }
  if (double h = times.counter("BM_HealthUnderLongBatches", "health_median_us"); h > 0)
    std::printf(
        "/health while both workers run long batches: median %.0f us, 99th percentile %.0f us; a cheap "
        "batch waited %.0f ms (median)\n",
        h, times.counter("BM_HealthUnderLongBatches", "health_p99_us"),
        times.counter("BM_HealthUnderLongBatches", "cheap_median_ms"));
  for (const char* kind : {"BM_PgLoginsAcrossHosts", "BM_PgPagesAcrossHosts"})
    for (int hosts : {1, 2, 4}) {
      const std::string name = std::string(kind) + "/" + std::to_string(hosts);
      if (double rate = times.counter(name, "per_s"); rate > 0)
        std::printf(
            "%s: %.0f a second through %d host(s), %.1f ms each (database %.0f%%, gateways %.0f%%, idle %.0f%%)\n",
            kind + 3, rate, hosts, times.counter(name, "latency_ms"), times.counter(name, "database_pct"),
            times.counter(name, "gateways_pct"), 100 - times.counter(name, "machine_busy_pct"));
    }
  benchmark::Shutdown();
  return 0;
}
