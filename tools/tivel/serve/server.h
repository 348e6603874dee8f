// The HTTP gateway behind `tivel serve`: POST /rpc answers a JSON array of
// host requests with the array of their answers; each batch runs whole on
// one batch worker, with objects of its own released when it ends, under
// the scope of the token that sent it. GET /health and GET /metrics report
// on the server; more routes can be added (the console's). Every route but
// /health and those added as Access::Open needs a bearer token or, on
// Session and SessionCsrf routes, a session the installed SessionCheck lets
// in before the handler runs.
//
// Connections are read and written event by event by libmicrohttpd's poll()
// threads, which never run a batch: a request whose handler may wait (on a
// database or a directory) is handed to its route's lane of workers and its
// connection set aside until the answer is ready, so the HTTP threads go on
// serving every other connection. Idle or slow clients hold no thread;
// heads, bodies and answers each have a deadline; connections are capped in
// total and per client address, and bodies sent without a token in total.
// poll() threads, not epoll ones: quiescing an epoll daemon whose threads
// run their own loops races inside the library (a thread and the stopping
// one both take the listener out of the epoll set, and the loser aborts the
// process).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "tools/tivel/serve/batch.h"
#include "tools/tivel/serve/http.h"
#include "tools/tivel/serve/tokens.h"

namespace tivel::tool {

// The largest request head (request line and headers) and its most header lines.
inline constexpr size_t kMaxHeadBytes = 64 * 1024;
inline constexpr size_t kMaxHeadLines = 100;

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;                                // 0: any free port (bind() tells which)
  int workers = 0;                                // batch workers (1 to 1024); 0: one per core
  std::shared_ptr<const TokenTable> tokens;       // the callers' tokens
  std::string root;                               // when set, the token files of R/ini are read again when they change
  size_t maxBody = 8u << 20;                      // bytes; larger bodies get 413
  BatchLimits batch;                              // requests, answer size and time of a batch
  size_t maxConnections = 1000;                   // open at once
  size_t maxConnectionsPerAddress = 100;          // open at once from one client address
  std::chrono::milliseconds headTimeout{5000};    // a request head must be in within this
  std::chrono::milliseconds idleTimeout{30000};   // a connection with nothing to do is closed after this
  std::chrono::milliseconds drainTimeout{30000};  // on stop, what runs may finish within this
  std::string tlsCert, tlsKey;                    // both set: HTTPS
  std::string version, revision;                  // this build's, in /metrics as tivel_build_info
  // Receives one line per answered request; standard error when unset.
  std::function<void(const std::string&)> accessLog;

  size_t maxQueued = 64;                             // batches waiting for a worker; more get 503
  int quickWorkers = 4;                              // the quick lane's workers (sign-ins)
  std::chrono::milliseconds transferTimeout{30000};  // a body must be in, an answer out, within this
  size_t maxAnonymousMemory = 32u << 20;             // bytes of bodies held at once for open routes
};

class ServeServer {
 public:
  // Fails (std::runtime_error) on options that cannot work: no tokens, limits
  // not positive, threads outside 1 to 1024, TLS files missing or one without the other.
  explicit ServeServer(ServeOptions options);
  ~ServeServer();
  ServeServer(const ServeServer&) = delete;
  ServeServer& operator=(const ServeServer&) = delete;

  // Adds a route; before bind(). A route of the same method and path as an
  // earlier one replaces it.
  void addRoute(Route route);
  // Sets the check of Session and SessionCsrf routes (before bind()); without
  // one those routes answer 401.
  void setSessionCheck(SessionCheck check);

  // Binds the listening socket, starts serving and returns the port; fails
  // (std::runtime_error) when the address cannot be bound or TLS does not
  // load. With a service manager's watchdog asked for (WATCHDOG_USEC), feeds
  // it while the HTTP threads take connections.
  int bind();
  // Waits until stop(), then stops accepting, lets what runs finish within
  // the drain time, interrupts what still runs, closes every connection and
  // returns.
  void run();
  // Asks run() to end; callable from any thread (a signal's waiter).
  void stop();

  // Runs a batch for a caller on the calling worker (a route handler's) and
  // counts it for the caller; see BatchRunner::run.
  BatchOutcome runBatch(const HttpRequest& request, const Caller& caller, BatchObserver* observer = nullptr);
  // Whether the server speaks HTTPS.
  bool tls() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tivel::tool
