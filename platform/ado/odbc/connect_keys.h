// What a connect string may ask of a driver beyond reaching its database.
// A connection string can come from a caller (ADODB.Connection.Open, a
// recordset's Open), so keys that make a driver run statements as it
// connects, load a client plugin, read or write a file on this machine
// (keys, certificates, option files, local files for LOAD DATA) or write
// logs are refused, however they are spelt: any letter case, blanks, braces
// around the key, or the key given twice. The root's administrator may allow
// such a key with one value in ini/SysTivel.ini, [DataAccess] ConnectKeys.
// Pairs the data-access layer relies on are then appended last, where the
// drivers take them over anything earlier: the drivers' logs off, and for
// MariaDB Connector/ODBC the client's option file of this layer, which
// switches LOAD DATA LOCAL off.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ado/connection_string.h"

namespace tivel::ado::odbc {

// The key as the drivers read it: blanks and braces removed, lower case.
std::string normalKey(const std::string& key);

// The key=value pairs the administrator allows: a thunk, read only when a
// string uses a guarded key.
using AllowedKeys = std::function<ConnectionString()>;

// Refuses (ComError kOpenFailed, naming the key, never the string) a connect
// string that gives a guarded key the administrator does not allow with that
// value, a key that never may be allowed (logging, local files, option
// files), a key given twice in any spelling, or a MariaDB OPTION with its
// trace or query-log flags. Answers the string with the forced pairs of the
// driver named `driverName` appended.
std::string guardConnectKeys(const std::string& connectString, const std::string& driverName,
                             const AllowedKeys& allowed);

// The pairs [DataAccess] ConnectKeys of the root's ini/SysTivel.ini lists,
// in connection-string form (KEY=VALUE;KEY={VALUE;WITH;SEMICOLONS}).
ConnectionString allowedConnectKeys();

// One line per driver entry of odbcinst.ini that turns its logs on for
// every connection (psqlODBC's CommLog or Debug, as Debian ships
// "PostgreSQL Unicode"), e.g. "the ODBC driver entry \"PostgreSQL
// Unicode\" sets CommLog=1". The layer turns them off on its connections;
// other programs of the machine still log through such an entry.
std::vector<std::string> loggingDriverEntries();

// The directory of the MariaDB client option file this layer ships (it
// holds local-infile=0), or "" when it is missing. The layer points
// MARIADB_HOME there as the library loads, unless MARIADB_HOME or MYSQL_HOME
// is set already.
std::string mariadbOptionDirectory();

}  // namespace tivel::ado::odbc
