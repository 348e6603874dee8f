// A backend on a connection that can be lost (a database server restarted,
// the session ended on the server, the server away for a while) that opens a
// new connection for the next operation instead of failing every one after.
//
// The operation that met the loss fails as it would have; nothing is run a
// second time behind the caller's back. A transaction open at the loss is
// gone with it: every operation fails until the caller ends it, a commit
// saying it was rolled back and a rollback only closing the books. A
// connection that sat quiet for a while is tried with a cheap statement
// before the next operation outside a transaction, so that a loss the
// connection could not notice while idle costs no operation.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/ado/backend.h"

namespace tivel::ado {

// An open backend and how to tell that a failure showed its connection gone
// (the server restarted, ended the session or cannot be reached).
struct OpenedBackend {
  std::unique_ptr<Backend> backend;
  std::function<bool()> lost;
};

// Opens a backend on the connection string; throws ComError (kOpenFailed)
// with the reason when it cannot.
using Connect = std::function<OpenedBackend()>;

// How long a connection may sit unused before it is tried before use.
inline constexpr std::chrono::milliseconds kQuietBeforeCheck{1000};

// Opens the first connection with `connect` (its failure reaches the
// caller) and every replacement after a loss.
std::unique_ptr<Backend> reconnecting(Connect connect, std::chrono::milliseconds quiet = kQuietBeforeCheck);

// What befell a server connection, for whoever runs the process: it was
// lost (reason: the failure that showed it), a new one could not be opened
// (the first such failure after a loss; reason: why), or a new one opened
// after a loss (reason empty).
enum class ConnectionEvent { Lost, ReopenFailed, Reopened };
using ConnectionObserver = std::function<void(ConnectionEvent event, const std::string& reason)>;

// Sets the process's observer (an empty function: none). Called on the
// thread of the connection, so it must be safe to call from any thread.
void setConnectionObserver(ConnectionObserver observer);

// The description of the failure an operation meets inside a transaction
// that a lost connection ended.
inline constexpr const char* kTransactionLostText =
    "The connection to the database was lost; the transaction was rolled back.";

}  // namespace tivel::ado
