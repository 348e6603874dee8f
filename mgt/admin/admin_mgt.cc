// The dispatch interface of AdminMgt: its 19 members in their published order.
#include "mgt/admin/admin_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using namespace members;

constexpr MemberOf<AdminMgt> op;

// String arguments are by reference unless the interface says by value;
// omitted optional ones read as "".
com::ParamInfo optStr(const char* name) { return opt(ref(name, kStr)); }

const com::ClassInfo& info() {
  return dispatchInterface<AdminMgt>("TivelMgt.AdminMgt", "AdminMgt", [](com::ClassInfo& c) {
    c.method("getRecordset", {ref("pErr"), in("pSQL")},
             op([](AdminMgt& m, com::Args& a) { return m.getRecordset(a[0], a[1]); }));
    c.method("setRecordset", {ref("pErr", kStr), in("pVar")}, op([](AdminMgt& m, com::Args& a) {
               std::string err = a[0].toString();
               bool ok = m.setRecordset(err, a[1]);
               if (!ok) a[0] = Variant(err);  // untouched on success
               return Variant(ok);
             }));
    c.method("isSysSecUsr", {ref("strUsrNo", kStr)},
             op([](AdminMgt& m, com::Args& a) { return Variant(m.isSysSecUsr(a[0].toString())); }));
    c.method("changePwd", {optStr("strAccount"), optStr("strPwd"), optStr("strNewPwd")},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.changePwd(textArg(a, 0), textArg(a, 1), textArg(a, 2)));
             }));
    c.method("addUsr",
             {optStr("usrAccount"), optStr("usrPwd"), optStr("usrName"), optStr("NetName"), optStr("Phone"),
              optStr("Mobile"), optStr("Email"), optStr("Login_Mode")},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.addUsr(textArg(a, 0), textArg(a, 1), textArg(a, 2), textArg(a, 3), textArg(a, 4),
                                       textArg(a, 5), textArg(a, 6), textArg(a, 7)));
             }));
    c.method("loginByPwd", {optStr("strUserAccount"), optStr("strUsrPwd"), optStr("usrIp")},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.loginByPwd(textArg(a, 0), textArg(a, 1), textArg(a, 2)));
             }));
    c.method("loginAgain", {ref("UserAccount", kStr), optStr("UsrTwoPwd")},
             op([](AdminMgt& m, com::Args& a) { return Variant(m.loginAgain(a[0].toString(), textArg(a, 1))); }));
    c.method("usrSuccess", {ref("strUsr_no", kStr)},
             op([](AdminMgt& m, com::Args& a) { return Variant(m.usrSuccess(a[0].toString())); }));
    c.method("usrIsAvail", {ref("strUsr_no", kStr), optStr("usrIp")},
             op([](AdminMgt& m, com::Args& a) { return Variant(m.usrIsAvail(a[0].toString(), textArg(a, 1))); }));
    c.method("usrIpLimit", {ref("strUsr_no", kStr), ref("usrIp", kStr)},
             op([](AdminMgt& m, com::Args& a) { return Variant(m.usrIpLimit(a[0].toString(), a[1].toString())); }));
    using Check = bool (AdminMgt::*)(const std::string&);
    auto check = [&c](const char* name, Check fn) {
      c.method(name, {ref("strUsr_no", kStr)},
               op([fn](AdminMgt& m, com::Args& a) { return Variant((m.*fn)(a[0].toString())); }));
    };
    check("usrTimeLimit", &AdminMgt::usrTimeLimit);
    check("usrLogErrLimit", &AdminMgt::usrLogErrLimit);
    check("usrAcntLimit", &AdminMgt::usrAcntLimit);
    check("usrPwdLimit", &AdminMgt::usrPwdLimit);
    check("usrPwdFirstLimit", &AdminMgt::usrPwdFirstLimit);
    c.method("checkAuth", {ref("strResNo", kStr), ref("strUsrNo", kStr), ref("strAuthBit", kInt)},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.checkAuth(a[0].toString(), a[1].toString(), a[2].toInteger()));
             }));
    c.method("WriteLog",
             {in("ModNo", kStr), ref("ModName", kStr), ref("LogDisc", kStr), opt(in("LogType", kInt)),
              opt(in("MsgType", kInt))},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.WriteLog(a[0], a[1], a[2], com::argOr(a, 3, Variant(int16_t{0})),
                                         com::argOr(a, 4, Variant(int16_t{0}))));
             }));
    c.method("getAuthOfUsr", {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.getAuthOfUsr(a[0].toString(), a[1].toString(), a[2].toString()));
             }));
    c.method("setAuthOfUsr", {ref("strRes_no", kStr), in("strUsr_no", kStr), ref("strAuth", kStr)},
             op([](AdminMgt& m, com::Args& a) {
               return Variant(m.setAuthOfUsr(a[0].toString(), a[1].toString(), a[2].toString()));
             }));
  });
}

const bool registered = (registerMgtClass<AdminMgt>(info()), true);

}  // namespace

const com::ClassInfo& AdminMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
