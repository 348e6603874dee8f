// tivel serve: the late-bound host over HTTP (serve_server.h), until SIGTERM
// or SIGINT, after which the requests in flight finish and it exits 0.
#include <csignal>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <pthread.h>

#include "tools/tivel/command.h"
#include "tools/tivel/rpc/root.h"
#include "tools/tivel/serve/server.h"
#include "tools/tivel/serve/token.h"

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

void serve(const std::string& root, const std::string& listen, ServeOptions o) {
  if (!root.empty()) useRoot(root);
  const char* home = std::getenv("TIVEL_HOME");
  if (!home) throw std::runtime_error("tivel serve needs --root (or TIVEL_HOME) to find the access token");
  o.token = readServeToken(home);
  splitListen(listen, &o);
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
  ServeServer server(std::move(o));
  const int port = server.bind();
  std::thread waiter([&server, stopSignals] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
  });
  std::cout << "listening on " << scheme << (host.find(':') != std::string::npos ? "[" + host + "]" : host) << ":"
            << port << std::endl;
  server.run();
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("serve", "Serve late-bound calls over HTTP: POST /rpc with a JSON array of requests");
  auto root = std::make_shared<std::string>();
  auto listen = std::make_shared<std::string>("127.0.0.1:8080");
  auto o = std::make_shared<ServeOptions>();
  auto timeoutMs = std::make_shared<long>(30000);
  cmd->add_option("--root", *root,
                  "Root directory R: components use R/ini, R/log and R/db; the token is R/ini/serve.token");
  cmd->add_option("--listen", *listen, "HOST:PORT to listen on (port 0: any free port)")->capture_default_str();
  cmd->add_option("--threads", o->workers, "Batches run at once (default: one per core)");
  cmd->add_option("--max-body", o->maxBody, "Largest request body in bytes")->capture_default_str();
  cmd->add_option("--max-requests", o->maxRequests, "Most requests in one batch")->capture_default_str();
  cmd->add_option("--batch-timeout-ms", *timeoutMs, "Requests of a batch not begun by then fail")
      ->capture_default_str();
  cmd->add_option("--tls-cert", o->tlsCert, "Certificate file (PEM); with --tls-key, serve HTTPS");
  cmd->add_option("--tls-key", o->tlsKey, "Private key file (PEM)");
  cmd->callback([=] {
    ServeOptions options = *o;
    options.batchTimeout = std::chrono::milliseconds(*timeoutMs);
    serve(*root, *listen, std::move(options));
  });
});

}  // namespace
}  // namespace tivel::tool
