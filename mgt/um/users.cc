// Users: the rows of umUsr, looked up by key or by account, the password
// change and the login count kept by the login procedure.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "mgt/common/module.h"
#include "mgt/common/password_hash.h"
#include "mgt/common/password_rules.h"
#include "mgt/common/pattern.h"
#include "mgt/um/um_mgt.h"
#include "platform/ado/constants.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

// The fourteen fields in the order reads fill and updateUsr writes them.
const Fields kUsrFields = {"Usr_no", "Account", "pwd",     "Name",  "NetName",    "Address",     "Phone",
                           "Mobile", "Email",   "EmailOA", "State", "Login_Mode", "Login_Count", "Account_Time"};
// The fields updateUsrByAccount writes: not the account, the address or the account time.
const Fields kUsrByAccountFields = {"Usr_no", "pwd",     "Name",  "NetName",    "Phone",      "Mobile",
                                    "Email",  "EmailOA", "State", "Login_Mode", "Login_Count"};
// getAllUsr fills these seven only.
const Fields kAllUsrFields = {"Usr_No", "Name", "Account", "Login_Count", "Login_Mode", "Pwd", "State"};

// Reads spell the key column "usr_no", updates "Usr_no": two texts, both kept.
const char* const kUsrByKey = "select * from umUsr where usr_no='";
const char* const kUsrForUpdate = "select * from umUsr where Usr_no='";
const UpdateCodes kUpdateUsrCodes = {codes::kUpdateUsrKeyEmpty, codes::kUpdateUsrNotFound, codes::kUpdateUsrFailed};

// Concurrent logins of one user make the read-then-write of the count meet
// another writer often (on a server database, in up to half the attempts
// while three writers run flat out); each meeting costs a fresh read. Only
// such a meeting is tried again, and only until the connection's command
// time-out has passed since the first try: a write that waited out a lock
// held elsewhere has already spent that time, and trying again would only
// wait again.
std::chrono::steady_clock::duration countDeadline() {
  return std::chrono::seconds(std::max(sharedConnection()->commandTimeout, 1));
}

// The pause in microseconds after `attempt` + 1 lost attempts: random, so
// that writers which met once do not meet again in step, and growing to at
// most 8 ms.
long backoff(int attempt) {
  thread_local std::minstd_rand draw(std::random_device{}());
  return std::uniform_int_distribution<long>(0, 1000L * std::min(attempt + 1, 8))(draw);
}

RecordPtr asRecord(const com::Variant& v) { return std::dynamic_pointer_cast<Record>(v.toObject()); }

// The login count a user row holds. A count left blank (an add without one
// stores an empty text) or NULL counts from 0, as a record never filled does;
// any other text must be a number (a type mismatch otherwise).
double loginCount(const com::Variant& v) {
  if (v.isNull()) return 0;
  if (v.type() == com::VarType::String && v.toString().find_first_not_of(" \t") == std::string::npos) return 0;
  return v.toDouble();
}

// The user as getUsr gives it, or a new empty record.
RecordPtr userOrEmpty(UmMgt& um, const std::string& key) {
  RecordPtr rec = asRecord(um.getUsr(key));
  return rec ? rec : records::newRecord("cUmUsr");
}

// A copy of the record's values, kept to know later what the caller changed.
RecordPtr snapshot(const Record& r) {
  RecordPtr copy = records::newRecord(r.recordClass().name);
  for (const std::string& p : r.recordClass().properties) copy->set(p, r.get(p));
  return copy;
}

}  // namespace

std::string UmMgt::addUsr(const RecordPtr& rec, com::Variant& strUsrNo) {
  // A new user's first password follows the password rules too, when [Policy] sets them.
  const com::Variant given = rec ? rec->get("Pwd") : com::Variant();
  const std::string pwd = given.isNull() || given.isEmpty() ? std::string() : given.toString();
  const bool ruled = !pwd.empty() && passwordRules().any();
  if (ruled) {
    try {
      checkPasswordRules("", pwd);
    } catch (const com::ComError&) {
      return codes::kPasswordRulesRefused;
    }
  }
  std::string code =
      addRow(rec, strUsrNo,
             {required("Name", codes::kAddUsrNameEmpty), required("Account", codes::kAddUsrAccountEmpty),
              unique("umUsr", "account", "Account", codes::kAddUsrAccountTaken)},
             {"Usr_No", "USR", "umUsr", "usr_no", codes::kAddUsrKeyTaken}, codes::kAddUsrFailed,
             [](const Record& r, const std::string& key) {
               const std::string now = "'" + QuoteSql(com::DateTime::now().text()) + "'";
               return Insert(
                          "insert into umUsr(usr_no,account,pwd,name,NetName,Address,Phone,Mobile,Email,EmailOA,"
                          "state,login_mode,login_count,account_time) values(")
                   .text(key)
                   .text(r["Account"])
                   .text(passwordToStore(r["Pwd"]), "NULL")
                   .text(r["Name"])
                   .text(r["NetName"], "null")
                   .text(r["Address"], "NULL")
                   .text(r["Phone"], "NULL")
                   .text(r["Mobile"], "NULL")
                   .text(r["Email"], "NULL")
                   .text(r["EmailOA"], "NULL")
                   .number(r["State"])  // a null state is not a number either: the add fails
                   .textUnlessNull(r["Login_Mode"], "'100000'")
                   .textUnlessNull(r["Login_Count"], "'0'")
                   .textUnlessNull(r["Account_Time"], now.c_str())
                   .sql();
             });
  if (ruled && code == "0") rememberPassword(strUsrNo.toString(), pwd);
  return code;
}

std::string UmMgt::updateUsr(const RecordPtr& rec, const std::string& key) {
  return writingPassword(rec, kUpdateUsrCodes.trap,
                         [&] { return updateRow(rec, key, kUsrForUpdate, kUsrFields, kUpdateUsrCodes); });
}

// The update pattern on the same row and fields, writing only what the caller
// changed after reading; a row changed meanwhile in those fields is not
// overwritten (see updateRow), so a concurrent change of another field survives.
std::string UmMgt::updateUsr(const RecordPtr& rec, const std::string& key, const Record& asRead) {
  return updateRow(rec, key, kUsrForUpdate, kUsrFields, kUpdateUsrCodes, &asRead);
}

std::string UmMgt::updateUsrByAccount(const RecordPtr& rec, const std::string& account) {
  return writingPassword(rec, codes::kUpdateUsrByAccountFailed, [&] {
    return updateRow(
        rec, account, "select * from umUsr where account='", kUsrByAccountFields,
        {codes::kUpdateUsrByAccountKeyEmpty, codes::kUpdateUsrByAccountNotFound, codes::kUpdateUsrByAccountFailed});
  });
}

// No trap of its own: getUsr and updateUsr turn their failures into Nothing or a code.
// With password rules in force ([Policy]) a password they refuse fails the
// call with their code, before anything is written.
bool UmMgt::changePwd(const std::string& Usr_no, const std::string& strNewPwd) {
  checkPasswordRules(Usr_no, strNewPwd);
  RecordPtr rec = userOrEmpty(*this, Usr_no);
  RecordPtr asRead = snapshot(*rec);
  rec->set("Pwd", passwordToStore(com::Variant(strNewPwd)));
  const bool changed = updateUsr(rec, rec->get("Usr_No").toString(), *asRead) == "0";
  if (changed) rememberPassword(Usr_no, strNewPwd);
  return changed;
}

// No trap of its own: a login count that is not a number fails the call.
// A write that meets a concurrent change (the update's failure code) reads
// the row again and adds one to what it holds now, so no login is lost.
bool UmMgt::addUsrLogCount(const std::string& strUsr_no) {
  const auto giveUp = std::chrono::steady_clock::now() + countDeadline();
  for (int attempt = 0;; ++attempt) {
    RecordPtr rec = userOrEmpty(*this, strUsr_no);
    RecordPtr asRead = snapshot(*rec);
    rec->set("Login_Count", com::Variant(com::Variant(loginCount(rec->get("Login_Count")) + 1).toString()));
    std::string code = updateUsr(rec, rec->get("Usr_No").toString(), *asRead);
    if (code != kUpdateUsrCodes.trap || lastTrappedError() != ado::kRowNotLocated ||
        std::chrono::steady_clock::now() >= giveUp)
      return code == "0";
    // Let the other writer finish before reading again.
    std::this_thread::sleep_for(std::chrono::microseconds(backoff(attempt)));
  }
}

// The read of the login is the read of the count: the write holds only while
// the row still has the count as read (the condition the update above puts),
// so a concurrent login is never overwritten, and only that meeting takes the
// reading path. A failed write fails as the update's does.
bool UmMgt::addUsrLogCountAsRead(const std::string& strUsr_no, const Record& asRead) {
  if (strUsr_no.empty() || asRead.get("Usr_No").toString() != strUsr_no) return addUsrLogCount(strUsr_no);
  const com::Variant count = asRead.get("Login_Count");
  const std::string next = com::Variant(loginCount(count) + 1).toString();
  bool met = false;
  const bool written = trapBool([&] {
    long rows = 0;
    sharedConnection()->execute(
        "update umUsr set login_count=" + quoted(com::Variant(next)) +
            " where usr_no=" + quoted(com::Variant(strUsr_no)) + " and " +
            (count.isNull() ? std::string("login_count is null") : "login_count=" + quoted(count)),
        &rows);
    met = rows != 1;
    return !met;
  });
  return written || !met ? written : addUsrLogCount(strUsr_no);
}

std::string UmMgt::delUsr(const std::string& key) {
  return deleteRow(key, "delete from umUsr where usr_no='", codes::kDelUsrKeyEmpty, codes::kDelUsrFailed);
}

std::string UmMgt::delUsrOfAccount(const std::string& account) {
  return deleteRow(account, "delete from umUsr where account='", codes::kDelUsrOfAccountKeyEmpty,
                   codes::kDelUsrOfAccountFailed);
}

com::Variant UmMgt::getUsr(const std::string& key) { return readByKey(key, kUsrByKey, "cUmUsr", kUsrFields); }

com::Variant UmMgt::getUsrByAccount(const std::string& account) {
  return readByKey(account, "select * from umUsr where Account='", "cUmUsr", kUsrFields);
}

com::Variant UmMgt::getUsrOfAccount(const std::string& account) {
  return readByKey(account, "select * from umUsr where account='", "cUmUsr", kUsrFields);
}

std::string UmMgt::getUsrName(const std::string& key) { return readName(key, kUsrByKey, "Name"); }

std::string UmMgt::getUsrAccount(const std::string& key) { return readName(key, kUsrByKey, "Account"); }

com::Variant UmMgt::getAllUsr() { return readList("select * from umUsr ", "cUmUsr", kAllUsrFields, "USR", "Usr_No"); }

}  // namespace tivel::mgt
