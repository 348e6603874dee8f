#include "tools/tivel/serve/console_session.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <stdexcept>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "platform/ado/recordset.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "records/record.h"

namespace tivel::tool {
namespace {

using com::MemberKind;
using com::Variant;

// A positive number of `unit`s, or the default when the key is missing.
std::chrono::seconds duration(const std::string& ini, const char* key, double unit, std::chrono::seconds fallback) {
  const std::string text = profile::readProfileString(ini, "Console", key);
  if (text.empty()) return fallback;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v <= 0 || v * unit > 1e9)
    throw std::runtime_error(std::string("[Console] ") + key + " must be a positive number, got \"" + text + "\"");
  return std::chrono::seconds(std::max<long long>(1, std::llround(v * unit)));
}

// Seconds since the epoch of a local date and time as the database keeps it.
std::optional<std::time_t> secondsOf(const Variant& stored) {
  com::DateTime d;
  if (stored.isNull() || stored.isEmpty() || !com::DateTime::parse(stored.toString(), &d)) return std::nullopt;
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_hour = d.hour;
  tm.tm_min = d.minute;
  tm.tm_sec = d.second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// "YYYY-MM-DD HH:MM:SS" of a moment, local time, as DateTime writes it.
std::string textOf(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  com::DateTime d{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return d.text();
}

std::string nowText() { return textOf(std::time(nullptr)); }

std::string tokenCondition(const std::string& token) { return " where token='" + mgt::QuoteSql(token) + "'"; }

void run(const std::string& sql) { mgt::sharedConnection()->execute(sql); }

// The policy checks are several reads each; their pass is kept a few
// seconds a session, so a page's burst of requests costs one round of them.
constexpr auto kStandingKept = std::chrono::seconds(300);  // the longest recheck_seconds

class StandingCache {
 public:
  bool fresh(const std::string& key, std::chrono::seconds kept) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = passed_.find(key);
    return it != passed_.end() && std::chrono::steady_clock::now() - it->second < kept;
  }
  void passed(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (passed_.size() > 10000)
      for (auto it = passed_.begin(); it != passed_.end();)
        it = now - it->second >= kStandingKept ? passed_.erase(it) : std::next(it);
    passed_[key] = now;
  }
  void forget(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    passed_.erase(key);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> passed_;
};

StandingCache& standing() {
  static StandingCache cache;
  return cache;
}

}  // namespace

ConsoleSettings readConsoleSettings(const std::string& iniPath) {
  ConsoleSettings s;
  s.idle = duration(iniPath, "idle_minutes", 60, s.idle);
  s.lifetime = duration(iniPath, "lifetime_hours", 3600, s.lifetime);
  const std::string recheck = profile::readProfileString(iniPath, "Console", "recheck_seconds");
  if (!recheck.empty()) {
    if (recheck.size() > 3 || recheck.find_first_not_of("0123456789") != std::string::npos || std::stoi(recheck) > 300)
      throw std::runtime_error("[Console] recheck_seconds must be a whole number from 0 to 300, got \"" + recheck +
                               "\"");
    s.recheck = std::chrono::seconds(std::stoi(recheck));
  }
  return s;
}

int consoleLevel(const std::string& usrNo) {
  auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  return admin->isSysSecUsr(usrNo);
}

void startSession(const std::string& token, const ConsoleSettings& settings) {
  run("delete from consoleSession where last_seen<'" + textOf(std::time(nullptr) - settings.lifetime.count()) + "'");
  run("insert into consoleSession(token,last_seen) values('" + mgt::QuoteSql(token) + "','" + nowText() + "')");
}

bool sessionExists(const std::string& token) {
  auto seen = mgt::sharedConnection()->execute("select token from consoleSession" + tokenCondition(token));
  const bool exists = !seen->eof();
  seen->close();
  return exists;
}

void endSession(const std::string& token) {
  run("update umLogInfo set isAvail=0" + tokenCondition(token));
  run("delete from consoleSession" + tokenCondition(token));
}

std::optional<ConsoleUser> currentSession(const std::string& token, const ConsoleSettings& settings,
                                          const std::string& client) {
  if (token.empty()) return std::nullopt;
  com::ObjectPtr um = com::CreateObject("TivelMgt.UmMgt");
  com::Args byToken{Variant(token)};
  records::RecordPtr login = records::recordArg(um->invoke("getLogInfo", MemberKind::Method, byToken), "cUmLogInfo");
  const Variant avail = login ? login->get("IsAvail") : Variant();
  if (!login || !avail.looksNumeric() || avail.toDouble() != 1) return std::nullopt;

  // Only a login record the console's sign-in made is a console session.
  auto seen = mgt::sharedConnection()->execute("select last_seen from consoleSession" + tokenCondition(token));
  if (seen->eof()) return std::nullopt;
  const std::time_t now = std::time(nullptr);
  const auto since = [now](const Variant& stored) -> long long {
    auto t = secondsOf(stored);
    return t ? static_cast<long long>(now - *t) : -1;
  };
  const long long age = since(login->get("Login_Datetime"));
  const long long idle = since(seen->value(0));
  seen->close();
  if (age < 0 || idle < 0 || age > settings.lifetime.count() || idle > settings.idle.count()) {
    endSession(token);
    return std::nullopt;
  }

  ConsoleUser user;
  user.token = token;
  user.usrNo = login->get("Usr_No").toString();
  com::Args byNo{Variant(user.usrNo)};
  records::RecordPtr u = records::recordArg(um->invoke("getUsr", MemberKind::Method, byNo), "cUmUsr");
  user.level = u ? consoleLevel(user.usrNo) : -1;
  const Variant state = u ? u->get("State") : Variant();
  const bool outOfService = state.looksNumeric() && (state.toLong() == 2 || state.toLong() == 3);
  if (user.level < 0 || outOfService) {
    endSession(token);  // the user is gone, frozen, or no longer an administrator
    return std::nullopt;
  }
  const std::string standingKey = token + "|" + client;
  if (!standing().fresh(standingKey, settings.recheck)) {
    auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    if (admin->usrIsAvail(user.usrNo, client) != "0") {
      standing().forget(standingKey);
      endSession(token);  // expired, locked, or out of its address or time
      return std::nullopt;
    }
    standing().passed(standingKey);
  }
  user.storedPassword = u->get("Pwd").isNull() ? std::string() : u->get("Pwd").toString();
  user.account = u->get("Account").toString();
  user.name = u->get("Name").isNull() ? std::string() : u->get("Name").toString();
  // Activity is written at most once a minute (more often for short idle
  // times), so a session's reads cost no write.
  const long long touchEvery = std::max<long long>(1, std::min<long long>(60, settings.idle.count() / 4));
  if (idle >= touchEvery) run("update consoleSession set last_seen='" + nowText() + "'" + tokenCondition(token));
  return user;
}

std::vector<OpenSession> openSessions(const std::string& usrNo) {
  auto rs = mgt::sharedConnection()->execute(
      "select l.token, l.login_datetime, l.login_ip, c.last_seen from umLogInfo l join consoleSession c on "
      "c.token=l.token where l.isAvail=1 and l.usr_no='" +
      mgt::QuoteSql(usrNo) + "' order by l.login_datetime desc");
  std::vector<OpenSession> out;
  const auto text = [](const Variant& v) { return v.isNull() || v.isEmpty() ? std::string() : v.toString(); };
  for (; !rs->eof(); rs->moveNext())
    out.push_back({text(rs->value(0)), text(rs->value(1)), text(rs->value(2)), text(rs->value(3))});
  rs->close();
  return out;
}

int endSessionsOf(const std::string& usrNo) {
  const std::vector<OpenSession> open = openSessions(usrNo);
  for (const OpenSession& s : open) endSession(s.token);
  return static_cast<int>(open.size());
}

}  // namespace tivel::tool
