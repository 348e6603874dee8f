// The gateway's counters, written out in the Prometheus text format. Token
// names label them: they come from the root's token file, so callers cannot
// grow the label set.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace tivel::tool {

class ServeMetrics {
 public:
  // Counts one answered request of a caller ("" when none was let in), with
  // the time from its head to its answer. Paths other than the gateway's own
  // are counted as "other".
  void request(const std::string& path, int status, double seconds, const std::string& caller);
  // Counts the calls of a caller's batch answered with an error, and of them those its scope refused.
  void callErrors(const std::string& caller, int64_t errors, int64_t refused);
  // Counts a connection closed because its request head did not arrive in time.
  void slowHead() { ++slowHeads_; }
  // Counts a connection closed because a request body did not come in, or an answer go out, in time.
  void slowTransfer() { ++slowTransfers_; }
  // The text exposition, with the batch threads' count, how many run a batch
  // now and, when a version is given, the build's (tivel_build_info).
  std::string text(int workers, int busy, const std::string& version = "", const std::string& revision = "") const;

 private:
  static constexpr std::array<double, 10> kBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.5, 2.5};
  mutable std::mutex mutex_;
  std::map<std::tuple<std::string, int, std::string>, uint64_t> requests_;
  std::map<std::string, std::pair<uint64_t, uint64_t>> calls_;  // caller: errors, refused
  std::array<uint64_t, kBounds.size()> buckets_{};              // not cumulative; summed when written
  uint64_t count_ = 0;
  double sum_ = 0;
  std::atomic<uint64_t> slowHeads_{0};
  std::atomic<uint64_t> slowTransfers_{0};
};

}  // namespace tivel::tool
