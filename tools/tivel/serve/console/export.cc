#include "tools/tivel/serve/console/export.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "mgt/common/collection.h"
#include "mgt/console/console_mgt.h"
#include "mgt/console/log_export.h"
#include "mgt/console/user_tasks.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "records/record.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/console/change.h"

namespace tivel::tool {
namespace {

// Rows read at a time: a page of the component's or the log's own read.
constexpr int kPage = 200;

std::string argument(const HttpRequest& req, std::string_view name) {
  for (const auto& [k, v] : req.arguments)
    if (k == name) return v;
  return "";
}

// CSV lines: every cell through csvCell, CRLF after each row.
void csvRow(std::string& text, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) text += (i ? "," : "") + csvCell(cells[i]);
  text += "\r\n";
}

struct TooMany : std::runtime_error {
  TooMany() : std::runtime_error("too many rows") {}
};

std::string cell(const records::Record& r, const char* name) {
  const com::Variant v = r.get(name);
  return v.isNull() || v.isEmpty() ? "" : v.toString();
}

// One export: its header row and its rows a page at a time, read on the
// worker that sends them (so it owns its filters, never the request).
struct Source {
  std::vector<std::string> header;
  // Appends the CSV lines of page `page` (asked for in order, from 0) to
  // `text`; answers how many rows it held.
  std::function<size_t(int page, std::string& text)> page;
};

// The users the list's filters select, in the list's order, through UserTasks.
Source users(const HttpRequest& req) {
  const mgt::UserFilter filter{argument(req, "q"), argument(req, "org"), argument(req, "grp"), argument(req, "state")};
  if (static_cast<size_t>(mgt::UserTasks().countUsr(filter)) > kExportRowLimit) throw TooMany();
  return {{"帐号 Account", "姓名 Name", "状态 State", "电话 Phone", "手机 Mobile", "电子邮件 E-mail", "登录次数 Logins",
           "创建时间 Created"},
          [filter, sort = argument(req, "sort")](int page, std::string& text) {
            mgt::UserTasks tasks;
            auto list =
                std::dynamic_pointer_cast<mgt::cCollection>(tasks.findUsr(filter, sort, page, kPage).toObject());
            const int n = list ? list->Count() : 0;
            for (int i = 1; i <= n; ++i) {
              auto r = std::dynamic_pointer_cast<records::Record>(list->Item(i).toObject());
              csvRow(text, {cell(*r, "Account"), cell(*r, "Name"), cell(*r, "State"), cell(*r, "Phone"),
                            cell(*r, "Mobile"), cell(*r, "Email"), cell(*r, "Login_Count"), cell(*r, "Account_Time")});
            }
            return static_cast<size_t>(n);
          }};
}

// The log entries the log page's filters select, newest first, each page
// read after the last entry of the one before.
Source log(const HttpRequest& req) {
  const mgt::ConsoleLogQuery q{
      argument(req, "from"), argument(req, "to"), argument(req, "account"), argument(req, "text"), 0, kPage};
  if (mgt::ConsoleMgt().logCount(q) > static_cast<long long>(kExportRowLimit)) throw TooMany();
  return {{"时间 Time", "模块 Module", "内容 Entry", "类型 Type"},
          [reader = std::make_shared<mgt::LogExportReader>(q)](int, std::string& text) {
            const std::vector<mgt::ConsoleLogEntry> page = reader->next();
            for (const mgt::ConsoleLogEntry& e : page) csvRow(text, {e.time, e.module, e.text, e.type});
            return page.size();
          }};
}

void fail(HttpResponse& res, int status, const std::string& message) {
  res.status = status;
  res.contentType = "application/json";
  res.headers.emplace_back("Cache-Control", "no-store");
  res.body = Json{{"error", "export"}, {"message", message}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string csvCell(std::string_view text) {
  std::string out = "\"";
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) out += '\'';
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void answerExport(const HttpRequest& req, HttpResponse& res, const std::string& account) {
  const std::string name = req.path.substr(req.path.rfind('/') + 1);
  if (name != "users.csv" && name != "log.csv") return fail(res, 404, "No such export: " + req.path);
  // The count and the first page are read before the head goes, so a
  // selection past the cap or a filter that cannot be read is still answered
  // 413 or 400; the later pages are read as the client takes the earlier ones.
  Source source;
  std::string first = "\xEF\xBB\xBF";
  size_t firstRows = 0;
  try {
    source = name == "users.csv" ? users(req) : log(req);
    csvRow(first, source.header);
    firstRows = source.page(0, first);
  } catch (const TooMany&) {
    return fail(res, 413, "More than " + std::to_string(kExportRowLimit) + " rows: narrow the filters");
  } catch (const std::invalid_argument& e) {
    return fail(res, 400, e.what());
  } catch (const com::ComError& e) {
    return fail(res, 400, com::describe(e));
  }
  res.status = 200;
  res.contentType = "text/csv; charset=utf-8";
  res.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + name + "\"");
  res.headers.emplace_back("Cache-Control", "no-store");
  const std::string what = name == "users.csv" ? "用户" : "系统日志";
  res.producer = [source = std::move(source), first = std::move(first), firstRows, what,
                  account](const BodyWriter& write) {
    // The export's log entry is written after its last row, so a log export
    // never holds its own entry; an export cut short says so in it.
    bool sent = write(first), more = firstRows == static_cast<size_t>(kPage);
    size_t rows = sent ? firstRows : 0;  // rows written
    try {
      for (int page = 1; sent && more && rows < kExportRowLimit; ++page) {
        std::string text;
        const size_t n = source.page(page, text);
        more = n == static_cast<size_t>(kPage);
        if (n > 0) sent = write(text);
        if (sent) rows += n;
      }
    } catch (const std::exception&) {
      sent = false;  // a page that could not be read: the file ends cut short
    }
    const std::string entry =
        account + "在控制台：导出" + what + " CSV（" + std::to_string(rows) + " 行" + (sent ? "" : "，未送完") + "）";
    return writeConsoleLog(entry) && sent;
  };
}

}  // namespace tivel::tool
