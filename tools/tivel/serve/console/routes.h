// The administrator's console on the gateway: its pages at /console/ (the
// compiled-in files of console/, "/" redirects there), the sign-in, the
// session and the sign-out, its batches at /console/rpc under the console
// scope (its one way to data), and its CSV exports. Every answer carries the console's security headers
// (a Content-Security-Policy of 'self' only, no framing, nosniff, no referrer).
//
// A session travels in the cookie tivel_console (HttpOnly, SameSite=Strict,
// Secure under TLS), signed with R/ini/console.key. The routes state their
// access and the server checks it, through the session check installed
// here, before a handler runs: without a session in force the session's
// routes answer 401; those that read or change data (the batches, the
// sign-out, the exports) also need the session's CSRF token in X-Tivel-CSRF
// (an export's in its query) and the console's own origin (else 403).
#pragma once

#include <string>

#include "tools/tivel/serve/server.h"

namespace tivel::tool {

// Adds the console's routes to the server (before bind()) for the root's
// key and [Console] settings. Without a usable key the console's routes
// answer 503 saying why; returns that reason ("" when the console is on).
// Fails (std::runtime_error) on [Console] settings that are no positive numbers.
std::string addConsoleRoutes(ServeServer& server, const std::string& root);

}  // namespace tivel::tool
