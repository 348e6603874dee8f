// Bringing a directory's people into the portal (tivel ldap import): each
// person becomes, or stays, a portal user covered by directory login.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "mgt/common/security_options.h"

namespace tivel::mgt::directory {

// What an import is asked to do.
struct ImportRequest {
  std::string orgNo{};                   // the organisation the people join
  std::string filter{};                  // the search filter ("" = (objectClass=person))
  std::set<std::string> links{};         // existing portal accounts to link to their directory entry
  bool linkAll = false;                  // link every existing non-administrator account the directory lists
  bool dryRun = false;                   // work out the outcome, write nothing
  int pageSize = 500;                    // entries per page of the search (0: one search)
  std::function<void(size_t)> onPage{};  // hears the count of entries found after each page
};

// The accounts an import added, updated and linked, how many it found as
// they should be, and the existing portal accounts it left unlinked.
struct ImportReport {
  std::vector<std::string> added, updated, linked;
  std::vector<std::string> conflicts;       // existing accounts not linked (neither --link nor --link-all)
  std::vector<std::string> administrators;  // of those, the ones in group 1 or 2 (never linked by --link-all)
  int unchanged = 0;
  size_t found = 0;  // entries the directory listed
};

// Every person the filter selects becomes a portal user: found by its
// directory account in LdapAcnt; an account no portal user has is
// registered through AdminMgt.addUsr (so it joins group "3") with a random
// password nobody knows, and gets LdapAcnt. An existing portal user with the
// same account but no LdapAcnt is linked (LdapAcnt set, then covered by the
// directory) only when `links` names it, or with `linkAll` when it is no
// administrator (member of group 1 or 2); otherwise it is left as it is and
// reported as a conflict. Name, mail and phone of linked users follow the
// directory and they join organisation `orgNo`. Running it again changes
// nothing. With `dryRun` the report says what would be done and nothing is
// written. Fails with a call error, before anything is written, when the
// organisation does not exist, the directory cannot be read or a link names
// an account the directory does not list; a person that cannot be added or
// written fails it too, after the ones before it.
ImportReport importPeople(const DirectoryOptions& options, const ImportRequest& request);

}  // namespace tivel::mgt::directory
