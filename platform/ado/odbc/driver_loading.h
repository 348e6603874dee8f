// What a connect string may make the driver manager or a driver load. A
// connection string can come from a caller (ADODB.Connection.Open), so it
// names a driver only by the name it is installed under; a library file is
// loaded by path only when the root's administrator lists that file. Keys
// that make the driver manager or a driver load code, or read or write a
// file the string names, are refused whatever their value.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ado/odbc/odbc_connection_string.h"

namespace tivel::ado::odbc {

// The driver files the administrator allows: a thunk, so the configuration
// is read only when a string names a driver that is not installed.
using DriverFiles = std::function<std::vector<std::string>()>;

// Refuses (ComError kOpenFailed, the string itself never repeated) a connect
// string that would load code or reach a file it names: a DRIVER that is not
// the name of an installed driver (a path, or a name the driver manager would
// try as a library file) unless driverFiles() lists it; the driver manager's
// FILEDSN and SAVEFILE; the client-plugin keys PLUGIN_DIR and DEFAULT_AUTH;
// psqlODBC's pqopt (options handed on to the client library, which name key,
// password and service files); FreeTDS's DUMPFILE. Keys are found wherever
// a driver's own parser might read one, braced values included.
void refuseLoadingCode(const std::string& connectString, const DriverLookup& isInstalledDriver,
                       const DriverFiles& driverFiles);

// The driver files the root's administrator lists in ini/SysTivel.ini,
// [DataAccess] DriverFiles: paths separated by ";" (none when unset). The
// installation helper never writes that section.
std::vector<std::string> allowedDriverFiles();

}  // namespace tivel::ado::odbc
