#include "tools/tivel/serve/console/export.h"

#include <stdexcept>
#include <vector>

#include "mgt/common/collection.h"
#include "mgt/console/console_mgt.h"
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

class Csv {
 public:
  Csv() { text_ = "\xEF\xBB\xBF"; }
  void row(const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) text_ += (i ? "," : "") + csvCell(cells[i]);
    text_ += "\r\n";
  }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

struct TooMany : std::runtime_error {
  TooMany() : std::runtime_error("too many rows") {}
};

std::string cell(const records::Record& r, const char* name) {
  const com::Variant v = r.get(name);
  return v.isNull() || v.isEmpty() ? "" : v.toString();
}

// The users the list's filters select, in the list's order, through UserTasks.
size_t users(const HttpRequest& req, Csv& csv) {
  const mgt::UserFilter filter{argument(req, "q"), argument(req, "org"), argument(req, "grp"), argument(req, "state")};
  const std::string sort = argument(req, "sort");
  mgt::UserTasks tasks;
  if (static_cast<size_t>(tasks.countUsr(filter)) > kExportRowLimit) throw TooMany();
  csv.row({"帐号 Account", "姓名 Name", "状态 State", "电话 Phone", "手机 Mobile", "电子邮件 E-mail", "登录次数 Logins",
           "创建时间 Created"});
  size_t rows = 0;
  for (int page = 0;; ++page) {
    auto list = std::dynamic_pointer_cast<mgt::cCollection>(tasks.findUsr(filter, sort, page, kPage).toObject());
    const int n = list ? list->Count() : 0;
    for (int i = 1; i <= n; ++i) {
      auto r = std::dynamic_pointer_cast<records::Record>(list->Item(i).toObject());
      csv.row({cell(*r, "Account"), cell(*r, "Name"), cell(*r, "State"), cell(*r, "Phone"), cell(*r, "Mobile"),
               cell(*r, "Email"), cell(*r, "Login_Count"), cell(*r, "Account_Time")});
    }
    rows += static_cast<size_t>(n);
    if (n < kPage) return rows;
  }
}

// The log entries the log page's filters select, newest first.
size_t log(const HttpRequest& req, Csv& csv) {
  mgt::ConsoleLogQuery q{argument(req, "from"), argument(req, "to"), argument(req, "account"), argument(req, "text"), 0,
                         kPage};
  mgt::ConsoleMgt console;
  if (console.logCount(q) > static_cast<long long>(kExportRowLimit)) throw TooMany();
  csv.row({"时间 Time", "模块 Module", "内容 Entry", "类型 Type"});
  size_t rows = 0;
  for (;; ++q.page) {
    ado::RecordsetPtr rs = console.logPage(q);
    size_t n = 0;
    const auto text = [&](int i) {
      const com::Variant v = rs->value(i);
      return v.isNull() ? std::string() : v.toString();
    };
    for (; !rs->eof(); rs->moveNext(), ++n) csv.row({text(1), text(2), text(3), text(4)});
    rows += n;
    if (n < static_cast<size_t>(kPage)) return rows;
  }
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
  Csv csv;
  size_t rows = 0;
  try {
    rows = name == "users.csv" ? users(req, csv) : log(req, csv);
  } catch (const TooMany&) {
    return fail(res, 413, "More than " + std::to_string(kExportRowLimit) + " rows: narrow the filters");
  } catch (const std::invalid_argument& e) {
    return fail(res, 400, e.what());
  } catch (const com::ComError& e) {
    return fail(res, 400, com::describe(e));
  }
  const std::string what = name == "users.csv" ? "用户" : "系统日志";
  if (!writeConsoleLog(account + "在控制台：导出" + what + " CSV（" + std::to_string(rows) + " 行）"))
    return fail(res, 503, "The export could not be logged");
  res.status = 200;
  res.contentType = "text/csv; charset=utf-8";
  res.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + name + "\"");
  res.headers.emplace_back("Cache-Control", "no-store");
  res.body = std::move(csv.text());
}

}  // namespace tivel::tool
