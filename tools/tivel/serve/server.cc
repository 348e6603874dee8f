#include "tools/tivel/serve/server.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netdb.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unordered_set>

#include "mgt/common/module.h"
#include "platform/ado/interrupt.h"
#include "platform/com/error.h"
#include "tools/tivel/rpc/error.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/metrics.h"
#include "tools/tivel/serve/watchdog.h"

namespace tivel::tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
// Each connection's memory: its request head (at most kMaxHeadBytes, refused
// above), the parsed headers and the buffer bodies are read through.
constexpr size_t kConnectionMemory = kMaxHeadBytes + 32 * 1024;
// A finished answer at least this large asks for the allocator's free
// memory to be given back to the system.
constexpr size_t kLargeAnswer = size_t{1} << 20;

std::string jsonText(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string errorBody(int32_t number, const std::string& description) {
  return jsonText(Json{{"error", {{"number", number}, {"source", kHostSource}, {"description", description}}}});
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string addressText(const sockaddr* a) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (a && a->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
  else if (a && a->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
  return text;
}

// A connection as the head clock sees it: when the head of its next request
// must be in (time_point::max() while a request of it is being answered).
struct Tracked {
  int fd = -1;
  sockaddr_storage peer{};
  Clock::time_point deadline;
};

// One request and its answer, from its head to the answer's last byte.
struct Exchange {
  HttpRequest request;
  HttpResponse response;
  const Route* route = nullptr;
  std::string callerName;
  Tracked* tracked = nullptr;
  bool queued = false;    // the answer is on its way
  bool overflow = false;  // the body passed the limit while it was read
  bool junk = false;      // no request at all (a method that is no word): not timed
  size_t answerBytes = 0;
};

// Whether `fd` is still the connection `t` noted (and not a descriptor
// reused since by another one).
bool samePeer(const Tracked& t) {
  sockaddr_storage now{};
  socklen_t len = sizeof now;
  if (::getpeername(t.fd, reinterpret_cast<sockaddr*>(&now), &len) != 0 || now.ss_family != t.peer.ss_family)
    return false;
  if (now.ss_family == AF_INET) {
    auto* a = reinterpret_cast<const sockaddr_in*>(&now);
    auto* b = reinterpret_cast<const sockaddr_in*>(&t.peer);
    return a->sin_port == b->sin_port && a->sin_addr.s_addr == b->sin_addr.s_addr;
  }
  auto* a = reinterpret_cast<const sockaddr_in6*>(&now);
  auto* b = reinterpret_cast<const sockaddr_in6*>(&t.peer);
  return a->sin6_port == b->sin6_port && std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0;
}

// A method is a word of letters, digits and a few marks (a "token").
bool isMethod(const std::string& m) {
  if (m.empty()) return false;
  for (char c : m)
    if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("!#$%&'*+-.^_`|~", c)) return false;
  return true;
}

// A text for the access line: bytes outside printable ASCII and quotes as \xNN.
std::string printable(const std::string& s) {
  std::string out;
  char hex[5];
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// When a token file last changed, to read the tokens again after a change.
std::string fileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "-";
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

struct ServeServer::Impl {
  ServeOptions options;
  int workers = 1;
  std::vector<Route> routes;
  ServeMetrics metrics;
  Watchdog watchdog;
  std::unique_ptr<BatchRunner> batches;
  std::shared_ptr<const TokenTable> tokens;  // read and replaced with std::atomic_load/store
  std::string certPem, keyPem;
  MHD_Daemon* daemon = nullptr;
  int listenFd = -1;

  std::atomic<int> busy{0};
  std::atomic<int> inFlight{0};
  std::atomic<bool> draining{false};

  std::mutex stopMutex;
  std::condition_variable stopChanged;
  bool stopRequested = false;
  bool ending = false;  // the housekeeper's end
  std::thread housekeeper;

  std::mutex trackMutex;
  std::unordered_set<Tracked*> tracked;
  size_t peak = 0;
  std::atomic<bool> trimWanted{false};
  std::string tokenStamps;

  explicit Impl(ServeOptions o) : options(std::move(o)) {
    if (!options.tokens) throw std::runtime_error("the gateway needs its tokens");
    if (options.workers < 0 || options.workers > 1024) throw std::runtime_error("--threads must be 1 to 1024");
    workers = options.workers > 0 ? options.workers : static_cast<int>(std::thread::hardware_concurrency());
    workers = std::clamp(workers, 1, 1024);
    if (options.maxBody == 0 || options.batch.maxRequests == 0 || options.batch.maxAnswer == 0 ||
        options.maxConnections == 0 || options.maxConnectionsPerAddress == 0)
      throw std::runtime_error("the gateway's limits must be positive");
    if (options.batch.timeout.count() <= 0 || options.headTimeout.count() <= 0 || options.idleTimeout.count() <= 0 ||
        options.drainTimeout.count() <= 0)
      throw std::runtime_error("the gateway's time-outs must be positive");
    if (options.tlsCert.empty() != options.tlsKey.empty())
      throw std::runtime_error("--tls-cert and --tls-key go together");
    if (!options.tlsCert.empty()) {
      certPem = readFile(options.tlsCert);
      keyPem = readFile(options.tlsKey);
    }
    tokens = options.tokens;
    if (!options.root.empty()) tokenStamps = currentTokenStamps();
    batches = std::make_unique<BatchRunner>(options.batch, watchdog, OwnSources::ofRoot());
    addRoute({"POST", "/rpc", false, Access::Token, [this](const HttpRequest& req, HttpResponse& res) {
                BatchOutcome o = runBatch(req, *req.caller);
                res.status = o.status;
                res.body = std::move(o.body);
              }});
    addRoute({"GET", "/health", false, Access::Open, [this](const HttpRequest&, HttpResponse& res) { health(res); }});
    addRoute({"GET", "/metrics", false, Access::Token, [this](const HttpRequest&, HttpResponse& res) {
                res.contentType = "text/plain; version=0.0.4";
                res.body = metrics.text(workers, busy.load(), options.version, options.revision);
              }});
  }

  void addRoute(Route route) {
    for (Route& r : routes)
      if (r.method == route.method && r.path == route.path && r.prefix == route.prefix) {
        r = std::move(route);
        return;
      }
    routes.push_back(std::move(route));
  }

  BatchOutcome runBatch(const HttpRequest& req, const Caller& caller, BatchObserver* observer = nullptr) {
    ++busy;
    BatchOutcome o = batches->run(req.body, caller, req.arrival, observer);
    --busy;
    metrics.callErrors(caller.name, o.callErrors, o.refused);
    return o;
  }

  void health(HttpResponse& res) {
    // The thread's interrupt state is clear between batches; this runs its
    // statement like any batch would.
    try {
      mgt::startUp();
      mgt::sharedConnection()->execute("select 1");
      res.body = jsonText(Json{{"status", "ok"}});
    } catch (const com::ComError& e) {
      res.status = 503;
      res.body = jsonText(Json{{"status", "unavailable"}, {"error", e.description()}});
    } catch (const std::exception& e) {
      res.status = 503;
      res.body = jsonText(Json{{"status", "unavailable"}, {"error", e.what()}});
    }
  }

  // ---- libmicrohttpd's callbacks

  static MHD_Result onAccess(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                             const char* data, size_t* size, void** context) {
    auto* self = static_cast<Impl*>(cls);
    auto* ex = static_cast<Exchange*>(*context);
    if (!ex) {
      ex = new Exchange;
      *context = ex;
      ++self->inFlight;
      self->begin(c, url, method, *ex);
      return MHD_YES;
    }
    if (*size > 0) {
      if (!ex->queued) {
        // A body sent in chunks past the limit (one with a length was refused
        // at its head): no answer can be queued while it is read, so the
        // connection ends here.
        if (ex->request.body.size() + *size > self->options.maxBody) return MHD_NO;
        ex->request.body.append(data, *size);
      }
      *size = 0;
      return MHD_YES;
    }
    if (!ex->queued) self->answer(c, *ex);
    return MHD_YES;
  }

  // The head is in: the checks that need no body, and the route.
  void begin(MHD_Connection* c, const char* url, const char* method, Exchange& ex) {
    HttpRequest& req = ex.request;
    req.arrival = Clock::now();
    req.method = method;
    req.path = url;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    req.peer = addressText(info ? info->client_addr : nullptr);
    if (const MHD_ConnectionInfo* s = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
      ex.tracked = static_cast<Tracked*>(s->socket_context);
      std::lock_guard lock(trackMutex);
      if (ex.tracked) ex.tracked->deadline = Clock::time_point::max();
    }
    int lengths = 0, encodings = 0;
    auto headers = [](void* cls, MHD_ValueKind, const char* key, size_t, const char* value, size_t valueSize) {
      auto* e = static_cast<Exchange*>(cls);
      e->request.headers.emplace_back(key, std::string(value ? value : "", valueSize));
      return MHD_YES;
    };
    MHD_get_connection_values_n(c, MHD_HEADER_KIND, headers, &ex);
    for (const auto& [key, value] : req.headers) {
      lengths += strcasecmp(key.c_str(), "Content-Length") == 0;
      encodings += strcasecmp(key.c_str(), "Transfer-Encoding") == 0;
    }
    auto arguments = [](void* cls, MHD_ValueKind, const char* key, size_t, const char* value, size_t valueSize) {
      static_cast<Exchange*>(cls)->request.arguments.emplace_back(key, std::string(value ? value : "", valueSize));
      return MHD_YES;
    };
    MHD_get_connection_values_n(c, MHD_GET_ARGUMENT_KIND, arguments, &ex);

    if (!isMethod(req.method)) {
      ex.junk = true;
      return refuse(c, ex, 400, "Not a request");
    }
    const MHD_ConnectionInfo* head = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    if ((head && head->header_size > kMaxHeadBytes) || req.headers.size() > kMaxHeadLines)
      return refuse(c, ex, 431,
                    "A request head holds at most " + std::to_string(kMaxHeadBytes) + " bytes and " +
                        std::to_string(kMaxHeadLines) + " header lines");
    if (lengths > 1) return refuse(c, ex, 400, "The request has more than one Content-Length");
    if (lengths > 0 && encodings > 0)
      return refuse(c, ex, 400, "The request has both Content-Length and Transfer-Encoding");

    const Route* route = nullptr;
    const Route* samePath = nullptr;
    for (const Route& r : routes) {
      const bool matches = r.prefix ? req.path.rfind(r.path, 0) == 0 : req.path == r.path;
      if (!matches) continue;
      samePath = samePath ? samePath : &r;
      if (r.method == req.method || (req.method == "HEAD" && r.method == "GET")) route = &r;
    }
    const Route* gate = route ? route : samePath;
    if (!gate || gate->access == Access::Token) {
      static const std::string kBearer = "Bearer ";
      const std::string authorization = req.header("Authorization");
      const std::shared_ptr<const TokenTable> table = std::atomic_load(&tokens);
      if (authorization.compare(0, kBearer.size(), kBearer) == 0)
        req.caller = table->find(std::string_view(authorization).substr(kBearer.size()));
      if (!req.caller) {
        ex.response.headers.emplace_back("WWW-Authenticate", "Bearer");
        return refuse(c, ex, 401, "Unauthorized", kFail);
      }
      ex.callerName = req.caller->name;
    }
    if (!samePath) return refuse(c, ex, 404, "No such path: " + req.path);
    if (!route) {
      std::string allow;
      for (const Route& r : routes)
        if (r.path == samePath->path && r.prefix == samePath->prefix) allow += (allow.empty() ? "" : ", ") + r.method;
      ex.response.headers.emplace_back("Allow", allow);
      return refuse(c, ex, 405, req.method + " is not allowed on " + req.path + " (use " + allow + ")");
    }
    if (draining) return refuse(c, ex, 503, "The server is stopping");
    const std::string length = req.header("Content-Length");
    if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > options.maxBody)
      return refuse(c, ex, 413, "The request body is too large");
    ex.route = route;
  }

  // Answers at once, and closes the connection after the answer: a body
  // the request may still send is not read.
  void refuse(MHD_Connection* c, Exchange& ex, int status, const std::string& description,
              int32_t number = com::kInvalidArgument) {
    ex.response.status = status;
    ex.response.body = errorBody(number, description);
    queue(c, ex, true);
  }

  // The body is in: the route's handler, on this thread.
  void answer(MHD_Connection* c, Exchange& ex) {
    try {
      ex.route->handler(ex.request, ex.response);
    } catch (const std::exception& e) {
      ex.response = HttpResponse{};
      ex.response.status = 500;
      ex.response.body = errorBody(kFail, "Internal failure");
    }
    if (ex.callerName.empty()) ex.callerName = ex.response.callerName;
    queue(c, ex, draining);
  }

  void queue(MHD_Connection* c, Exchange& ex, bool close) {
    HttpResponse& res = ex.response;
    auto* body = new std::string(std::move(res.body));
    ex.answerBytes = body->size();
    MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
        body->size(), body->data(), [](void* text) { delete static_cast<std::string*>(text); }, body);
    if (!r) {
      delete body;
      return;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, res.contentType.c_str());
    for (const auto& [name, value] : res.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
    if (close) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
    ex.queued = MHD_queue_response(c, static_cast<unsigned>(res.status), r) == MHD_YES;
    MHD_destroy_response(r);
  }

  static void onCompleted(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    auto* self = static_cast<Impl*>(cls);
    auto* ex = static_cast<Exchange*>(*context);
    if (!ex) return;
    *context = nullptr;
    if (ex->queued) self->log(*ex);
    if (ex->answerBytes >= kLargeAnswer) self->trimWanted = true;
    if (ex->tracked) {
      std::lock_guard lock(self->trackMutex);
      // A kept-alive connection may idle, then its next head must come in time.
      ex->tracked->deadline = Clock::now() + self->options.idleTimeout + self->options.headTimeout;
    }
    delete ex;
    --self->inFlight;
  }

  static void onConnection(void* cls, MHD_Connection* c, void** socketContext, MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<Impl*>(cls);
    std::lock_guard lock(self->trackMutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* t = new Tracked;
      if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
        t->fd = fd->connect_fd;
      socklen_t len = sizeof t->peer;
      ::getpeername(t->fd, reinterpret_cast<sockaddr*>(&t->peer), &len);
      t->deadline = Clock::now() + self->options.headTimeout;
      self->tracked.insert(t);
      self->peak = std::max(self->peak, self->tracked.size());
      *socketContext = t;
      return;
    }
    auto* t = static_cast<Tracked*>(*socketContext);
    if (!t) return;
    self->tracked.erase(t);
    delete t;
    *socketContext = nullptr;
    // After a flood of connections, give the memory they held back.
    if (self->peak >= 64 && self->tracked.size() < self->peak / 4) {
      self->peak = self->tracked.size();
      self->trimWanted = true;
    }
  }

  // The request line is in: the rest of its head must follow in time.
  static void* onRequestLine(void* cls, const char*, MHD_Connection* c) {
    auto* self = static_cast<Impl*>(cls);
    if (const MHD_ConnectionInfo* s = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
      std::lock_guard lock(self->trackMutex);
      if (auto* t = static_cast<Tracked*>(s->socket_context))
        t->deadline = std::min(t->deadline, Clock::now() + self->options.headTimeout);
    }
    return nullptr;
  }

  void log(const Exchange& ex) {
    const double seconds = std::chrono::duration<double>(Clock::now() - ex.request.arrival).count();
    if (!ex.junk) metrics.request(ex.request.path, ex.response.status, seconds, ex.callerName);
    std::ostringstream line;
    line << ex.request.peer << " \"" << printable(ex.request.method) << ' ' << printable(ex.request.path) << "\" "
         << ex.response.status << ' ' << ex.answerBytes << ' ' << std::fixed << std::setprecision(3) << seconds * 1000
         << "ms " << (ex.callerName.empty() ? "-" : ex.callerName);
    if (options.accessLog)
      options.accessLog(line.str());
    else
      std::cerr << line.str() << '\n';
  }

  // ---- the housekeeper: slow heads, memory after floods, changed token files

  std::string currentTokenStamps() const {
    return fileStamp(tokensPath(options.root)) + "|" + fileStamp(options.root + "/ini/serve.token");
  }

  void housekeep() {
    auto lastTokenCheck = Clock::now();
    std::unique_lock stopLock(stopMutex);
    while (!ending) {
      stopChanged.wait_for(stopLock, std::chrono::milliseconds(100));
      stopLock.unlock();
      cutSlowHeads();
      if (trimWanted.exchange(false)) malloc_trim(0);
      if (!options.root.empty() && Clock::now() - lastTokenCheck >= std::chrono::seconds(1)) {
        lastTokenCheck = Clock::now();
        reloadTokens();
      }
      stopLock.lock();
    }
  }

  // Closes the connections whose head is late. One whose bytes wait unread
  // (every thread was busy) is left to the thread that will read them.
  void cutSlowHeads() {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(trackMutex);
    for (Tracked* t : tracked) {
      if (t->deadline > now) continue;
      int pending = 0;
      if (::ioctl(t->fd, FIONREAD, &pending) == 0 && pending > 0) continue;
      if (samePeer(*t)) ::shutdown(t->fd, SHUT_RDWR);
      t->deadline = Clock::time_point::max();
      metrics.slowHead();
    }
  }

  void reloadTokens() {
    const std::string stamps = currentTokenStamps();
    if (stamps == tokenStamps) return;
    tokenStamps = stamps;
    try {
      std::atomic_store(&tokens, TokenTable::load(options.root));
    } catch (const std::exception& e) {
      const std::string line = std::string("tokens not read again, the earlier ones stay: ") + e.what();
      if (options.accessLog)
        options.accessLog(line);
      else
        std::cerr << line << '\n';
    }
  }
};

std::string HttpRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  return "";
}

ServeServer::ServeServer(ServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ServeServer::~ServeServer() {
  stop();
  if (impl_->daemon) MHD_stop_daemon(impl_->daemon);
  if (impl_->housekeeper.joinable()) {
    {
      std::lock_guard lock(impl_->stopMutex);
      impl_->ending = true;
    }
    impl_->stopChanged.notify_all();
    impl_->housekeeper.join();
  }
}

void ServeServer::addRoute(Route route) { impl_->addRoute(std::move(route)); }

int ServeServer::bind() {
  Impl& s = *impl_;
  const ServeOptions& o = s.options;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string where = o.host + ":" + std::to_string(o.port);
  if (::getaddrinfo(o.host.c_str(), std::to_string(o.port).c_str(), &hints, &found) != 0 || !found)
    throw std::runtime_error("cannot listen on " + where + ": unknown address");
  int fd = -1, family = AF_INET;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 1024) != 0) {
      ::close(fd);
      fd = -1;
    }
    family = a->ai_family;
  }
  ::freeaddrinfo(found);
  if (fd < 0) throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(errno));
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  const int port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

  const unsigned idleSeconds = static_cast<unsigned>(std::max<int64_t>(1, (o.idleTimeout.count() + 999) / 1000));
  std::vector<MHD_OptionItem> items = {
      {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
      {MHD_OPTION_THREAD_POOL_SIZE, s.workers, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(o.maxConnections), nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(o.maxConnectionsPerAddress), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::onCompleted), &s},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Impl::onConnection), &s},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Impl::onRequestLine), &s},
  };
  // poll(), not epoll: quiescing an epoll daemon whose threads run their own loops races inside the
  // library (a worker and the quiescing thread both take the listener out of the epoll set, and the
  // loser aborts the process). With poll() the workers simply stop listening at their next wake-up.
  unsigned flags = MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_TURBO;
  if (family == AF_INET6) flags |= MHD_USE_IPv6;
  if (!s.certPem.empty()) {
    flags |= MHD_USE_TLS;
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, s.keyPem.data()});
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, s.certPem.data()});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  s.daemon =
      MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::onAccess, &s, MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
  if (!s.daemon) {
    ::close(fd);
    throw std::runtime_error("cannot serve on " + where +
                             (s.certPem.empty() ? std::string() : " (does the TLS certificate or key not load?)"));
  }
  s.listenFd = fd;
  s.housekeeper = std::thread([&s] { s.housekeep(); });
  return port;
}

void ServeServer::run() {
  Impl& s = *impl_;
  {
    std::unique_lock lock(s.stopMutex);
    s.stopChanged.wait(lock, [&s] { return s.stopRequested; });
  }
  if (!s.daemon) return;
  // No new connections; requests on open ones are answered 503.
  s.draining = true;
  const int listen = MHD_quiesce_daemon(s.daemon);
  if (listen >= 0) ::close(listen);
  const auto waitIdle = [&s](Clock::time_point until) {
    while (s.inFlight > 0 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  waitIdle(Clock::now() + s.options.drainTimeout);
  if (s.inFlight > 0) {
    // What still runs is interrupted; its batches answer the time-out at once.
    s.watchdog.interruptAll();
    waitIdle(Clock::now() + std::chrono::seconds(2));
  }
  MHD_stop_daemon(s.daemon);
  s.daemon = nullptr;
}

void ServeServer::stop() {
  {
    std::lock_guard lock(impl_->stopMutex);
    impl_->stopRequested = true;
  }
  impl_->stopChanged.notify_all();
}

BatchOutcome ServeServer::runBatch(const HttpRequest& request, const Caller& caller, BatchObserver* observer) {
  return impl_->runBatch(request, caller, observer);
}

bool ServeServer::tls() const { return !impl_->certPem.empty(); }

}  // namespace tivel::tool
