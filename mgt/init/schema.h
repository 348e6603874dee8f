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

// Runs script `name` for the connection's dialect: creates what is missing,
// leaves what exists. Fails when there is no script for the dialect.
void applySchema(ado::Connection& conn, const std::string& name);

// Seeds the management database of a new portal: the groups "1", "2" and
// "3" and the 13 security attribute definitions under their fixed numbers
// (owner "0", not in force). Rows already present are left as they are.
void seedManagementData(ado::Connection& conn);

}  // namespace tivel::mgt
