// Which late-bound calls are running on this thread, innermost last, so that
// code deep inside a call (a failure trace) can name the operation it serves.
#pragma once

#include <string>

namespace tivel::com {

// Marks a late-bound call of `member` of class `className` as running on this
// thread for the object's lifetime. Both strings must outlive the object (the
// class description's own strings do).
class CallScope {
 public:
  CallScope(const std::string& className, const std::string& member);
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  friend std::string runningCalls();
  const std::string& className_;
  const std::string& member_;
  const CallScope* outer_;
};

// The calls running on this thread, outermost first, as "Class.member"
// joined by " > "; "" when none.
std::string runningCalls();

}  // namespace tivel::com
