// What the console reads that no other component operation reads: users found by
// account or name a page at a time, a user's login records, which of a
// user's organisations is the main one, the keys of the system attributes,
// and the system log by page with filters, read through ConsoleMgt and
// answered as JSON for the console's pages.
#pragma once

#include <string>

#include "tools/tivel/rpc/json_value.h"

namespace tivel::tool {

// One page of the users whose account or name holds `find` (any letter
// case; "" for all), by account: {total, rows:[{usrNo, account, name, state,
// loginCount}]}. Fails (std::invalid_argument) for a page or size (1 to
// 200) out of range.
Json userPage(const std::string& find, int page, int size);

// The user's latest login records, newest first: [{time, address, valid}] (at most `limit`).
Json userLogins(const std::string& usrNo, int limit);

// The user's organisation memberships: [{org, main, priority}], main true for IsMain 0.
Json userOrganisations(const std::string& usrNo);

// Every system attribute's key and name, by name: [{key, name}].
Json systemAttributeKeys();

struct LogQuery {
  std::string from, to;  // "YYYY-MM-DD" days, both included; "" for no bound
  std::string account;   // entries whose text begins with the account ("" for any)
  std::string text;      // entries whose text holds this ("" for any)
  int page = 0;          // counted from 0
  int size = 50;         // entries a page, 1 to 200
};

// One page of the system log, newest first: {total, rows:[{key, time, module,
// text, logType, msgType}]}. Fails (std::invalid_argument) for a day that is
// no date or a page or size out of range.
Json logPage(const LogQuery& query);

}  // namespace tivel::tool
