// Cost of one login, end to end through the components on the embedded
// engine, beside the same statements run directly through the SQLite API in
// the same process; and the login on a small and on a large user table.
//
// Each iteration is paced at 400 logins a second, as when generated keys
// still allowed only 999 login records and log entries a second, so that the
// figures compare with earlier runs; only the login itself is timed.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include "bench/interleaved.h"
#include "bench/login_statements.h"
#include "bench/run_times.h"
#include "bench/sqlite_direct.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/com/registry.h"
#include "testing/engines.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPace = std::chrono::microseconds(2500);  // at most 400 logins a second

// A root with the seeded schema, `users` users, one of them "bench".
struct Portal {
  explicit Portal(int users) {
    tivel::mgt::initRoot({dir.path(), true});
    tivel::mgt::resetThreadState();
    db = dir.path() + "/db/tivel.db";
    tivel::bench::insertRows(db,
                             "insert into umUsr(usr_no,account,pwd,name,state,login_mode,login_count,account_time) "
                             "values(?,?,'pw','用户',0,'100000','0','2026-01-01 00:00:00')",
                             users, [](sqlite3_stmt* ins, int i) {
                               std::string no = i == 0 ? "USR_bench" : "USR_" + std::to_string(i);
                               std::string account = i == 0 ? "bench" : "user" + std::to_string(i);
                               sqlite3_bind_text(ins, 1, no.c_str(), -1, SQLITE_TRANSIENT);
                               sqlite3_bind_text(ins, 2, account.c_str(), -1, SQLITE_TRANSIENT);
                             });
  }
  tivel::testing::TempDir dir;
  std::string db;
};

void pace(Clock::time_point start) {
  auto left = kPace - (Clock::now() - start);
  if (left > Clock::duration::zero()) std::this_thread::sleep_for(left);
}

void loginThroughComponents(benchmark::State& state, int users) {
  Portal portal(users);
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  for (auto _ : state) {
    auto start = Clock::now();
    std::string code = admin->loginByPwd("bench", "pw", "127.0.0.1");
    auto took = Clock::now() - start;
    if (code != "0") state.SkipWithError(("login answered " + code).c_str());
    state.SetIterationTime(std::chrono::duration<double>(took).count());
    pace(start);
  }
  admin.reset();
  tivel::mgt::resetThreadState();
}

void loginDirect(benchmark::State& state, int users) {
  Portal portal(users);
  // The statements one login issues, composed the same way, each prepared,
  // run and finalised once, as the component does.
  tivel::bench::DirectDb d(portal.db);
  long n = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    tivel::bench::loginStatements(d, ++n);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    pace(start);
  }
}

BENCHMARK_CAPTURE(loginThroughComponents, users_100, 100)
    ->UseManualTime()
    ->Iterations(1500)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(loginDirect, users_100, 100)->UseManualTime()->Iterations(1500)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(loginThroughComponents, users_100000, 100000)
    ->UseManualTime()
    ->Iterations(1500)
    ->Unit(benchmark::kMicrosecond);

// One side of the interleaved rounds: a root of `users` users made in the
// side's own thread, and that thread's login, paced as above, its login
// alone counted.
tivel::bench::Side::Call loginSide(int users) {
  auto portal = std::make_shared<Portal>(users);
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  return [portal, admin]() -> double {
    auto start = Clock::now();
    std::string code = admin->loginByPwd("bench", "pw", "127.0.0.1");
    auto took = Clock::now() - start;
    if (code != "0") throw std::runtime_error("login answered " + code);
    pace(start);
    return std::chrono::duration<double>(took).count();
  };
}

// The login at 100,000 users beside the login at 100, each on its own root
// in its own thread, interleaved in rounds (bench/interleaved.h).
void loginInterleaved() {
  tivel::bench::Side large([] { return loginSide(100000); });
  tivel::bench::Side small([] { return loginSide(100); });
  const int rounds = tivel::bench::rounds(15);
  tivel::bench::printRatio("login at 100000 users / at 100 users", tivel::bench::interleave(large, small, rounds, 50),
                           "us", 1.2, rounds);
}

}  // namespace

// Runs the benchmarks, then prints the two ratios the targets are about; the
// login at 100,000 users against 100 is measured again in interleaved rounds.
int main(int argc, char** argv) {
  tivel::bench::steadyHeap();
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  auto t = [&](const char* name) { return times.real(name); };
  double ours = t("loginThroughComponents/users_100"), direct = t("loginDirect/users_100"),
         large = t("loginThroughComponents/users_100000");
  if (ours > 0 && direct > 0)
    std::printf("login through the components / same statements direct: %.1f us / %.1f us = %.2f (target <= 1.20)\n",
                ours, direct, ours / direct);
  if (ours > 0 && large > 0)
    std::printf("login at 100000 users / at 100 users: %.1f us / %.1f us = %.2f (target <= 1.20)\n", large, ours,
                large / ours);
  loginInterleaved();
  benchmark::Shutdown();
  return 0;
}
