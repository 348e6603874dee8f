// Failed sign-ins and logins seen by the gateway and the console, with the
// caller's address: one line on standard error and in the root's daily log
// (log/logYYYYMMDD.txt); with [Audit] failures=1 also one entry in the
// system log (SysMgt.WriteLog). The components' tables are otherwise left
// as the login writes them.
#pragma once

#include <string>
#include <vector>

#include "tools/tivel/rpc/json_value.h"

namespace tivel::tool::audit {

// The audit line of one failure:
//   login failed: account "alice" from 127.0.0.1 (console sign-in, 10003)
// The account is quoted with control characters, quotes and backslashes escaped.
std::string failureLine(const std::string& where, const std::string& account, const std::string& address,
                        const std::string& outcome);

// Records one failure (`outcome`: the login's code, or "refused" for a code step).
void loginFailed(const std::string& where, const std::string& account, const std::string& address,
                 const std::string& outcome);

// `ok` as it is; a false one is recorded as a failed code step first.
bool codeStep(bool ok, const std::string& where, const std::string& account, const std::string& address);

// The address the batches of this thread come from, while the object lives.
class BatchAddress {
 public:
  explicit BatchAddress(const std::string& address);
  ~BatchAddress();
  BatchAddress(const BatchAddress&) = delete;
  BatchAddress& operator=(const BatchAddress&) = delete;
};

// Looks at one answered request of a batch: a loginByPwd that answered a
// code other than "0", or a loginAgain that answered false, is recorded with
// the thread's BatchAddress.
void batchAnswer(const Json& request, const Json& answer);

// [Audit] failures, and one sentence for each value of [Audit] that is not understood.
bool failuresToSystemLog(const std::string& iniPath);
std::vector<std::string> auditSettingProblems(const std::string& iniPath);

// Every account-security setting problem tivel serve and tivel init refuse:
// [Policy], [Security] and [LDAP] (mgt::securitySettingProblems), the
// password rules of [Policy] and [Audit].
std::vector<std::string> identitySettingProblems(const std::string& iniPath);

}  // namespace tivel::tool::audit
