// How many batches the gateway runs at once. The thread that reads a
// request runs its batch itself once admitted, so a batch costs no hand-off
// between threads (on a virtual machine, waking a thread on another core
// costs tens of microseconds each way). Each thread that runs batches is an
// apartment: the components keep their module state and shared connection
// per thread, made by their start-up on the first batch the thread runs and
// kept for the thread's life, so no state crosses threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tivel::tool {

class Workers {
 public:
  using Clock = std::chrono::steady_clock;

  // Admits at most `count` batches at once (at least one).
  explicit Workers(int count);

  // Waits until a place is free or `deadline` passes; true when admitted,
  // and the caller must then leave().
  bool enter(Clock::time_point deadline);
  // Gives the place back and lets one waiter in.
  void leave();

  int size() const { return count_; }
  // The number of batches running now.
  int busy() const;

 private:
  const int count_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  int busy_ = 0;
  int waiting_ = 0;
};

// A place held for one batch, given back when it goes.
class WorkerPlace {
 public:
  WorkerPlace(Workers& workers, Workers::Clock::time_point deadline)
      : workers_(workers), held_(workers.enter(deadline)) {}
  ~WorkerPlace() {
    if (held_) workers_.leave();
  }
  WorkerPlace(const WorkerPlace&) = delete;
  WorkerPlace& operator=(const WorkerPlace&) = delete;
  explicit operator bool() const { return held_; }

 private:
  Workers& workers_;
  const bool held_;
};

}  // namespace tivel::tool
