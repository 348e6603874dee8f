#include "mgt/console/console_caller.h"

namespace tivel::mgt {
namespace {

thread_local ConsoleCaller* current = nullptr;

}  // namespace

ConsoleCallerScope::ConsoleCallerScope(ConsoleCaller& caller) { current = &caller; }

ConsoleCallerScope::~ConsoleCallerScope() { current = nullptr; }

ConsoleCaller* consoleCaller() { return current; }

}  // namespace tivel::mgt
