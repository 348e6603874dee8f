#include "tools/tivel/serve/console/routes.h"

#include <strings.h>

#include <cctype>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>

#include "mgt/admin/admin_mgt.h"
#include "mgt/admin/guess_limit.h"
#include "mgt/common/module.h"
#include "mgt/console/console_caller.h"
#include "platform/codes/result_codes.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "records/record.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/console/assets.h"
#include "tools/tivel/serve/console/change.h"
#include "tools/tivel/serve/console/export.h"
#include "tools/tivel/serve/console/key.h"
#include "tools/tivel/serve/console/session.h"
#include "tools/tivel/serve/login_audit.h"
#include "tools/tivel/serve/token.h"

namespace tivel::tool {
namespace {

constexpr const char* kCookie = "tivel_console";
constexpr const char* kCsrfHeader = "X-Tivel-CSRF";
constexpr const char* kChangeHeader = "Tivel-Change";
constexpr size_t kMaxDescription = 200;  // characters of a change's description kept for the log
constexpr int64_t kChallengeSeconds = 120;
// Failed sign-ins (wrong passwords, unknown accounts, wrong codes) before a
// client address, or an account, has to wait: 1 s, 2 s, 4 s ... 15 min.
constexpr int kFreeByAddress = 10, kFreeByAccount = 5;
constexpr std::chrono::seconds kLongestWait{15 * 60};

// The key an account's failures count under: letter case and surrounding
// blanks do not make another account to guess at.
std::string accountKey(std::string_view account) {
  while (!account.empty() && std::isspace(static_cast<unsigned char>(account.front()))) account.remove_prefix(1);
  while (!account.empty() && std::isspace(static_cast<unsigned char>(account.back()))) account.remove_suffix(1);
  std::string key = "account:";
  for (char c : account) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}  // how long the code step may follow a right password

// The headers every console answer carries.
void secure(HttpResponse& res) {
  res.headers.emplace_back("Content-Security-Policy",
                           "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                           "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
                           "frame-ancestors 'none'");
  res.headers.emplace_back("X-Frame-Options", "DENY");
  res.headers.emplace_back("X-Content-Type-Options", "nosniff");
  res.headers.emplace_back("Referrer-Policy", "no-referrer");
  res.headers.emplace_back("Cross-Origin-Opener-Policy", "same-origin");
  res.headers.emplace_back("Cross-Origin-Resource-Policy", "same-origin");
}

void answerJson(HttpResponse& res, int status, const Json& body) {
  res.status = status;
  res.contentType = "application/json";
  res.headers.emplace_back("Cache-Control", "no-store");
  res.body = jsonText(body);
}

void refuse(HttpResponse& res, int status, const char* error, const std::string& message) {
  answerJson(res, status, Json{{"error", error}, {"message", message}});
}

// The value of a cookie among the request's Cookie headers, "" when absent.
std::string cookie(const HttpRequest& req, std::string_view name) {
  for (const auto& [key, value] : req.headers) {
    if (key.size() != 6 || strncasecmp(key.c_str(), "cookie", 6) != 0) continue;
    size_t start = 0;
    while (start < value.size()) {
      size_t end = value.find(';', start);
      if (end == std::string::npos) end = value.size();
      std::string_view pair(value.data() + start, end - start);
      while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
      if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
        return std::string(pair.substr(name.size() + 1));
      start = end + 1;
    }
  }
  return "";
}

std::string argument(const HttpRequest& req, std::string_view name) {
  for (const auto& [key, value] : req.arguments)
    if (key == name) return value;
  return "";
}

// %XX escapes decoded (the change description travels in a header so).
std::string percentDecoded(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Text fit for the system log: valid UTF-8 only, control characters as
// blanks, at most `most` characters.
std::string logText(std::string_view s, size_t most) {
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < s.size() && chars < most;) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
    if (!ok) {
      ++i;
      continue;
    }
    if (len == 1 && (c < 0x20 || c == 0x7f))
      out += ' ';
    else
      out.append(s.substr(i, len));
    i += len;
    ++chars;
  }
  return out;
}

// The administrator a Session or SessionCsrf route's check let in.
struct SignedIn : HttpSession {
  explicit SignedIn(ConsoleUser u) : user(std::move(u)) {}
  ConsoleUser user;
};

class Console : public std::enable_shared_from_this<Console> {
 public:
  Console(ServeServer& server, std::optional<ConsoleKey> key, std::string keyProblem, ConsoleSettings settings)
      : server_(server), key_(std::move(key)), keyProblem_(std::move(keyProblem)), settings_(settings) {}

  void install() {
    auto self = shared_from_this();
    // The session routes' check runs on the route's lane before its handler;
    // the console's security headers come with the check's refusals too.
    server_.setSessionCheck([self](const HttpRequest& req, HttpResponse& res, bool csrf) {
      secure(res);
      std::optional<ConsoleUser> u = csrf ? self->guarded(req, res) : self->user(req, res);
      return u ? std::make_shared<const SignedIn>(std::move(*u)) : nullptr;
    });
    const auto open = [&](const char* method, const char* path, bool prefix, auto member, Lane lane = Lane::Batch,
                          size_t maxBody = 1) {
      server_.addRoute({method, path, prefix, Access::Open,
                        [self, member](const HttpRequest& req, HttpResponse& res) {
                          secure(res);
                          ((*self).*member)(req, res);
                        },
                        lane, maxBody});
    };
    const auto signedIn = [&](const char* method, const char* path, bool prefix, Access access, auto member,
                              size_t maxBody = 1) {
      server_.addRoute({method, path, prefix, access,
                        [self, member](const HttpRequest& req, HttpResponse& res) {
                          const auto* in = dynamic_cast<const SignedIn*>(req.session.get());
                          if (!in) throw std::logic_error("a console route without its session");
                          ((*self).*member)(req, res, in->user);
                        },
                        Lane::Batch, maxBody});
    };
    // Where each runs: the pages on the HTTP thread (they never wait), the
    // sign-in on the quick lane (never behind batches; a directory's bind
    // may wait), the rest on the batch workers (they read the session from
    // the database). Anyone may send these bodies, so each is small. Each
    // route states what the server checks before its handler runs: nothing
    // (Open), a session in force (Session), or also its CSRF token and this
    // origin (SessionCsrf). The console's data calls are batches of members
    // (/console/rpc); besides them only the session's read, the sign-in
    // steps, the sign-out and the exports have routes.
    constexpr size_t kForm = 4 * 1024, kChange = 1u << 20;
    // The pages first: a later route of the same path wins, so the exact
    // routes below take their paths from the prefix.
    open("GET", "/console/", true, &Console::page, Lane::Inline);
    open("GET", "/", false, &Console::toConsole, Lane::Inline);
    open("GET", "/console", false, &Console::toConsole, Lane::Inline);
    signedIn("GET", "/console/api/session", false, Access::Session, &Console::session);
    open("POST", "/console/api/signin", false, &Console::signIn, Lane::Quick, kForm);
    open("POST", "/console/api/code", false, &Console::secondStep, Lane::Quick, kForm);
    open("POST", "/console/api/password", false, &Console::changePassword, Lane::Batch, kForm);
    signedIn("POST", "/console/api/signout", false, Access::SessionCsrf, &Console::signOut, kForm);
    signedIn("POST", "/console/rpc", false, Access::SessionCsrf, &Console::rpc, kChange);
    signedIn("GET", "/console/export/", true, Access::SessionCsrf, &Console::exportFile);
  }

 private:
  // ---- the pages

  void toConsole(const HttpRequest&, HttpResponse& res) {
    res.status = 302;
    res.contentType = "text/plain; charset=utf-8";
    res.headers.emplace_back("Location", "/console/");
    res.body = "/console/\n";
  }

  void page(const HttpRequest& req, HttpResponse& res) {
    std::string name = req.path.substr(std::string("/console/").size());
    if (name.empty()) name = "index.html";
    const ConsoleAsset* asset = findConsoleAsset(name);
    if (!asset) return refuse(res, 404, "missing", "No such page: " + req.path);
    res.headers.emplace_back("ETag", std::string(asset->etag));
    // Always asked again, answered 304 while unchanged: a new build's files
    // reach every browser at once.
    res.headers.emplace_back("Cache-Control", "no-cache");
    res.contentType = std::string(asset->contentType);
    if (req.header("If-None-Match") == asset->etag) {
      res.status = 304;
      return;
    }
    res.body = std::string(asset->body);
  }

  void exportFile(const HttpRequest& req, HttpResponse& res, const ConsoleUser& u) {
    answerExport(req, res, u.account);
  }

  // ---- sessions

  bool keyMissing(HttpResponse& res) {
    if (key_) return false;
    refuse(res, 503, "key", "The console is off: " + keyProblem_);
    return true;
  }

  // Whether a browser sent the request from the console's own origin.
  bool sameOrigin(const HttpRequest& req) const {
    const std::string site = req.header("Sec-Fetch-Site");
    if (!site.empty() && site != "same-origin") return false;
    const std::string origin = req.header("Origin");
    if (origin.empty()) return true;  // no browser's cross-origin request
    const std::string host = req.header("Host");
    return !host.empty() && origin == (server_.tls() ? "https://" : "http://") + host;
  }

  // The components of this thread, started; false (and 503) when the database cannot be reached.
  static bool started(HttpResponse& res) {
    try {
      mgt::startUp();
      return true;
    } catch (const com::ComError& e) {
      refuse(res, 503, "unavailable", com::describe(e));
    }
    return false;
  }

  // The session of the request, when in force; else answers 401 (and
  // drops the cookie) or 503 and gives nothing.
  std::optional<ConsoleUser> user(const HttpRequest& req, HttpResponse& res) {
    if (keyMissing(res) || !started(res)) return std::nullopt;
    const std::string presented = cookie(req, kCookie);
    std::string stamp;
    const std::string token = key_->tokenOf(presented, &stamp);
    std::optional<ConsoleUser> u;
    try {
      u = currentSession(token, settings_, req.peer);
      // The password changed since the sign-in (by any path): the session
      // ends with it.
      if (u && !sameToken(stamp, key_->stampOf(u->usrNo, u->storedPassword))) {
        endSession(token);
        u.reset();
      }
    } catch (const com::ComError& e) {
      refuse(res, 503, "unavailable", com::describe(e));
      return std::nullopt;
    }
    if (!u) {
      if (!presented.empty()) res.headers.emplace_back("Set-Cookie", cookieHeader(""));
      refuse(res, 401, "session", "No console session: sign in");
      return std::nullopt;
    }
    res.callerName = "console:" + u->account;
    return u;
  }

  // user(), and for requests that read data or change something also the
  // CSRF token and the origin (403 without).
  std::optional<ConsoleUser> guarded(const HttpRequest& req, HttpResponse& res) {
    std::optional<ConsoleUser> u = user(req, res);
    if (!u) return u;
    // A download is a link the browser follows, so its token comes in the
    // query (csrf=) rather than the header; the checks are the same.
    std::string csrf = req.header(kCsrfHeader);
    if (csrf.empty() && (req.method == "GET" || req.method == "HEAD")) csrf = argument(req, "csrf");
    if (!key_->csrfMatches(u->token, csrf)) {
      refuse(res, 403, "csrf", "The request carries no valid CSRF token");
      return std::nullopt;
    }
    if (!sameOrigin(req)) {
      refuse(res, 403, "origin", "The request comes from another origin");
      return std::nullopt;
    }
    return u;
  }

  std::string cookieHeader(const std::string& token, const std::string& stamp = "") const {
    std::string v = std::string(kCookie) + "=" + (token.empty() ? "" : key_->cookieFor(token, stamp)) +
                    "; Path=/console; HttpOnly; SameSite=Strict";
    if (token.empty()) v += "; Max-Age=0";
    if (server_.tls()) v += "; Secure";
    return v;
  }

  Json whoAmI(const ConsoleUser& u) const {
    return Json{{"account", u.account},
                {"name", u.name},
                {"level", u.level},
                {"csrf", key_->csrfFor(u.token)},
                {"idleSeconds", settings_.idle.count()}};
  }

  void session(const HttpRequest&, HttpResponse& res, const ConsoleUser& u) { answerJson(res, 200, whoAmI(u)); }

  // The body of a sign-in or password change: a JSON object of texts from
  // this origin; nullopt (and an answer) otherwise.
  std::optional<Json> form(const HttpRequest& req, HttpResponse& res, std::initializer_list<const char*> fields) {
    if (keyMissing(res)) return std::nullopt;
    if (!sameOrigin(req)) {
      refuse(res, 403, "origin", "The request comes from another origin");
      return std::nullopt;
    }
    if (req.header("Content-Type").rfind("application/json", 0) != 0) {
      refuse(res, 415, "input", "The body must be JSON (application/json)");
      return std::nullopt;
    }
    Json body = Json::parse(req.body, nullptr, false);
    bool ok = body.is_object();
    for (const char* f : fields) ok = ok && body.contains(f) && body[f].is_string();
    if (!ok) {
      refuse(res, 400, "input", "The body must be a JSON object of texts");
      return std::nullopt;
    }
    if (!started(res)) return std::nullopt;
    return body;
  }

  // Logs the account in through ConsoleMgt's sign-in with the client's
  // address: the login record becomes a session when its user is an
  // administrator (and no one-time code must follow).
  void openSession(const std::string& account, const std::string& password, const HttpRequest& req, HttpResponse& res) {
    const mgt::ConsoleSignIn in = consoleMgt()->signIn(account, password, req.peer, settings_.lifetime.count());
    if (in.code != "0") audit::loginFailed("console sign-in", account, req.peer, in.code);
    // An unknown account answers as a wrong password: the sign-in tells no
    // one which accounts exist.
    if (in.code != "0")
      return answerJson(res, 401,
                        Json{{"error", "login"},
                             {"code", in.code == codes::kLoginNoSuchAccount ? codes::kLoginWrongPassword : in.code}});
    if (in.denied) return answerJson(res, 403, Json{{"error", "denied"}});
    if (in.secondFactor) {
      // The password alone opens nothing: the login record waits, for a
      // short while and for this client only, for the one-time code.
      const Challenge c{in.token, in.usrNo, req.peer, static_cast<int64_t>(std::time(nullptr)) + kChallengeSeconds};
      return answerJson(res, 202,
                        Json{{"step", "code"}, {"challenge", key_->challengeFor(c)}, {"seconds", kChallengeSeconds}});
    }
    // The sign-in read everything the session's first answer needs.
    ConsoleUser opened;
    opened.token = in.token;
    opened.usrNo = in.usrNo;
    opened.account = in.account;
    opened.name = in.name;
    opened.level = in.level;
    opened.storedPassword = in.storedPassword;
    handOut(opened, res);
  }

  // Makes a login record that passed every step a session and hands out its cookie.
  void sessionOpened(const std::string& token, const HttpRequest& req, HttpResponse& res) {
    startSession(token, settings_);
    std::optional<ConsoleUser> opened = currentSession(token, settings_, req.peer);
    if (!opened) return refuse(res, 503, "unavailable", "The session could not be opened; try again");
    handOut(*opened, res);
  }

  // The cookie of a session just opened, and who is signed in.
  void handOut(const ConsoleUser& opened, HttpResponse& res) {
    res.headers.emplace_back("Set-Cookie",
                             cookieHeader(opened.token, key_->stampOf(opened.usrNo, opened.storedPassword)));
    res.callerName = "console:" + opened.account;
    answerJson(res, 200, whoAmI(opened));
  }

  void signIn(const HttpRequest& req, HttpResponse& res) {
    std::optional<Json> body = form(req, res, {"account", "password"});
    if (!body) return;
    const std::string account = (*body)["account"].get<std::string>();
    if (throttled(req, accountKey(account), res)) return;
    try {
      // An empty password opens no console session, whatever is stored.
      if ((*body)["password"].get<std::string>().empty())
        answerJson(res, 401, Json{{"error", "login"}, {"code", codes::kLoginWrongPassword}});
      else
        openSession(account, (*body)["password"].get<std::string>(), req, res);
    } catch (const com::ComError& e) {
      refuse(res, 503, "unavailable", com::describe(e));
    }
    counted(req, accountKey(account), res);
  }

  // 429 with Retry-After while the client's address or the account must
  // wait after failed sign-ins.
  bool throttled(const HttpRequest& req, const std::string& account, HttpResponse& res) {
    const std::chrono::seconds wait = std::max(byAddress_.wait(req.peer), byAccount_.wait(account));
    if (wait.count() == 0) return false;
    res.headers.emplace_back("Retry-After", std::to_string(wait.count()));
    answerJson(res, 429, Json{{"error", "throttled"}, {"seconds", wait.count()}});
    return true;
  }

  // Counts what a sign-in step answered: a refused password or code counts
  // against the address and the account; a right one clears the account.
  void counted(const HttpRequest& req, const std::string& account, const HttpResponse& res) {
    if (res.status == 200 || res.status == 202) {
      byAccount_.succeeded(account);
    } else if (res.status == 401) {
      byAddress_.failed(req.peer);
      byAccount_.failed(account);
    }
  }

  // The second step: the one-time code of the user a challenge names, through
  // AdminMgt.loginAgain (which counts wrong codes under the policy). A
  // challenge holds until it expires or its login record became a session.
  void secondStep(const HttpRequest& req, HttpResponse& res) {
    std::optional<Json> body = form(req, res, {"challenge", "code"});
    if (!body) return;
    std::optional<Challenge> c =
        key_->challengeOf((*body)["challenge"].get<std::string>(), req.peer, static_cast<int64_t>(std::time(nullptr)));
    const auto expired = [&] { answerJson(res, 401, Json{{"error", "challenge"}}); };
    if (!c) return expired();
    const std::string account = "user:" + c->usrNo;
    if (throttled(req, account, res)) return;
    try {
      com::ObjectPtr um = com::CreateObject("TivelMgt.UmMgt");
      com::Args byToken{com::Variant(c->token)};
      records::RecordPtr login =
          records::recordArg(um->invoke("getLogInfo", com::MemberKind::Method, byToken), "cUmLogInfo");
      if (!login || login->get("Usr_No").toString() != c->usrNo || !login->get("IsAvail").looksNumeric() ||
          login->get("IsAvail").toDouble() != 1 || sessionExists(c->token))
        return expired();
      com::Args byNo{com::Variant(c->usrNo)};
      records::RecordPtr u = records::recordArg(um->invoke("getUsr", com::MemberKind::Method, byNo), "cUmUsr");
      if (!u) return expired();
      auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
      if (!audit::codeStep(admin->loginAgain(u->get("Account").toString(), (*body)["code"].get<std::string>()),
                           "console code", u->get("Account").toString(), req.peer))
        answerJson(res, 401, Json{{"error", "code"}});
      else
        sessionOpened(c->token, req, res);
    } catch (const com::ComError& e) {
      refuse(res, 503, "unavailable", com::describe(e));
    }
    counted(req, account, res);
  }

  // The change a login demanded (codes::kLoginPasswordMustChange): AdminMgt.changePwd with the old
  // password, then the sign-in with the new one.
  void changePassword(const HttpRequest& req, HttpResponse& res) {
    std::optional<Json> body = form(req, res, {"account", "password", "newPassword"});
    if (!body) return;
    const std::string account = (*body)["account"].get<std::string>();
    const std::string old = (*body)["password"].get<std::string>();
    const std::string fresh = (*body)["newPassword"].get<std::string>();
    if (fresh.empty()) return refuse(res, 400, "empty", "The new password is empty");
    if (throttled(req, accountKey(account), res)) return;
    try {
      auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
      admin->changePwd(account, old, fresh);
      openSession(account, fresh, req, res);
    } catch (const com::ComError& e) {
      refuse(res, 503, "unavailable", com::describe(e));
    }
    counted(req, accountKey(account), res);
  }

  void signOut(const HttpRequest&, HttpResponse& res, const ConsoleUser& u) {
    try {
      endSession(u.token);
    } catch (const com::ComError& e) {
      return refuse(res, 503, "unavailable", com::describe(e));
    }
    res.headers.emplace_back("Set-Cookie", cookieHeader(""));
    answerJson(res, 200, Json::object());
  }

  // ---- the batches and the reads

  // A batch under the console's scope, its members knowing whose session it is.
  void rpc(const HttpRequest& req, HttpResponse& res, const ConsoleUser& u) {
    const std::string description = logText(percentDecoded(req.header(kChangeHeader)), kMaxDescription);
    mgt::ConsoleCaller caller{u.account, u.usrNo, u.token};
    ConsoleBatch b;
    {
      mgt::ConsoleCallerScope scope(caller);
      b = runConsoleBatch(server_, req, u.account, description);
    }
    // The batch ended the caller's own session (sign out everywhere): the browser drops its cookie.
    if (caller.ownSessionEnded && b.change == ChangeOutcome::Done)
      res.headers.emplace_back("Set-Cookie", cookieHeader(""));
    res.status = b.batch.status;
    res.body = std::move(b.batch.body);
    res.headers.emplace_back("Cache-Control", "no-store");
    res.headers.emplace_back(kChangeHeader, b.change == ChangeOutcome::Done     ? "done"
                                            : b.change == ChangeOutcome::Undone ? "undone"
                                                                                : "none");
  }

  ServeServer& server_;
  mgt::GuessLimit byAddress_{kFreeByAddress, kLongestWait}, byAccount_{kFreeByAccount, kLongestWait};
  std::optional<ConsoleKey> key_;
  std::string keyProblem_;
  ConsoleSettings settings_;
};

}  // namespace

std::string addConsoleRoutes(ServeServer& server, const std::string& root) {
  const ConsoleSettings settings = readConsoleSettings(root + "/ini/SysTivel.ini");
  std::optional<ConsoleKey> key;
  std::string problem;
  try {
    key = ConsoleKey::read(root);
  } catch (const std::exception& e) {
    problem = e.what();
  }
  std::make_shared<Console>(server, std::move(key), problem, settings)->install();
  return problem;
}

}  // namespace tivel::tool
