// AdminMgt: the portal's login, account-policy checks, login bookkeeping and
// registration shortcut, the generic recordset gateway and the authorization
// check (TivelMgt.AdminMgt). It keeps no data of its own and
// works through private AppMgt, UmMgt and SysMgt objects.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/com/object.h"
#include "records/record.h"

namespace tivel::mgt {

class UmMgt;
class SysMgt;

// What a login ended in: its code (as loginByPwd answers it) and, when it
// got as far as the user's row, who logged in.
struct LoginOutcome {
  std::string code;             // "0" accepted, else loginByPwd's refusal or failure code
  std::string token;            // the login record written ("" when none was)
  std::string usrNo, account;   // the user found ("" when none was)
  std::string name;             // the user's name ("" when Null)
  com::Variant storedPassword;  // the user's Pwd as stored (a stamp for sessions; never shown)
  com::Variant state;           // the user's State
  bool secondFactor = false;    // a one-time code must still follow the password
};

class AdminMgt : public com::Object {
 public:
  // Creates the private AppMgt, SysMgt and UmMgt, in that order.
  AdminMgt();
  // Releases them as AppMgt, UmMgt, SysMgt.
  ~AdminMgt() override;
  const com::ClassInfo& classInfo() const override;

  // "0" accepted; kLoginAccountEmpty, kLoginNoSuchAccount, kLoginWrongPassword;
  // a policy code of usrIsAvail; kLoginNotRecorded (bookkeeping failed);
  // kLoginFailed on any other failure (platform/codes/result_codes.def).
  std::string loginByPwd(const std::string& account, const std::string& pwd, const std::string& ip);
  // The login of loginByPwd (the same checks, codes, rows and log entries),
  // answering the login record's token and the user beside the code.
  LoginOutcome login(const std::string& account, const std::string& pwd, const std::string& ip);
  // The six policy checks in order; "0" or the refusing check's code, kLoginPolicyFailed on failure.
  std::string usrIsAvail(const std::string& usrNo, const std::string& ip);
  // The policy checks read their attributes and pass, unless the configuration
  // enforces the policy (mgt/admin/policy.h); a failed read fails the call.
  bool usrIpLimit(const std::string& usrNo, const std::string& ip);
  bool usrTimeLimit(const std::string& usrNo);
  bool usrLogErrLimit(const std::string& usrNo);
  bool usrAcntLimit(const std::string& usrNo);
  bool usrPwdLimit(const std::string& usrNo);
  bool usrPwdFirstLimit(const std::string& usrNo);
  // Login count up, login-error count reset, a login record; false when one of the first two failed.
  bool usrSuccess(const std::string& usrNo);
  // Logs the second login of the account and answers true; with the second
  // factor on for the user, only for a current one-time code not used before.
  bool loginAgain(const std::string& account, const std::string& twoPwd);
  // Whether the user's login needs the one-time code of loginAgain after the
  // password: [Security] second_factor=totp and the user's IsPwdTwo "1".
  bool secondFactorOn(const std::string& usrNo);
  // Checks the old password by a login, writes the new one; true when done and logged.
  bool changePwd(const std::string& account, const std::string& pwd, const std::string& newPwd);
  // Registers a user and puts it in group "3"; true when both adds succeeded.
  bool addUsr(const std::string& account, const std::string& pwd, const std::string& name, const std::string& netName,
              const std::string& phone, const std::string& mobile, const std::string& email,
              const std::string& loginMode);
  // Locks the account as too many wrong passwords do, but until an
  // administrator unlocks it (UmMgt.cleanUsrLogErrNum): the login-error count
  // is set to the user's lockout threshold, with no moment for the lock to
  // run out from, and the lock is logged. False, the lock not taken, when
  // it would not hold (the policy not enforced, no threshold above 0 for the
  // user), for an unknown user, or when a write failed.
  bool lockUsr(const std::string& usrNo);
  // 0 in groups 1 and 2, 1 in group 1 only, 2 in group 2 only, -1 otherwise.
  int16_t isSysSecUsr(const std::string& usrNo);
  // SysMgt.WriteLog with the same arguments.
  bool WriteLog(const com::Variant& modNo, const com::Variant& modName, const com::Variant& logDisc,
                const com::Variant& logType, const com::Variant& msgType);

  // ---- The recordset gateway and the authorization check
  // Opens pSQL on the shared connection (keyset cursor, batch optimistic) and
  // sets pErr to ""; on failure logs the description, puts it into pErr and
  // answers Nothing.
  com::Variant getRecordset(com::Variant& pErr, const com::Variant& pSQL);
  // Runs a statement text, writes one recordset's pending changes, or runs an
  // array of both in one transaction (at most 32767 elements). On failure:
  // the array rolled back, the description logged and put into pErr, false.
  bool setRecordset(std::string& pErr, const com::Variant& pVar);
  // The character at position strAuthBit of the user's own authorization
  // string on the resource; kCheckAuthNone none, kCheckAuthTooShort shorter. A position below 1
  // or a string without value fails the call.
  std::string checkAuth(const std::string& strResNo, const std::string& strUsrNo, int16_t strAuthBit);
  // AppMgt.getAuthOfUsr with the caller's subject type.
  std::string getAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type,
                           const std::string& strOGRU_No);
  // AppMgt.setAuthOfUsr for the user as subject of type "3".
  bool setAuthOfUsr(const std::string& strRes_no, const std::string& strUsr_no, const std::string& strAuth);

 private:
  enum class PasswordCheck { Right, Wrong, NoAnswer };
  std::string securityValue(const char* attribute, const std::string& usrNo);
  records::RecordPtr userByAccount(const std::string& account);
  std::string directoryAccount(const std::string& account, const std::string& usrNo);
  // The stored password, or the directory for the users it covers.
  PasswordCheck checkPassword(const std::string& account, const std::string& usrNo, const com::Variant& stored,
                              const std::string& pwd);
  // usrSuccess, leaving the login-error count alone unless resetErrors;
  // `user` is the user row as the login read it, when it did.
  bool bookLogin(const std::string& usrNo, bool resetErrors, std::string* token = nullptr,
                 const records::Record* user = nullptr);
  bool codeAccepted(const std::string& account, const std::string& usrNo, const std::string& code);
  // Counts a wrong password under the enforced policy: kLoginWrongPassword, or kLoginLocked when locked.
  std::string wrongPassword(const std::string& account, const std::string& usrNo);
  void logEvent(const std::string& text);

  UmMgt& um();
  SysMgt& sys();

  com::ObjectPtr app_, sys_, um_;
  // While a login runs, the user's security values it has read (by
  // attribute): its checks read several of them more than once, and nothing
  // the login does between the checks writes them. Emptied when a lock is
  // reopened and when the login ends.
  std::optional<std::map<std::string, std::string>> loginValues_;
  // With loginValues_ read together, how many rows of the login-error count
  // the user has of its own (none: bookLogin creates it without a look).
  std::optional<int> loginErrRows_;
};

}  // namespace tivel::mgt
