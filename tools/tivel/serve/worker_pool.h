// A lane of the gateway: worker threads that run the jobs handed to them in
// the order they came, with a bounded queue. Each worker is an apartment for
// as long as it lives (the components' module state and shared connection
// are per thread), so a job runs whole on one worker.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tivel::tool {

class WorkerPool {
 public:
  // Starts `threads` workers (at least one); at most `queue` jobs wait for one.
  WorkerPool(int threads, size_t queue);
  // Runs what was handed in, then ends the workers.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Takes a place for one job; false when every worker is busy and the queue is full.
  bool reserve();
  // Hands in a job for a place reserve() took; it never fails.
  void post(std::function<void()> job);
  // Waits until nothing is queued or running.
  void waitIdle();

  int threads() const { return static_cast<int>(workers_.size()); }
  // Jobs running now.
  int busy() const;
  // Jobs waiting for a worker.
  int waiting() const;

 private:
  void loop();

  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::function<void()>> jobs_;
  size_t places_;        // free places: idle workers plus free queue slots
  size_t reserved_ = 0;  // places taken and not yet done
  int running_ = 0;
  bool ending_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tivel::tool
