// A portal root: the directories bin/, ini/, log/ and db/ that the
// components expect beside their own directory, and its creation.
#pragma once

#include <string>
#include <vector>

namespace tivel::mgt {

struct InitOptions {
  std::string root;  // the root directory R
  bool seed = true;  // seed the fixed data of a new portal
  // A group to share the root's data with for reading ("": keep the root's
  // sharing as it is, the owner's alone for a new root).
  std::string group = {};
  // Files that stay the owner's alone even in a root shared with a group.
  std::vector<std::string> ownerOnly = {};
};

// What initRoot did, for the caller to report.
struct InitReport {
  std::string iniPath;
  std::string connectionString;
  bool wroteIni = false;
  bool createdDatabaseFile = false;
  std::vector<std::string> roleWarnings;  // the database role reaches the host (role_check.h)
  // Every change of mode or group made to what the root held, one line each.
  std::vector<std::string> accessChanges;
};

// The text of the embedded-default SysTivel.ini (mode 3, PROVIDER=SQLite,
// Database=tivel.db).
std::string defaultSysTivelIni();

// Creates R/bin, R/ini, R/log and R/db (see root_access.h: the owner's
// alone, or shared with options.group), narrows the access to what they
// already hold, writes the default SysTivel.ini when it is missing, creates
// the database file of mode 3 when missing, creates
// the management schema where tables are missing, seeds the fixed data and
// checks the database role.
// Running it again changes nothing it made. Points TIVEL_HOME at R for this
// process. Fails with a call error naming what went wrong.
InitReport initRoot(const InitOptions& options);

}  // namespace tivel::mgt
