// The database schemas of the system and the fixed data a new portal needs.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/connection.h"

namespace tivel::mgt {

struct SchemaScript {
  const char* dialect;  // "sqlite", "postgresql"
  const char* name;     // "mgt" (management database), "fee" (fee database)
  const char* text;     // statements separated by ";" at the end of a line
};

// Every script compiled into the library.
const std::vector<SchemaScript>& schemaScripts();

// The text of script `name` for a dialect; nullptr when there is none.
const char* findScript(const std::string& dialect, const std::string& name);

// The tables script `name` of a dialect creates, in the script's order and
// spelling. Fails when there is no such script.
std::vector<std::string> scriptTables(const std::string& dialect, const std::string& name);

// The version of this release's schemas ("mgt" and "fee"). An upgrade from
// version N-1 to N is the script `name`-upgrade-N of each dialect.
inline constexpr int kSchemaVersion = 2;

// The version of schema `name` the database records (table SchemaVersion);
// 0 when it records none (a new database, or one made before versions were
// recorded).
int schemaVersion(ado::Connection& conn, const std::string& name);

// Brings schema `name` of the connection's database to kSchemaVersion:
// refuses a database of a newer version, applies the upgrades from the
// recorded version in order (each in a transaction where the engine allows
// it), creates what is missing and records the version. A database whose
// tables all exist at this version needs no CREATE privilege: nothing is
// created then. Fails with a call error.
void applySchema(ado::Connection& conn, const std::string& name);

// Seeds the management database of a new portal: the groups "1", "2" and
// "3" and the 13 security attribute definitions under their fixed numbers
// (owner "0", not in force). Rows already present are left as they are.
void seedManagementData(ado::Connection& conn);

}  // namespace tivel::mgt
