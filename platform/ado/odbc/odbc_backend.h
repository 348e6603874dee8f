// unixODBC as a data-access backend, registered as "odbc" for connection
// strings with dsn=, DRIVER= or a Provider= other than SQLite (the forms and
// key rules are those of odbc_connection_string.h). Tested with PostgreSQL
// through psqlODBC and MariaDB through MariaDB Connector/ODBC; what differs
// between engines lives in their dialects (dialect.h), chosen by the DBMS
// name the driver reports.
//
// Text crosses the driver as UTF-16 (the wide calls, SQL_C_WCHAR), so
// Chinese round-trips whatever the process locale.
// Values read: NULL Null; bit Boolean; integer kinds Long, or Double outside
// 32 bits; numeric, real and float Double; date, time and timestamp Date;
// binary kinds Bytes; everything else String.
// Values bound: Empty/Null/Missing NULL; Boolean the text "1" or "0";
// Integer/Long integer; Double double; Date timestamp; String wide text (or
// UTF-8 where the dialect asks for it); Bytes binary.
#pragma once

#include <memory>

#include "platform/ado/backend.h"
#include "platform/ado/connection_string.h"

namespace tivel::ado::odbc {

// Connects through the driver manager with the statement time-out given
// (0: none). Throws ComError(kOpenFailed) with the driver's diagnostics when
// the connection cannot be made, and before any driver loads when the string
// would load code or reach a file it names (driver_loading.h).
std::unique_ptr<Backend> open(const ConnectionString& cs, int timeoutSeconds);

}  // namespace tivel::ado::odbc
