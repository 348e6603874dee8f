// The HTTP gateway's cost beside the same work in-process: one batch of a
// read-only call over a kept-alive connection against the host answering it
// directly and against the call itself; and read-only batch throughput with
// one and with two workers under four concurrent clients.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/com/registry.h"
#include "testing/engines.h"
#include "tools/tivel/json_value.h"
#include "tools/tivel/rpc_host.h"
#include "tools/tivel/serve_server.h"

namespace {

using tivel::tool::Json;

const std::string kToken(64, 't');
const std::string kBatch =
    R"([{"id":"um","new":"TivelMgt.UmMgt"},{"id":1,"object":{"from":"um"},"call":"getUsrByAccount","args":["nobody"]}])";

struct Root {
  Root() {
    tivel::mgt::initRoot({dir.path(), true});
    tivel::mgt::resetThreadState();
  }
  tivel::testing::TempDir dir;
};

struct Gateway {
  explicit Gateway(int workers) {
    tivel::tool::ServeOptions o;
    o.host = "127.0.0.1";
    o.port = 0;
    o.workers = workers;
    o.token = kToken;
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

void BM_CallInProcess(benchmark::State& state) {
  Root root;
  auto um = tivel::com::CreateObject("TivelMgt.UmMgt");
  for (auto _ : state) {
    tivel::com::Args args{tivel::com::Variant("nobody")};
    benchmark::DoNotOptimize(um->invoke("getUsrByAccount", tivel::com::MemberKind::Method, args));
  }
  um.reset();
  tivel::mgt::resetThreadState();
}
BENCHMARK(BM_CallInProcess)->UseRealTime();

void BM_BatchInProcess(benchmark::State& state) {
  Root root;
  Json batch = Json::parse(kBatch);
  for (auto _ : state) {
    tivel::tool::RpcHost host;
    for (const Json& r : batch) benchmark::DoNotOptimize(host.answer(r));
  }
  tivel::mgt::resetThreadState();
}
BENCHMARK(BM_BatchInProcess)->UseRealTime();

void BM_BatchOverHttp(benchmark::State& state) {
  Root root;
  Gateway g(1);
  httplib::Client c("127.0.0.1", g.port);
  c.set_bearer_token_auth(kToken.c_str());
  c.set_keep_alive(true);
  c.set_tcp_nodelay(true);
  for (auto _ : state) {
    auto r = c.Post("/rpc", kBatch, "application/json");
    if (!r || r->status != 200) state.SkipWithError("batch failed");
  }
}
BENCHMARK(BM_BatchOverHttp)->UseRealTime();

// Four clients, each sending batches on its own kept-alive connection.
void BM_Throughput(benchmark::State& state) {
  Root root;
  Gateway g(static_cast<int>(state.range(0)));
  constexpr int kClients = 4, kEach = 100;
  int64_t batches = 0;
  for (auto _ : state) {
    std::atomic<int> failed{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
      clients.emplace_back([&] {
        httplib::Client c("127.0.0.1", g.port);
        c.set_bearer_token_auth(kToken.c_str());
        c.set_keep_alive(true);
        c.set_tcp_nodelay(true);
        c.set_tcp_nodelay(true);
        for (int k = 0; k < kEach; ++k) {
          auto r = c.Post("/rpc", kBatch, "application/json");
          if (!r || r->status != 200) ++failed;
        }
      });
    for (std::thread& t : clients) t.join();
    if (failed) state.SkipWithError("batches failed");
    batches += kClients * kEach;
  }
  state.SetItemsProcessed(batches);
}
BENCHMARK(BM_Throughput)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
