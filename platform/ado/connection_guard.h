// A per-thread check of every connection before it opens: whoever runs
// callers' work on a thread (the gateway's batches) sets a guard, which sees
// the final connection string (after Open's user and password are added)
// before any backend reads it, and refuses by throwing. However a connection
// is opened (Connection.Open, ConnectionString then Open, Recordset.Open
// with a connection string), it passes here. With no guard set the cost is
// one thread-local load an open.
#pragma once

#include <functional>
#include <string>

namespace tivel::ado {

// Called with the connection string; throws (a com::ComError) to refuse it.
using ConnectionGuard = std::function<void(const std::string& connectionString)>;

// Sets this thread's guard (an empty function removes it); returns the previous one.
ConnectionGuard setConnectionGuard(ConnectionGuard guard);

// Runs this thread's guard on the connection string, if one is set.
void checkConnection(const std::string& connectionString);

}  // namespace tivel::ado
