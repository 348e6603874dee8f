#include "mgt/admin/policy_state.h"

#include "mgt/common/module.h"
#include "mgt/common/pattern.h"
#include "platform/ado/connection.h"
#include "platform/com/variant.h"

namespace tivel::mgt::policy {
namespace {

// Security attribute numbers: the login-error count, the password-change demand.
const char* const kLogErrNum = "3";
const char* const kPwdFirstLimit = "9";
// The user's value row that holds when the current lock was taken. It has no
// definition, so it is never a policy attribute's value, and it goes with the
// user's other values when they are deleted.
const char* const kLockedAt = "LogErrLockTime";

// The condition naming one value row of a user.
std::string valueRow(const std::string& attribute, const std::string& usrNo) {
  return " where usa_no='" + QuoteSql(attribute) + "' and usr_no='" + QuoteSql(usrNo) + "'";
}

long run(const std::string& sql) {
  long affected = 0;
  sharedConnection()->execute(sql, &affected);
  return affected;
}

// The count as a number in SQL both engines read alike: a blank value counts from 0.
const char* const kCountExpr = "CAST(COALESCE(NULLIF(Usi_Value,''),'0') AS INTEGER)";

}  // namespace

void setUserValue(const std::string& attribute, const std::string& usrNo, const std::string& value) {
  if (run("update umUsrSecInst set Usi_Value='" + QuoteSql(value) + "'" + valueRow(attribute, usrNo)) > 0) return;
  execute("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('" + QuoteSql(attribute) + "','" +
          QuoteSql(usrNo) + "','" + QuoteSql(value) + "',1)");
}

void inUsersTurn(const std::string& usrNo, const std::function<void()>& work) {
  sharedConnection()->inTransaction([&] {
    run("update umUsr set usr_no=usr_no where usr_no='" + QuoteSql(usrNo) + "'");
    work();
  });
}

std::string lockedAt(const std::string& usrNo) {
  auto rs = openRead("select Usi_Value from umUsrSecInst" + valueRow(kLockedAt, usrNo));
  com::Variant v = rs->recordCount() > 0 ? rs->value(0) : com::Variant();
  rs->close();
  return v.isNull() || v.isEmpty() ? "" : v.toString();
}

void reopenLock(const std::string& usrNo, const std::string& count) {
  run("update umUsrSecInst set Usi_Value='0'" + valueRow(kLogErrNum, usrNo) + " and Usi_Value='" + QuoteSql(count) +
      "'");
}

WrongPassword countWrongPassword(const std::string& usrNo, long threshold) {
  // Wrong passwords of one user take turns, so only one of them can create a
  // missing count, and exactly one sees the threshold reached.
  WrongPassword result = WrongPassword::Counted;
  inUsersTurn(usrNo, [&] {
    std::string raise = std::string("update umUsrSecInst set Usi_Value=CAST(") + kCountExpr + "+1 AS VARCHAR(20))" +
                        valueRow(kLogErrNum, usrNo);
    if (threshold > 0) raise += std::string(" and ") + kCountExpr + "<" + std::to_string(threshold);
    if (run(raise) == 0) {
      auto rs = openRead("select Usi_Value from umUsrSecInst" + valueRow(kLogErrNum, usrNo));
      bool exists = rs->recordCount() > 0;
      rs->close();
      if (exists)
        result = WrongPassword::Locked;
      else
        execute(std::string("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('") + kLogErrNum + "','" +
                QuoteSql(usrNo) + "','1',1)");
    }
    if (result == WrongPassword::Counted && threshold > 0) {
      auto rs = openRead("select " + std::string(kCountExpr) + " from umUsrSecInst" + valueRow(kLogErrNum, usrNo));
      long count = rs->recordCount() > 0 ? rs->value(0).toLong() : 0;
      rs->close();
      if (count == threshold) {
        setUserValue(kLockedAt, usrNo, com::DateTime::now().text());
        result = WrongPassword::LockedNow;
      }
    }
  });
  return result;
}

void lockUntilReset(const std::string& usrNo, long threshold) {
  inUsersTurn(usrNo, [&] {
    setUserValue(kLogErrNum, usrNo, std::to_string(threshold));
    execute("delete from umUsrSecInst" + valueRow(kLockedAt, usrNo));
  });
}

void clearPasswordChangeDemand(const std::string& usrNo) { setUserValue(kPwdFirstLimit, usrNo, "0"); }

}  // namespace tivel::mgt::policy
