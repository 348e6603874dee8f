// Directory login: an account's password checked by a simple bind to an LDAP
// directory (OpenLDAP's client library), and the people a directory lists.
//
// One check ends within the configured time-out, whatever the directory does
// (connecting, StartTLS, the search for the entry and the bind all count).
// Passwords, the user's and the service account's, never appear in a cause,
// a log line or a failure's description.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mgt/common/security_options.h"

namespace tivel::mgt::directory {

enum class Outcome {
  Accepted,     // the directory took the password
  Refused,      // the directory said no: no such entry, or the wrong password
  Unavailable,  // no answer in time, no connection, TLS refused, or a configuration that cannot work
};

// What one check found and how it ended.
struct Check {
  Outcome outcome = Outcome::Unavailable;
  std::string entry;  // the entry bound as (or that would have been); "" when none was found
  std::string cause;  // why it was refused or unavailable; "" when accepted
  long elapsedMs = 0;
};

// The value escaped for one attribute value of a DN: , + " \ < > ; = and a
// leading # or blank, a trailing blank and control bytes are escaped.
std::string escapeDnValue(std::string_view value);

// The value escaped for a search filter: * ( ) \ and NUL become \2a \28 \29 \5c \00.
std::string escapeFilterValue(std::string_view value);

// Checks `password` for the directory account `account` as the options say:
// a bind as the entry named by user_dn, or as the one entry that base and
// filter find (searched as bind_dn, or anonymously). An empty password is
// refused without asking the directory (a bind with it would be an
// unauthenticated one, which many directories accept). After the bind the
// entry's naming attribute must hold `account` byte for byte (directories
// match names ignoring case and outer blanks), else it is refused. Never throws.
Check verify(const DirectoryOptions& options, const std::string& account, const std::string& password);

// One person a directory lists.
struct Person {
  std::string entry, account, name, mail, phone;
};

// The entries below base (or below the parent of user_dn) that `filter`
// selects and that have an account attribute, searched as bind_dn, in pages
// of `pageSize` entries (the simple paged-results control; 0: one search),
// so that a server's size limit does not end the search early. `onPage`
// hears the count found so far after each page. Each answer of the
// directory must come within the time-out. Fails with a call error saying
// why, never naming a password.
std::vector<Person> people(const DirectoryOptions& options, const std::string& filter, int pageSize = 0,
                           const std::function<void(size_t)>& onPage = {});

}  // namespace tivel::mgt::directory
