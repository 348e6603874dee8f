// Bringing a directory's people into the portal (tivel ldap import): each
// person becomes, or stays, a portal user covered by directory login.
#pragma once

#include <string>
#include <vector>

#include "mgt/common/security_options.h"

namespace tivel::mgt::directory {

// The accounts an import added and updated, and how many it found as they should be.
struct ImportReport {
  std::vector<std::string> added, updated;
  int unchanged = 0;
};

// Every person `filter` selects (default "(objectClass=person)") becomes a
// portal user: found by its directory account in LdapAcnt, else by account;
// a new one is registered through AdminMgt.addUsr (so it joins group "3")
// with a random password nobody knows, and gets LdapAcnt; name, mail and
// phone follow the directory; the user is made a member of organisation
// `orgNo`. Running it again changes nothing. Fails with a call error when
// the organisation does not exist or the directory cannot be read; a person
// that cannot be added or written fails it too, after the ones before it.
ImportReport importPeople(const DirectoryOptions& options, const std::string& orgNo, const std::string& filter);

}  // namespace tivel::mgt::directory
