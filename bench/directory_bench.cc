// Cost of a directory login beside a local one: the whole loginByPwd through
// the components on the embedded engine, for a user whose stored password
// decides, and for one whose password is checked by a bind to the test
// directory (scripts/slapd-cluster.sh; TIVEL_TEST_LDAP_* name it): over
// StartTLS with the entry named by user_dn, and over ldaps:// with the entry
// searched as the reader account first. Each directory login opens its own
// connection and TLS session, as the login does.
#include <benchmark/benchmark.h>

#include "bench/run_times.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "testing/engines.h"

namespace {

using Clock = std::chrono::steady_clock;
// Login records' keys allow at most 999 a second: pace the fast local logins.
constexpr auto kPace = std::chrono::microseconds(2500);

using tivel::testing::env;

enum class Way { Local, StartTls, LdapsSearch };

void login(benchmark::State& state, Way way) {
  tivel::testing::TempDir dir;
  tivel::mgt::initRoot({dir.path(), true});
  const std::string ini = dir.path() + "/ini/SysTivel.ini";
  auto set = [&](const char* key, const std::string& value) {
    tivel::profile::writePrivateProfileString("LDAP", key, value, ini);
  };
  if (way != Way::Local) {
    set("ca_file", env("TIVEL_TEST_LDAP_CA"));
    set("all_users", "1");
  }
  if (way == Way::StartTls) {
    set("url", env("TIVEL_TEST_LDAP_URL"));
    set("starttls", "1");
    set("user_dn", "uid={account},ou=people," + env("TIVEL_TEST_LDAP_BASE"));
  } else if (way == Way::LdapsSearch) {
    set("url", env("TIVEL_TEST_LDAPS_URL"));
    set("base", env("TIVEL_TEST_LDAP_BASE"));
    set("filter", "(uid={account})");
    set("bind_dn", env("TIVEL_TEST_LDAP_BIND_DN"));
    set("bind_password_file", env("TIVEL_TEST_LDAP_BIND_PASSWORD_FILE"));
  }
  tivel::mgt::resetThreadState();
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  admin->addUsr("alice", "Alice pw 1", "用户", "", "", "", "", "");
  for (auto _ : state) {
    auto start = Clock::now();
    std::string code = admin->loginByPwd("alice", "Alice pw 1", "127.0.0.1");
    auto took = Clock::now() - start;
    if (code != "0") state.SkipWithError(("login answered " + code).c_str());
    state.SetIterationTime(std::chrono::duration<double>(took).count());
    if (auto left = kPace - took; left > Clock::duration::zero()) std::this_thread::sleep_for(left);
  }
  admin.reset();
  tivel::mgt::resetThreadState();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("login/local", login, Way::Local)
      ->UseManualTime()
      ->Iterations(1000)
      ->Unit(benchmark::kMicrosecond);
  bool directory = !env("TIVEL_TEST_LDAP_URL").empty();
  if (directory) {
    benchmark::RegisterBenchmark("login/directory_starttls", login, Way::StartTls)
        ->UseManualTime()
        ->Iterations(300)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("login/directory_ldaps_search", login, Way::LdapsSearch)
        ->UseManualTime()
        ->Iterations(300)
        ->Unit(benchmark::kMicrosecond);
  } else {
    std::printf("no test directory (eval \"$(scripts/slapd-cluster.sh start)\"): the local login only\n");
  }
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  double local = times.real("login/local"), tls = times.real("login/directory_starttls"),
         search = times.real("login/directory_ldaps_search");
  if (local > 0 && tls > 0)
    std::printf("directory login (StartTLS, user_dn) / local login: %.0f us / %.0f us = %.1f\n", tls, local,
                tls / local);
  if (local > 0 && search > 0)
    std::printf("directory login (ldaps, search as bind_dn) / local login: %.0f us / %.0f us = %.1f\n", search, local,
                search / local);
  benchmark::Shutdown();
  return 0;
}
