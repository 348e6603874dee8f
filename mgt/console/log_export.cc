#include "mgt/console/log_export.h"

#include <stdexcept>

#include "mgt/common/pattern.h"

namespace tivel::mgt {
namespace {

constexpr const char* kSource = "TivelMgt.ConsoleMgt";
constexpr const char* kColumns = "select Log_no, WDateTime, Mod_name, disc, Log_Type, Msg_Type from SysLog";

std::string quotedText(const std::string& s) { return quoted(com::Variant(s)); }

std::string text(const ado::RecordsetPtr& rs, int i) {
  const com::Variant v = rs->value(i);
  return v.isNull() ? std::string() : v.toString();
}

}  // namespace

LogExportReader::LogExportReader(const ConsoleLogQuery& query) : where_(logCondition(query)), size_(query.size) {
  if (size_ < 1 || size_ > 200) throw std::invalid_argument("no such page");
}

std::vector<ConsoleLogEntry> LogExportReader::next() {
  if (part_ == Part::Start) {
    // Entries without a time sort first on some engines and last on others;
    // the export keeps the order the log page shows on this one.
    auto first = failingCall(kSource, [&] {
      return openRead("select WDateTime from SysLog" + where_ + " order by WDateTime desc, Log_no desc limit 1");
    });
    undatedFirst_ = !first->eof() && first->value(0).isNull();
    part_ = undatedFirst_ ? Part::Undated : Part::Dated;
  }
  while (part_ != Part::Done) {
    std::vector<ConsoleLogEntry> page = read(part_ == Part::Dated);
    if (!page.empty()) return page;
    after_ = false;
    part_ = part_ == Part::Dated ? (undatedFirst_ ? Part::Done : Part::Undated)
                                 : (undatedFirst_ ? Part::Dated : Part::Done);
  }
  return {};
}

std::vector<ConsoleLogEntry> LogExportReader::read(bool dated) {
  std::string sql = kColumns + where_;
  if (dated) {
    sql += " and WDateTime is not null";
    if (after_)
      sql += " and (WDateTime<" + quotedText(lastTime_) + " or (WDateTime=" + quotedText(lastTime_) + " and Log_no<" +
             quotedText(lastNo_) + "))";
    sql += " order by WDateTime desc, Log_no desc";
  } else {
    sql += " and WDateTime is null";
    if (after_) sql += " and Log_no<" + quotedText(lastNo_);
    sql += " order by Log_no desc";
  }
  sql += " limit " + std::to_string(size_);
  auto rs = failingCall(kSource, [&] { return openRead(sql); });
  std::vector<ConsoleLogEntry> page;
  for (; !rs->eof(); rs->moveNext()) {
    page.push_back({text(rs, 1), text(rs, 2), text(rs, 3), text(rs, 4)});
    lastNo_ = text(rs, 0);
    lastTime_ = page.back().time;
    after_ = true;
  }
  return page;
}

}  // namespace tivel::mgt
