// Log entries a second written by processes at full speed, each through
// SysMgt.WriteLog (a key drawn by NewNumber, one key test, one insert an
// entry), as the hosts of a deployment write them at their logins: one
// process alone and four together, on the embedded engine and, when a test
// server is named (TIVEL_TEST_PG_*), on PostgreSQL. Beside the rate: the CPU
// the writing processes spent, and on PostgreSQL the CPU of the server's
// processes, so that the rest of the wall time is waiting (locks, the disk,
// round trips).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/proc_cpu.h"
#include "bench/run_times.h"
#include "mgt/common/module.h"
#include "mgt/sys/sys_mgt.h"
#include "mgt/testing/portal.h"
#include "platform/com/registry.h"
#include "testing/engines.h"

namespace {

constexpr double kSeconds = 5;

struct Written {
  long entries = 0, failed = 0;
};

// Every child writes for `seconds` and reports its counts through a pipe.
Written writeFor(int processes, double seconds) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  std::vector<pid_t> kids;
  for (int p = 0; p < processes; ++p) {
    pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
      close(fds[0]);
      Written w;
      try {
        tivel::mgt::resetThreadState();
        auto sys = std::dynamic_pointer_cast<tivel::mgt::SysMgt>(tivel::com::CreateObject("TivelMgt.SysMgt"));
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (long i = 0; std::chrono::steady_clock::now() < end; ++i)
          (sys->WriteLog("0", "sys", "bench " + std::to_string(p) + "-" + std::to_string(i), 0, 0) ? w.entries
                                                                                                   : w.failed)++;
        sys.reset();
        tivel::mgt::resetThreadState();
      } catch (...) {
        w.failed = -1;
      }
      if (write(fds[1], &w, sizeof w) != sizeof w) _exit(2);
      _exit(0);
    }
    kids.push_back(pid);
  }
  close(fds[1]);
  Written all;
  for (size_t i = 0; i < kids.size(); ++i) {
    Written w;
    if (read(fds[0], &w, sizeof w) == sizeof w) {
      all.entries += w.entries;
      all.failed += w.failed < 0 ? 1000000 : w.failed;
    }
  }
  close(fds[0]);
  for (pid_t k : kids) waitpid(k, nullptr, 0);
  return all;
}

double childCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void logEntries(benchmark::State& state, const std::string& engine, int processes) {
  tivel::mgt::testing::Portal portal(engine, false);
  for (auto _ : state) {
    const double cpu0 = childCpuSeconds(), server0 = tivel::bench::postgresCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const Written w = writeFor(processes, kSeconds);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(wall);
    state.counters["entries_per_s"] = static_cast<double>(w.entries) / wall;
    state.counters["failed"] = static_cast<double>(w.failed);
    state.counters["client_cpu_us_per_entry"] = (childCpuSeconds() - cpu0) * 1e6 / static_cast<double>(w.entries);
    if (engine != "sqlite")
      state.counters["server_cpu_us_per_entry"] =
          (tivel::bench::postgresCpuSeconds() - server0) * 1e6 / static_cast<double>(w.entries);
    if (portal.count("sysLog") != w.entries) state.SkipWithError("not every entry reported written is in the table");
    portal.exec("delete from sysLog");
  }
  tivel::mgt::resetThreadState();
}

bool serverNamed() { return std::getenv("TIVEL_TEST_PG_HOST") != nullptr; }

void registerAll() {
  for (const std::string engine : {"sqlite", "postgresql"}) {
    if (engine == "postgresql" && !serverNamed()) continue;
    for (int processes : {1, 4})
      benchmark::RegisterBenchmark(("logEntries/" + engine + "/processes_" + std::to_string(processes)).c_str(),
                                   [engine, processes](benchmark::State& s) { logEntries(s, engine, processes); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!serverNamed()) std::printf("TIVEL_TEST_PG_HOST is not set: the embedded engine only\n");
  registerAll();
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  for (const char* engine : {"sqlite", "postgresql"})
    for (int processes : {1, 4}) {
      const std::string name = std::string("logEntries/") + engine + "/processes_" + std::to_string(processes);
      if (double rate = times.counter(name, "entries_per_s"); rate > 0)
        std::printf("%s, %d process%s: %.0f log entries a second (%.0f failed)\n", engine, processes,
                    processes == 1 ? "" : "es", rate, times.counter(name, "failed"));
    }
  benchmark::Shutdown();
  return 0;
}
