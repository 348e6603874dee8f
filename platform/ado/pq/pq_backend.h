// PostgreSQL through libpq as a data-access backend, registered as "pq" for
// the connection strings of connect_params.h. It behaves as the ODBC backend
// does on PostgreSQL (odbc_backend.h): the same dialect name, the same value
// types (values.h), the same quoting of the bare column name isNull, the
// same table lock, key read-back and loss detection; statements with "?"
// placeholders are prepared once per connection and run by their name.
//
// A statement that fails inside a transaction leaves the transaction
// failed, as PostgreSQL does: every later statement fails until the
// transaction ends, and a commit rolls it back and reports so.
#pragma once

#include <memory>

#include "platform/ado/backend.h"
#include "platform/ado/connection_string.h"

namespace tivel::ado::pq {

// Connects with the statement time-out given (0: none). Throws
// ComError(kOpenFailed) with libpq's reason, the password never in it, when
// the connection cannot be made.
std::unique_ptr<Backend> open(const ConnectionString& cs, int timeoutSeconds);

}  // namespace tivel::ado::pq
