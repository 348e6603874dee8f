// PostgreSQL through psqlODBC: the bare column name isNull quoted (a
// keyword there), database-numbered keys read back from the column's
// sequence, the standard table lock, and the driver's statement time-out.
#pragma once

#include <memory>

#include "platform/ado/odbc/dialect.h"

namespace tivel::ado::odbc {

// The dialect Backend::dialect() names "postgresql".
std::unique_ptr<Dialect> postgresqlDialect();

}  // namespace tivel::ado::odbc
