#include "tools/tivel/serve/console/session.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <stdexcept>

#include "mgt/admin/admin_mgt.h"
#include "mgt/console/console_mgt.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"

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

std::shared_ptr<mgt::ConsoleMgt> consoleMgt() {
  auto m = std::dynamic_pointer_cast<mgt::ConsoleMgt>(com::CreateObject("TivelMgt.ConsoleMgt"));
  if (!m) com::raise(com::kObjectNotSet, "tivel serve", com::kObjectNotSetText);
  return m;
}

int consoleLevel(const std::string& usrNo) { return consoleMgt()->level(usrNo); }

void startSession(const std::string& token, const ConsoleSettings& settings) {
  consoleMgt()->startSession(token, settings.lifetime.count());
}

bool sessionExists(const std::string& token) { return consoleMgt()->sessionExists(token); }

void endSession(const std::string& token) { consoleMgt()->endSession(token); }

// One read of the session's rows; the groups (for the level) and, every
// settings.recheck, the policy checks; a write of the activity at most once
// a minute.
std::optional<ConsoleUser> currentSession(const std::string& token, const ConsoleSettings& settings,
                                          const std::string& client) {
  if (token.empty()) return std::nullopt;
  auto console = consoleMgt();
  // Only a login record the console's sign-in made is a console session.
  const std::optional<mgt::ConsoleSessionRow> row = console->sessionRow(token);
  if (!row || !row->avail.looksNumeric() || row->avail.toDouble() != 1) return std::nullopt;
  const std::time_t now = std::time(nullptr);
  const auto since = [now](const Variant& stored) -> long long {
    auto t = secondsOf(stored);
    return t ? static_cast<long long>(now - *t) : -1;
  };
  const long long age = since(row->loginTime);
  const long long idle = since(row->lastSeen);
  if (age < 0 || idle < 0 || age > settings.lifetime.count() || idle > settings.idle.count()) {
    console->endSession(token);
    return std::nullopt;
  }

  ConsoleUser user;
  user.token = token;
  user.usrNo = row->usrNo;
  user.level = row->userFound ? console->level(user.usrNo) : -1;
  const bool outOfService = row->state.looksNumeric() && (row->state.toLong() == 2 || row->state.toLong() == 3);
  if (user.level < 0 || outOfService) {
    console->endSession(token);  // the user is gone, frozen, or no longer an administrator
    return std::nullopt;
  }
  const std::string standingKey = token + "|" + client;
  if (!standing().fresh(standingKey, settings.recheck)) {
    auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    if (!admin || admin->usrIsAvail(user.usrNo, client) != "0") {
      standing().forget(standingKey);
      console->endSession(token);  // expired, locked, or out of its address or time
      return std::nullopt;
    }
    standing().passed(standingKey);
  }
  user.storedPassword = row->storedPassword;
  user.account = row->account;
  user.name = row->name;
  // Activity is written at most once a minute (more often for short idle
  // times), so a session's reads cost no write.
  const long long touchEvery = std::max<long long>(1, std::min<long long>(60, settings.idle.count() / 4));
  if (idle >= touchEvery) console->touchSession(token);
  return user;
}

std::vector<OpenSession> openSessions(const std::string& usrNo) {
  std::vector<OpenSession> out;
  for (const mgt::ConsoleOpenSession& s : consoleMgt()->openSessions(usrNo))
    out.push_back({s.token, s.time, s.address, s.lastSeen});
  return out;
}

int endSessionsOf(const std::string& usrNo) {
  const std::vector<OpenSession> open = openSessions(usrNo);
  auto console = consoleMgt();
  for (const OpenSession& s : open) console->endSession(s.token);
  return static_cast<int>(open.size());
}

}  // namespace tivel::tool
