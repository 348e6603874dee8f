// tivel serve: the late-bound host over HTTP (server.h), until SIGTERM or
// SIGINT, after which what runs may finish within the drain time, what
// still runs then is interrupted, and it exits 0. Should the server not
// have ended some seconds after that, the process ends anyway, with 1.
// Under systemd (Type=notify) it says READY=1 once it listens and
// STOPPING=1 when asked to stop.
#include <csignal>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <malloc.h>
#include <pthread.h>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/common/security_options.h"
#include "mgt/init/role_check.h"
#include "platform/ado/connection.h"
#include "platform/ado/data_files.h"
#include "platform/com/error.h"
#include "tools/tivel/command.h"
#include "tools/tivel/rpc/connection_messages.h"
#include "tools/tivel/rpc/root.h"
#include "tools/tivel/serve/console/routes.h"
#include "tools/tivel/serve/login_audit.h"
#include "tools/tivel/serve/server.h"
#include "tools/tivel/serve/systemd.h"
#include "tools/tivel/serve/tokens.h"
#include "tools/tivel/version.h"

namespace tivel::tool {
namespace {

// "HOST:PORT" (an IPv6 host in brackets) into its parts.
void splitListen(const std::string& text, ServeOptions* o) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size())
    throw std::runtime_error("--listen takes HOST:PORT, got " + text);
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  int port = -1;
  try {
    size_t used = 0;
    port = std::stoi(text.substr(colon + 1), &used);
    if (used != text.size() - colon - 1) port = -1;
  } catch (const std::exception&) {
  }
  if (host.empty() || port < 0 || port > 65535) throw std::runtime_error("--listen takes HOST:PORT, got " + text);
  o->host = host;
  o->port = port;
}

// The recordset gateways run a caller's statements as the portal's database
// role: says so when that role reaches the database host. A database that
// cannot be reached now is said so, and the server starts anyway: batches
// fail until the database comes, then succeed.
void warnAboutTheRole() {
  try {
    ado::Connection conn;
    conn.open(ado::withConnectTimeout(mgt::GetConnectionString(), mgt::configPath()));
    for (const std::string& w : mgt::roleWarnings(conn)) std::cerr << "tivel serve: warning: " << w << std::endl;
    conn.close();
  } catch (const com::ComError& e) {
    std::cerr << "tivel serve: the database cannot be reached now; serving, batches fail until it comes: "
              << com::describe(e) << std::endl;
  } catch (const std::exception&) {
  }
}

// A list of thousands of records allocates and frees some megabytes per
// call. With glibc's default thresholds such blocks come from mmap or are
// given back to the kernel at each free, so the next list pays its page
// faults again; with these (as the benchmarks run) the heap keeps up to
// 64 MiB of freed memory and serves blocks below 32 MiB from itself.
void steadyHeap() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void serve(const std::string& root, const std::string& listen, ServeOptions o) {
  steadyHeap();
  if (!root.empty()) useRoot(root);
  const char* home = std::getenv("TIVEL_HOME");
  if (!home) throw std::runtime_error("tivel serve needs --root (or TIVEL_HOME) to find the access token");
  o.root = home;
  o.tokens = TokenTable::load(home);
  if (o.tokens->size() == 0)
    throw std::runtime_error(std::string("no tokens in ") + home + "/ini (tivel init makes the pages' token)");
  // A security setting it does not understand stops the server: it would
  // otherwise read as off without a word.
  for (const std::string& problem : audit::identitySettingProblems(mgt::configPath()))
    throw std::runtime_error("in " + mgt::configPath() + ": " + problem);
  splitListen(listen, &o);
  o.version = buildVersion();
  o.revision = buildRevision();
  tellConnectionEvents("tivel serve");
  warnAboutTheRole();
  // The signals are taken by one thread with sigwait; every other thread,
  // made after this, inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGUSR1);  // wakes the waiter when the server ends otherwise
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  const std::string host = o.host;
  const char* scheme = o.tlsCert.empty() ? "http://" : "https://";
  const auto bound = o.drainTimeout + std::chrono::seconds(10);
  ServeServer server(std::move(o));
  const std::string consoleOff = addConsoleRoutes(server, home);
  if (!consoleOff.empty()) std::cerr << "tivel serve: the console is off: " << consoleOff << std::endl;
  const int port = server.bind();
  std::thread waiter([&server, stopSignals, bound] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    notifyServiceManager("STOPPING=1");
    server.stop();
    if (sig == SIGUSR1) return;
    // A bounded stop, whatever a batch thread is doing.
    timespec wait{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(bound).count()), 0};
    siginfo_t info{};
    if (sigtimedwait(&stopSignals, &info, &wait) < 0 || info.si_signo != SIGUSR1) {
      std::cerr << "tivel serve: did not stop within the drain time; ending" << std::endl;
      std::_Exit(1);
    }
  });
  std::cout << "listening on " << scheme << (host.find(':') != std::string::npos ? "[" + host + "]" : host) << ":"
            << port << std::endl;
  notifyServiceManager("READY=1");
  server.run();
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
}

// A whole-number option of at least 1, its default shown in --help.
CLI::Option* positiveOption(CLI::App* cmd, const std::string& name, int64_t& value, const std::string& help) {
  static const auto positive = CLI::Range(int64_t{1}, std::numeric_limits<int64_t>::max() / 2, "a positive number");
  return cmd->add_option(name, value, help)->capture_default_str()->check(positive);
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("serve", "Serve late-bound calls over HTTP: POST /rpc with a JSON array of requests");
  auto root = std::make_shared<std::string>();
  auto listen = std::make_shared<std::string>("127.0.0.1:8080");
  auto o = std::make_shared<ServeOptions>();
  auto timeoutMs = std::make_shared<int64_t>(30000);
  auto headMs = std::make_shared<int64_t>(5000);
  auto idleMs = std::make_shared<int64_t>(30000);
  auto drainMs = std::make_shared<int64_t>(30000);
  auto maxBody = std::make_shared<int64_t>(8 << 20);
  auto maxRequests = std::make_shared<int64_t>(10000);
  auto maxAnswer = std::make_shared<int64_t>(int64_t{64} << 20);
  auto maxConnections = std::make_shared<int64_t>(1000);
  auto perAddress = std::make_shared<int64_t>(100);
  auto maxQueued = std::make_shared<int64_t>(64);
  auto transferMs = std::make_shared<int64_t>(30000);
  auto anonymous = std::make_shared<int64_t>(int64_t{32} << 20);
  cmd->add_option("--root", *root,
                  "Root directory R: components use R/ini, R/log and R/db; the token is R/ini/serve.token");
  cmd->add_option("--listen", *listen, "HOST:PORT to listen on (port 0: any free port)")->capture_default_str();
  cmd->add_option("--threads", o->workers, "Batch workers, 1 to 1024 (default: one per core)")
      ->check(CLI::Range(1, 1024));
  positiveOption(cmd, "--max-body", *maxBody, "Largest request body in bytes");
  positiveOption(cmd, "--max-requests", *maxRequests, "Most requests in one batch");
  positiveOption(cmd, "--max-answer", *maxAnswer,
                 "Largest batch answer in bytes; the rest of the batch answers an error");
  positiveOption(cmd, "--max-connections", *maxConnections, "Connections open at once");
  positiveOption(cmd, "--max-connections-per-address", *perAddress, "Connections open at once from one client address");
  positiveOption(cmd, "--batch-timeout-ms", *timeoutMs,
                 "A batch's time from its arrival: the statement running then is interrupted, the rest fail");
  positiveOption(cmd, "--head-timeout-ms", *headMs, "A request head must be in within this");
  positiveOption(cmd, "--idle-timeout-ms", *idleMs, "An idle kept-alive connection is closed after this");
  positiveOption(cmd, "--drain-timeout-ms", *drainMs, "On SIGTERM or SIGINT, what runs may finish within this");
  positiveOption(cmd, "--max-queued", *maxQueued,
                 "Batches waiting for a worker; more are answered 503 with Retry-After");
  positiveOption(cmd, "--transfer-timeout-ms", *transferMs,
                 "A request body must be in, and an answer out, within this");
  positiveOption(cmd, "--max-anonymous-memory", *anonymous,
                 "Bytes of request bodies held at once for routes that need no token; more are refused");
  cmd->add_option("--tls-cert", o->tlsCert, "Certificate file (PEM); with --tls-key, serve HTTPS");
  cmd->add_option("--tls-key", o->tlsKey, "Private key file (PEM)");
  cmd->callback([=] {
    ServeOptions options = *o;
    options.maxBody = static_cast<size_t>(*maxBody);
    options.batch.maxRequests = static_cast<size_t>(*maxRequests);
    options.batch.maxAnswer = static_cast<size_t>(*maxAnswer);
    options.batch.timeout = std::chrono::milliseconds(*timeoutMs);
    options.maxConnections = static_cast<size_t>(*maxConnections);
    options.maxConnectionsPerAddress = static_cast<size_t>(*perAddress);
    options.headTimeout = std::chrono::milliseconds(*headMs);
    options.idleTimeout = std::chrono::milliseconds(*idleMs);
    options.drainTimeout = std::chrono::milliseconds(*drainMs);
    options.maxQueued = static_cast<size_t>(*maxQueued);
    options.transferTimeout = std::chrono::milliseconds(*transferMs);
    options.maxAnonymousMemory = static_cast<size_t>(*anonymous);
    serve(*root, *listen, std::move(options));
  });
});

}  // namespace
}  // namespace tivel::tool
