// The directory side of the login: one short LDAP session per check, every
// wait bounded by what is left of the check's time.
//
// Only the asynchronous calls of the client library are used, each answer
// awaited with ldap_result and the time that is left, so a server that
// accepts the connection and never answers ends the check on time. The
// library's network time-out bounds connecting. The TLS handshake is not
// bounded by the library (a server that accepts and never answers keeps an
// ldaps:// handshake waiting), so a watchdog shuts the connection's socket
// down when the check's time is up: whatever the library is waiting for
// then fails at once.
#include "mgt/admin/directory.h"

#include <ldap.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/com/error.h"

namespace tivel::mgt::directory {
namespace {

using Clock = std::chrono::steady_clock;

// A check that cannot go on: the directory is unavailable, for `cause`.
struct Unavailable {
  std::string cause;
};
// The directory answered no.
struct Refused {
  std::string cause;
};

std::string hex2(unsigned char c) {
  static const char* const kDigits = "0123456789abcdef";
  return {'\\', kDigits[c >> 4], kDigits[c & 15]};
}

// `tmpl` with every "{account}" replaced by `value`.
std::string fill(const std::string& tmpl, const std::string& value) {
  std::string out;
  for (size_t i = 0; i < tmpl.size();) {
    if (tmpl.compare(i, 9, "{account}") == 0) {
      out += value;
      i += 9;
    } else {
      out += tmpl[i++];
    }
  }
  return out;
}

bool hasPlaceholder(const std::string& tmpl) { return tmpl.find("{account}") != std::string::npos; }

// The parent of a DN template: what follows its first unescaped comma.
std::string parentOf(const std::string& dn) {
  for (size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == '\\')
      ++i;
    else if (dn[i] == ',')
      return dn.substr(i + 1);
  }
  return "";
}

// The service account's password: the first line of an owner-only file.
std::string servicePassword(const DirectoryOptions& o) {
  struct stat st {};
  if (::stat(o.bindPasswordFile.c_str(), &st) != 0)
    throw Unavailable{"bind_password_file " + o.bindPasswordFile + " cannot be read"};
  if ((st.st_mode & 077) != 0)
    throw Unavailable{"bind_password_file " + o.bindPasswordFile +
                      " may be read by others (it must be 0600): not used"};
  std::ifstream in(o.bindPasswordFile, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) throw Unavailable{"bind_password_file " + o.bindPasswordFile + " is empty"};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw Unavailable{"bind_password_file " + o.bindPasswordFile + " holds an empty password"};
  return line;
}

// Shuts a socket down at a deadline unless told to stop first. The socket is
// forgotten before it is closed, so a number reused by another file is never touched.
class Watchdog {
 public:
  explicit Watchdog(Clock::time_point deadline) : deadline_(deadline) {}
  ~Watchdog() { stop(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Watches `fd` from now on (the first call starts the watch).
  void watch(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    if (!thread_.joinable() && !stopped_) thread_ = std::thread([this] { run(); });
  }
  void forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = -1;
  }
  // True once the watchdog has shut the socket down.
  bool fired() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
  }
  // Moves the deadline.
  void extend(Clock::time_point deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      deadline_ = deadline;
    }
    wake_.notify_all();
  }
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
      fd_ = -1;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopped_) {
      if (Clock::now() >= deadline_) {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        fired_ = fd_ >= 0;
        return;
      }
      wake_.wait_until(lock, deadline_);
    }
  }

  Clock::time_point deadline_;
  std::mutex mutex_;
  std::condition_variable wake_;
  int fd_ = -1;
  bool stopped_ = false, fired_ = false;
  std::thread thread_;
};

// Keeps SIGPIPE from this thread while it lives: writing to a connection the
// server (or the watchdog) closed must fail that write, not end the process.
// A SIGPIPE raised meanwhile is taken off the thread before it is unblocked.
class NoSigpipe {
 public:
  NoSigpipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
  }
  ~NoSigpipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      timespec none{0, 0};
      while (sigtimedwait(&pipe, nullptr, &none) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  NoSigpipe(const NoSigpipe&) = delete;
  NoSigpipe& operator=(const NoSigpipe&) = delete;

 private:
  sigset_t old_;
  bool wasPending_ = false;
};

// One LDAP session with a deadline. Failures throw Unavailable.
class Session {
 public:
  Session(const DirectoryOptions& o, Clock::time_point deadline)
      : options_(o), deadline_(deadline), watchdog_(std::make_unique<Watchdog>(deadline)) {}
  ~Session() {
    watchdog_->stop();
    if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Prepares the connection; with StartTLS, connects and switches to TLS.
  void open() {
    const std::string& url = options_.url;
    bool ldaps = url.rfind("ldaps://", 0) == 0;
    if (!ldaps && url.rfind("ldap://", 0) != 0) throw Unavailable{"url " + url + " is neither ldap:// nor ldaps://"};
    // The library initialises its defaults and TLS on first use: one thread at a time.
    static std::mutex setup;
    std::unique_lock<std::mutex> setupLock(setup);
    if (int rc = ldap_initialize(&ld_, url.c_str()); rc != LDAP_SUCCESS)
      throw Unavailable{"url " + url + " cannot be used: " + ldap_err2string(rc)};
    int version = LDAP_VERSION3;
    set(LDAP_OPT_PROTOCOL_VERSION, &version, "protocol version");
    set(LDAP_OPT_REFERRALS, LDAP_OPT_OFF, "referrals");
    int demand = LDAP_OPT_X_TLS_DEMAND;
    set(LDAP_OPT_X_TLS_REQUIRE_CERT, &demand, "certificate check");
    if (!options_.caFile.empty()) set(LDAP_OPT_X_TLS_CACERTFILE, options_.caFile.c_str(), "ca_file");
    int client = 0;
    set(LDAP_OPT_X_TLS_NEWCTX, &client, "TLS settings");
    callbacks_.lc_add = &Session::connected;
    callbacks_.lc_del = &Session::closed;
    callbacks_.lc_arg = this;
    set(LDAP_OPT_CONNECT_CB, &callbacks_, "connection callback");
    setupLock.unlock();
    if (options_.startTls && !ldaps) startTls();
  }

  // A simple bind; answers the directory's result code (LDAP_SUCCESS,
  // LDAP_INVALID_CREDENTIALS ...).
  int bind(const std::string& dn, const std::string& password) {
    berval cred{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
    int msgid = 0;
    beforeSending();
    int rc = ldap_sasl_bind(ld_, dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, &msgid);
    if (rc != LDAP_SUCCESS) throw Unavailable{"bind: " + failure(rc)};
    Message answer = await(msgid, "bind");
    return resultOf(answer.get(), "bind");
  }

  // The entries a subtree search finds (at most `limit`, 0 = no limit), with
  // the attributes asked for. `renew`: each answer gets the whole time-out
  // anew instead of sharing one deadline. With `pageSize` above 0 the search
  // asks for pages of that many entries (the simple paged-results control),
  // so a server's size limit per search does not end it early; `onPage`
  // hears the count found so far after each page.
  struct Entry {
    std::string dn;
    std::vector<std::string> values;  // the first value of each attribute asked for, "" when none
  };
  std::vector<Entry> search(const std::string& base, const std::string& filter, const std::vector<std::string>& attrs,
                            int limit, bool renew, bool* truncated, int pageSize = 0,
                            const std::function<void(size_t)>& onPage = {}) {
    std::vector<char*> names;
    for (const auto& a : attrs) names.push_back(const_cast<char*>(a.c_str()));
    names.push_back(nullptr);
    std::vector<Entry> found;
    *truncated = false;
    berval cookie{0, nullptr};
    std::string cookieBytes;
    for (;;) {
      LDAPControl* page = nullptr;
      if (pageSize > 0) {
        // Not critical: a server without the control answers the whole search at once.
        berval* c = cookieBytes.empty() ? nullptr : &cookie;
        if (int rc = ldap_create_page_control(ld_, pageSize, c, 0, &page); rc != LDAP_SUCCESS)
          throw Unavailable{"search: the paged-results control cannot be made: " + failure(rc)};
      }
      LDAPControl* controls[] = {page, nullptr};
      int msgid = 0;
      beforeSending();
      int rc = ldap_search_ext(ld_, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), names.data(), 0,
                               page ? controls : nullptr, nullptr, nullptr, limit, &msgid);
      if (page) ldap_control_free(page);
      if (rc != LDAP_SUCCESS) throw Unavailable{"search: " + failure(rc)};
      for (;;) {
        if (renew) {
          deadline_ = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
          watchdog_->extend(deadline_);
        }
        Message m = await(msgid, "search", LDAP_MSG_ONE);
        int type = ldap_msgtype(m.get());
        if (type == LDAP_RES_SEARCH_ENTRY) {
          Entry e;
          if (char* dn = ldap_get_dn(ld_, m.get())) {
            e.dn = dn;
            ldap_memfree(dn);
          }
          for (const auto& a : attrs) {
            berval** v = ldap_get_values_len(ld_, m.get(), a.c_str());
            e.values.emplace_back(v && v[0] ? std::string(v[0]->bv_val, v[0]->bv_len) : std::string());
            if (v) ldap_value_free_len(v);
          }
          found.push_back(std::move(e));
        } else if (type == LDAP_RES_SEARCH_RESULT) {
          LDAPControl** answered = nullptr;
          int code = LDAP_OTHER;
          if (ldap_parse_result(ld_, m.get(), &code, nullptr, nullptr, nullptr, &answered, 0) != LDAP_SUCCESS)
            throw Unavailable{"search: the answer cannot be read"};
          // The server's cookie for the next page; empty when this was the last.
          cookieBytes.clear();
          if (pageSize > 0 && answered) {
            if (LDAPControl* pr = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, answered, nullptr)) {
              ber_int_t estimate = 0;
              berval next{0, nullptr};
              if (ldap_parse_pageresponse_control(ld_, pr, &estimate, &next) == LDAP_SUCCESS) {
                if (next.bv_val && next.bv_len > 0) cookieBytes.assign(next.bv_val, next.bv_len);
                ber_memfree(next.bv_val);
              }
            }
          }
          if (answered) ldap_controls_free(answered);
          if (code == LDAP_SIZELIMIT_EXCEEDED)
            *truncated = true;
          else if (code != LDAP_SUCCESS && code != LDAP_NO_SUCH_OBJECT)
            throw Unavailable{"search below " + base + ": " + ldap_err2string(code)};
          break;
        }
        // References and intermediate answers are passed over.
      }
      if (onPage) onPage(found.size());
      if (*truncated || cookieBytes.empty()) return found;
      cookie.bv_val = cookieBytes.data();
      cookie.bv_len = static_cast<ber_len_t>(cookieBytes.size());
    }
  }

  // Every value of one attribute of one entry, read as the session is bound.
  std::vector<std::string> valuesOf(const std::string& dn, const std::string& attr) {
    char* names[] = {const_cast<char*>(attr.c_str()), nullptr};
    int msgid = 0;
    beforeSending();
    int rc = ldap_search_ext(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", names, 0, nullptr, nullptr, nullptr,
                             1, &msgid);
    if (rc != LDAP_SUCCESS) throw Unavailable{"reading the entry: " + failure(rc)};
    std::vector<std::string> values;
    for (;;) {
      Message m = await(msgid, "reading the entry", LDAP_MSG_ONE);
      int type = ldap_msgtype(m.get());
      if (type == LDAP_RES_SEARCH_ENTRY) {
        if (berval** v = ldap_get_values_len(ld_, m.get(), attr.c_str())) {
          for (berval** p = v; *p; ++p) values.emplace_back((*p)->bv_val, (*p)->bv_len);
          ldap_value_free_len(v);
        }
      } else if (type == LDAP_RES_SEARCH_RESULT) {
        return values;
      }
    }
  }

 private:
  struct FreeMessage {
    void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
  };
  using Message = std::unique_ptr<LDAPMessage, FreeMessage>;

  void set(int option, const void* value, const char* what) {
    if (ldap_set_option(ld_, option, value) != LDAP_OPT_SUCCESS) throw Unavailable{std::string("setting ") + what};
  }

  // What is left of the check's time; none left ends it.
  timeval left(const char* step) const {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (ms <= 0)
      throw Unavailable{std::string(step) + ": no answer within " + std::to_string(options_.timeoutMs) + " ms"};
    return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  }

  // The next request may connect first: connecting (and the TLS handshake of
  // ldaps://) may take what is left.
  void beforeSending() {
    timeval t = left("connect");
    set(LDAP_OPT_NETWORK_TIMEOUT, &t, "network time-out");
    set(LDAP_OPT_TIMEOUT, &t, "time-out");
  }

  // A new connection's socket is watched until it closes. The TLS handshake
  // that may follow is then left to block (no network time-out): the
  // library's own wait for it spins on a non-blocking socket, and the
  // watchdog ends it in time either way.
  static int connected(LDAP* ld, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb* cb) {
    ber_socket_t fd = -1;
    if (ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) == 1 && fd >= 0) {
      static_cast<Session*>(cb->lc_arg)->watchdog_->watch(fd);
      timeval none{-1, 0};
      ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &none);
    }
    return 0;
  }
  static void closed(LDAP*, Sockbuf*, ldap_conncb* cb) { static_cast<Session*>(cb->lc_arg)->watchdog_->forget(); }

  void startTls() {
    int msgid = 0;
    beforeSending();
    int rc = ldap_extended_operation(ld_, LDAP_EXOP_START_TLS, nullptr, nullptr, nullptr, &msgid);
    if (rc != LDAP_SUCCESS) throw Unavailable{"StartTLS: " + failure(rc)};
    Message answer = await(msgid, "StartTLS");
    if (int code = resultOf(answer.get(), "StartTLS"); code != LDAP_SUCCESS)
      throw Unavailable{std::string("StartTLS refused by the server: ") + ldap_err2string(code)};
    beforeSending();
    rc = ldap_install_tls(ld_);
    if (rc != LDAP_SUCCESS) throw Unavailable{"StartTLS: " + failure(rc)};
  }

  // The answer to `msgid`, or Unavailable when none comes in time.
  Message await(int msgid, const char* step, int all = LDAP_MSG_ALL) {
    timeval t = left(step);
    LDAPMessage* res = nullptr;
    int type = ldap_result(ld_, msgid, all, &t, &res);
    Message m(res);
    if (type == 0)
      throw Unavailable{std::string(step) + ": no answer within " + std::to_string(options_.timeoutMs) + " ms"};
    if (type < 0) {
      int rc = LDAP_OTHER;
      ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &rc);
      throw Unavailable{std::string(step) + ": " + failure(rc)};
    }
    return m;
  }

  // The result code of an answer.
  int resultOf(LDAPMessage* m, const char* step) {
    int code = LDAP_OTHER;
    if (ldap_parse_result(ld_, m, &code, nullptr, nullptr, nullptr, nullptr, 0) != LDAP_SUCCESS)
      throw Unavailable{std::string(step) + ": the answer cannot be read"};
    return code;
  }

  // The library's text for a code and its diagnostic message, if any; the
  // time-out when the watchdog ended the connection.
  std::string failure(int rc) {
    if (watchdog_->fired()) return "no answer within " + std::to_string(options_.timeoutMs) + " ms";
    std::string text = ldap_err2string(rc);
    char* diag = nullptr;
    if (ld_ && ldap_get_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag) == LDAP_OPT_SUCCESS && diag) {
      if (*diag) text += std::string(" (") + diag + ")";
      ldap_memfree(diag);
    }
    return text;
  }

  NoSigpipe noSigpipe_;  // declared first: it outlives the connection
  const DirectoryOptions& options_;
  Clock::time_point deadline_;
  std::unique_ptr<Watchdog> watchdog_;  // stops before the handle closes its socket
  LDAP* ld_ = nullptr;
  ldap_conncb callbacks_{};
};

// The search a filter-mode configuration makes as its service account (or anonymously).
void bindService(Session& s, const DirectoryOptions& o) {
  if (o.bindDn.empty()) return;
  int rc = s.bind(o.bindDn, servicePassword(o));
  if (rc != LDAP_SUCCESS) throw Unavailable{"bind as bind_dn " + o.bindDn + " refused: " + ldap_err2string(rc)};
}

// The entry of the account, found as the configuration says.
std::string entryOf(Session& s, const DirectoryOptions& o, const std::string& account) {
  if (!o.userDn.empty()) {
    if (!hasPlaceholder(o.userDn)) throw Unavailable{"user_dn holds no {account}"};
    return fill(o.userDn, escapeDnValue(account));
  }
  if (o.base.empty() || !hasPlaceholder(o.filter))
    throw Unavailable{"neither user_dn nor base and filter with {account} are set"};
  bindService(s, o);
  bool truncated = false;
  auto found = s.search(o.base, fill(o.filter, escapeFilterValue(account)), {"1.1"}, 2, false, &truncated);
  if (found.empty()) throw Refused{"no entry for the account below " + o.base};
  if (found.size() > 1 || truncated) throw Refused{"more than one entry for the account below " + o.base};
  return found.front().dn;
}

// The attribute that names an account in its entry: with user_dn, the
// attribute of its first part when that part is "attr={account}"; else
// account_attribute.
std::string namingAttribute(const DirectoryOptions& o) {
  if (!o.userDn.empty()) {
    std::string first = o.userDn.substr(0, o.userDn.find(','));
    size_t eq = first.find('=');
    if (eq != std::string::npos && first.substr(eq + 1) == "{account}") return first.substr(0, eq);
  }
  return o.accountAttribute;
}

}  // namespace

std::string escapeDnValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
    if (c < 0x20 || c == 0x7f)
      out += hex2(c);
    else if (edge || std::string_view(",+\"\\<>;=").find(static_cast<char>(c)) != std::string_view::npos)
      out += {'\\', static_cast<char>(c)};
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string escapeFilterValue(std::string_view value) {
  std::string out;
  for (char ch : value) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == 0)
      out += hex2(c);
    else
      out += ch;
  }
  return out;
}

namespace {

// The checks that talk to the directory at once, across the process's
// threads: a directory that hangs holds at most max_binds of them (each for
// at most its time-out); the others wait for a place within their own
// time-out, then report the directory unavailable.
class BindPlaces {
 public:
  bool take(int most, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!freed_.wait_until(lock, deadline, [&] { return taken_ < most; })) return false;
    ++taken_;
    return true;
  }
  void give() {
    {
      std::lock_guard lock(mutex_);
      --taken_;
    }
    freed_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  int taken_ = 0;
};

BindPlaces& bindPlaces() {
  static BindPlaces places;
  return places;
}

}  // namespace

Check verify(const DirectoryOptions& options, const std::string& account, const std::string& password) {
  const auto start = Clock::now();
  Check c;
  auto done = [&](Outcome o, std::string cause) {
    c.outcome = o;
    c.cause = std::move(cause);
    c.elapsedMs =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    return c;
  };
  if (password.empty()) return done(Outcome::Refused, "an empty password never binds");
  if (account.empty()) return done(Outcome::Refused, "no directory account");
  const auto deadline = start + std::chrono::milliseconds(options.timeoutMs);
  if (!bindPlaces().take(options.maxBinds, deadline))
    return done(Outcome::Unavailable, "all " + std::to_string(options.maxBinds) +
                                          " directory checks (max_binds) were busy for " +
                                          std::to_string(options.timeoutMs) + " ms");
  struct Give {
    ~Give() { bindPlaces().give(); }
  } give;
  try {
    Session s(options, deadline);
    s.open();
    c.entry = entryOf(s, options, account);
    int rc = s.bind(c.entry, password);
    if (rc == LDAP_SUCCESS) {
      // The directory matches names loosely (letter case, leading and
      // trailing blanks), the portal does not: " alice" and "ALICE" are
      // other portal users than "alice", so the entry must name exactly
      // the account asked for.
      const std::string attr = namingAttribute(options);
      for (const std::string& v : s.valuesOf(c.entry, attr))
        if (v == account) return done(Outcome::Accepted, "");
      return done(Outcome::Refused, "the entry's " + attr + " is not exactly the account");
    }
    if (rc == LDAP_INVALID_CREDENTIALS || rc == LDAP_INVALID_DN_SYNTAX || rc == LDAP_NO_SUCH_OBJECT)
      return done(Outcome::Refused, ldap_err2string(rc));
    return done(Outcome::Unavailable, std::string("bind: ") + ldap_err2string(rc));
  } catch (const Refused& r) {
    return done(Outcome::Refused, r.cause);
  } catch (const Unavailable& u) {
    return done(Outcome::Unavailable, u.cause);
  } catch (const std::exception& e) {
    return done(Outcome::Unavailable, e.what());
  }
}

std::vector<Person> people(const DirectoryOptions& options, const std::string& filter, int pageSize,
                           const std::function<void(size_t)>& onPage) {
  std::string base = !options.base.empty() ? options.base : parentOf(options.userDn);
  try {
    if (base.empty()) throw Unavailable{"no base set (base, or user_dn below one)"};
    Session s(options, Clock::now() + std::chrono::milliseconds(options.timeoutMs));
    s.open();
    bindService(s, options);
    bool truncated = false;
    auto found = s.search(base, filter, {options.accountAttribute, options.nameAttribute, "mail", "telephoneNumber"}, 0,
                          true, &truncated, pageSize, onPage);
    if (truncated)
      throw Unavailable{"the directory ended the search early (its size limit" +
                        std::string(pageSize > 0 ? "; try a smaller --page-size)" : ")")};
    std::vector<Person> list;
    for (auto& e : found) {
      if (e.values[0].empty()) continue;
      list.push_back({e.dn, e.values[0], e.values[1], e.values[2], e.values[3]});
    }
    return list;
  } catch (const Unavailable& u) {
    com::raise(com::kObjectError, "TivelMgt.directory", "directory " + options.url + ": " + u.cause);
  }
}

}  // namespace tivel::mgt::directory
