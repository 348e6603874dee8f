// Who may read a portal root's data: its directories ini/, log/ and db/ and
// everything in them belong to the owner alone (directories 0700, files
// 0600), or are shared for reading with one group (directories 2750 and the
// group's, files 0640), as platform/files/private_files.h creates them.
#pragma once

#include <string>
#include <vector>

namespace tivel::mgt {

// Gives the directory to the group named `group`, mode 2750, so that it and what is made in
// it from now on are shared with the group. "" when it was so already, else
// the change as "path 0700 -> 2750, group NAME". Fails with a call error (a
// user may give a directory only to a group of its own).
std::string shareDirectory(const std::string& dir, const std::string& group);

// Brings what lies in the root's data directories (not following links) to
// the access its directory gives: in a directory of the owner's alone,
// directories 0700 and files 0600; in one shared with its group, directories
// 2750 and files 0640, in the directory's group. Modes are only narrowed,
// except that with `grantGroup` files the owner may read become readable by
// the group. Files named in `ownerOnly` stay the owner's alone in any case.
// The changes, one "path 0644 -> 0600" each. Fails with a call error.
std::vector<std::string> secureRootData(const std::string& root, bool grantGroup,
                                        const std::vector<std::string>& ownerOnly);

}  // namespace tivel::mgt
