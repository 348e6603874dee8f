// Turns the system's connection strings into the connect string an ODBC
// driver manager reads.
//
// Forms served:
//   dsn=NAME;...          a data source of odbc.ini (the file ODBCINI names,
//                         else the user's and the system's)
//   DRIVER=NAME;...       an installed driver, the pairs handed on
//   Provider=NAME;Data Source=S;Initial Catalog=D;User ID=U;Password=P
//                         the OLE DB form: NAME is an installed ODBC driver,
//                         or one of the server-database provider names
//                         SQLOLEDB, SQLNCLI*, MSOLEDBSQL*, MSDASQL*, which
//                         stand for the server database's driver
//                         (serverDriver()); anything else is refused.
// Keys are trimmed and the usual spellings folded to the ODBC keywords (uid,
// User ID -> UID; pwd, PASSWORD, Password -> PWD; Data Source -> SERVER;
// Initial Catalog -> DATABASE; Connect Timeout, read by the backend as the
// login time-out, is not handed on). A pair with an empty value is left out, so
// an empty INI value leaves the data source's own setting in force. A server
// written "host,port" (the server-database spelling; the mode-2 string has
// no port key) becomes SERVER=host;PORT=port unless a Port key is given.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/connection_string.h"

namespace tivel::ado::odbc {

struct OdbcTarget {
  std::string connectString;  // for SQLDriverConnect
  std::string driver;         // the driver named, "" when a data source is
  std::string dsn;            // the data source named, "" when a driver is
};

// True when the name is an installed ODBC driver (case ignored).
using DriverLookup = std::function<bool(const std::string& name)>;

// Maps a parsed connection string. Throws ComError(kOpenFailed) when it names
// neither a data source nor a driver this layer can serve; the message never
// repeats the string (it may hold a password).
OdbcTarget toOdbc(const ConnectionString& cs, const DriverLookup& isInstalledDriver);

// The ODBC driver of the server database: TIVEL_ODBC_DRIVER when set, else
// "PostgreSQL Unicode".
std::string serverDriver();

// Pairs a driver needs for the behaviour this layer relies on, added when the
// connect string does not set them: for psqlODBC (any driver or data source
// whose driver name holds "PostgreSQL") booleans as SQL_BIT and bound values
// placed by the driver rather than prepared on the server; for MariaDB
// Connector/ODBC (a driver name holding "MariaDB") updates that count the
// rows they matched, and the utf8mb4 character set.
std::vector<std::pair<std::string, std::string>> driverDefaults(const std::string& driverName);

// The value without the braces a braced value keeps ("{a}}b}" is "a}b").
std::string unbraced(const std::string& value);

// One pair in connect-string form, the value braced when it holds ";", a
// brace or edge blanks.
std::string connectPair(const std::string& key, const std::string& value);

}  // namespace tivel::ado::odbc
