// A portal root: the directories bin/, ini/, log/ and db/ that the
// components expect beside their own directory, and its creation.
#pragma once

#include <string>
#include <vector>

namespace tivel::mgt {

struct InitOptions {
  std::string root;  // the root directory R
  bool seed = true;  // seed the fixed data of a new portal
};

// What initRoot did, for the caller to report.
struct InitReport {
  std::string iniPath;
  std::string connectionString;
  bool wroteIni = false;
  bool createdDatabaseFile = false;
  std::vector<std::string> roleWarnings;  // the database role reaches the host (role_check.h)
};

// The text of the embedded-default SysTivel.ini (mode 3, PROVIDER=SQLite,
// Database=tivel.db).
std::string defaultSysTivelIni();

// Creates R/bin, R/ini, R/log and R/db, writes the default SysTivel.ini when
// it is missing, creates the database file of mode 3 when missing, creates
// the management schema where tables are missing, seeds the fixed data and
// checks the database role.
// Running it again changes nothing it made. Points TIVEL_HOME at R for this
// process. Fails with a call error naming what went wrong.
InitReport initRoot(const InitOptions& options);

}  // namespace tivel::mgt
