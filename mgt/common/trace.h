// Traceable failures: when tracing is on, every failure a trap turns into a
// result value is written to the component's daily log, so an operator can
// find out why an operation answered its failure code. Off by default; it
// never changes a result.
#pragma once

#include <string_view>

namespace tivel::mgt {

// True when the environment has TIVEL_TRACE=1, or (TIVEL_TRACE unset) when
// SysTivel.ini has trace=1 in section "LOG". Read afresh each time.
bool tracing();

// Call from inside a catch block: when tracing is on, writes one log line with
// the late-bound calls running on this thread, the function `site` that holds
// the trap, the `result` the failure became, and the failure's number, source
// and description. Never throws.
void traceTrapped(std::string_view result, const char* site) noexcept;

}  // namespace tivel::mgt
