#include "mgt/admin/guess_limit.h"

#include <algorithm>

namespace tivel::mgt {

namespace {
constexpr auto kForgetAfter = std::chrono::hours(1);
constexpr size_t kPruneAbove = 10000;  // entries before idle ones are swept out
}  // namespace

std::chrono::seconds GuessLimit::wait(const std::string& key, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end() || it->second.until <= now) return std::chrono::seconds(0);
  // Rounded up: a client told to wait 0 s would come back at once.
  return std::chrono::ceil<std::chrono::seconds>(it->second.until - now);
}

void GuessLimit::failed(const std::string& key, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() > kPruneAbove) prune(now);
  Entry& e = entries_[key];
  if (e.failures > 0 && now - e.last > kForgetAfter) e = Entry{};
  e.last = now;
  const int beyond = ++e.failures - free_;
  if (beyond <= 0) return;
  const long long seconds =
      beyond >= 31 ? ceiling_.count() : std::min<long long>(1LL << (beyond - 1), ceiling_.count());
  e.until = now + std::chrono::seconds(seconds);
}

void GuessLimit::succeeded(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(key);
}

void GuessLimit::prune(Clock::time_point now) {
  for (auto it = entries_.begin(); it != entries_.end();)
    it = (now - it->second.last > kForgetAfter && it->second.until <= now) ? entries_.erase(it) : std::next(it);
}

}  // namespace tivel::mgt
