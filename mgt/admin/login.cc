// Login, the account-policy checks and the bookkeeping of a successful login.
#include "mgt/admin/admin_mgt.h"

#include "mgt/admin/directory.h"
#include "mgt/admin/policy.h"
#include "mgt/admin/policy_state.h"
#include "mgt/admin/second_factor.h"
#include "mgt/common/helpers.h"
#include "mgt/common/password_hash.h"
#include "mgt/common/pattern.h"
#include "mgt/common/security_options.h"
#include "mgt/common/trace.h"
#include "mgt/sys/sys_mgt.h"
#include "mgt/um/um_mgt.h"
#include "platform/codes/result_codes.h"
#include "platform/com/call_scope.h"
#include "platform/com/registry.h"
#include "records/record.h"

namespace tivel::mgt {

using com::Variant;

namespace {

bool enforced() { return securityOptions().enforcePolicy; }

// A check's answer under the enforced policy. A value the rule cannot read
// refuses, and leaves a trace in the file log saying which and why.
bool allowed(policy::Verdict v, const char* attribute, const std::string& value, const std::string& usrNo) {
  if (v == policy::Verdict::Unreadable) {
    try {
      WriteFileLog(std::string("policy: ") + attribute + " of user " + usrNo + " cannot be read (\"" + value +
                   "\"): login refused");
    } catch (...) {
    }
  }
  return v == policy::Verdict::Pass;
}

// A line in the file log that must never stop the login it explains.
void fileLog(const std::string& line) {
  try {
    WriteFileLog(line);
  } catch (...) {
  }
}

}  // namespace

AdminMgt::AdminMgt()
    : app_(com::CreateObject("TivelMgt.AppMgt")),
      sys_(com::CreateObject("TivelMgt.SysMgt")),
      um_(com::CreateObject("TivelMgt.UmMgt")) {}

AdminMgt::~AdminMgt() {
  app_.reset();
  um_.reset();
  sys_.reset();
}

// Log entries of login events: module "0", "sys", types 0, the account
// followed directly by the message.
void AdminMgt::logEvent(const std::string& text) { sys().WriteLog("0", "sys", text, 0, 0); }

bool AdminMgt::WriteLog(const Variant& modNo, const Variant& modName, const Variant& logDisc, const Variant& logType,
                        const Variant& msgType) {
  return sys().WriteLog(modNo.toString(), modName.toString(), logDisc.toString(), logType.toInteger(),
                        msgType.toInteger());
}

// The private components as their own classes: a registration that put
// another class under their names fails the call rather than the process.
UmMgt& AdminMgt::um() {
  auto* m = dynamic_cast<UmMgt*>(um_.get());
  if (!m) com::raise(com::kObjectNotSet, "TivelMgt.AdminMgt", com::kObjectNotSetText);
  return *m;
}
SysMgt& AdminMgt::sys() {
  auto* m = dynamic_cast<SysMgt*>(sys_.get());
  if (!m) com::raise(com::kObjectNotSet, "TivelMgt.AdminMgt", com::kObjectNotSetText);
  return *m;
}

std::string AdminMgt::loginByPwd(const std::string& account, const std::string& pwd, const std::string& ip) {
  return login(account, pwd, ip).code;
}

LoginOutcome AdminMgt::login(const std::string& account, const std::string& pwd, const std::string& ip) {
  LoginOutcome out;
  loginValues_.emplace();
  try {
    out.code = [&]() -> std::string {
      if (account.empty()) return codes::kLoginAccountEmpty;
      auto user = userByAccount(account);
      if (!user) return codes::kLoginNoSuchAccount;
      std::string usrNo = user->get("Usr_No").toString();
      out.usrNo = usrNo;
      out.account = user->get("Account").toString();
      out.name = user->get("Name").isNull() ? std::string() : user->get("Name").toString();
      out.storedPassword = user->get("Pwd");
      out.state = user->get("State");
      // Under the enforced policy a locked account answers before its password
      // is looked at, so guessing learns nothing.
      if (enforced() && !usrLogErrLimit(usrNo)) return codes::kLoginLocked;
      switch (checkPassword(out.account, usrNo, user->get("Pwd"), pwd)) {
        case PasswordCheck::Right: break;
        case PasswordCheck::Wrong: return enforced() ? wrongPassword(account, usrNo) : codes::kLoginWrongPassword;
        case PasswordCheck::NoAnswer: return codes::kLoginFailed;
      }
      std::string r = usrIsAvail(usrNo, ip);
      if (r != "0") return r;
      // While a second factor is still to come, the login-error count stays:
      // a right password must not wipe out the wrong codes before it.
      out.secondFactor = secondFactorOn(usrNo);
      if (!bookLogin(usrNo, !out.secondFactor, &out.token, user.get())) return codes::kLoginNotRecorded;
      logEvent(account + "登录成功！");
      return "0";
    }();
  } catch (...) {
    traceTrapped(codes::kLoginFailed, "loginByPwd");
    out.code = codes::kLoginFailed;
  }
  loginValues_.reset();
  loginErrRows_.reset();
  return out;
}

std::string AdminMgt::usrIsAvail(const std::string& usrNo, const std::string& ip) {
  try {
    if (!usrIpLimit(usrNo, ip)) return codes::kLoginAddressRefused;
    if (!usrTimeLimit(usrNo)) return codes::kLoginTimeRefused;
    if (!usrLogErrLimit(usrNo)) return codes::kLoginLocked;
    if (!usrAcntLimit(usrNo)) return codes::kLoginAccountExpired;
    if (!usrPwdLimit(usrNo)) return codes::kLoginPasswordExpired;
    if (!usrPwdFirstLimit(usrNo)) return codes::kLoginPasswordMustChange;
    return "0";
  } catch (...) {
    traceTrapped(codes::kLoginPolicyFailed, __func__);
    return codes::kLoginPolicyFailed;
  }
}

namespace {

// The policy attributes by the fixed numbers they are stored under
// (UmMgt.getUsrSecValue's numbering: position + 1).
constexpr const char* kPolicyAttributes[] = {
    "IpLimit",      "TimeLimit",     "LogErrNum",   "LogErrLockNum", "IsPwdTwo", "PwdTwo", "AcntLimitDate",
    "PwdLimitDate", "PwdFirstLimit", "Certificate", "CertSignature", "LdapAcnt", "LdapPwd"};

std::string trimmedRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Every policy value of the user in one read, as getUsrSecValue answers
// each: the user's own value (Null read as "") wins, whatever its flag
// says; else the default of a definition in force; else "". *errRows is
// how many own rows of the login-error count (attribute 3) the user has.
std::map<std::string, std::string> allSecurityValues(const std::string& usrNo, int* errRows) {
  std::map<std::string, std::string> own, defaults;
  *errRows = 0;
  auto rs = openRead("select usa_no, usi_value, 1 from UmUsrSecInst where usr_no=" + quoted(Variant(usrNo)) +
                     " union all select usa_no, default_value, 2 from UmUsrSecAttr where isAvail=1");
  for (; !rs->eof(); rs->moveNext()) {
    const Variant v = rs->value(1);
    const std::string key = trimmedRight(rs->value(0).toString());
    const bool isOwn = rs->value(2).toLong() == 1;
    if (isOwn && key == "3") ++*errRows;
    (isOwn ? own : defaults).emplace(key, v.isNull() ? "" : v.toString());
  }
  rs->close();
  std::map<std::string, std::string> values;
  int number = 0;
  for (const char* name : kPolicyAttributes) {
    const std::string key = std::to_string(++number);
    std::string value;
    if (auto o = own.find(key); o != own.end())
      value = o->second;
    else if (auto d = defaults.find(key); d != defaults.end())
      value = d->second;
    values.emplace(name, value);
  }
  return values;
}

}  // namespace

// Within a login the values are read once, all together; should that read
// fail, each is read on its own as outside a login.
std::string AdminMgt::securityValue(const char* attribute, const std::string& usrNo) {
  if (!loginValues_ || usrNo.empty()) return um().getUsrSecValue(attribute, usrNo);
  if (loginValues_->empty()) {
    try {
      int errRows = 0;
      *loginValues_ = allSecurityValues(usrNo, &errRows);
      loginErrRows_ = errRows;
    } catch (...) {
      loginValues_->clear();
      loginErrRows_.reset();
    }
  }
  auto known = loginValues_->find(attribute);
  if (known != loginValues_->end()) return known->second;
  std::string value = um().getUsrSecValue(attribute, usrNo);
  loginValues_->emplace(attribute, value);
  return value;
}

// The checks read the user's policy values. Unless the configuration
// enforces the policy they let every login pass; enforced, each applies the
// rule of policy.h to its value.
bool AdminMgt::usrIpLimit(const std::string& usrNo, const std::string& ip) {
  std::string v = securityValue("IpLimit", usrNo);
  return !enforced() || allowed(policy::addressAllowed(v, ip), "IpLimit", v, usrNo);
}
bool AdminMgt::usrTimeLimit(const std::string& usrNo) {
  std::string v = securityValue("TimeLimit", usrNo);
  return !enforced() || allowed(policy::timeAllowed(v, com::DateTime::now()), "TimeLimit", v, usrNo);
}
// A lock that has lasted its time is over: the count starts again from 0.
bool AdminMgt::usrLogErrLimit(const std::string& usrNo) {
  std::string count = securityValue("LogErrNum", usrNo);
  std::string threshold = securityValue("LogErrLockNum", usrNo);
  if (!enforced()) return true;
  policy::Verdict v = policy::belowLockThreshold(count, threshold);
  if (v == policy::Verdict::Refuse &&
      policy::lockOver(policy::lockedAt(usrNo), securityOptions().lockMinutes, com::DateTime::now())) {
    policy::reopenLock(usrNo, count);
    if (loginValues_) loginValues_->clear();  // the count was just written
    loginErrRows_.reset();
    v = policy::Verdict::Pass;
  }
  return allowed(v, "LogErrNum/LogErrLockNum", count + "/" + threshold, usrNo);
}
bool AdminMgt::usrAcntLimit(const std::string& usrNo) {
  std::string v = securityValue("AcntLimitDate", usrNo);
  return !enforced() || allowed(policy::beforeLimit(v, com::DateTime::now()), "AcntLimitDate", v, usrNo);
}
bool AdminMgt::usrPwdLimit(const std::string& usrNo) {
  std::string v = securityValue("PwdLimitDate", usrNo);
  return !enforced() || allowed(policy::beforeLimit(v, com::DateTime::now()), "PwdLimitDate", v, usrNo);
}
bool AdminMgt::usrPwdFirstLimit(const std::string& usrNo) {
  std::string v = securityValue("PwdFirstLimit", usrNo);
  return !enforced() || allowed(policy::noChangeDemanded(v), "PwdFirstLimit", v, usrNo);
}

// A wrong password under the enforced policy: the login-error count goes up
// by one, unless the account was locked meanwhile, which answers as a lock.
// The guess that takes the lock logs it, once.
std::string AdminMgt::wrongPassword(const std::string& account, const std::string& usrNo) {
  long threshold = 0;
  if (!policy::readCount(securityValue("LogErrLockNum", usrNo), &threshold)) return codes::kLoginLocked;
  switch (policy::countWrongPassword(usrNo, threshold)) {
    case policy::WrongPassword::Locked: return codes::kLoginLocked;
    case policy::WrongPassword::LockedNow: logEvent(account + "登录错误次数已达上限，帐号已锁定！"); break;
    case policy::WrongPassword::Counted: break;
  }
  return codes::kLoginWrongPassword;
}

// An administrator's lock: the count at the threshold with no lock moment
// recorded, which usrLogErrLimit refuses until the count is reset.
bool AdminMgt::lockUsr(const std::string& usrNo) {
  return trapBool([&] {
    std::string account = um().getUsrAccount(usrNo);
    long threshold = 0;
    if (!enforced() || account.empty() || !policy::readCount(securityValue("LogErrLockNum", usrNo), &threshold) ||
        threshold <= 0)
      return false;
    policy::lockUntilReset(usrNo, threshold);
    logEvent(account + "帐号已被管理员锁定！");
    return true;
  });
}

records::RecordPtr AdminMgt::userByAccount(const std::string& account) {
  return records::recordArg(um().getUsrByAccount(account), "cUmUsr");
}

// The directory account whose bind checks the user's password: the user's
// LdapAcnt value, or with all_users=1 the portal account; "" when the stored
// password decides (always, unless [LDAP] names a directory).
std::string AdminMgt::directoryAccount(const std::string& account, const std::string& usrNo) {
  if (!securityOptions().directory.enabled()) return "";
  std::string mapped = securityValue("LdapAcnt", usrNo);
  if (!mapped.empty()) return mapped;
  return securityOptions().directory.allUsers ? account : "";
}

// Step 3 of the login. A stored password without value matches only an
// empty password. A directory that does not answer refuses the login and
// the file log says why; only with fallback_local=1 does the stored
// password decide then. A directory's "no" is final either way.
AdminMgt::PasswordCheck AdminMgt::checkPassword(const std::string& account, const std::string& usrNo,
                                                const Variant& stored, const std::string& pwd) {
  std::string mapped = directoryAccount(account, usrNo);
  if (mapped.empty()) return passwordMatches(stored, pwd) ? PasswordCheck::Right : PasswordCheck::Wrong;
  const DirectoryOptions options = securityOptions().directory;
  directory::Check c = directory::verify(options, mapped, pwd);
  if (c.outcome == directory::Outcome::Accepted) return PasswordCheck::Right;
  if (c.outcome == directory::Outcome::Refused) return PasswordCheck::Wrong;
  fileLog("directory: login of " + account + " (directory account " + mapped + ") at " + options.url +
          " failed after " + std::to_string(c.elapsedMs) + " ms: " + c.cause +
          (options.fallbackLocal ? "; the stored password decides (fallback_local=1)" : "; login refused"));
  if (options.fallbackLocal) return passwordMatches(stored, pwd) ? PasswordCheck::Right : PasswordCheck::Wrong;
  return PasswordCheck::NoAnswer;
}

bool AdminMgt::usrSuccess(const std::string& usrNo) { return bookLogin(usrNo, true); }

// Within a login, what it read spares the bookkeeping its reads: the count
// is written from the user row, and a user known to have no login-error
// count gets it created at once.
bool AdminMgt::bookLogin(const std::string& usrNo, bool resetErrors, std::string* token, const records::Record* user) {
  // A failure trace names each step as the member it is.
  static const std::string kUm = "UmMgt", kCount = "addUsrLogCount", kClean = "cleanUsrLogErrNum", kInfo = "addLogInfo";
  bool counted = false, cleaned = true;
  {
    com::CallScope naming(kUm, kCount);
    counted = user ? um().addUsrLogCountAsRead(usrNo, *user) : um().addUsrLogCount(usrNo);
  }
  if (resetErrors) {
    com::CallScope naming(kUm, kClean);
    cleaned = loginErrRows_ == 0 ? um().startUsrLogErrNum(usrNo) : um().cleanUsrLogErrNum(usrNo);
  }
  auto info = records::newRecord("cUmLogInfo");
  info->set("Usr_No", Variant(usrNo));
  info->set("IsAvail", Variant(int32_t{1}));
  Variant written("");
  com::CallScope naming(kUm, kInfo);
  if (um().addLogInfo(info, written) == "0" && token) *token = written.toString();
  return counted && cleaned;
}

// With [Security] second_factor=totp a user whose IsPwdTwo is "1" must give
// a current one-time code; everyone else passes as before.
bool AdminMgt::loginAgain(const std::string& account, const std::string& code) {
  if (securityOptions().totp) {
    if (auto user = userByAccount(account)) {
      std::string usrNo = user->get("Usr_No").toString();
      if (secondFactorOn(usrNo) && !codeAccepted(account, usrNo, code)) return false;
    }
  }
  logEvent(account + "二次登录成功！");
  return true;
}

bool AdminMgt::secondFactorOn(const std::string& usrNo) {
  return securityOptions().totp && securityValue("IsPwdTwo", usrNo) == "1";
}

// A code opens once, in its step or one step either side. Wrong or used
// codes always count towards a lock, whatever the policy: the policy's
// LogErrLockNum when it sets one above 0, else kCodeGuesses; a locked
// account is refused before the code is looked at, for [Policy]
// lock_minutes, and an accepted code ends the count. Six digits are a
// million guesses, so an unbounded second step would be no factor at all.
bool AdminMgt::codeAccepted(const std::string& account, const std::string& usrNo, const std::string& code) {
  constexpr long kCodeGuesses = 5;
  long threshold = 0;
  if (!policy::readCount(securityValue("LogErrLockNum", usrNo), &threshold) || threshold <= 0) threshold = kCodeGuesses;
  const std::string count = securityValue("LogErrNum", usrNo);
  if (policy::belowLockThreshold(count, std::to_string(threshold)) != policy::Verdict::Pass) {
    if (!policy::lockOver(policy::lockedAt(usrNo), securityOptions().lockMinutes, com::DateTime::now())) return false;
    policy::reopenLock(usrNo, count);
  }
  auto secret = second_factor::decodeBase32(securityValue("PwdTwo", usrNo));
  if (!secret) {
    fileLog("second factor: PwdTwo of user " + usrNo + " holds no base32 secret: second login refused");
    return false;
  }
  std::string digits;
  for (char c : code)
    if (c != ' ') digits += c;
  auto step = second_factor::matchingStep(*secret, digits, second_factor::now());
  if (step && second_factor::takeStep(usrNo, *step)) {
    um().cleanUsrLogErrNum(usrNo);
    return true;
  }
  if (policy::countWrongPassword(usrNo, threshold) == policy::WrongPassword::LockedNow)
    logEvent(account + "登录错误次数已达上限，帐号已锁定！");
  return false;
}

bool AdminMgt::changePwd(const std::string& account, const std::string& pwd, const std::string& newPwd) {
  int r = Variant(loginByPwd(account, pwd, "")).toLong();
  if (r != 0 && r != 10016) return false;
  auto user = userByAccount(account);
  if (!user) com::raise(com::kObjectNotSet, "TivelMgt.AdminMgt.changePwd", com::kObjectNotSetText);
  std::string usrNo = user->get("Usr_No").toString();
  bool changed = um().changePwd(usrNo, newPwd);
  // The demanded change is made: the new password opens from now on.
  if (r == 10016 && changed && enforced()) policy::clearPasswordChangeDemand(usrNo);
  if (r == 10016) return false;
  if (!usrSuccess(usrNo)) return false;
  logEvent(account + "修改密码成功！");
  return true;
}

bool AdminMgt::addUsr(const std::string& account, const std::string& pwd, const std::string& name,
                      const std::string& netName, const std::string& phone, const std::string& mobile,
                      const std::string& email, const std::string& loginMode) {
  auto user = records::newRecord("cUmUsr");
  user->set("Account", Variant(account));
  user->set("Pwd", Variant(pwd));
  user->set("Name", Variant(name));
  user->set("NetName", Variant(netName));
  user->set("Phone", Variant(phone));
  user->set("Mobile", Variant(mobile));
  user->set("Email", Variant(email));
  user->set("State", Variant(int32_t{0}));
  user->set("Login_Count", Variant(int32_t{1}));
  user->set("Login_Mode", Variant(loginMode));
  user->set("Account_Time", Variant(com::DateTime::now()));
  Variant added("");
  if (um().addUsr(user, added) != "0") return false;
  auto member = records::newRecord("cUmGrp2usr");
  member->set("Grp_no", Variant("3"));
  member->set("Usr_No", added);
  member->set("Priority", Variant("999999"));
  Variant joined("");
  return um().addGrp2Usr(member, joined) == "0";
}

int16_t AdminMgt::isSysSecUsr(const std::string& usrNo) {
  com::ObjectPtr groups = um().getGrpOfUsr(usrNo).toObject();
  if (!groups) return -1;
  bool inOne = false, inTwo = false;
  int32_t n = groups->getProperty("Count").toLong();
  for (int16_t i = 1; i <= n; ++i) {
    com::ObjectPtr g = groups->getProperty("Item", {Variant(i)}).toObject();
    Variant key = g->getProperty("Grp_no");
    if (!key.looksNumeric()) continue;
    double k = key.toDouble();
    if (k == 1)
      inOne = true;
    else if (k == 2)
      inTwo = true;
  }
  if (inOne && inTwo) return 0;
  if (inOne) return 1;
  if (inTwo) return 2;
  return -1;
}

}  // namespace tivel::mgt
