#include "tools/tivel/serve/server.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>

#include "mgt/common/health.h"
#include "platform/ado/interrupt.h"
#include "platform/codes/result_codes.h"
#include "platform/com/error.h"
#include "tools/tivel/rpc/error.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/login_audit.h"
#include "tools/tivel/serve/metrics.h"
#include "tools/tivel/serve/systemd.h"
#include "tools/tivel/serve/watchdog.h"
#include "tools/tivel/serve/worker_pool.h"

namespace tivel::tool {
namespace {

using Clock = std::chrono::steady_clock;

// Each connection's memory: its request head (at most kMaxHeadBytes, refused
// above), the parsed headers and the buffer bodies are read through.
constexpr size_t kConnectionMemory = kMaxHeadBytes + 32 * 1024;
// A finished answer at least this large asks for the allocator's free
// memory to be given back to the system.
constexpr size_t kLargeAnswer = size_t{1} << 20;
// A body over its route's limit is read and dropped, so that a client that
// sends it whole before reading (most do, without Expect: 100-continue) gets
// the 413; past this many bytes the connection is closed instead.
constexpr size_t kMostDiscarded = size_t{64} << 20;
// /health's database check ends (interrupted) after this.
constexpr std::chrono::milliseconds kHealthDeadline{2000};
// What a 503 for a full lane tells the client to wait, in seconds.
constexpr const char* kRetryAfter = "1";
// A streamed body's bytes that wait for the client at most (plus the part
// being added), and the size of the blocks the library asks for.
constexpr size_t kStreamBuffer = 64 * 1024;
constexpr size_t kStreamBlock = 16 * 1024;
// A streamed body must be out within this many transfer times, however
// steadily the client reads.
constexpr int kStreamTransfers = 20;

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

// A streamed body between the worker that writes it and the HTTP thread
// that sends it. The worker waits while kStreamBuffer bytes are unsent; the
// HTTP thread, finding nothing to send yet, sets the connection aside until
// the worker adds a part or ends the body.
class BodyStream {
 public:
  // The worker stops waiting (and the body is cut) at `deadline` or when the
  // client has taken nothing for `stall`.
  BodyStream(std::chrono::milliseconds stall, Clock::time_point deadline) : stall_(stall), deadline_(deadline) {}

  // The worker's side: false when the client is gone or too slow.
  bool write(std::string_view part) {
    std::unique_lock lock(mutex_);
    const Clock::time_point until = std::min(Clock::now() + stall_, deadline_);
    if (!room_.wait_until(lock, until, [this] { return closed_ || buffer_.size() < kStreamBuffer; })) cut_ = true;
    if (closed_ || cut_) return false;
    buffer_.append(part);
    resume(lock);
    return true;
  }
  // The body ends; cut short unless `whole`.
  void finish(bool whole) {
    std::unique_lock lock(mutex_);
    done_ = true;
    cut_ = cut_ || !whole;
    resume(lock);
  }

  // The HTTP thread's side (the library's reader): bytes to send, the end,
  // or 0 with the connection set aside until there is more.
  ssize_t read(MHD_Connection* c, char* to, size_t most) {
    std::lock_guard lock(mutex_);
    if (!buffer_.empty()) {
      const size_t n = std::min(most, buffer_.size());
      std::memcpy(to, buffer_.data(), n);
      buffer_.erase(0, n);
      room_.notify_all();
      return static_cast<ssize_t>(n);
    }
    if (cut_) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (done_) return MHD_CONTENT_READER_END_OF_STREAM;
    connection_ = c;
    MHD_suspend_connection(c);
    return 0;
  }
  // The client's connection is done with the body (sent, closed or cut).
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    std::string().swap(buffer_);
    room_.notify_all();
  }
  Clock::time_point deadline() const { return deadline_; }

 private:
  // Lets a connection set aside go on; outside the lock, as the library
  // takes its own. Only the worker resumes, and the connection stays aside
  // until it does, so nothing else can touch `c` in between.
  void resume(std::unique_lock<std::mutex>& lock) {
    MHD_Connection* c = std::exchange(connection_, nullptr);
    lock.unlock();
    if (c) MHD_resume_connection(c);
  }

  const std::chrono::milliseconds stall_;
  const Clock::time_point deadline_;
  std::mutex mutex_;
  std::condition_variable room_;
  std::string buffer_;
  MHD_Connection* connection_ = nullptr;  // set aside by read(), waiting for the worker
  bool done_ = false, cut_ = false, closed_ = false;
};

// A connection as the gateway's clock sees it: when the head of its next
// request, its body, or its answer must be through (time_point::max() while
// a worker runs its handler).
struct Tracked {
  int fd = -1;
  sockaddr_storage peer{};
  Clock::time_point deadline;
  bool head = true;        // the deadline is a head's (else a body's or an answer's)
  bool badTarget = false;  // the request line's target holds a control character, raw or percent-encoded
};

// One request and its answer, from its head to the answer's last byte.
struct Exchange {
  HttpRequest request;
  HttpResponse response;
  const Route* route = nullptr;
  std::string callerName;
  Tracked* tracked = nullptr;
  bool queued = false;    // the answer is on its way
  bool overflow = false;  // the body passed the route's limit: it is read and dropped, then 413
  bool junk = false;      // no request at all (a method that is no word): not timed
  bool handed = false;    // given to a lane; the connection waits until `ready`
  std::atomic<bool> ready{false};
  std::shared_ptr<BodyStream> stream;  // a streamed body, set by the worker before `ready`
  size_t limit = 0;                    // the route's body limit
  size_t received = 0;                 // body bytes read (kept or dropped)
  size_t anonymous = 0;                // bytes of the open routes' memory this request holds
  size_t answerBytes = 0;
};

// Whether a target as the client sent it holds a control character, raw or
// percent-encoded (%00 to %1f, %7f): such a path would name another route
// after decoding than before.
bool controlInTarget(const char* uri) {
  auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  for (const char* p = uri; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '%' && hex(p[1]) && hex(p[2]))
      c = static_cast<unsigned char>(std::stoi(std::string(p + 1, 2), nullptr, 16));
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// A header as the library left it in its read buffer.
struct RawHeader {
  const char* key;
  const char* value;
  size_t valueSize;
};

// Whether a head was sent line by line as HTTP/1.1 asks: every line ended
// by CR LF, no header line folded onto the next, no NUL inside a value.
// The library parses the head in place, from the request line's first byte
// (`head`, `size` bytes in all), replacing the CR and LF of each line end
// (and the colon after a name) with NUL; it also takes a bare LF as a line
// end, joins folded lines into a copy of the value elsewhere, and ends a
// value at its first NUL. So: before each header's name and at the head's
// end there must be two NULs (CR LF), between a value and the next line
// only blanks and NULs, and every name and value must lie in the head. When
// the target does not lie in the head (a library that copies what it parses)
// there is nothing to judge by, and the head passes.
bool sentLineByLine(const char* head, size_t size, const char* target, const std::vector<RawHeader>& raw) {
  const char* end = head + size;
  const auto inside = [&](const char* p) { return p >= head && p <= end; };
  if (!head || !target || target < head || target >= end) return true;
  const auto crlfBefore = [&](const char* p) { return p - head >= 2 && p[-1] == '\0' && p[-2] == '\0'; };
  for (size_t i = 0; i < raw.size(); ++i) {
    const RawHeader& h = raw[i];
    const char* value = h.value ? h.value : h.key;
    const char* valueEnd = value + h.valueSize;
    if (!inside(h.key) || !inside(value) || !inside(valueEnd) || !crlfBefore(h.key)) return false;
    const char* next = i + 1 < raw.size() ? raw[i + 1].key : end - 2;
    if (next < valueEnd) return false;
    for (const char* p = valueEnd; p < next; ++p)
      if (*p != '\0' && *p != ' ' && *p != '\t') return false;
  }
  return size >= 4 && crlfBefore(end) && crlfBefore(end - 2);
}

// Whether a header name or value holds a control character (a value may hold tabs).
bool controlIn(std::string_view text, bool tabs) {
  for (unsigned char c : text)
    if ((c < 0x20 && !(tabs && c == '\t')) || c == 0x7f) return true;
  return false;
}

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

// A method or a header name is a word of letters, digits and a few marks (a "token").
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
  SessionCheck sessionCheck;  // of Session and SessionCsrf routes; set before bind()
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
  std::atomic<size_t> anonymousBytes{0};  // bodies held for open routes
  std::atomic<uint64_t> accepted{0};      // connections the HTTP threads took (the watchdog's sign of life)
  std::unique_ptr<WorkerPool> batchLane, quickLane, healthLane;

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
    if (options.quickWorkers < 1 || options.quickWorkers > 64)
      throw std::runtime_error("the quick lane has 1 to 64 workers");
    if (options.transferTimeout.count() <= 0 || options.maxAnonymousMemory == 0)
      throw std::runtime_error("the gateway's limits must be positive");
    batches = std::make_unique<BatchRunner>(options.batch, watchdog, OwnSources::ofRoot());
    addRoute({"POST", "/rpc", false, Access::Token, [this](const HttpRequest& req, HttpResponse& res) {
                BatchOutcome o = runBatch(req, *req.caller);
                res.status = o.status;
                res.body = std::move(o.body);
              }});
    addRoute({"GET", "/health", false, Access::Open, [this](const HttpRequest&, HttpResponse& res) { health(res); },
              Lane::Health, 1});
    addRoute({"GET", "/metrics", false, Access::Token,
              [this](const HttpRequest&, HttpResponse& res) {
                res.contentType = "text/plain; version=0.0.4";
                res.body = metrics.text(workers, busy.load(), options.version, options.revision) +
                           "# HELP tivel_serve_queued Batches waiting for a worker.\n# TYPE tivel_serve_queued "
                           "gauge\ntivel_serve_queued " +
                           std::to_string(batchLane->waiting()) +
                           "\n# HELP tivel_serve_open_body_bytes Bytes of bodies held for routes that need no "
                           "token.\n# TYPE tivel_serve_open_body_bytes gauge\ntivel_serve_open_body_bytes " +
                           std::to_string(anonymousBytes.load()) + "\n";
              },
              Lane::Inline});
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
    audit::BatchAddress address(req.peer);
    BatchOutcome o = batches->run(req.body, caller, req.arrival, observer);
    --busy;
    metrics.callErrors(caller.name, o.callErrors, o.refused);
    return o;
  }

  void health(HttpResponse& res) {
    // On a worker of its own, never behind batches or sign-ins; the statement is
    // interrupted when the database does not answer in time.
    try {
      ado::threadInterrupts()->reset();
      Deadline deadline(watchdog, Clock::now() + kHealthDeadline);
      mgt::checkDatabase();
      if (deadline.passed())
        throw std::runtime_error("the database did not answer within " + std::to_string(kHealthDeadline.count()) +
                                 " ms");
      res.body = jsonText(Json{{"status", "ok"}});
    } catch (const com::ComError& e) {
      res.status = 503;
      res.body = jsonText(Json{{"status", "unavailable"}, {"error", com::describe(e)}});
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
      const size_t n = *size;
      *size = 0;
      if (ex->queued || !ex->route) return MHD_YES;
      ex->received += n;
      if (ex->overflow || ex->received > ex->limit) {
        // Past the route's limit (a length that said so, or chunks that
        // went on): dropped as it comes, the 413 follows the body's end.
        ex->overflow = true;
        self->holdAnonymous(*ex, 0);
        std::string().swap(ex->request.body);
        return ex->received > kMostDiscarded ? MHD_NO : MHD_YES;
      }
      // A chunked body of an open route is held as it grows.
      if (ex->route->access != Access::Token && ex->received > ex->anonymous && !self->holdAnonymous(*ex, ex->received))
        return MHD_NO;
      ex->request.body.append(data, n);
      return MHD_YES;
    }
    if (ex->queued || !ex->route) return MHD_YES;
    if (ex->handed) {
      // The lane's worker is done and let the connection go on.
      if (ex->ready.load(std::memory_order_acquire)) self->queue(c, *ex, self->draining);
      return MHD_YES;
    }
    if (ex->overflow) {
      self->refuse(c, *ex, 413, "The request body is too large (at most " + std::to_string(ex->limit) + " bytes)");
      return MHD_YES;
    }
    self->dispatch(c, *ex);
    return MHD_YES;
  }

  // Keeps `bytes` of an open route's body in the total those routes may
  // hold; false (and nothing held) when the total would pass its cap.
  bool holdAnonymous(Exchange& ex, size_t bytes) {
    if (bytes > ex.anonymous) {
      const size_t more = bytes - ex.anonymous;
      if (anonymousBytes.fetch_add(more) + more > options.maxAnonymousMemory) {
        anonymousBytes -= more;
        return false;
      }
    } else {
      anonymousBytes -= ex.anonymous - bytes;
    }
    ex.anonymous = bytes;
    return true;
  }

  // The body is in: its handler, on the HTTP thread for inline routes, else
  // on a worker of the route's lane while the connection waits aside.
  void dispatch(MHD_Connection* c, Exchange& ex) {
    if (ex.route->lane == Lane::Inline) return answer(c, ex);
    WorkerPool& lane = ex.route->lane == Lane::Quick    ? *quickLane
                       : ex.route->lane == Lane::Health ? *healthLane
                                                        : *batchLane;
    if (!lane.reserve()) {
      ex.response.headers.emplace_back("Retry-After", kRetryAfter);
      ex.response.status = 503;
      ex.response.body = errorBody(codes::kFail, "Every worker is busy; try again later");
      return queue(c, ex, draining);
    }
    setDeadline(ex, Clock::time_point::max(), false);
    ex.handed = true;
    MHD_suspend_connection(c);
    lane.post([this, c, e = &ex] {
      run(*e);
      // A streamed body is written here, on this worker, once the head is
      // on its way; `e` may be gone by then (the client closed).
      BodyProducer producer = std::move(e->response.producer);
      std::shared_ptr<BodyStream> stream;
      if (producer) {
        const Clock::time_point now = Clock::now();
        stream =
            std::make_shared<BodyStream>(options.transferTimeout, now + kStreamTransfers * options.transferTimeout);
        e->stream = stream;
      }
      e->ready.store(true, std::memory_order_release);
      MHD_resume_connection(c);
      if (!producer) return;
      bool whole = false;
      try {
        whole = producer([&stream](std::string_view part) { return stream->write(part); });
      } catch (const std::exception&) {
        whole = false;
      }
      stream->finish(whole);
    });
  }

  void setDeadline(Exchange& ex, Clock::time_point at, bool head) {
    if (!ex.tracked) return;
    std::lock_guard lock(trackMutex);
    ex.tracked->deadline = at;
    ex.tracked->head = head;
  }

  // The head is in: the checks that need no body, and the route.
  void begin(MHD_Connection* c, const char* url, const char* method, Exchange& ex) {
    HttpRequest& req = ex.request;
    req.arrival = Clock::now();
    req.method = method;
    req.path = url;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    req.peer = addressText(info ? info->client_addr : nullptr);
    bool badTarget = false;
    if (const MHD_ConnectionInfo* s = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
      ex.tracked = static_cast<Tracked*>(s->socket_context);
      std::lock_guard lock(trackMutex);
      if (ex.tracked) {
        // The body, when one comes, must be in within the transfer time.
        ex.tracked->deadline = req.arrival + options.transferTimeout;
        ex.tracked->head = false;
        badTarget = ex.tracked->badTarget;
      }
    }
    int lengths = 0, encodings = 0;
    std::vector<RawHeader> raw;
    auto headers = [](void* cls, MHD_ValueKind, const char* key, size_t, const char* value, size_t valueSize) {
      static_cast<std::vector<RawHeader>*>(cls)->push_back({key, value, value ? valueSize : 0});
      return MHD_YES;
    };
    MHD_get_connection_values_n(c, MHD_HEADER_KIND, headers, &raw);
    for (const RawHeader& h : raw) req.headers.emplace_back(h.key, std::string(h.value ? h.value : "", h.valueSize));
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
    // Heads another parser could read differently are refused: a control
    // character (NUL included) in the target or a header value, a header
    // name that is no token ("Transfer-Encoding :").
    bool badHeader = false;
    for (const auto& [key, value] : req.headers) badHeader = badHeader || !isMethod(key) || controlIn(value, true);
    for (const auto& [key, value] : req.arguments)
      badTarget = badTarget || controlIn(key, false) || controlIn(value, false);
    if (badTarget || controlIn(req.path, false)) return refuse(c, ex, 400, "A control character in the request target");
    if (badHeader) return refuse(c, ex, 400, "A header name that is no token, or a control character in a value");
    const MHD_ConnectionInfo* head = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    if ((head && head->header_size > kMaxHeadBytes) || req.headers.size() > kMaxHeadLines)
      return refuse(c, ex, 431,
                    "A request head holds at most " + std::to_string(kMaxHeadBytes) + " bytes and " +
                        std::to_string(kMaxHeadLines) + " header lines");
    if (head && !sentLineByLine(method, head->header_size, url, raw))
      return refuse(c, ex, 400, "Every line of a request head ends with CR LF, and no header line is folded");
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
        return refuse(c, ex, 401, "Unauthorized", codes::kFail);
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
    ex.route = route;
    ex.limit = route->maxBody ? route->maxBody : route->access != Access::Token ? kOpenBodyLimit : options.maxBody;
    const std::string length = req.header("Content-Length");
    const unsigned long long declared = length.empty() ? 0 : std::strtoull(length.c_str(), nullptr, 10);
    if (declared > ex.limit) {
      // A client that waits for 100 Continue sends nothing more; one that
      // sends the body anyway gets the answer once it is read (and dropped).
      const std::string expect = req.header("Expect");
      if (strcasecmp(expect.c_str(), "100-continue") == 0 || declared > kMostDiscarded)
        return refuse(c, ex, 413, "The request body is too large (at most " + std::to_string(ex.limit) + " bytes)");
      ex.overflow = true;
    } else if (route->access != Access::Token && declared > 0 && !holdAnonymous(ex, declared)) {
      // Bodies anyone may send share one cap; the declared length is held from the head on.
      ex.response.headers.emplace_back("Retry-After", kRetryAfter);
      return refuse(c, ex, 503, "Too many requests without a token are being read; try again later", codes::kFail);
    } else if (route->access != Access::Token) {
      req.body.reserve(declared);
    }
  }

  // Answers at once, and closes the connection after the answer: a body
  // the request may still send is not read.
  void refuse(MHD_Connection* c, Exchange& ex, int status, const std::string& description,
              int32_t number = com::kInvalidArgument) {
    ex.response.status = status;
    ex.response.body = errorBody(number, description);
    queue(c, ex, true);
  }

  // An inline route's handler, on this HTTP thread.
  void answer(MHD_Connection* c, Exchange& ex) {
    run(ex);
    if (BodyProducer producer = std::move(ex.response.producer)) {
      // Never on an HTTP thread: the body is written whole first.
      try {
        producer([&ex](std::string_view part) {
          ex.response.body.append(part);
          return true;
        });
      } catch (const std::exception&) {
        ex.response.body.clear();
      }
    }
    queue(c, ex, draining);
  }

  // Whether the request may reach its route's handler: a Session or
  // SessionCsrf route's session, checked on the lane (the check may read a
  // database), is put in the request; without one the check's refusal is the
  // answer. A refusal that says nothing, or no check at all, is a 401.
  bool sessionAllowed(Exchange& ex) {
    const Access access = ex.route->access;
    if (access != Access::Session && access != Access::SessionCsrf) return true;
    if (sessionCheck) ex.request.session = sessionCheck(ex.request, ex.response, access == Access::SessionCsrf);
    if (ex.request.session) return true;
    if (ex.response.status < 400) {
      ex.response.status = 401;
      ex.response.body = errorBody(codes::kFail, "No session");
    }
    return false;
  }

  // The route's handler, on whichever thread the lane gives it.
  void run(Exchange& ex) {
    try {
      if (sessionAllowed(ex)) ex.route->handler(ex.request, ex.response);
    } catch (const std::exception& e) {
      ex.response = HttpResponse{};
      ex.response.status = 500;
      ex.response.body = errorBody(codes::kFail, "Internal failure");
    }
    if (ex.callerName.empty()) ex.callerName = ex.response.callerName;
  }

  // What the library's reader of a streamed body holds.
  struct StreamReader {
    Impl* server;
    MHD_Connection* connection;
    Exchange* exchange;  // read only while the library sends, so while it lives
    std::shared_ptr<BodyStream> stream;
  };

  static ssize_t readStream(void* cls, uint64_t, char* to, size_t most) {
    auto* r = static_cast<StreamReader*>(cls);
    const ssize_t n = r->stream->read(r->connection, to, most);
    if (n > 0) {
      // Bytes taken: the client has the transfer time again for the next ones.
      r->exchange->answerBytes += static_cast<size_t>(n);
      r->server->setDeadline(*r->exchange,
                             std::min(Clock::now() + r->server->options.transferTimeout, r->stream->deadline()), false);
    } else if (n == 0) {
      // Set aside until the worker writes: the worker's time, not the client's.
      r->server->setDeadline(*r->exchange, Clock::time_point::max(), false);
    }
    return n;
  }

  void queue(MHD_Connection* c, Exchange& ex, bool close) {
    HttpResponse& res = ex.response;
    MHD_Response* r = nullptr;
    if (ex.stream) {
      auto* reader = new StreamReader{this, c, &ex, ex.stream};
      r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &Impl::readStream, reader, [](void* cls) {
        auto* reader = static_cast<StreamReader*>(cls);
        reader->stream->close();
        delete reader;
      });
      if (!r) {
        ex.stream->close();
        delete reader;
        return;
      }
    } else {
      auto* body = new std::string(std::move(res.body));
      ex.answerBytes = body->size();
      r = MHD_create_response_from_buffer_with_free_callback_cls(
          body->size(), body->data(), [](void* text) { delete static_cast<std::string*>(text); }, body);
      if (!r) {
        delete body;
        return;
      }
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, res.contentType.c_str());
    for (const auto& [name, value] : res.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
    if (close) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
    ex.queued = MHD_queue_response(c, static_cast<unsigned>(res.status), r) == MHD_YES;
    MHD_destroy_response(r);
    // The answer must be out within the transfer time.
    setDeadline(ex, Clock::now() + options.transferTimeout, false);
  }

  static void onCompleted(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    auto* self = static_cast<Impl*>(cls);
    auto* ex = static_cast<Exchange*>(*context);
    if (!ex) return;
    *context = nullptr;
    if (ex->stream) ex->stream->close();
    if (ex->queued) self->log(*ex);
    if (ex->answerBytes >= kLargeAnswer) self->trimWanted = true;
    self->holdAnonymous(*ex, 0);
    // A kept-alive connection may idle, then its next head must come in time.
    self->setDeadline(*ex, Clock::now() + self->options.idleTimeout + self->options.headTimeout, true);
    delete ex;
    --self->inFlight;
  }

  static void onConnection(void* cls, MHD_Connection* c, void** socketContext, MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<Impl*>(cls);
    std::lock_guard lock(self->trackMutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      ++self->accepted;
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

  // The request line is in: the rest of its head must follow in time. The
  // target is seen here as the client sent it, before it is decoded.
  static void* onRequestLine(void* cls, const char* uri, MHD_Connection* c) {
    auto* self = static_cast<Impl*>(cls);
    if (const MHD_ConnectionInfo* s = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
      std::lock_guard lock(self->trackMutex);
      if (auto* t = static_cast<Tracked*>(s->socket_context)) {
        t->deadline = std::min(t->deadline, Clock::now() + self->options.headTimeout);
        t->head = true;
        t->badTarget = uri && controlInTarget(uri);
      }
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

  // ---- the housekeeper: slow transfers, memory after floods, changed token
  // files, and the service manager's watchdog

  std::string currentTokenStamps() const {
    return fileStamp(tokensPath(options.root)) + "|" + fileStamp(options.root + "/ini/serve.token");
  }

  void housekeep() {
    auto lastTokenCheck = Clock::now();
    const auto watchdogInterval = serviceWatchdogInterval();
    auto lastFed = Clock::now() - watchdogInterval;
    std::unique_lock stopLock(stopMutex);
    while (!ending) {
      stopChanged.wait_for(stopLock, std::chrono::milliseconds(100));
      stopLock.unlock();
      if (watchdogInterval.count() > 0 && Clock::now() - lastFed >= watchdogInterval / 3) {
        // While it stops, the drain is bounded anyway: the watchdog is fed without a probe.
        if (draining || httpThreadsAlive()) {
          notifyServiceManager("WATCHDOG=1");
          lastFed = Clock::now();
        }
      }
      cutSlowHeads();
      if (trimWanted.exchange(false)) malloc_trim(0);
      if (!options.root.empty() && Clock::now() - lastTokenCheck >= std::chrono::seconds(1)) {
        lastTokenCheck = Clock::now();
        reloadTokens();
      }
      stopLock.lock();
    }
  }

  // Whether an HTTP thread takes a new connection within a second: the
  // housekeeper connects to the listener and waits for the library to accept.
  bool httpThreadsAlive() {
    sockaddr_storage where{};
    socklen_t len = sizeof where;
    if (::getsockname(listenFd, reinterpret_cast<sockaddr*>(&where), &len) != 0) return false;
    if (where.ss_family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&where);
      if (a->sin_addr.s_addr == htonl(INADDR_ANY)) a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else if (where.ss_family == AF_INET6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&where);
      if (IN6_IS_ADDR_UNSPECIFIED(&a->sin6_addr)) a->sin6_addr = in6addr_loopback;
    }
    const int fd = ::socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const uint64_t before = accepted.load();
    bool alive = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&where), len) == 0)
      for (int i = 0; i < 100 && !alive; ++i) {
        alive = accepted.load() != before;
        if (!alive) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    ::close(fd);
    return alive;
  }

  // Closes the connections whose head, body or answer is late. A head whose
  // bytes wait unread is left to the thread that will read them.
  void cutSlowHeads() {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(trackMutex);
    for (Tracked* t : tracked) {
      if (t->deadline > now) continue;
      int pending = 0;
      if (t->head && ::ioctl(t->fd, FIONREAD, &pending) == 0 && pending > 0) continue;
      if (samePeer(*t)) ::shutdown(t->fd, SHUT_RDWR);
      t->deadline = Clock::time_point::max();
      if (t->head)
        metrics.slowHead();
      else
        metrics.slowTransfer();
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
  if (impl_->daemon) {
    impl_->batchLane->waitIdle();
    impl_->quickLane->waitIdle();
    impl_->healthLane->waitIdle();
    MHD_stop_daemon(impl_->daemon);
  }
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

void ServeServer::setSessionCheck(SessionCheck check) { impl_->sessionCheck = std::move(check); }

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
      // The HTTP threads only read and write; more than the cores would only add switching.
      {MHD_OPTION_THREAD_POOL_SIZE,
       std::clamp(s.workers, 1, std::max(1, static_cast<int>(std::thread::hardware_concurrency()))), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(o.maxConnections), nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(o.maxConnectionsPerAddress), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::onCompleted), &s},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Impl::onConnection), &s},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Impl::onRequestLine), &s},
      {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
  };
  // poll(), not epoll: quiescing an epoll daemon whose threads run their own loops races inside the
  // library (a worker and the quiescing thread both take the listener out of the epoll set, and the
  // loser aborts the process). With poll() the workers simply stop listening at their next wake-up.
  unsigned flags = MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
  if (family == AF_INET6) flags |= MHD_USE_IPv6;
  s.batchLane = std::make_unique<WorkerPool>(s.workers, o.maxQueued);
  s.quickLane = std::make_unique<WorkerPool>(o.quickWorkers, 16);
  s.healthLane = std::make_unique<WorkerPool>(1, 8);
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
  // Every connection a worker holds aside must be back before the library
  // stops; a job that ignores the interrupt (a directory's bind) ends within
  // its own time-out, and `tivel serve` bounds the whole stop anyway.
  s.batchLane->waitIdle();
  s.quickLane->waitIdle();
  s.healthLane->waitIdle();
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
