#include "tools/tivel/serve/workers.h"

namespace tivel::tool {

Workers::Workers(int count) : count_(count < 1 ? 1 : count) {}

bool Workers::enter(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (busy_ < count_) {
    ++busy_;
    return true;
  }
  ++waiting_;
  const bool admitted = freed_.wait_until(lock, deadline, [this] { return busy_ < count_; });
  --waiting_;
  if (admitted) ++busy_;
  return admitted;
}

void Workers::leave() {
  bool wake;
  {
    std::lock_guard lock(mutex_);
    --busy_;
    wake = waiting_ > 0;
  }
  if (wake) freed_.notify_one();
}

int Workers::busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

}  // namespace tivel::tool
