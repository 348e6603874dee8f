#include "mgt/console/user_tasks.h"

#include <cctype>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "mgt/admin/policy.h"
#include "mgt/admin/policy_state.h"
#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"
#include "mgt/common/pattern.h"
#include "mgt/common/security_options.h"
#include "mgt/um/um_mgt.h"

namespace tivel::mgt {
namespace {

using namespace members;

// The source a failed read names.
constexpr const char* kSource = "TivelMgt.UserTasks";

// The login-error count's policy attribute number (its fixed position + 1).
constexpr const char* kLogErrNum = "3";

const Fields kListed = {"Usr_No", "Account", "Name", "State", "Login_Count", "Account_Time"};
constexpr const char* kListedColumns = "select usr_no, account, name, state, login_count, account_time from umUsr";

// A LIKE pattern matching `s` literally anywhere (escape character "\"), lower case.
std::string containing(const std::string& s) {
  std::string out = "%";
  for (char c : s) {
    if (c == '\\' || c == '%' || c == '_') out += '\\';
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return quoted(Variant(out + "%")) + " escape '\\'";
}

// The where clause of a filter ("" when it asks nothing); every value quoted
// or checked as a whole number.
std::string whereOf(const UserFilter& f) {
  std::vector<std::string> terms;
  if (!f.find.empty()) {
    const std::string like = containing(f.find);
    terms.push_back("(lower(account) like " + like + " or lower(name) like " + like + ")");
  }
  if (!f.org.empty())
    terms.push_back(
        "exists (select 1 from umOrg2Usr m where m.usr_no=umUsr.usr_no and m.org_no=" + quoted(Variant(f.org)) + ")");
  if (!f.grp.empty())
    terms.push_back(
        "exists (select 1 from umGrp2Usr g where g.usr_no=umUsr.usr_no and g.grp_no=" + quoted(Variant(f.grp)) + ")");
  if (!f.state.empty()) {
    std::string state;
    try {
      state = wholeNumber(Variant(f.state));
    } catch (...) {
      throw std::invalid_argument("not a user state: " + f.state);
    }
    terms.push_back("state=" + state);
  }
  std::string where;
  for (const auto& t : terms) where += (where.empty() ? " where " : " and ") + t;
  return where;
}

// The order clause of a sort name; fails for any other. Accounts are
// ordered without regard to letter case, and break every tie, ascending.
std::string orderOf(const std::string& sort) {
  static const std::map<std::string, std::string> columns = {{"", "lower(account)"},
                                                             {"account", "lower(account)"},
                                                             {"name", "name"},
                                                             {"state", "state"},
                                                             {"account_time", "account_time"}};
  const bool down = !sort.empty() && sort[0] == '-';
  const auto it = columns.find(down ? sort.substr(1) : sort);
  if (it == columns.end() || (down && sort.size() == 1)) throw std::invalid_argument("no such sort: " + sort);
  return " order by " + it->second + (down ? " desc" : "") + ", lower(account), account, usr_no";
}

// The Usr_no and value of every user's own value of a policy attribute.
std::map<std::string, std::string> ownValues(const char* usaNo) {
  std::map<std::string, std::string> out;
  for (auto rs = openRead(std::string("select usr_no, usi_value from UmUsrSecInst where usa_no='") + usaNo + "'");
       !rs->eof(); rs->moveNext())
    out[rs->value(0).toString()] = rs->value(1).isNull() ? "" : rs->value(1).toString();
  return out;
}

// A listed record as the list reads fill it.
void put(cCollection& list, ado::Recordset& rs, const std::string& errors = "") {
  auto r = records::newRecord("cUmUsr");
  for (size_t i = 0; i < kListed.size(); ++i) r->set(kListed[i].property, rs.value(static_cast<int>(i)));
  if (!errors.empty()) r->set("Login_Count", Variant(errors));
  list.Add(Variant(std::static_pointer_cast<com::Object>(r)), "USR" + rs.value(0).toString());
}

constexpr MemberOf<UserTasks> op;

UserFilter filterArgs(const com::Args& a) { return {textArg(a, 0), textArg(a, 1), textArg(a, 2), textArg(a, 3)}; }

const com::ClassInfo& info() {
  return dispatchInterface<UserTasks>("TivelMgt.UserTasks", "UserTasks", [](com::ClassInfo& c) {
    c.method("findUsr",
             {in("strFind", kStr), in("strOrg_no", kStr), in("strGrp_no", kStr), in("strState", kStr),
              in("strSort", kStr), in("lPage", kLong), in("lSize", kLong)},
             op([](UserTasks& m, com::Args& a) {
               return m.findUsr(filterArgs(a), textArg(a, 4), a[5].toLong(), a[6].toLong());
             }));
    c.method("countUsr", {in("strFind", kStr), in("strOrg_no", kStr), in("strGrp_no", kStr), in("strState", kStr)},
             op([](UserTasks& m, com::Args& a) { return Variant(m.countUsr(filterArgs(a))); }));
    c.method("getLockedUsr", {}, op([](UserTasks& m, com::Args&) { return m.getLockedUsr(); }));
  });
}

const bool registered = (registerMgtClass<UserTasks>(info()), true);

}  // namespace

const com::ClassInfo& UserTasks::classInfo() const { return info(); }

com::Variant UserTasks::findUsr(const UserFilter& filter, const std::string& sort, int32_t page, int32_t size) {
  return failingCall(kSource, [&] {
    if (page < 0 || page > 1000000 || size < 1 || size > 200) throw std::invalid_argument("no such page");
    auto list = std::make_shared<cCollection>();
    auto rs = openRead(kListedColumns + whereOf(filter) + orderOf(sort) + " limit " + std::to_string(size) +
                       " offset " + std::to_string(static_cast<long long>(page) * size));
    for (; !rs->eof(); rs->moveNext()) put(*list, *rs);
    return Variant(std::static_pointer_cast<com::Object>(list));
  });
}

int32_t UserTasks::countUsr(const UserFilter& filter) {
  return failingCall(kSource, [&] {
    auto rs = openRead("select count(*) from umUsr" + whereOf(filter));
    return rs->eof() ? 0 : static_cast<int32_t>(rs->value(0).toDouble());
  });
}

// Only users with an error count of their own can be locked, so those few
// are judged one by one, as the login judges them: the count against the
// threshold in force for the user, and a lock past its time counting as over.
com::Variant UserTasks::getLockedUsr() {
  return failingCall(kSource, [&] {
    UmMgt um;
    const int minutes = securityOptions().lockMinutes;
    const auto now = com::DateTime::now();
    std::map<std::string, std::string> locked;  // usr_no -> error count
    for (const auto& [usrNo, count] : ownValues(kLogErrNum)) {
      if (count.empty() || count == "0") continue;
      const std::string threshold = um.getUsrSecValue("LogErrLockNum", usrNo);
      if (policy::belowLockThreshold(count, threshold) != policy::Verdict::Refuse) continue;
      if (policy::lockOver(policy::lockedAt(usrNo), minutes, now)) continue;
      locked[usrNo] = count;
    }
    auto list = std::make_shared<cCollection>();
    if (!locked.empty()) {
      std::string keys;
      for (const auto& [usrNo, count] : locked) keys += (keys.empty() ? "" : ",") + quoted(Variant(usrNo));
      auto rs = openRead(std::string(kListedColumns) + " where usr_no in (" + keys +
                         ") order by lower(account), account, usr_no");
      for (; !rs->eof(); rs->moveNext()) put(*list, *rs, locked[rs->value(0).toString()]);
    }
    return Variant(std::static_pointer_cast<com::Object>(list));
  });
}

}  // namespace tivel::mgt
