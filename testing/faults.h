// Test support: makes the data-access layer fail a chosen statement or commit
// on this thread, to prove what a multi-statement write leaves behind when it
// breaks part way. Statements are counted from when the object is made.
//
//   tivel::testing::Faults faults;
//   faults.failStatement(1, "insert into AppAuth");  // the first such insert fails
//   EXPECT_FALSE(app->setAuthOfUsr(...));
//   faults.disarm();                                  // before inspecting
//
// Every statement a backend of this thread runs counts, the test's own
// inspection connection included: disarm (or let the object go) before reading
// back. Matching text is compared without regard to letter case.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ado/statement_hook.h"

namespace tivel::testing {

class Faults {
 public:
  Faults();   // records statements, fails none
  ~Faults();  // disarms
  Faults(const Faults&) = delete;
  Faults& operator=(const Faults&) = delete;

  // Fails the n-th statement (from 1) whose text contains `containing` ("":
  // any statement); with `andLater`, every matching statement after it too.
  void failStatement(int n, std::string containing = "", bool andLater = false);
  // Fails the n-th commit (from 1).
  void failCommit(int n = 1);
  // Stops counting and failing; the recorded statements stay readable.
  void disarm();

  // The statements run since the object was made (or until disarmed), in order.
  const std::vector<std::string>& statements() const { return statements_; }
  // How many steps were made to fail.
  int injected() const { return injected_; }

 private:
  void step(ado::HookStep kind, const std::string& sql);

  bool armed_ = true;
  std::string containing_;
  int statementTarget_ = 0, commitTarget_ = 0;
  bool andLater_ = false;
  int matched_ = 0, commits_ = 0, injected_ = 0;
  std::vector<std::string> statements_;
  ado::StatementHook previous_;
};

// Proves that a write is all or nothing: runs `attempt` once with its commit
// failing, then once with its first statement failing, then its second, and
// so on, calling `afterFailure(step)` after each such run (`step` says what
// failed: "commit" or "statement 2: delete from ..."); the runs end with one
// in which no statement fails, whose write stays. Returns the statements that
// last run took. A write that makes no commit is reported to `afterFailure` as
// such (its changes stay, for the check to catch) and gives -1. `attempt` runs
// the write on this thread and should not throw.
int failEachStep(const std::function<void()>& attempt,
                 const std::function<void(const std::string& step)>& afterFailure);

// The source of every injected failure; its number is the engine-failure number (0x80004005).
inline constexpr const char* kFaultSource = "Fault injection";

}  // namespace tivel::testing
