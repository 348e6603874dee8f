// One batch of the gateway: a JSON array of host requests run in order on
// the calling thread, under a caller's scope, within a deadline and an
// answer size. The thread must be one of the server's batch threads (an
// apartment: the components keep module state and a connection per thread).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/codes/result_codes.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/own_sources.h"
#include "tools/tivel/serve/scope.h"
#include "tools/tivel/serve/watchdog.h"

namespace tivel::tool {

// Error numbers of answers the gateway gives in place of a request's own.
using codes::kAnswerTooLarge;  // E_OUTOFMEMORY
using codes::kNotRun;          // E_ABORT: an observer stopped the batch
using codes::kScopeRefused;    // E_ACCESSDENIED
using codes::kTimedOut;        // the batch's time ran out

struct BatchLimits {
  size_t maxRequests = 10000;                // more get 413
  size_t maxAnswer = size_t{64} << 20;       // bytes of the answer array; later requests answer an error
  std::chrono::milliseconds timeout{30000};  // from the request's arrival
};

// What a batch came to, for the HTTP answer and the counters.
struct BatchOutcome {
  int status = 200;
  std::string body;        // the JSON answer array, or {"error":{...}} for a batch refused whole
  int64_t callErrors = 0;  // requests answered with an error
  int64_t refused = 0;     // of them, refused by the caller's scope
};

// Watches a batch as it runs, and may stop it (the console's changes).
class BatchObserver {
 public:
  virtual ~BatchObserver() = default;
  // A request the scope allows is about to call, read or write `member` of an
  // object of class `progid`; a failure thrown here answers that request.
  virtual void calling(std::string_view progid, std::string_view member) = 0;
  // A request was answered; false stops the batch: the later requests answer
  // kNotRun and do not run.
  virtual bool answered(const Json& answer) = 0;
};

class BatchRunner {
 public:
  // `own` are the root's data sources for scopes with connect=own.
  BatchRunner(BatchLimits limits, Watchdog& watchdog, OwnSources own)
      : limits_(limits), watchdog_(watchdog), own_(std::move(own)) {}

  // Runs the batch in `body` for the caller, its deadline counted from
  // `arrival`. A body that is no JSON array, or nested too deep, answers
  // 400; more than maxRequests requests 413; a thread whose components
  // cannot start (the database unreachable) 503, and the next batch tries
  // again. A request outside the scope is answered kScopeRefused and not
  // run; at the deadline the request running is interrupted and it and the
  // rest answer kTimedOut; once the answer would pass maxAnswer, the request
  // that passed it and the rest answer kAnswerTooLarge. An observer, when
  // given, is told of every call and answer.
  BatchOutcome run(std::string_view body, const Caller& caller, std::chrono::steady_clock::time_point arrival,
                   BatchObserver* observer = nullptr) const;

  const BatchLimits& limits() const { return limits_; }

 private:
  BatchLimits limits_;
  Watchdog& watchdog_;
  OwnSources own_;
};

}  // namespace tivel::tool
