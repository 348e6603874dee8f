#include "tools/tivel/serve/server.h"

#include <atomic>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "mgt/common/module.h"
#include "platform/com/error.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/rpc/error.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/serve/metrics.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/workers.h"

namespace tivel::tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kJson = "application/json";
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);

// When the request this thread is answering arrived; httplib answers a
// request (routing, handler, logger) on one thread.
thread_local Clock::time_point requestStart;

std::string jsonText(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json errorJson(int32_t number, const std::string& source, const std::string& description) {
  return Json{{"error", {{"number", number}, {"source", source}, {"description", description}}}};
}

void answerJson(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(jsonText(body), kJson);
}

void refuse(httplib::Response& res, int status, const std::string& description) {
  answerJson(res, status, errorJson(com::kInvalidArgument, kHostSource, description));
}

// A batch's or a health check's answer.
struct Outcome {
  int status = 200;
  std::string body;
};

}  // namespace

struct ServeServer::Impl {
  ServeOptions options;
  std::unique_ptr<httplib::Server> http;
  std::unique_ptr<Workers> workers;
  ServeMetrics metrics;
  std::atomic<bool> stopping{false};
  std::atomic<bool> running{false};

  explicit Impl(ServeOptions o) : options(std::move(o)) {
    if (options.token.size() < 32) throw std::runtime_error("the access token is shorter than 32 characters");
    if (options.tlsCert.empty() != options.tlsKey.empty())
      throw std::runtime_error("--tls-cert and --tls-key go together");
    if (!options.tlsCert.empty()) {
      http = std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
      if (!http->is_valid())
        throw std::runtime_error("the TLS certificate or key does not load: " + options.tlsCert + ", " +
                                 options.tlsKey);
    } else {
      http = std::make_unique<httplib::Server>();
    }
    int count = options.workers > 0 ? options.workers : static_cast<int>(std::thread::hardware_concurrency());
    workers = std::make_unique<Workers>(count > 0 ? count : 1);
    // A kept-alive connection holds its thread between requests, so there
    // are more connection threads than batches admitted at once.
    const size_t connections = static_cast<size_t>(workers->size()) * 4 + 8;
    http->new_task_queue = [connections] { return new httplib::ThreadPool(connections); };
    http->set_payload_max_length(options.maxBody);
    http->set_keep_alive_max_count(1000);
    // An answer goes out as its head and its body in two writes; without
    // this the body waits on the client's delayed acknowledgement (~40 ms).
    http->set_tcp_nodelay(true);
    http->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      requestStart = Clock::now();
      return admit(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
    });
    http->Post("/rpc", [this](const httplib::Request& req, httplib::Response& res) { rpc(req, res); });
    http->Get("/health", [this](const httplib::Request&, httplib::Response& res) { health(res); });
    http->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(metrics.text(workers->size(), workers->busy()), "text/plain; version=0.0.4");
    });
    // Errors httplib answers itself (a body over the limit, a bad request
    // line) get a JSON body too.
    http->set_error_handler(httplib::Server::Handler([](const httplib::Request&, httplib::Response& res) {
      if (!res.body.empty()) return;
      refuse(res, res.status, res.status == 413 ? "The request body is too large" : "The request was refused");
    }));
    http->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      answerJson(res, 500, errorJson(kFail, kHostSource, "Internal failure"));
    });
    http->set_logger([this](const httplib::Request& req, const httplib::Response& res) { logRequest(req, res); });
  }

  // The access check and the method check, before any body is read: true
  // lets the request through to its handler.
  bool admit(const httplib::Request& req, httplib::Response& res) {
    if (req.path != "/health") {
      static const std::string kBearer = "Bearer ";
      const std::string header = req.get_header_value("Authorization");
      const bool bearer = header.compare(0, kBearer.size(), kBearer) == 0;
      if (!bearer || !sameToken(std::string_view(header).substr(kBearer.size()), options.token)) {
        res.set_header("WWW-Authenticate", "Bearer");
        answerJson(res, 401, errorJson(kFail, kHostSource, "Unauthorized"));
        return false;
      }
    }
    const char* allowed = req.path == "/rpc"                                ? "POST"
                          : req.path == "/health" || req.path == "/metrics" ? "GET"
                                                                            : nullptr;
    if (!allowed) {
      refuse(res, 404, "No such path: " + req.path);
      return false;
    }
    if (req.method != allowed && !(req.method == "HEAD" && std::string(allowed) == "GET")) {
      res.set_header("Allow", allowed);
      refuse(res, 405, req.method + " is not allowed on " + req.path + " (use " + allowed + ")");
      return false;
    }
    return true;
  }

  void rpc(const httplib::Request& req, httplib::Response& res) {
    // The array itself is one level more than a request line may have.
    if (jsonNesting(req.body) > kMaxJsonNesting + 1)
      return refuse(res, 400, "Malformed batch: nested deeper than " + std::to_string(kMaxJsonNesting) + " levels");
    Json batch;
    try {
      batch = Json::parse(req.body);
    } catch (const Json::exception& e) {
      return refuse(res, 400, std::string("Malformed batch: ") + e.what());
    }
    if (!batch.is_array()) return refuse(res, 400, "A batch is a JSON array of requests");
    if (batch.size() > options.maxRequests)
      return refuse(res, 413, "A batch holds at most " + std::to_string(options.maxRequests) + " requests");
    Outcome o = runBatch(batch, requestStart + options.batchTimeout);
    res.status = o.status;
    res.set_content(std::move(o.body), kJson);
  }

  // Runs on the thread that read the request, once admitted: the thread's
  // start-up (again, if it failed before), then every request on a host of
  // its own, whose objects go when it ends. A batch not admitted before its
  // deadline answers every request with the time-out error.
  Outcome runBatch(const Json& batch, Clock::time_point deadline) {
    WorkerPlace place(*workers, deadline);
    if (place) {
      try {
        mgt::startUp();
      } catch (const com::ComError& e) {
        return {503, jsonText(errorJson(e.number(), e.source(), e.description()))};
      } catch (const std::exception& e) {
        return {503, jsonText(errorJson(kFail, kHostSource, e.what()))};
      }
    }
    Json answers = Json::array();
    int64_t errors = 0;
    {
      RpcHost host;
      for (const Json& request : batch) {
        Json answer;
        if (!place || Clock::now() > deadline) {
          Json id = request.is_object() && request.contains("id") ? request["id"] : Json(nullptr);
          answer = Json{{"id", id}};
          answer.update(errorJson(kFail, kHostSource, "The batch ran out of time before this request"));
        } else {
          answer = host.answer(request);
        }
        if (answer.contains("error")) ++errors;
        answers.push_back(std::move(answer));
      }
    }
    metrics.callErrors(errors);
    try {
      return {200, jsonText(answers)};
    } catch (const std::exception& e) {
      return {500, jsonText(errorJson(kFail, kHostSource, e.what()))};
    }
  }

  void health(httplib::Response& res) {
    Outcome o;
    WorkerPlace place(*workers, requestStart + options.batchTimeout);
    try {
      if (!place) throw std::runtime_error("every worker is busy");
      mgt::startUp();
      mgt::sharedConnection()->execute("select 1");
      o = {200, jsonText(Json{{"status", "ok"}})};
    } catch (const com::ComError& e) {
      o = {503, jsonText(Json{{"status", "unavailable"}, {"error", e.description()}})};
    } catch (const std::exception& e) {
      o = {503, jsonText(Json{{"status", "unavailable"}, {"error", e.what()}})};
    }
    res.status = o.status;
    res.set_content(std::move(o.body), kJson);
  }

  void logRequest(const httplib::Request& req, const httplib::Response& res) {
    const double seconds = std::chrono::duration<double>(Clock::now() - requestStart).count();
    metrics.request(req.path, res.status, seconds);
    std::ostringstream line;
    line << req.remote_addr << " \"" << req.method << ' ' << req.path << "\" " << res.status << ' ' << res.body.size()
         << ' ' << std::fixed << std::setprecision(3) << seconds * 1000 << "ms";
    if (options.accessLog)
      options.accessLog(line.str());
    else
      std::cerr << line.str() << '\n';
  }
};

ServeServer::ServeServer(ServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ServeServer::~ServeServer() { stop(); }

int ServeServer::bind() {
  const ServeOptions& o = impl_->options;
  int port = o.port;
  if (port == 0)
    port = impl_->http->bind_to_any_port(o.host);
  else if (!impl_->http->bind_to_port(o.host, port))
    port = -1;
  if (port <= 0) throw std::runtime_error("cannot listen on " + o.host + ":" + std::to_string(o.port));
  return port;
}

void ServeServer::run() {
  impl_->running = true;
  // listen_after_bind returns once stop() closed the socket and the
  // connection threads finished what they were answering.
  if (!impl_->stopping) impl_->http->listen_after_bind();
  impl_->running = false;
}

void ServeServer::stop() {
  impl_->stopping = true;
  // The listener ignores a stop that comes before it started: while run()
  // is between its check and the listener's start, wait for the start.
  while (impl_->running && !impl_->http->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  impl_->http->stop();
}

}  // namespace tivel::tool
