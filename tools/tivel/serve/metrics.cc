#include "tools/tivel/serve/metrics.h"

#include <sstream>

namespace tivel::tool {

void ServeMetrics::request(const std::string& path, int status, double seconds, const std::string& caller) {
  const bool known = path == "/rpc" || path == "/health" || path == "/metrics" || path.rfind("/console/", 0) == 0;
  std::lock_guard lock(mutex_);
  ++requests_[{known ? path : "other", status, caller}];
  for (size_t i = 0; i < kBounds.size(); ++i)
    if (seconds <= kBounds[i]) {
      ++buckets_[i];
      break;
    }
  ++count_;
  sum_ += seconds;
}

void ServeMetrics::callErrors(const std::string& caller, int64_t errors, int64_t refused) {
  if (errors == 0 && refused == 0) return;
  std::lock_guard lock(mutex_);
  auto& c = calls_[caller];
  c.first += static_cast<uint64_t>(errors);
  c.second += static_cast<uint64_t>(refused);
}

std::string ServeMetrics::text(int workers, int busy, const std::string& version, const std::string& revision) const {
  std::ostringstream out;
  std::lock_guard lock(mutex_);
  if (!version.empty())
    out << "# HELP tivel_build_info The version and revision of this build.\n# TYPE tivel_build_info gauge\n"
           "tivel_build_info{version=\""
        << version << "\",revision=\"" << revision << "\"} 1\n";
  out << "# HELP tivel_serve_requests_total HTTP requests answered, by path, status and token.\n"
         "# TYPE tivel_serve_requests_total counter\n";
  for (const auto& [key, n] : requests_)
    out << "tivel_serve_requests_total{path=\"" << std::get<0>(key) << "\",status=\"" << std::get<1>(key)
        << "\",token=\"" << std::get<2>(key) << "\"} " << n << "\n";
  out << "# HELP tivel_serve_call_errors_total Calls inside batches answered with an error, by token.\n"
         "# TYPE tivel_serve_call_errors_total counter\n";
  for (const auto& [caller, n] : calls_)
    out << "tivel_serve_call_errors_total{token=\"" << caller << "\"} " << n.first << "\n";
  out << "# HELP tivel_serve_refused_calls_total Calls inside batches refused by the token's scope.\n"
         "# TYPE tivel_serve_refused_calls_total counter\n";
  for (const auto& [caller, n] : calls_)
    out << "tivel_serve_refused_calls_total{token=\"" << caller << "\"} " << n.second << "\n";
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
  out << "# HELP tivel_serve_slow_heads_total Connections closed because a request head did not arrive in time.\n"
         "# TYPE tivel_serve_slow_heads_total counter\ntivel_serve_slow_heads_total "
      << slowHeads_.load() << "\n";
  out << "# HELP tivel_serve_slow_transfers_total Connections closed because a body did not arrive, or an answer "
         "leave, in time.\n"
         "# TYPE tivel_serve_slow_transfers_total counter\ntivel_serve_slow_transfers_total "
      << slowTransfers_.load() << "\n";
  out << "# HELP tivel_serve_workers Batch threads.\n# TYPE tivel_serve_workers gauge\ntivel_serve_workers " << workers
      << "\n# HELP tivel_serve_workers_busy Batch threads running a batch now.\n"
         "# TYPE tivel_serve_workers_busy gauge\ntivel_serve_workers_busy "
      << busy << "\n";
  return out.str();
}

}  // namespace tivel::tool
