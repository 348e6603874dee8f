// The console session a batch of the console's runs for. The console's
// server names it for the thread while the batch runs, so the members that
// act for the administrator (ending sessions, enrolling the second factor)
// log who did it and know which session is the caller's own.
#pragma once

#include <string>

namespace tivel::mgt {

struct ConsoleCaller {
  std::string account, usrNo;    // the signed-in administrator
  std::string token;             // the session's login record
  bool ownSessionEnded = false;  // set by a member that ended the caller's own session
};

// Makes a caller the thread's for the scope's life (one batch); scopes do not nest.
class ConsoleCallerScope {
 public:
  explicit ConsoleCallerScope(ConsoleCaller& caller);
  ~ConsoleCallerScope();
  ConsoleCallerScope(const ConsoleCallerScope&) = delete;
  ConsoleCallerScope& operator=(const ConsoleCallerScope&) = delete;
};

// The thread's console caller; nullptr outside a console session's batch.
ConsoleCaller* consoleCaller();

}  // namespace tivel::mgt
