#include "testing/faults.h"

#include <algorithm>
#include <cctype>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::testing {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

Faults::Faults() {
  previous_ = ado::setStatementHook([this](ado::HookStep kind, const std::string& sql) { step(kind, sql); });
}

Faults::~Faults() { disarm(); }

void Faults::failStatement(int n, std::string containing, bool andLater) {
  statementTarget_ = n;
  containing_ = lower(std::move(containing));
  andLater_ = andLater;
  matched_ = 0;
}

void Faults::failCommit(int n) {
  commitTarget_ = n;
  commits_ = 0;
}

void Faults::disarm() {
  if (!armed_) return;
  armed_ = false;
  ado::setStatementHook(std::move(previous_));
}

void Faults::step(ado::HookStep kind, const std::string& sql) {
  if (kind == ado::HookStep::Commit) {
    if (commitTarget_ > 0 && ++commits_ == commitTarget_) {
      ++injected_;
      com::raise(ado::kProviderError, kFaultSource, "Injected failure of commit " + std::to_string(commits_));
    }
    return;
  }
  statements_.push_back(sql);
  if (statementTarget_ <= 0 || lower(sql).find(containing_) == std::string::npos) return;
  ++matched_;
  if (matched_ == statementTarget_ || (andLater_ && matched_ > statementTarget_)) {
    ++injected_;
    com::raise(ado::kProviderError, kFaultSource, "Injected failure of statement: " + sql);
  }
}

int failEachStep(const std::function<void()>& attempt,
                 const std::function<void(const std::string& step)>& afterFailure) {
  {
    Faults faults;
    faults.failCommit(1);
    attempt();
    faults.disarm();
    // A write that never commits took no transaction: its changes stayed,
    // which the caller's check is to catch.
    if (faults.injected() == 0) {
      afterFailure("commit (none was made: the write ran without a transaction)");
      return -1;
    }
    afterFailure("commit");
  }
  // A write has far fewer statements than this; the bound only stops a write
  // that never completes.
  constexpr int kMostSteps = 1000;
  for (int n = 1; n <= kMostSteps; ++n) {
    Faults faults;
    faults.failStatement(n);
    attempt();
    faults.disarm();
    if (faults.injected() == 0) return static_cast<int>(faults.statements().size());
    afterFailure("statement " + std::to_string(n) + ": " + faults.statements()[static_cast<size_t>(n - 1)]);
  }
  return -1;
}

}  // namespace tivel::testing
