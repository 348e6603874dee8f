#include "platform/com/call_scope.h"

#include <vector>

namespace tivel::com {
namespace {

thread_local const CallScope* innermost = nullptr;

}  // namespace

CallScope::CallScope(const std::string& className, const std::string& member)
    : className_(className), member_(member), outer_(innermost) {
  innermost = this;
}

CallScope::~CallScope() { innermost = outer_; }

std::string runningCalls() {
  std::vector<const CallScope*> chain;
  for (const CallScope* s = innermost; s != nullptr; s = s->outer_) chain.push_back(s);
  std::string text;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!text.empty()) text += " > ";
    text.append((*it)->className_).append(".").append((*it)->member_);
  }
  return text;
}

}  // namespace tivel::com
