// Login, the account-policy checks and the bookkeeping of a successful login.
#include "mgt/admin/admin_mgt.h"

#include "mgt/admin/policy.h"
#include "mgt/admin/policy_state.h"
#include "mgt/common/helpers.h"
#include "mgt/common/password_hash.h"
#include "mgt/common/security_options.h"
#include "mgt/common/trace.h"
#include "platform/com/registry.h"
#include "records/record.h"

namespace tivel::mgt {

using com::Args;
using com::MemberKind;
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
void AdminMgt::logEvent(const std::string& text) {
  WriteLog(Variant("0"), Variant("sys"), Variant(text), Variant(int16_t{0}), Variant(int16_t{0}));
}

bool AdminMgt::WriteLog(const Variant& modNo, const Variant& modName, const Variant& logDisc, const Variant& logType,
                        const Variant& msgType) {
  Args a{modNo, modName, logDisc, logType, msgType};
  return sys_->invoke("WriteLog", MemberKind::Method, a).toBool();
}

std::string AdminMgt::loginByPwd(const std::string& account, const std::string& pwd, const std::string& ip) {
  try {
    if (account.empty()) return "10001";
    Args byAccount{Variant(account)};
    auto user = records::recordArg(um_->invoke("getUsrByAccount", MemberKind::Method, byAccount), "cUmUsr");
    if (!user) return "10002";
    // Under the enforced policy a locked account answers before its password
    // is looked at, so guessing learns nothing.
    if (enforced() && !usrLogErrLimit(user->get("Usr_No").toString())) return "10012";
    // A stored password without value matches only an empty password.
    if (!passwordMatches(user->get("Pwd"), pwd))
      return enforced() ? wrongPassword(account, user->get("Usr_No").toString()) : "10003";
    std::string usrNo = user->get("Usr_No").toString();
    std::string r = usrIsAvail(usrNo, ip);
    if (r != "0") return r;
    if (!usrSuccess(usrNo)) return "10017";
    logEvent(account + "登录成功！");
    return "0";
  } catch (...) {
    traceTrapped("10005", __func__);
    return "10005";
  }
}

std::string AdminMgt::usrIsAvail(const std::string& usrNo, const std::string& ip) {
  try {
    if (!usrIpLimit(usrNo, ip)) return "10010";
    if (!usrTimeLimit(usrNo)) return "10011";
    if (!usrLogErrLimit(usrNo)) return "10012";
    if (!usrAcntLimit(usrNo)) return "10014";
    if (!usrPwdLimit(usrNo)) return "10015";
    if (!usrPwdFirstLimit(usrNo)) return "10016";
    return "0";
  } catch (...) {
    traceTrapped("10006", __func__);
    return "10006";
  }
}

std::string AdminMgt::securityValue(const char* attribute, const std::string& usrNo) {
  Args a{Variant(attribute), Variant(usrNo)};
  return um_->invoke("getUsrSecValue", MemberKind::Method, a).toString();
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
  if (!policy::readCount(securityValue("LogErrLockNum", usrNo), &threshold)) return "10012";
  switch (policy::countWrongPassword(usrNo, threshold)) {
    case policy::WrongPassword::Locked: return "10012";
    case policy::WrongPassword::LockedNow: logEvent(account + "登录错误次数已达上限，帐号已锁定！"); break;
    case policy::WrongPassword::Counted: break;
  }
  return "10003";
}

bool AdminMgt::usrSuccess(const std::string& usrNo) {
  Args count{Variant(usrNo)};
  bool counted = um_->invoke("addUsrLogCount", MemberKind::Method, count).toBool();
  Args clean{Variant(usrNo)};
  bool cleaned = um_->invoke("cleanUsrLogErrNum", MemberKind::Method, clean).toBool();
  auto info = records::newRecord("cUmLogInfo");
  info->set("Usr_No", Variant(usrNo));
  info->set("IsAvail", Variant(int32_t{1}));
  Args record{Variant(std::static_pointer_cast<com::Object>(info)), Variant("")};
  um_->invoke("addLogInfo", MemberKind::Method, record);
  return counted && cleaned;
}

bool AdminMgt::loginAgain(const std::string& account, const std::string&) {
  logEvent(account + "二次登录成功！");
  return true;
}

bool AdminMgt::changePwd(const std::string& account, const std::string& pwd, const std::string& newPwd) {
  int r = Variant(loginByPwd(account, pwd, "")).toLong();
  if (r != 0 && r != 10016) return false;
  Args byAccount{Variant(account)};
  auto user = records::recordArg(um_->invoke("getUsrByAccount", MemberKind::Method, byAccount), "cUmUsr");
  if (!user) com::raise(com::kObjectNotSet, "TivelMgt.AdminMgt.changePwd", com::kObjectNotSetText);
  std::string usrNo = user->get("Usr_No").toString();
  Args change{Variant(usrNo), Variant(newPwd)};
  bool changed = um_->invoke("changePwd", MemberKind::Method, change).toBool();
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
  Args add{Variant(std::static_pointer_cast<com::Object>(user)), Variant("")};
  if (um_->invoke("addUsr", MemberKind::Method, add).toString() != "0") return false;
  auto member = records::newRecord("cUmGrp2usr");
  member->set("Grp_no", Variant("3"));
  member->set("Usr_No", add[1]);
  member->set("Priority", Variant("999999"));
  Args join{Variant(std::static_pointer_cast<com::Object>(member)), Variant("")};
  return um_->invoke("addGrp2Usr", MemberKind::Method, join).toString() == "0";
}

int16_t AdminMgt::isSysSecUsr(const std::string& usrNo) {
  Args a{Variant(usrNo)};
  com::ObjectPtr groups = um_->invoke("getGrpOfUsr", MemberKind::Method, a).toObject();
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
