#include "tools/tivel/serve/worker_pool.h"

#include <algorithm>

namespace tivel::tool {

WorkerPool::WorkerPool(int threads, size_t queue) : places_(static_cast<size_t>(std::max(threads, 1)) + queue) {
  for (int i = 0; i < std::max(threads, 1); ++i) workers_.emplace_back([this] { loop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

bool WorkerPool::reserve() {
  std::lock_guard lock(mutex_);
  if (reserved_ >= places_) return false;
  ++reserved_;
  return true;
}

void WorkerPool::post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void WorkerPool::waitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return reserved_ == 0; });
}

int WorkerPool::waiting() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(jobs_.size());
}

int WorkerPool::busy() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void WorkerPool::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // Jobs handed in before the end still run: each holds a connection that waits for its answer.
    wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    ++running_;
    lock.unlock();
    job();
    job = nullptr;
    lock.lock();
    --running_;
    --reserved_;
    if (reserved_ == 0) idle_.notify_all();
  }
}

}  // namespace tivel::tool
