// The gateway's worker threads. Each is an apartment: the components keep
// their module state and shared connection per thread, made by their
// start-up on the first batch a thread runs, so every worker has its own
// connection and no state crosses threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tivel::tool {

class WorkerPool {
 public:
  // Starts `count` threads (at least one).
  explicit WorkerPool(int count);
  // Runs what was queued, then joins the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues a unit of work; one worker runs it whole. Work queued after
  // stop() is dropped (its callable is destroyed unrun).
  void submit(std::function<void()> work);
  // Lets the queued work finish and joins the threads; idempotent.
  void stop();

  int size() const { return static_cast<int>(threads_.size()); }
  // The number of workers running a unit of work now.
  int busy() const { return busy_.load(); }

 private:
  void loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::atomic<int> busy_{0};
  std::vector<std::thread> threads_;
};

}  // namespace tivel::tool
