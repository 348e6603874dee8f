#include "tools/tivel/serve/batch.h"

#include <string>

#include "mgt/common/module.h"
#include "platform/codes/result_codes.h"
#include "platform/ado/connection_guard.h"
#include "platform/ado/interrupt.h"
#include "platform/com/error.h"
#include "tools/tivel/rpc/error.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/secrets.h"
#include "tools/tivel/serve/login_audit.h"

namespace tivel::tool {
namespace {


Json errorJson(int32_t number, const std::string& source, const std::string& description) {
  return Json{{"error", {{"number", number}, {"source", source}, {"description", description}}}};
}

BatchOutcome refusedWhole(int status, int32_t number, const std::string& description, const std::string& detail = {}) {
  Json error = errorJson(number, kHostSource, description);
  if (!detail.empty()) error["error"]["detail"] = detail;
  return {status, jsonText(error), 0, 0};
}

// The caller's scope as the host checks each request, and as the
// data-access layer checks each connection while the batch runs.
class ScopeGate : public RequestGate {
 public:
  ScopeGate(const Caller& caller, const OwnSources& own, BatchObserver* observer)
      : caller_(caller), own_(own), observer_(observer) {
    if (caller.scope->connections() == ConnectionRule::Own)
      previous_ = ado::setConnectionGuard([this](const std::string& cs) {
        if (!own_.contains(cs)) refuse("a connection to anything but the root's own data sources");
      });
    else
      previous_ = ado::setConnectionGuard(nullptr);
  }
  ~ScopeGate() override { ado::setConnectionGuard(std::move(previous_)); }

  void create(std::string_view progid) override {
    if (!caller_.scope->mayCreate(progid)) refuse(std::string(progid));
  }
  void call(const com::Object& object, std::string_view member) override {
    const std::string& progid = object.classInfo().progid();
    if (!caller_.scope->mayCall(progid, member)) refuse(progid + "." + std::string(member));
    if (caller_.scope->withholdsSecrets() && reachesSecret(object, member))
      refuse(progid + "." + std::string(member) + " (secrets=withheld)");
    if (observer_) observer_->calling(progid, member);
  }
  int64_t refused() const { return refused_; }

 private:
  [[noreturn]] void refuse(const std::string& what) {
    ++refused_;
    com::raise(kScopeRefused, kHostSource,
               "Not in the scope of \"" + caller_.name + "\" (" + caller_.scope->text() + "): " + what);
  }

  const Caller& caller_;
  const OwnSources& own_;
  BatchObserver* observer_;
  ado::ConnectionGuard previous_;
  int64_t refused_ = 0;
};

Json idOf(const Json& request) { return request.is_object() && request.contains("id") ? request["id"] : Json(nullptr); }

Json answerInstead(const Json& request, int32_t number, const std::string& description) {
  Json answer{{"id", idOf(request)}};
  answer.update(errorJson(number, kHostSource, description));
  return answer;
}

}  // namespace

BatchOutcome BatchRunner::run(std::string_view body, const Caller& caller,
                              std::chrono::steady_clock::time_point arrival, BatchObserver* observer) const {
  // The array itself is one level more than a request line may have.
  if (jsonNesting(body) > kMaxJsonNesting + 1)
    return refusedWhole(400, com::kInvalidArgument,
                        "Malformed batch: nested deeper than " + std::to_string(kMaxJsonNesting) + " levels");
  Json batch;
  try {
    batch = Json::parse(body);
  } catch (const Json::exception& e) {
    return refusedWhole(400, com::kInvalidArgument, std::string("Malformed batch: ") + e.what());
  }
  if (!batch.is_array()) return refusedWhole(400, com::kInvalidArgument, "A batch is a JSON array of requests");
  if (batch.size() > limits_.maxRequests)
    return refusedWhole(413, com::kInvalidArgument,
                        "A batch holds at most " + std::to_string(limits_.maxRequests) + " requests");

  BatchOutcome out;
  ScopeGate gate(caller, own_, observer);
  const std::shared_ptr<ado::Interrupts>& interrupts = ado::threadInterrupts();
  interrupts->reset();
  try {
    mgt::startUp();
  } catch (const com::ComError& e) {
    return refusedWhole(503, e.number(), e.description(), e.detail());
  } catch (const std::exception& e) {
    return refusedWhole(503, codes::kFail, e.what());
  }
  const std::string late = "The batch ran out of time (" + std::to_string(limits_.timeout.count()) + " ms)";
  const std::string tooLarge = "The batch's answer would pass " + std::to_string(limits_.maxAnswer) + " bytes";
  out.body = "[";
  {
    Deadline deadline(watchdog_, arrival + limits_.timeout);
    RpcHost host;
    host.setGate(&gate);
    bool full = false, stopped = false;
    for (const Json& request : batch) {
      Json answer;
      if (stopped) {
        answer = answerInstead(request, kNotRun, "An earlier request of the batch failed; this request was not run");
      } else if (full) {
        answer = answerInstead(request, kAnswerTooLarge, tooLarge + "; this request was not run");
      } else if (deadline.passed() || std::chrono::steady_clock::now() > arrival + limits_.timeout) {
        answer = answerInstead(request, kTimedOut, late + " before this request");
      } else {
        answer = host.answer(request);
        audit::batchAnswer(request, answer);
        if (caller.scope->withholdsSecrets()) withholdSecrets(request, answer);
        // The deadline came while it ran: it was interrupted, whatever it answered.
        if (deadline.passed()) answer = answerInstead(request, kTimedOut, late + ": this request was interrupted");
      }
      std::string text = jsonText(answer);
      if (!full && out.body.size() + text.size() + 2 > limits_.maxAnswer) {
        full = true;
        answer = answerInstead(request, kAnswerTooLarge, tooLarge + "; this request ran, its answer is left out");
        text = jsonText(answer);
      }
      if (observer && !stopped) stopped = !observer->answered(answer);
      if (answer.contains("error")) ++out.callErrors;
      if (out.body.size() > 1) out.body += ',';
      out.body += text;
    }
  }
  // Later work of this thread (the next batch's start-up, a health check)
  // runs its statements again.
  interrupts->reset();
  out.body += ']';
  out.refused = gate.refused();
  return out;
}

}  // namespace tivel::tool
