#include "tools/tivel/serve/console_reads.h"

#include "mgt/console/console_mgt.h"
#include "platform/ado/recordset.h"
#include "tools/tivel/serve/console_session.h"

namespace tivel::tool {
namespace {

Json text(const com::Variant& v) { return v.isNull() || v.isEmpty() ? Json(nullptr) : Json(v.toString()); }

bool isOne(const com::Variant& v) { return v.looksNumeric() && v.toDouble() == 1; }
bool isZero(const com::Variant& v) { return v.looksNumeric() && v.toDouble() == 0; }

mgt::ConsoleLogQuery logQuery(const LogQuery& q) {
  return mgt::ConsoleLogQuery{q.from, q.to, q.account, q.text, q.page, q.size};
}

}  // namespace

Json userPage(const std::string& find, int page, int size) {
  auto console = consoleMgt();
  auto rs = console->usersPage(find, page, size);
  const long long total = console->usersCount(find);
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
  auto rs = consoleMgt()->userLogins(usrNo, limit);
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext())
    rows.push_back({{"time", text(rs->value(0))}, {"address", text(rs->value(1))}, {"valid", isOne(rs->value(2))}});
  return rows;
}

Json userOrganisations(const std::string& usrNo) {
  auto rs = consoleMgt()->userOrganisations(usrNo);
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext())
    rows.push_back({{"org", text(rs->value(0))}, {"main", isZero(rs->value(1))}, {"priority", text(rs->value(2))}});
  return rows;
}

Json systemAttributeKeys() {
  auto rs = consoleMgt()->systemAttributeKeys();
  Json rows = Json::array();
  for (; !rs->eof(); rs->moveNext()) rows.push_back({{"key", text(rs->value(0))}, {"name", text(rs->value(1))}});
  return rows;
}

Json logPage(const LogQuery& q) {
  auto console = consoleMgt();
  auto rs = console->logPage(logQuery(q));
  const long long total = console->logCount(logQuery(q));
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
