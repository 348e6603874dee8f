// The gateway's requests and answers as its route handlers see them, and
// the routes themselves. A handler runs on the batch thread that read the
// request (an apartment), so it may create and call objects.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/tivel/serve/scope.h"

namespace tivel::tool {

struct HttpRequest {
  std::string method;                                          // "GET", "POST" ...
  std::string path;                                            // without the query, as received
  std::vector<std::pair<std::string, std::string>> arguments;  // the query's, decoded
  std::vector<std::pair<std::string, std::string>> headers;    // as received
  std::string body;
  std::string peer;                               // the client's address
  std::chrono::steady_clock::time_point arrival;  // when the head was in
  const Caller* caller = nullptr;                 // the token's caller, on routes that need a token

  // The first value of a header (name in any letter case), "" when absent.
  std::string header(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;  // more headers (Set-Cookie, Location ...)
  std::string body;
  // Who the answer was for, in the access line and the counters, when the
  // route needs no token and its handler let someone in (a session).
  std::string callerName;
};

using HttpHandler = std::function<void(const HttpRequest& request, HttpResponse& response)>;

// How a route is reached.
enum class Access {
  Token,  // a bearer token of the token file; the handler sees its caller
  Open,   // anyone; the handler checks what it needs itself (a session cookie)
};

struct Route {
  std::string method;  // "GET" also answers HEAD
  std::string path;    // the exact path, or with `prefix` every path under it ("/console/")
  bool prefix = false;
  Access access = Access::Token;
  HttpHandler handler;
};

}  // namespace tivel::tool
