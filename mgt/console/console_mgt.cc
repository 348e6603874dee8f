// The dispatch interface of ConsoleMgt: the console's reads and its tasks
// over another user's access, called by the console's batches. The sign-in
// and the caller's own session are for the console's server only and have
// no member: a batch cannot open a session.
#include "mgt/console/console_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"
#include "mgt/common/password_rules.h"

namespace tivel::mgt {
namespace {

using namespace members;

constexpr MemberOf<ConsoleMgt> op;

Variant object(const ado::RecordsetPtr& rs) { return Variant(std::static_pointer_cast<com::Object>(rs)); }

// An optional whole-number argument; `fallback` when omitted or empty.
int wholeArg(const com::Args& a, size_t i, int fallback) {
  return i < a.size() && !a[i].isMissing() && !a[i].isBlank() ? a[i].toLong() : fallback;
}

ConsoleLogQuery logQuery(const com::Args& a) {
  ConsoleLogQuery q;
  q.from = textArg(a, 0);
  q.to = textArg(a, 1);
  q.account = textArg(a, 2);
  q.text = textArg(a, 3);
  q.page = wholeArg(a, 4, 0);
  q.size = wholeArg(a, 5, 50);
  return q;
}

const com::ClassInfo& info() {
  return dispatchInterface<ConsoleMgt>("TivelMgt.ConsoleMgt", "ConsoleMgt", [](com::ClassInfo& c) {
    c.method("getUsrPage", {opt(in("strFind", kStr)), opt(in("intPage", kLong)), opt(in("intSize", kLong))},
             op([](ConsoleMgt& m, com::Args& a) {
               return object(m.usersPage(textArg(a, 0), wholeArg(a, 1, 0), wholeArg(a, 2, 50)));
             }));
    c.method("getUsrCount", {opt(in("strFind", kStr))},
             op([](ConsoleMgt& m, com::Args& a) { return Variant(static_cast<double>(m.usersCount(textArg(a, 0)))); }));
    c.method("getUsrLogins", {in("strUsrNo", kStr), opt(in("intLimit", kLong))},
             op([](ConsoleMgt& m, com::Args& a) { return object(m.userLogins(a[0].toString(), wholeArg(a, 1, 20))); }));
    c.method("getUsrOrgs", {in("strUsrNo", kStr)},
             op([](ConsoleMgt& m, com::Args& a) { return object(m.userOrganisations(a[0].toString())); }));
    c.method("getSysAttrKeys", {}, op([](ConsoleMgt& m, com::Args&) { return object(m.systemAttributeKeys()); }));
    const std::vector<com::ParamInfo> logParams = {opt(in("strFrom", kStr)),    opt(in("strTo", kStr)),
                                                   opt(in("strAccount", kStr)), opt(in("strText", kStr)),
                                                   opt(in("intPage", kLong)),   opt(in("intSize", kLong))};
    c.method("getLogPage", logParams, op([](ConsoleMgt& m, com::Args& a) { return object(m.logPage(logQuery(a))); }));
    c.method("getLogCount",
             {opt(in("strFrom", kStr)), opt(in("strTo", kStr)), opt(in("strAccount", kStr)), opt(in("strText", kStr))},
             op([](ConsoleMgt& m, com::Args& a) { return Variant(static_cast<double>(m.logCount(logQuery(a)))); }));
    c.method("getPwdRules", {opt(in("strLang", kStr))},
             op([](ConsoleMgt& m, com::Args& a) { return Variant(m.passwordRulesText(textArg(a, 0))); }));
    MemberLines<ConsoleMgt> table(c);
    TIVEL_READ(table, getUsrSessions, {in("strUsrNo", kStr)});
    TIVEL_CHANGE(table, endUsrSessions, {in("strUsrNo", kStr), opt(ref("lngEnded", kLong))});
    TIVEL_CHANGE(
        table, enrollUsrTotp,
        {in("strUsrNo", kStr), opt(ref("strSecret", kStr)), opt(ref("strUri", kStr)), opt(ref("strQr", kStr))});
  });
}

const bool registered = (registerMgtClass<ConsoleMgt>(info()), true);

}  // namespace

const com::ClassInfo& ConsoleMgt::classInfo() const { return info(); }

std::string ConsoleMgt::passwordRulesText(const std::string& language) {
  return describePasswordRules(passwordRules(), language);
}

}  // namespace tivel::mgt
