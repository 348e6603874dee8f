// Cost of one authorization check, end to end through the components on the
// embedded engine, beside one keyed select of the same authorization row
// through the SQLite API in the same process; and the check on a small and
// on a large authorization table.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include "bench/interleaved.h"
#include "bench/run_times.h"
#include "bench/sqlite_direct.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/com/registry.h"
#include "testing/engines.h"

namespace {

// A root with the seeded schema and `rows` user authorizations spread over
// 50 resources, one of them the bench user's "10110" on "RES_bench".
struct Portal {
  explicit Portal(int rows) {
    tivel::mgt::initRoot({dir.path(), true});
    tivel::mgt::resetThreadState();
    db = dir.path() + "/db/tivel.db";
    tivel::bench::insertRows(db, "insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values(?,3,?,?,'1')",
                             rows, [](sqlite3_stmt* ins, int i) {
                               std::string res = i == 0 ? "RES_bench" : "RES_" + std::to_string(i % 50);
                               std::string usr = i == 0 ? "USR_bench" : "USR_" + std::to_string(i);
                               sqlite3_bind_text(ins, 1, res.c_str(), -1, SQLITE_TRANSIENT);
                               sqlite3_bind_text(ins, 2, usr.c_str(), -1, SQLITE_TRANSIENT);
                               sqlite3_bind_text(ins, 3, "10110", -1, SQLITE_STATIC);
                             });
  }
  tivel::testing::TempDir dir;
  std::string db;
};

void checkThroughComponents(benchmark::State& state, int rows) {
  Portal portal(rows);
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  for (auto _ : state) {
    std::string bit = admin->checkAuth("RES_bench", "USR_bench", 3);
    if (bit != "1") state.SkipWithError(("checkAuth answered " + bit).c_str());
  }
  admin.reset();
  tivel::mgt::resetThreadState();
}

const std::string kCheckSelect =
    "select * from appAuth where res_no='RES_bench' and OGRU_Type=3 and OGRU_No='USR_bench'";

// Steps the check's select once: every column of the row read, then the
// authorization's character taken, as the check does.
void checkOnce(benchmark::State& state, sqlite3_stmt* st) {
  std::string auth;
  if (sqlite3_step(st) == SQLITE_ROW) {
    tivel::bench::DirectDb::readRow(st);
    auth = reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
  }
  std::string bit = auth.size() >= 3 ? auth.substr(2, 1) : "10012";
  if (bit != "1") state.SkipWithError("direct select answered no row");
  benchmark::DoNotOptimize(bit);
}

// The statement the check issues, prepared, run and finalised once per
// check as the component does.
void checkDirect(benchmark::State& state, int rows) {
  Portal portal(rows);
  tivel::bench::DirectDb d(portal.db);
  for (auto _ : state) {
    sqlite3_stmt* st = d.prepare(kCheckSelect);
    checkOnce(state, st);
    sqlite3_finalize(st);
  }
}

// The same select prepared once and reset after each check: the floor the
// engine's API allows, now that the data-access layer keeps prepared
// statements of texts it runs again.
void checkDirectPrepared(benchmark::State& state, int rows) {
  Portal portal(rows);
  tivel::bench::DirectDb d(portal.db);
  sqlite3_stmt* st = d.prepare(kCheckSelect);
  for (auto _ : state) {
    checkOnce(state, st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
}

BENCHMARK_CAPTURE(checkThroughComponents, auths_100, 100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(checkDirect, auths_100, 100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(checkDirectPrepared, auths_100, 100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(checkThroughComponents, auths_100000, 100000)->Unit(benchmark::kMicrosecond);

// The check through the components beside the select prepared once, on one
// root, interleaved in rounds (bench/interleaved.h).
void checkInterleaved() {
  Portal portal(100);
  tivel::bench::Side ours([] {
    auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
    return [admin]() -> double {
      if (admin->checkAuth("RES_bench", "USR_bench", 3) != "1") throw std::runtime_error("checkAuth did not answer 1");
      return -1;
    };
  });
  tivel::bench::Side prepared([&] {
    auto d = std::make_shared<tivel::bench::DirectDb>(portal.db);
    std::shared_ptr<sqlite3_stmt> st(d->prepare(kCheckSelect), sqlite3_finalize);
    return [d, st]() -> double {
      std::string auth;
      if (sqlite3_step(st.get()) == SQLITE_ROW) {
        tivel::bench::DirectDb::readRow(st.get());
        auth = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 3));
      }
      sqlite3_reset(st.get());
      if (auth.size() < 3 || auth.substr(2, 1) != "1") throw std::runtime_error("direct select answered no row");
      return -1;
    };
  });
  const int rounds = tivel::bench::rounds(15);
  tivel::bench::printRatio("checkAuth through the components / the select prepared once",
                           tivel::bench::interleave(ours, prepared, rounds, 10000), "us", 1.5, rounds);
}

}  // namespace

// Runs the benchmarks, then prints the ratios the targets are about; the
// check against the select prepared once is measured again in interleaved
// rounds.
int main(int argc, char** argv) {
  tivel::bench::steadyHeap();
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  for (bool wall : {true, false}) {
    const char* kind = wall ? "real" : "cpu";
    auto t = [&](const char* name) { return wall ? times.real(name) : times.cpu(name); };
    double ours = t("checkThroughComponents/auths_100"), direct = t("checkDirect/auths_100"),
           large = t("checkThroughComponents/auths_100000");
    if (ours > 0 && direct > 0)
      std::printf(
          "%s: checkAuth through the components / one keyed select direct: %.1f us / %.1f us = %.2f (target <= 1.10)\n",
          kind, ours, direct, ours / direct);
    if (double prepared = t("checkDirectPrepared/auths_100"); ours > 0 && prepared > 0)
      std::printf("%s: checkAuth through the components / the select prepared once: %.1f us / %.1f us = %.2f\n", kind,
                  ours, prepared, ours / prepared);
    if (ours > 0 && large > 0)
      std::printf("%s: checkAuth at 100000 authorizations / at 100: %.1f us / %.1f us = %.2f (target <= 1.20)\n", kind,
                  large, ours, large / ours);
  }
  checkInterleaved();
  benchmark::Shutdown();
  return 0;
}
