#include "platform/ado/interrupt.h"

#include <algorithm>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado {

void Interrupts::interrupt() {
  std::lock_guard lock(mutex_);
  interrupted_.store(true, std::memory_order_release);
  for (const Running& r : running_) r.cancel(r.target);
}

void Interrupts::reset() {
  std::lock_guard lock(mutex_);
  interrupted_.store(false, std::memory_order_release);
}

const std::shared_ptr<Interrupts>& threadInterrupts() {
  thread_local const std::shared_ptr<Interrupts> state = std::make_shared<Interrupts>();
  return state;
}

RunningStatement::RunningStatement(void (*cancel)(void*), void* target) : state_(*threadInterrupts()), target_(target) {
  std::lock_guard lock(state_.mutex_);
  if (state_.interrupted()) raiseInterrupted();
  state_.running_.push_back({cancel, target});
}

RunningStatement::~RunningStatement() {
  std::lock_guard lock(state_.mutex_);
  auto it = std::find_if(state_.running_.rbegin(), state_.running_.rend(),
                         [this](const Interrupts::Running& r) { return r.target == target_; });
  if (it != state_.running_.rend()) state_.running_.erase(std::next(it).base());
}

bool threadInterrupted() { return threadInterrupts()->interrupted(); }

void raiseInterrupted() { com::raise(kTimeoutExpired, "ADODB.Connection", "Query timeout expired"); }

}  // namespace tivel::ado
