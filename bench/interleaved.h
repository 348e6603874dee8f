// Two sides of a ratio measured in turns in one process, so that load from
// elsewhere on the machine falls on both alike: each side runs in a thread of
// its own (its own module state, so each may have its own root), the rounds
// alternate between them, swapping which side goes first, and the ratio is
// the median of the rounds' ratios, in wall time and in the side's own
// thread's CPU time.
#pragma once

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tivel::bench {

// One side: its thread runs `setup` once, which answers the call to time,
// then runs that call on demand. A call answers the wall seconds it counts
// (it may pace itself and leave the pause out), or a negative number for
// the whole call.
class Side {
 public:
  // Wall and CPU seconds of one batch of calls.
  struct Times {
    double wall = 0, cpu = 0;
  };
  using Call = std::function<double()>;

  // Starts the thread and waits for its setup to finish, so sides are set up
  // one after the other (a root's setup may name the process's root).
  explicit Side(std::function<Call()> setup) : thread_([this, setup = std::move(setup)] { loop(setup); }) {
    std::unique_lock lock(m_);
    cv_.wait(lock, [&] { return ready_; });
  }
  ~Side() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Side(const Side&) = delete;
  Side& operator=(const Side&) = delete;

  // Runs the call `calls` times in the side's thread.
  Times run(int calls) {
    std::unique_lock lock(m_);
    calls_ = calls;
    done_ = false;
    cv_.notify_all();
    cv_.wait(lock, [&] { return done_; });
    return times_;
  }

 private:
  static double threadCpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }

  void loop(const std::function<Call()>& setup) {
    Call call = setup();
    std::unique_lock lock(m_);
    ready_ = true;
    cv_.notify_all();
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || calls_ > 0; });
      if (stop_) break;
      const int n = calls_;
      lock.unlock();
      const double cpu0 = threadCpu();
      double wall = 0;
      for (int i = 0; i < n; ++i) {
        const auto wall0 = std::chrono::steady_clock::now();
        const double counted = call();
        wall +=
            counted >= 0 ? counted : std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
      }
      Times t{wall, threadCpu() - cpu0};
      lock.lock();
      times_ = t;
      calls_ = 0;
      done_ = true;
      cv_.notify_all();
    }
    call = nullptr;  // the side's objects go in its own thread
  }

  std::mutex m_;
  std::condition_variable cv_;
  bool ready_ = false, stop_ = false, done_ = false;
  int calls_ = 0;
  Times times_;
  std::thread thread_;
};

// What the rounds measured: medians over the rounds.
struct Ratio {
  double wall = 0, cpu = 0;          // the rounds' ratios of a to b
  double aWall = 0, bWall = 0;       // seconds a call, each side
  double aCpu = 0, bCpu = 0;         // the same in the side's CPU
  double wallLow = 0, wallHigh = 0;  // the lowest and highest round's wall ratio
};

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Fixes the allocator's thresholds where glibc's own adjustment ends up in
// a long-running process once it has freed a large block (mmap 32 MiB, trim
// twice that): a fresh benchmark process starts at 128 KiB instead, and
// until some earlier run happened to raise them, every list freed returns
// its pages to the kernel and the next one takes them back one page fault
// at a time, so a side's figure would depend on what ran before it.
inline void steadyHeap() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

// The rounds to run: TIVEL_BENCH_ROUNDS, else `fallback`.
inline int rounds(int fallback) {
  const char* v = std::getenv("TIVEL_BENCH_ROUNDS");
  return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

// Runs `rounds` rounds of `calls` calls on each side, a's and b's batches
// alternating (b first in every other round), after one unmeasured round.
inline Ratio interleave(Side& a, Side& b, int rounds, int calls) {
  a.run(calls);
  b.run(calls);
  std::vector<double> wall, cpu, aw, bw, ac, bc;
  for (int r = 0; r < rounds; ++r) {
    Side::Times ta, tb;
    if (r % 2) {
      tb = b.run(calls);
      ta = a.run(calls);
    } else {
      ta = a.run(calls);
      tb = b.run(calls);
    }
    wall.push_back(ta.wall / tb.wall);
    cpu.push_back(ta.cpu / tb.cpu);
    aw.push_back(ta.wall / calls);
    bw.push_back(tb.wall / calls);
    ac.push_back(ta.cpu / calls);
    bc.push_back(tb.cpu / calls);
  }
  Ratio out{median(wall), median(cpu), median(aw), median(bw), median(ac), median(bc)};
  out.wallLow = *std::min_element(wall.begin(), wall.end());
  out.wallHigh = *std::max_element(wall.begin(), wall.end());
  return out;
}

// Prints one ratio: `what` names a / b; `unit` is "ms" or "us"; a CPU
// target of its own is printed beside the wall one when given.
inline void printRatio(const std::string& what, const Ratio& r, const char* unit, double target, int rounds,
                       double cpuTarget = 0) {
  const double scale = std::string(unit) == "ms" ? 1e3 : 1e6;
  char targets[64];
  if (cpuTarget > 0)
    std::snprintf(targets, sizeof targets, "targets: wall <= %.2f, CPU <= %.2f", target, cpuTarget);
  else
    std::snprintf(targets, sizeof targets, "target <= %.2f", target);
  std::printf(
      "%s, median of %d interleaved rounds: wall %.2f %s / %.2f %s = %.2f (rounds %.2f to %.2f), "
      "CPU %.2f %s / %.2f %s = %.2f (%s)\n",
      what.c_str(), rounds, r.aWall * scale, unit, r.bWall * scale, unit, r.wall, r.wallLow, r.wallHigh, r.aCpu * scale,
      unit, r.bCpu * scale, unit, r.cpu, targets);
}

}  // namespace tivel::bench
