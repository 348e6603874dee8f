// Password rules, opt-in under [Policy] of SysTivel.ini: a minimum length,
// how many character classes (lower case, upper case, digits, others) a new
// password mixes, and no reuse of the last N passwords (kept as Argon2id
// hashes in umPwdHist). Without them every password is taken as before.
#pragma once

#include <string>
#include <vector>

#include "platform/codes/result_codes.h"

namespace tivel::mgt {

// The one code a password the rules refuse answers, whichever operation set it.
inline constexpr const char* kPasswordRulesRefused = codes::kPasswordRulesRefused;

struct PasswordRules {
  int minLength = 0;  // [Policy] min_length: characters (not bytes) at least; 0 = any
  int classes = 0;    // [Policy] char_classes: how many of lower/upper/digit/other, 0 to 4
  int history = 0;    // [Policy] history: differs from the current and the last N-1 before it; 0 = off
  bool any() const { return minLength > 0 || classes > 0 || history > 0; }
};

// The rules a configuration file sets; a value not understood reads as 0 (off).
PasswordRules readPasswordRules(const std::string& iniPath);

// The rules of this thread's configuration file, read afresh.
PasswordRules passwordRules();

// One sentence for each [Policy] password-rule value that is not understood,
// naming the key and the values allowed; empty when all are.
std::vector<std::string> passwordRuleProblems(const std::string& iniPath);

// The rules in words ("zh-CN" or "en"); "" when there are none.
std::string describePasswordRules(const PasswordRules& rules, const std::string& language);

// Fails the call with kPasswordRulesRefused (its description says which
// rule) when `pwd` breaks a rule in force. `usrNo` names the user whose
// password it becomes ("" for a new user: no history to compare with).
void checkPasswordRules(const std::string& usrNo, const std::string& pwd);

// After a password was set: keeps its hash as the user's newest in the
// history while history=N is set, and forgets the ones older than the last N.
void rememberPassword(const std::string& usrNo, const std::string& pwd);

}  // namespace tivel::mgt
