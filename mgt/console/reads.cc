// The console's reads that no component operation offers. Each is a fixed
// read-only statement with its values quoted; a search text's LIKE
// characters are escaped so it matches literally. A page out of range or a
// time bound that is no day or minute fails with std::invalid_argument
// before any statement runs; a failed statement fails the call.
#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "mgt/common/pattern.h"
#include "mgt/console/console_mgt.h"
#include "mgt/console/log_export.h"
#include "mgt/console/plain_text.h"

namespace tivel::mgt {
namespace {

constexpr const char* kSource = "TivelMgt.ConsoleMgt";

std::string quotedText(const std::string& s) { return quoted(com::Variant(s)); }

// A LIKE pattern matching `s` literally (escape character "\"), lower case.
std::string likeText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '%' || c == '_') out += '\\';
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// A bound of the log's time filter as WDateTime's text compares with it: a
// day ("YYYY-MM-DD") stands for the whole day, a minute ("YYYY-MM-DDTHH:MM",
// as a browser's date-and-time field sends it, or with a space) for the
// whole minute; the lower bound is its first second, the upper its last.
// Fails for anything else.
std::string timeBound(const std::string& given, bool upper) {
  com::DateTime d;
  const bool minute = given.size() == 16 && (given[10] == 'T' || given[10] == ' ');
  if ((given.size() != 10 && !minute) || !com::DateTime::parse(given, &d))
    throw std::invalid_argument("not a day or a minute: " + given);
  if (!minute) return d.text().substr(0, 10) + (upper ? " 99" : "");
  return d.text().substr(0, 16) + (upper ? ":99" : "");
}

void checkPage(int page, int size) {
  if (page < 0 || page > 1000000 || size < 1 || size > 200) throw std::invalid_argument("no such page");
}

std::string pageClause(int page, int size) {
  return " limit " + std::to_string(size) + " offset " + std::to_string(static_cast<long long>(page) * size);
}

long long counted(const std::string& sql) {
  auto rs = openRead(sql);
  const long long n = rs->eof() ? 0 : static_cast<long long>(rs->value(0).toDouble());
  rs->close();
  return n;
}

std::string userFilter(const std::string& find) {
  if (plainText(find).empty()) return "";
  const std::string like = quotedText("%" + likeText(find) + "%") + " escape '\\'";
  return " where lower(account) like " + like + " or lower(name) like " + like;
}

}  // namespace

std::string logCondition(const ConsoleLogQuery& q) {
  plainText(q.account);
  plainText(q.text);
  std::string where = " where 1=1";
  if (!q.from.empty()) where += " and WDateTime>=" + quotedText(timeBound(q.from, false));
  if (!q.to.empty()) where += " and WDateTime<=" + quotedText(timeBound(q.to, true));
  if (!q.account.empty()) where += " and lower(disc) like " + quotedText(likeText(q.account) + "%") + " escape '\\'";
  if (!q.text.empty()) where += " and lower(disc) like " + quotedText("%" + likeText(q.text) + "%") + " escape '\\'";
  return where;
}

ado::RecordsetPtr ConsoleMgt::usersPage(const std::string& find, int page, int size) {
  checkPage(page, size);
  const std::string where = userFilter(find);
  return failingCall(kSource, [&] {
    return openRead("select usr_no, account, name, state, login_count from umUsr" + where + " order by account" +
                    pageClause(page, size));
  });
}

long long ConsoleMgt::usersCount(const std::string& find) {
  const std::string where = userFilter(find);
  return failingCall(kSource, [&] { return counted("select count(*) from umUsr" + where); });
}

ado::RecordsetPtr ConsoleMgt::userLogins(const std::string& usrNo, int limit) {
  plainText(usrNo);
  return failingCall(kSource, [&] {
    return openRead("select login_datetime, login_ip, isAvail from umLogInfo where usr_no=" + quotedText(usrNo) +
                    " order by login_datetime desc limit " + std::to_string(std::clamp(limit, 1, 200)));
  });
}

ado::RecordsetPtr ConsoleMgt::userOrganisations(const std::string& usrNo) {
  plainText(usrNo);
  return failingCall(kSource, [&] {
    return openRead("select Org_no, isMain, priority from umOrg2Usr where Usr_no=" + quotedText(usrNo));
  });
}

ado::RecordsetPtr ConsoleMgt::systemAttributeKeys() {
  return failingCall(kSource, [] { return openRead("select Attr_No, name from SysAttr order by name, Attr_No"); });
}

ado::RecordsetPtr ConsoleMgt::logPage(const ConsoleLogQuery& q) {
  checkPage(q.page, q.size);
  const std::string where = logCondition(q);
  return failingCall(kSource, [&] {
    return openRead("select Log_no, WDateTime, Mod_name, disc, Log_Type, Msg_Type from SysLog" + where +
                    " order by WDateTime desc, Log_no desc" + pageClause(q.page, q.size));
  });
}

long long ConsoleMgt::logCount(const ConsoleLogQuery& q) {
  const std::string where = logCondition(q);
  return failingCall(kSource, [&] { return counted("select count(*) from SysLog" + where); });
}

}  // namespace tivel::mgt
