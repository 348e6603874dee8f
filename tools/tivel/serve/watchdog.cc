#include "tools/tivel/serve/watchdog.h"

#include <vector>

namespace tivel::tool {

Watchdog::Watchdog() : thread_([this] { loop(); }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

uint64_t Watchdog::arm(std::shared_ptr<ado::Interrupts> target, Clock::time_point deadline) {
  bool sooner;
  uint64_t ticket;
  {
    std::lock_guard lock(mutex_);
    if (all_) target->interrupt();
    ticket = next_++;
    armed_.emplace(ticket, Entry{deadline, std::move(target)});
    sooner = deadline < wake_;
  }
  // The thread sleeps until the earliest deadline it knows; it needs waking
  // only for an earlier one, which with one time-out for every batch is rare.
  if (sooner) changed_.notify_one();
  return ticket;
}

void Watchdog::disarm(uint64_t ticket) {
  std::lock_guard lock(mutex_);
  armed_.erase(ticket);
}

void Watchdog::interruptAll() {
  {
    std::lock_guard lock(mutex_);
    all_ = true;
  }
  changed_.notify_one();
}

void Watchdog::loop() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    const Clock::time_point now = Clock::now();
    wake_ = Clock::time_point::max();
    for (auto it = armed_.begin(); it != armed_.end();) {
      if (all_ || it->second.deadline <= now) {
        it->second.target->interrupt();
        it = armed_.erase(it);
      } else {
        if (it->second.deadline < wake_) wake_ = it->second.deadline;
        ++it;
      }
    }
    if (wake_ == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, wake_);
  }
}

Deadline::Deadline(Watchdog& watchdog, Watchdog::Clock::time_point at)
    : watchdog_(watchdog), ticket_(watchdog.arm(ado::threadInterrupts(), at)) {}

Deadline::~Deadline() { watchdog_.disarm(ticket_); }

}  // namespace tivel::tool
