#include "tools/tivel/serve_workers.h"

namespace tivel::tool {

WorkerPool::WorkerPool(int count) {
  if (count < 1) count = 1;
  for (int i = 0; i < count; ++i) threads_.emplace_back([this] { loop(); });
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::submit(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    queue_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void WorkerPool::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
}

void WorkerPool::loop() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to run
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    ++busy_;
    work();
    --busy_;
  }
}

}  // namespace tivel::tool
