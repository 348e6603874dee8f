#include "tools/tivel/serve/console_session.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
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

}  // namespace

ConsoleSettings readConsoleSettings(const std::string& iniPath) {
  ConsoleSettings s;
  s.idle = duration(iniPath, "idle_minutes", 60, s.idle);
  s.lifetime = duration(iniPath, "lifetime_hours", 3600, s.lifetime);
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

std::optional<ConsoleUser> currentSession(const std::string& token, const ConsoleSettings& settings) {
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
  if (user.level < 0) {
    endSession(token);  // the user is gone, or no longer an administrator
    return std::nullopt;
  }
  user.account = u->get("Account").toString();
  user.name = u->get("Name").isNull() ? std::string() : u->get("Name").toString();
  // Activity is written at most once a minute (more often for short idle
  // times), so a session's reads cost no write.
  const long long touchEvery = std::max<long long>(1, std::min<long long>(60, settings.idle.count() / 4));
  if (idle >= touchEvery) run("update consoleSession set last_seen='" + nowText() + "'" + tokenCondition(token));
  return user;
}

}  // namespace tivel::tool
