// UserTasks: the administrator's daily reads over users that the portal's
// classes do not offer: users found by text, department, group and state,
// sorted and paged; and the users whose login-error lock is in force. It is
// reached from the console's scope only (TivelMgt.UserTasks is named there,
// never reached by a wildcard). A read that is asked something it cannot
// answer (an unknown sort, a page out of range, a state that is no number)
// fails the call with the description of what was wrong.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/object.h"

namespace tivel::mgt {

// What a user search asks for; an empty text, department, group or state asks nothing of it.
struct UserFilter {
  std::string find;   // account or name holds it, any letter case
  std::string org;    // a member (main or other) of this department
  std::string grp;    // a member of this group
  std::string state;  // this State (0 to 3)
};

class UserTasks : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // One page of the users the filter selects, as cUmUsr records (Usr_No,
  // Account, Name, State, Login_Count, Account_Time) keyed "USR" + key, in
  // the order `sort` names: "account", "name", "state" or "account_time",
  // "-" before it for descending ("" is "account"); ties by account. An empty
  // collection when none is on that page. Fails for an unknown sort, a page
  // below 0 or a size outside 1 to 200.
  com::Variant findUsr(const UserFilter& filter, const std::string& sort, int32_t page, int32_t size);
  // How many users the filter selects.
  int32_t countUsr(const UserFilter& filter);
  // The users whose login-error count has reached their lock threshold and
  // whose lock has not run out, as cUmUsr records by account; each record's
  // Login_Count holds the login-error count (not the login count). Empty
  // collection when none is locked.
  com::Variant getLockedUsr();
};

}  // namespace tivel::mgt
