// The connection strings the native PostgreSQL backend serves, and the libpq
// connection keywords they become.
//
//   Provider=PostgreSQL;Data Source=HOST[,PORT];Initial Catalog=DB;User ID=U;Password=P
//   DRIVER=PostgreSQL;server=HOST[,PORT];DATABASE=DB;uid=U;PASSWORD=P
//
// "PostgreSQL" (any letter case) names this backend; the ODBC drivers are
// installed under other names ("PostgreSQL Unicode", "PostgreSQL ANSI") and
// stay with the ODBC backend. The keys have the spellings the ODBC forms
// take: Host, Server or Data Source; Port; Database, Initial Catalog or
// dbname; User, User ID, uid or UserName; Password or pwd; Connect Timeout
// (seconds, default 15, 0: wait as long as it takes). Other keys are
// ignored: libpq reads no file or service the string names.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/ado/connection_string.h"

namespace tivel::ado::pq {

// True when the string names this backend.
bool servesConnectionString(const ConnectionString& cs);

// libpq keyword/value pairs for PQconnectdbParams, client_encoding UTF8 among them.
std::vector<std::pair<std::string, std::string>> connectParams(const ConnectionString& cs);

}  // namespace tivel::ado::pq
