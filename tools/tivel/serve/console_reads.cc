#include "tools/tivel/serve/console_reads.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "platform/ado/recordset.h"

namespace tivel::tool {
namespace {

ado::RecordsetPtr query(const std::string& sql) { return mgt::sharedConnection()->execute(sql); }

Json text(const com::Variant& v) { return v.isNull() || v.isEmpty() ? Json(nullptr) : Json(v.toString()); }

std::string quoted(const std::string& s) { return "'" + mgt::QuoteSql(s) + "'"; }

// A LIKE pattern matching `s` literally (escape character "\"), lower case.
std::string likeText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '%' || c == '_') out += '\\';
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// A day as "YYYY-MM-DD"; fails for anything else.
std::string day(const std::string& given) {
  com::DateTime d;
  if (given.size() != 10 || !com::DateTime::parse(given, &d)) throw std::invalid_argument("not a day: " + given);
  return d.text().substr(0, 10);
}

// The number a count(*) statement answers.
long long counted(const std::string& sql) {
  auto rs = query(sql);
  return rs->eof() ? 0 : static_cast<long long>(rs->value(0).toDouble());
}

void checkPage(int page, int size) {
  if (page < 0 || page > 1000000 || size < 1 || size > 200) throw std::invalid_argument("no such page");
}

std::string pageClause(int page, int size) {
  return " limit " + std::to_string(size) + " offset " + std::to_string(static_cast<long long>(page) * size);
}

}  // namespace

Json userPage(const std::string& find, int page, int size) {
  checkPage(page, size);
  std::string where;
  if (!find.empty()) {
    const std::string like = quoted("%" + likeText(find) + "%") + " escape '\\'";
    where = " where lower(account) like " + like + " or lower(name) like " + like;
  }
  const long long total = counted("select count(*) from umUsr" + where);
  auto rs = query("select usr_no, account, name, state, login_count from umUsr" + where + " order by account" +
                  pageClause(page, size));
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext())
    rows.push_back({{"usrNo", text(rs->value(0))},
                    {"account", text(rs->value(1))},
                    {"name", text(rs->value(2))},
                    {"state", text(rs->value(3))},
                    {"loginCount", text(rs->value(4))}});
  return Json{{"total", total}, {"rows", std::move(rows)}};
}

Json userLogins(const std::string& usrNo, int limit) {
  auto rs = query("select login_datetime, login_ip, isAvail from umLogInfo where usr_no=" + quoted(usrNo) +
                  " order by login_datetime desc limit " + std::to_string(std::clamp(limit, 1, 200)));
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext())
    rows.push_back({{"time", text(rs->value(0))},
                    {"address", text(rs->value(1))},
                    {"valid", rs->value(2).looksNumeric() && rs->value(2).toDouble() == 1}});
  return rows;
}

Json userOrganisations(const std::string& usrNo) {
  auto rs = query("select Org_no, isMain, priority from umOrg2Usr where Usr_no=" + quoted(usrNo));
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext())
    rows.push_back({{"org", text(rs->value(0))},
                    {"main", rs->value(1).looksNumeric() && rs->value(1).toDouble() == 0},
                    {"priority", text(rs->value(2))}});
  return rows;
}

Json systemAttributeKeys() {
  auto rs = query("select Attr_No, name from SysAttr order by name, Attr_No");
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext()) rows.push_back({{"key", text(rs->value(0))}, {"name", text(rs->value(1))}});
  return rows;
}

Json logPage(const LogQuery& q) {
  checkPage(q.page, q.size);
  std::string where = " where 1=1";
  if (!q.from.empty()) where += " and WDateTime>=" + quoted(day(q.from));
  if (!q.to.empty()) where += " and WDateTime<=" + quoted(day(q.to) + " 99");
  if (!q.account.empty()) where += " and lower(disc) like " + quoted(likeText(q.account) + "%") + " escape '\\'";
  if (!q.text.empty()) where += " and lower(disc) like " + quoted("%" + likeText(q.text) + "%") + " escape '\\'";
  const long long total = counted("select count(*) from SysLog" + where);
  auto rs = query("select Log_no, WDateTime, Mod_name, disc, Log_Type, Msg_Type from SysLog" + where +
                  " order by WDateTime desc, Log_no desc" + pageClause(q.page, q.size));
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext())
    rows.push_back({{"key", text(rs->value(0))},
                    {"time", text(rs->value(1))},
                    {"module", text(rs->value(2))},
                    {"text", text(rs->value(3))},
                    {"logType", text(rs->value(4))},
                    {"msgType", text(rs->value(5))}});
  return Json{{"total", total}, {"rows", std::move(rows)}};
}

}  // namespace tivel::tool
