// Stopping the statements a thread runs, from another thread. Every thread
// has an interrupt state; the backends mark each statement they run on it
// (RunningStatement), and a watchdog holding the state can interrupt them:
// the engine stops the statement (sqlite3_interrupt, SQLCancel), which then
// fails with kTimeoutExpired, and every later statement of the thread fails
// the same way at once until the thread resets its state. Rollbacks are
// never refused, so that an interrupted transaction can always be undone.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tivel::ado {

class Interrupts {
 public:
  // Stops the statements running now and refuses later ones until reset().
  // Callable from any thread.
  void interrupt();
  // Lets statements run again (the owning thread, before its next piece of work).
  void reset();
  // Whether interrupt() was called since the last reset().
  bool interrupted() const { return interrupted_.load(std::memory_order_acquire); }

 private:
  friend class RunningStatement;
  struct Running {
    void (*cancel)(void*);
    void* target;
  };
  std::mutex mutex_;
  std::atomic<bool> interrupted_{false};
  std::vector<Running> running_;
};

// This thread's interrupt state, to be handed to whoever may interrupt it.
const std::shared_ptr<Interrupts>& threadInterrupts();

// Marks one statement as running on this thread while it lives. Fails with
// kTimeoutExpired when the thread is interrupted; otherwise an interrupt
// meanwhile calls cancel(target) on the interrupting thread, while this
// object still lives (so the connection or statement it names is open).
class RunningStatement {
 public:
  RunningStatement(void (*cancel)(void*), void* target);
  ~RunningStatement();
  RunningStatement(const RunningStatement&) = delete;
  RunningStatement& operator=(const RunningStatement&) = delete;

 private:
  Interrupts& state_;
  void* target_;
};

// Whether this thread's statements are interrupted (cheap; for a backend
// deciding how to report a failure).
bool threadInterrupted();
// Fails with kTimeoutExpired: the statement was stopped by an interrupt.
[[noreturn]] void raiseInterrupted();

}  // namespace tivel::ado
