// MariaDB through MariaDB Connector/ODBC. Each session is set to read
// statements as the other engines do: strict values, texts quoted only by
// doubling (a backslash is an ordinary character), "..." names and ||
// joins texts, and READ COMMITTED, so that each statement sees what others
// committed before it. Table names in other letter cases are written as the
// catalogue spells them, keys of AUTO_INCREMENT columns read back with
// LAST_INSERT_ID(), a table lock is a named lock held to the end of the
// transaction, and the statement time-out is the session's
// max_statement_time.
#pragma once

#include <memory>
#include <string>

#include "platform/ado/odbc/dialect.h"

namespace tivel::ado::odbc {

// The dialect Backend::dialect() names "mariadb".
std::unique_ptr<Dialect> mariadbDialect();

// The statement that sets a session up as the dialect does (for programs
// that compare against the driver used directly).
std::string mariadbSessionSettings();

}  // namespace tivel::ado::odbc
