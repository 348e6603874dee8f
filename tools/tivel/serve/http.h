// The gateway's requests and answers as its route handlers see them, and
// the routes themselves. A handler runs on the thread its route's lane
// names: a worker of a lane is an apartment, so it may create and call
// objects; the HTTP threads only read and write connections.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/tivel/serve/scope.h"

namespace tivel::tool {

// A session the server's SessionCheck let in; the check's maker derives its
// own (the console's signed-in administrator) from it.
struct HttpSession {
  virtual ~HttpSession() = default;
};

struct HttpRequest {
  std::string method;                                          // "GET", "POST" ...
  std::string path;                                            // without the query, as received
  std::vector<std::pair<std::string, std::string>> arguments;  // the query's, decoded
  std::vector<std::pair<std::string, std::string>> headers;    // as received
  std::string body;
  std::string peer;                               // the client's address
  std::chrono::steady_clock::time_point arrival;  // when the head was in
  const Caller* caller = nullptr;                 // the token's caller, on routes that need a token
  std::shared_ptr<const HttpSession> session;     // the checked session, on Session and SessionCsrf routes

  // The first value of a header (name in any letter case), "" when absent.
  std::string header(std::string_view name) const;
};

// Hands one part of a streamed body on to the client, waiting while the
// parts not yet sent fill the connection's buffer; false once the client is
// gone or has taken nothing for too long: the producer should stop.
using BodyWriter = std::function<bool(std::string_view part)>;
// Writes a streamed body part by part; answers whether the body is whole
// (false ends the answer cut short, so the client sees it is not).
using BodyProducer = std::function<bool(const BodyWriter& write)>;

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;  // more headers (Set-Cookie, Location ...)
  std::string body;
  // When set, the body instead of `body`: sent as it is written, after the
  // head, on the worker that ran the handler (which it holds until the body
  // ends). It outlives the request: it owns what it reads.
  BodyProducer producer;
  // Who the answer was for, in the access line and the counters, when the
  // route needs no token and its handler let someone in (a session).
  std::string callerName;
};

using HttpHandler = std::function<void(const HttpRequest& request, HttpResponse& response)>;

// How a route is reached.
enum class Access {
  Token,        // a bearer token of the token file; the handler sees its caller
  Session,      // a session in force (the server's SessionCheck); the handler sees it
  SessionCsrf,  // a session in force and its CSRF token (requests that change or read data)
  Open,         // anyone
};

// Checks the session of a Session or SessionCsrf route's request (`csrf`:
// its CSRF token too) on the route's lane, before the handler: the session,
// or nullptr after writing the refusal into the response.
using SessionCheck =
    std::function<std::shared_ptr<const HttpSession>(const HttpRequest& request, HttpResponse& response, bool csrf)>;

// Where a route's handler runs.
enum class Lane {
  Batch,   // the batch workers: anything that may wait on a database or a directory
  Quick,   // a small lane of its own (sign-ins), never behind batches
  Health,  // one worker for the server's database check, never behind batches or sign-ins
  Inline,  // the HTTP thread that read the request: handlers that never wait (pages, metrics)
};

struct Route {
  std::string method;  // "GET" also answers HEAD
  std::string path;    // the exact path, or with `prefix` every path under it ("/console/")
  bool prefix = false;
  Access access = Access::Token;
  HttpHandler handler;
  Lane lane = Lane::Batch;
  // The largest body the route reads, in bytes; 0: the server's --max-body
  // on token routes, kOpenBodyLimit on the others (their body is read before
  // any session is checked). Larger bodies get 413.
  size_t maxBody = 0;
};

// The body limit of open routes that state none: anyone may send it.
inline constexpr size_t kOpenBodyLimit = 16 * 1024;

}  // namespace tivel::tool
