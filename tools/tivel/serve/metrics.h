// The gateway's counters, written out in the Prometheus text format.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace tivel::tool {

class ServeMetrics {
 public:
  // Counts one answered HTTP request. Paths other than the gateway's own are
  // counted as "other", so that callers cannot grow the label set.
  void request(const std::string& path, int status, double seconds);
  // Counts calls of a batch that were answered with an error.
  void callErrors(int64_t count) { callErrors_ += count; }
  // The text exposition, with the workers' count and how many are busy.
  std::string text(int workers, int busy) const;

 private:
  static constexpr std::array<double, 10> kBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.5, 2.5};
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;
  std::array<uint64_t, kBounds.size()> buckets_{};  // not cumulative; summed when written
  uint64_t count_ = 0;
  double sum_ = 0;
  std::atomic<int64_t> callErrors_{0};
};

}  // namespace tivel::tool
