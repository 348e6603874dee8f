// Cost of hashed passwords: one Argon2id hash (every password write), one
// verification (every login of a hashed user), and a whole login through the
// components against a hashed and against a plain stored password. The
// hash's cost is the point of it: it is what a password guesser pays per
// guess. Printed last: how many hashed logins one core gives a second.
#include <benchmark/benchmark.h>

#include "bench/run_times.h"

#include <cstdio>
#include <memory>
#include <string>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/common/password_hash.h"
#include "mgt/init/root.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "testing/engines.h"

namespace {

void hash(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tivel::mgt::hashPassword("correct horse battery staple"));
}

void verify(benchmark::State& state) {
  tivel::com::Variant stored(tivel::mgt::hashPassword("correct horse battery staple"));
  for (auto _ : state) benchmark::DoNotOptimize(tivel::mgt::passwordMatches(stored, "correct horse battery staple"));
}

// A seeded root on the embedded engine with the user "bench", registered
// with passwords hashed or not.
void login(benchmark::State& state, bool hashed) {
  tivel::testing::TempDir dir;
  tivel::mgt::initRoot({dir.path(), true});
  if (hashed)
    tivel::profile::writePrivateProfileString("Security", "password_hash", "argon2id",
                                              dir.path() + "/ini/SysTivel.ini");
  tivel::mgt::resetThreadState();
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  admin->addUsr("bench", "correct horse battery staple", "用户", "", "", "", "", "");
  for (auto _ : state) {
    std::string code = admin->loginByPwd("bench", "correct horse battery staple", "127.0.0.1");
    if (code != "0") state.SkipWithError(("login answered " + code).c_str());
  }
  admin.reset();
  tivel::mgt::resetThreadState();
}

// Few iterations: a hashed login takes tens of milliseconds, and the login
// records' keys allow at most 999 a second.
BENCHMARK(hash)->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(verify)->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(login, hashed, true)->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(login, plain, false)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  auto ms = [&](const char* name) { return times.cpu(name); };  // milliseconds
  double hashed = ms("login/hashed"), plain = ms("login/plain");
  if (hashed > 0)
    std::printf("hashed login: %.1f ms CPU = %.0f logins a second per core (plain: %.2f ms = %.0f)\n", hashed,
                1000 / hashed, plain, plain > 0 ? 1000 / plain : 0.0);
  benchmark::Shutdown();
  return 0;
}
