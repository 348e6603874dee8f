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

}  // namespace tivel::testing
