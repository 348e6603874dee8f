// What the enforced account policy keeps in the database beside the
// security attributes: the login-error count raised by wrong passwords, the
// moment a lock was taken, and the password-change demand cleared by a
// change. All on the thread's shared connection.
#pragma once

#include <functional>
#include <string>

namespace tivel::mgt::policy {

// Sets the user's own value of a security attribute (a number, or the name
// of a value row without definition), adding the row when there is none.
void setUserValue(const std::string& attribute, const std::string& usrNo, const std::string& value);

// Runs `work` in a transaction in which the user's writers take turns: on a
// server database the user's row is held until the commit, and SQLite's
// write transaction excludes other writers anyway. Rolled back when `work`
// fails; the failure reaches the caller.
void inUsersTurn(const std::string& usrNo, const std::function<void()>& work);

// The moment the user's current login-error lock was taken, as
// "YYYY-MM-DD HH:MM:SS"; "" when none is recorded.
std::string lockedAt(const std::string& usrNo);

// Starts the count again after a lock that is over: sets the user's
// login-error count to "0" when it still holds `count` (a concurrent login
// that did the same first is left alone).
void reopenLock(const std::string& usrNo, const std::string& count);

enum class WrongPassword {
  Counted,    // the count went up by one
  LockedNow,  // it went up and reached the threshold: the lock was taken now
  Locked,     // the count had reached the threshold already: not raised
};

// Raises the user's login-error count by one in a single statement (no
// increment is lost to concurrent logins on any engine), creating the count
// at 1 when the user has none, unless it has reached `threshold` (> 0;
// 0 = no lock). Records the lock's moment when this increment reaches the
// threshold. Failures reach the caller.
WrongPassword countWrongPassword(const std::string& usrNo, long threshold);

// Sets the user's login-error count to `threshold` and forgets any lock
// moment, so the lock lasts until the count is reset.
void lockUntilReset(const std::string& usrNo, long threshold);

// Clears a password-change demand: the user's own PwdFirstLimit value becomes
// "0" (created when the user had none and took the definition's default).
void clearPasswordChangeDemand(const std::string& usrNo);

}  // namespace tivel::mgt::policy
