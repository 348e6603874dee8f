#include "tools/tivel/serve/console/change.h"

#include <memory>
#include <vector>

#include "mgt/common/member_table.h"
#include "mgt/common/module.h"
#include "platform/com/registry.h"
#include "tools/tivel/serve/console/session.h"
#include "tools/tivel/serve/scope.h"

namespace tivel::tool {
namespace {

// Watches the batch: opens the transaction at the first change, notes the
// changes made, and stops the batch at the first failure after it.
class ChangeWatch : public BatchObserver {
 public:
  void calling(std::string_view progid, std::string_view member) override {
    changing_ = changesData(progid, member);
    if (!changing_) return;
    if (!open_) {
      consoleMgt()->beginChange();
      open_ = true;
    }
    std::string call = std::string(progid.substr(progid.find('.') + 1)) + "." + std::string(member);
    if (calls_.empty() || calls_.back() != call) calls_.push_back(std::move(call));
  }

  bool answered(const Json& answer) override {
    const bool ok =
        !answer.contains("error") && (!changing_ || answer["result"] == Json("0") || answer["result"] == Json(true));
    changing_ = false;
    if (!ok && open_) failed_ = true;
    return !failed_;
  }

  bool open() const { return open_; }
  bool failed() const { return failed_; }
  std::string calls() const {
    std::string out;
    for (const std::string& c : calls_) out += (out.empty() ? "" : ",") + c;
    return out;
  }

 private:
  bool changing_ = false;  // the request running calls a change
  bool open_ = false;      // the transaction began
  bool failed_ = false;
  std::vector<std::string> calls_;
};

// The console's scope: the management and record classes only.
std::shared_ptr<const Scope> consoleScope() {
  static const std::shared_ptr<const Scope> console = std::make_shared<const Scope>(Scope::parse("console"));
  return console;
}


}  // namespace

bool writeConsoleLog(const std::string& text) {
  com::ObjectPtr sys = com::CreateObject("TivelMgt.SysMgt");
  com::Args a{com::Variant("0"), com::Variant("console"), com::Variant(text), com::Variant(int16_t{0}),
              com::Variant(int16_t{0})};
  return sys->invoke("WriteLog", com::MemberKind::Method, a).toBool();
}

// The members' table says which members change stored data.
bool changesData(std::string_view progid, std::string_view member) { return mgt::changesData(progid, member); }

std::string changeLogText(const std::string& account, const std::string& description, const std::string& calls) {
  return account + "在控制台：" + (description.empty() ? std::string() : description + " ") + "[" + calls + "]";
}

ConsoleBatch runConsoleBatch(ServeServer& server, const HttpRequest& request, const std::string& account,
                             const std::string& description) {
  const Caller caller{"console:" + account, consoleScope()};
  ChangeWatch watch;
  ConsoleBatch out;
  out.batch = server.runBatch(request, caller, &watch);
  if (!watch.open()) return out;
  bool keep = !watch.failed();
  try {
    keep = keep && writeConsoleLog(changeLogText(account, description, watch.calls()));
  } catch (const std::exception&) {
    keep = false;
  }
  keep = consoleMgt()->endChange(keep);
  out.change = keep ? ChangeOutcome::Done : ChangeOutcome::Undone;
  return out;
}

}  // namespace tivel::tool
