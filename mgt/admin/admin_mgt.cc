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
    MemberLines<AdminMgt> table(c);
    c.method("getRecordset", {ref("pErr"), in("pSQL")},
             op([](AdminMgt& m, com::Args& a) { return m.getRecordset(a[0], a[1]); }));
    changeMember(c, "setRecordset", {ref("pErr", kStr), in("pVar")}, op([](AdminMgt& m, com::Args& a) {
                   std::string err = a[0].toString();
                   bool ok = m.setRecordset(err, a[1]);
                   if (!ok) a[0] = Variant(err);  // untouched on success
                   return Variant(ok);
                 }));
    TIVEL_READ(table, isSysSecUsr, {ref("strUsrNo", kStr)});
    TIVEL_CHANGE(table, changePwd, {optStr("strAccount"), optStr("strPwd"), optStr("strNewPwd")});
    TIVEL_CHANGE(table, addUsr,
                 {optStr("usrAccount"), optStr("usrPwd"), optStr("usrName"), optStr("NetName"), optStr("Phone"),
                  optStr("Mobile"), optStr("Email"), optStr("Login_Mode")});
    TIVEL_CHANGE(table, loginByPwd, {optStr("strUserAccount"), optStr("strUsrPwd"), optStr("usrIp")});
    TIVEL_CHANGE(table, loginAgain, {ref("UserAccount", kStr), optStr("UsrTwoPwd")});
    TIVEL_CHANGE(table, usrSuccess, {ref("strUsr_no", kStr)});
    TIVEL_READ(table, usrIsAvail, {ref("strUsr_no", kStr), optStr("usrIp")});
    TIVEL_READ(table, usrIpLimit, {ref("strUsr_no", kStr), ref("usrIp", kStr)});
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
    TIVEL_READ(table, checkAuth, {ref("strResNo", kStr), ref("strUsrNo", kStr), ref("strAuthBit", kInt)});
    changeMember(c, "WriteLog",
                 {in("ModNo", kStr), ref("ModName", kStr), ref("LogDisc", kStr), opt(in("LogType", kInt)),
                  opt(in("MsgType", kInt))},
                 op([](AdminMgt& m, com::Args& a) {
                   return Variant(m.WriteLog(a[0], a[1], a[2], com::argOr(a, 3, Variant(int16_t{0})),
                                             com::argOr(a, 4, Variant(int16_t{0}))));
                 }));
    TIVEL_READ(table, getAuthOfUsr, {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)});
    TIVEL_CHANGE(table, setAuthOfUsr, {ref("strRes_no", kStr), in("strUsr_no", kStr), ref("strAuth", kStr)});
  });
}

const bool registered = (registerMgtClass<AdminMgt>(info()), true);

}  // namespace

const com::ClassInfo& AdminMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
