// The HTTP gateway behind `tivel serve`: POST /rpc answers a JSON array of
// host requests with the array of their answers; each batch runs whole on
// one thread with objects of its own, released when it ends.
// GET /health and GET /metrics report on the server. Every request but
// /health must carry the bearer token.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace tivel::tool {

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;                                // 0: any free port (bind() tells which)
  int workers = 0;                                // batches run at once; 0: one per core
  std::string token;                              // the bearer token callers must present
  size_t maxBody = 8u << 20;                      // bytes; larger bodies get 413
  size_t maxRequests = 10000;                     // requests per batch; more get 413
  std::chrono::milliseconds batchTimeout{30000};  // requests not begun by then fail
  std::string tlsCert, tlsKey;                    // both set: HTTPS
  // Receives one line per answered request; standard error when unset.
  std::function<void(const std::string&)> accessLog;
};

class ServeServer {
 public:
  // Fails (std::runtime_error) on options that cannot work (TLS files that
  // do not load, a token shorter than 32 characters).
  explicit ServeServer(ServeOptions options);
  ~ServeServer();
  ServeServer(const ServeServer&) = delete;
  ServeServer& operator=(const ServeServer&) = delete;

  // Binds the listening socket and returns its port; fails
  // (std::runtime_error) when the address cannot be bound.
  int bind();
  // Serves until stop(), then lets the requests in flight finish; returns
  // after that.
  void run();
  // Stops accepting; callable from any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tivel::tool
