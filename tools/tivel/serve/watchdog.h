// The gateway's deadlines: a thread that interrupts a batch thread's
// statements (platform/ado/interrupt.h) when the batch's time runs out, and
// every batch thread's when the server stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ado/interrupt.h"

namespace tivel::tool {

class Watchdog {
 public:
  using Clock = std::chrono::steady_clock;

  Watchdog();
  // Stops the thread; nothing armed is interrupted any more.
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Interrupts `target` at `deadline` unless disarmed before; returns the ticket for disarm().
  uint64_t arm(std::shared_ptr<ado::Interrupts> target, Clock::time_point deadline);
  // Forgets an armed ticket (one that fired already is forgotten anyway).
  void disarm(uint64_t ticket);
  // Interrupts every armed target now, and every one armed from now on.
  void interruptAll();

 private:
  struct Entry {
    Clock::time_point deadline;
    std::shared_ptr<ado::Interrupts> target;
  };
  void loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint64_t, Entry> armed_;
  uint64_t next_ = 1;
  Clock::time_point wake_ = Clock::time_point::max();  // when the thread wakes next
  bool all_ = false;
  bool ending_ = false;
  std::thread thread_;
};

// Arms a deadline for the calling thread's statements while it lives.
class Deadline {
 public:
  Deadline(Watchdog& watchdog, Watchdog::Clock::time_point at);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;
  // Whether the deadline (or the server's stop) interrupted the thread.
  bool passed() const { return ado::threadInterrupted(); }

 private:
  Watchdog& watchdog_;
  uint64_t ticket_;
};

}  // namespace tivel::tool
