#include "tools/tivel/serve/metrics.h"

#include <sstream>

namespace tivel::tool {

void ServeMetrics::request(const std::string& path, int status, double seconds) {
  const bool known = path == "/rpc" || path == "/health" || path == "/metrics";
  std::lock_guard lock(mutex_);
  ++requests_[{known ? path : "other", status}];
  for (size_t i = 0; i < kBounds.size(); ++i)
    if (seconds <= kBounds[i]) {
      ++buckets_[i];
      break;
    }
  ++count_;
  sum_ += seconds;
}

std::string ServeMetrics::text(int workers, int busy) const {
  std::ostringstream out;
  std::lock_guard lock(mutex_);
  out << "# HELP tivel_serve_requests_total HTTP requests answered, by path and status.\n"
         "# TYPE tivel_serve_requests_total counter\n";
  for (const auto& [key, n] : requests_)
    out << "tivel_serve_requests_total{path=\"" << key.first << "\",status=\"" << key.second << "\"} " << n << "\n";
  out << "# HELP tivel_serve_call_errors_total Calls inside batches answered with an error.\n"
         "# TYPE tivel_serve_call_errors_total counter\n"
         "tivel_serve_call_errors_total "
      << callErrors_.load() << "\n";
  out << "# HELP tivel_serve_request_duration_seconds Time from a request's head to its answer.\n"
         "# TYPE tivel_serve_request_duration_seconds histogram\n";
  uint64_t cumulative = 0;
  for (size_t i = 0; i < kBounds.size(); ++i) {
    cumulative += buckets_[i];
    out << "tivel_serve_request_duration_seconds_bucket{le=\"" << kBounds[i] << "\"} " << cumulative << "\n";
  }
  out << "tivel_serve_request_duration_seconds_bucket{le=\"+Inf\"} " << count_ << "\n"
      << "tivel_serve_request_duration_seconds_sum " << sum_ << "\n"
      << "tivel_serve_request_duration_seconds_count " << count_ << "\n";
  out << "# HELP tivel_serve_workers Worker threads.\n# TYPE tivel_serve_workers gauge\ntivel_serve_workers " << workers
      << "\n# HELP tivel_serve_workers_busy Worker threads running a batch now.\n"
         "# TYPE tivel_serve_workers_busy gauge\ntivel_serve_workers_busy "
      << busy << "\n";
  return out.str();
}

}  // namespace tivel::tool
