// CPU time read from /proc, for the benchmarks that say where a run's time
// went: the whole machine, one process, and the test PostgreSQL server.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tivel::bench {

// The machine's busy CPU ticks since boot (every core).
inline int64_t machineBusyTicks() {
  std::ifstream f("/proc/stat");
  std::string cpu;
  int64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  f >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  return user + nice + system + irq + softirq + steal;
}

// A process's CPU ticks (user and system); with `reaped`, those of its
// children that ended and were waited for too. 0 when it is gone.
inline int64_t processTicks(pid_t pid, bool reaped = false) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), {});
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  int64_t ticks = 0;
  for (int i = 3; i <= 17 && rest >> field; ++i)
    if (i == 14 || i == 15 || (reaped && i >= 16)) ticks += std::stoll(field);
  return ticks;
}

// CPU seconds of the test PostgreSQL server: its postmaster (found through
// TIVEL_TEST_PG_DIR, as scripts/pg-cluster.sh lays the cluster out) with its
// ended backends, and its live children. Other clusters on the machine do
// not count. 0 when the cluster is not found.
inline double postgresCpuSeconds() {
  const char* dir = std::getenv("TIVEL_TEST_PG_DIR");
  if (!dir) return 0;
  pid_t postmaster = 0;
  std::ifstream(std::string(dir) + "/data/postmaster.pid") >> postmaster;
  if (postmaster <= 0) return 0;
  int64_t ticks = processTicks(postmaster, true);
  if (DIR* proc = opendir("/proc")) {
    while (dirent* e = readdir(proc)) {
      if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
      std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 2));
      std::string state;
      pid_t parent = 0;
      if (rest >> state >> parent && parent == postmaster) ticks += processTicks(std::atoi(e->d_name));
    }
    closedir(proc);
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace tivel::bench
