// The fee database's schema, compiled into the component, and the set-up of
// a root's fee configuration (Scrivane.ini) and database.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/connection.h"

namespace tivel::gf {

// The text of the embedded-default Scrivane.ini (mode 3, PROVIDER=SQLite,
// Database=scrivane.db).
std::string defaultScrivaneIni();

// Creates the fee tables missing in the connection's database, with the
// script of its dialect; fails when there is none for the dialect.
void applyFeeSchema(ado::Connection& conn);

// What initFeeDatabase did, for the caller to report.
struct FeeInitReport {
  std::string iniPath;
  std::string connectionString;
  bool wroteIni = false;
  bool createdDatabaseFile = false;
};

// For the root R: writes R/ini/Scrivane.ini when missing, creates the mode-3
// database file when missing, and creates the fee schema in the database the
// file names (either engine). Expects R/bin, R/ini and R/db to exist. Running it
// again changes nothing it made. Fails with a call error naming what went wrong.
FeeInitReport initFeeDatabase(const std::string& root);

}  // namespace tivel::gf
