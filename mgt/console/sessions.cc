// The console's sign-in and sessions. A session is the login record its
// sign-in wrote (umLogInfo, by token) with a row of consoleSession holding
// its last activity, so every host of a deployment serves it and applies one
// idle clock. The statements are fixed, their values quoted.
#include <atomic>
#include <ctime>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/pattern.h"
#include "mgt/console/console_mgt.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

constexpr const char* kSource = "TivelMgt.ConsoleMgt";

std::shared_ptr<AdminMgt> adminMgt() {
  auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  if (!admin) com::raise(com::kObjectNotSet, kSource, com::kObjectNotSetText);
  return admin;
}

std::string text(const com::Variant& v) { return v.isNull() || v.isEmpty() ? std::string() : v.toString(); }

std::string byToken(const std::string& token) { return " where token=" + quoted(com::Variant(token)); }

}  // namespace

std::string consoleTimeText(long long secondsAgo) {
  const std::time_t t = std::time(nullptr) - static_cast<std::time_t>(secondsAgo);
  std::tm tm{};
  localtime_r(&t, &tm);
  com::DateTime d{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return d.text();
}

// The login reads the user, its policy values and groups once; the session
// costs its two rows of consoleSession.
ConsoleSignIn ConsoleMgt::signIn(const std::string& account, const std::string& pwd, const std::string& ip,
                                 long long lifetimeSeconds) {
  auto admin = adminMgt();
  const LoginOutcome login = admin->login(account, pwd, ip);
  ConsoleSignIn out;
  out.code = login.code;
  out.usrNo = login.usrNo;
  out.account = login.account;
  out.name = login.name;
  out.storedPassword = text(login.storedPassword);
  if (login.code != "0") return out;
  if (login.token.empty()) com::raise(kReadFailed, kSource, "The login wrote no login record");
  out.token = login.token;
  out.level = admin->isSysSecUsr(login.usrNo);
  if (out.level < 0) {
    out.denied = true;
    endSession(login.token);
    admin->WriteLog(com::Variant("0"), com::Variant("console"),
                    com::Variant(account + "无权使用管理控制台，登录被拒绝！"), com::Variant(int16_t{0}),
                    com::Variant(int16_t{0}));
    return out;
  }
  out.secondFactor = login.secondFactor;
  if (!out.secondFactor) startSession(login.token, lifetimeSeconds);
  return out;
}

// The activity rows of sessions past their lifetime are dropped at most once
// an hour by each process: they are only ever looked up by token, so a few
// stale rows cost nothing, and a sign-in is spared the statement.
void ConsoleMgt::startSession(const std::string& token, long long lifetimeSeconds) {
  static std::atomic<long long> lastPruned{0};
  const long long now = static_cast<long long>(std::time(nullptr));
  long long last = lastPruned.load();
  const bool prune = now - last >= 3600 && lastPruned.compare_exchange_strong(last, now);
  failingCall(kSource, [&] {
    if (prune)
      execute("delete from consoleSession where last_seen<" + quoted(com::Variant(consoleTimeText(lifetimeSeconds))));
    execute("insert into consoleSession(token,last_seen) values(" + quoted(com::Variant(token)) + "," +
            quoted(com::Variant(consoleTimeText())) + ")");
    return true;
  });
}

std::optional<ConsoleSessionRow> ConsoleMgt::sessionRow(const std::string& token) {
  return failingCall(kSource, [&]() -> std::optional<ConsoleSessionRow> {
    auto rs = openRead(
        "select l.usr_no, l.login_datetime, l.isAvail, c.last_seen, u.usr_no, u.account, u.name, u.pwd, u.state "
        "from umLogInfo l inner join consoleSession c on c.token=l.token left join umUsr u on u.usr_no=l.usr_no "
        "where l.token=" +
        quoted(com::Variant(token)));
    if (rs->eof()) return std::nullopt;
    ConsoleSessionRow row;
    row.usrNo = text(rs->value(0));
    row.loginTime = rs->value(1);
    row.avail = rs->value(2);
    row.lastSeen = rs->value(3);
    row.userFound = !rs->value(4).isNull();
    row.account = text(rs->value(5));
    row.name = text(rs->value(6));
    row.storedPassword = text(rs->value(7));
    row.state = rs->value(8);
    rs->close();
    return row;
  });
}

void ConsoleMgt::touchSession(const std::string& token) {
  failingCall(kSource, [&] {
    execute("update consoleSession set last_seen=" + quoted(com::Variant(consoleTimeText())) + byToken(token));
    return true;
  });
}

bool ConsoleMgt::sessionExists(const std::string& token) {
  return failingCall(kSource, [&] {
    auto rs = openRead("select token from consoleSession" + byToken(token));
    const bool exists = !rs->eof();
    rs->close();
    return exists;
  });
}

void ConsoleMgt::endSession(const std::string& token) {
  failingCall(kSource, [&] {
    execute("update umLogInfo set isAvail=0" + byToken(token));
    execute("delete from consoleSession" + byToken(token));
    return true;
  });
}

std::vector<ConsoleOpenSession> ConsoleMgt::openSessions(const std::string& usrNo) {
  return failingCall(kSource, [&] {
    auto rs = openRead(
        "select l.token, l.login_datetime, l.login_ip, c.last_seen from umLogInfo l join consoleSession c on "
        "c.token=l.token where l.isAvail=1 and l.usr_no=" +
        quoted(com::Variant(usrNo)) + " order by l.login_datetime desc");
    std::vector<ConsoleOpenSession> out;
    for (; !rs->eof(); rs->moveNext())
      out.push_back({text(rs->value(0)), text(rs->value(1)), text(rs->value(2)), text(rs->value(3))});
    rs->close();
    return out;
  });
}

int ConsoleMgt::level(const std::string& usrNo) { return adminMgt()->isSysSecUsr(usrNo); }

}  // namespace tivel::mgt
