// The dispatch interface of AppMgt: its 37 members in their published order.
// Rights, authorizations and roles are listed with their parameters and
// answer "not implemented" until their operations are built.
#include "mgt/app/app_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using com::in;
using com::opt;
using com::ref;
using com::Variant;

template <class F>
com::Handler op(F f) {
  return com::bind<AppMgt>(f);
}

const com::ClassInfo& info() {
  static const com::ClassInfo c = [] {
    com::ClassInfo c("TivelMgt.AppMgt", "AppMgt");
    // Adds
    c.method("addApp", {recParam("oAppRec"), opt(ref("strAppNo", kStr))}, op([](AppMgt& m, com::Args& a) {
      return Variant(m.addApp(recArg(a, 0, "cApp"), a[1]));
    }));
    c.method("addRes", {recParam("oResRec"), opt(ref("strResNo", kStr))}, op([](AppMgt& m, com::Args& a) {
      return Variant(m.addRes(recArg(a, 0, "cAppRes"), a[1]));
    }));
    pendingMember(c, "addRgt", {recParam("RestRec"), opt(ref("strRgtNo", kStr))});
    pendingMember(c, "addAuth", {recParam("oAuthRec"), opt(ref("strAuthNo", kStr))});
    pendingMember(c, "addRol", {recParam("oRolRec"), opt(ref("strRolNo", kStr))});
    pendingMember(c, "addRol2Usr", {recParam("oRol2UsrRec"), opt(ref("strRol2Usr", kStr))});
    // Updates
    c.method("updateApp", {recParam("oAppRec"), in("strApp_No", kStr)}, op([](AppMgt& m, com::Args& a) {
      return Variant(m.updateApp(recArg(a, 0, "cApp"), a[1].toString()));
    }));
    c.method("updateRes", {recParam("oResRec"), in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) {
      return Variant(m.updateRes(recArg(a, 0, "cAppRes"), a[1].toString()));
    }));
    pendingMember(c, "updateRgt", {recParam("RestRec"), in("strRes_no", kStr), in("strBid", kStr)});
    pendingMember(c, "setAuthOfUsr",
                  {ref("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr), ref("strAuth", kStr)});
    pendingMember(c, "updateAuth", {recParam("oAuthRec")});
    pendingMember(c, "updateRol", {recParam("oRolRec"), in("strRol_No", kStr)});
    // Deletes
    c.method("delApp", {in("strApp_No", kStr)}, op([](AppMgt& m, com::Args& a) { return Variant(m.delApp(a[0].toString())); }));
    c.method("delRes", {in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) { return Variant(m.delRes(a[0].toString())); }));
    pendingMember(c, "delRgt", {in("strRes_no", kStr), in("intBit_nod", kInt)});
    pendingMember(c, "delRgtOfRes", {in("strRes_no", kStr)});
    pendingMember(c, "delAuth", {in("Res_No", kStr), ref("OGRU_TYPE", kStr), ref("OGRU_NO", kStr)});
    pendingMember(c, "delAuthOfRes", {in("strRes_no", kStr)});
    pendingMember(c, "delRol", {in("strRol_No", kStr)});
    pendingMember(c, "delRol2Usr", {opt(in("strRol_No", kStr)), opt(ref("strUsr_no", kStr))});
    // Reads
    c.method("getAllApp", {}, op([](AppMgt& m, com::Args&) { return m.getAllApp(); }));
    pendingMember(c, "getRolOfApp", {opt(in("strAppNo", kStr))});
    c.method("getResOfApp", {opt(in("strAppNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return m.getResOfApp(textArg(a, 0)); }));
    pendingMember(c, "getRol", {in("strRol_No", kStr)});
    pendingMember(c, "getRolName", {in("strRol_No", kStr)});
    pendingMember(c, "getRolOfUsr", {opt(in("strUsr_no", kStr))});
    c.method("getApp", {in("strApp_No", kStr)}, op([](AppMgt& m, com::Args& a) { return m.getApp(a[0].toString()); }));
    c.method("getRes", {in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) { return m.getRes(a[0].toString()); }));
    c.method("isRes", {in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) { return Variant(m.isRes(a[0].toString())); }));
    c.method("getTopResOfRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getTopResOfRes(a[0].toString()); }));
    c.method("getSonResOfRes", {in("strApp_No", kStr), in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) {
      return m.getSonResOfRes(a[0].toString(), a[1].toString());
    }));
    pendingMember(c, "getRgt", {in("strRes_no", kStr), in("strNod", kStr)});
    pendingMember(c, "getRgtOfRes", {in("strRes_no", kStr)});
    pendingMember(c, "getAuth", {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)});
    pendingMember(c, "getAuthOfUsr", {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)});
    pendingMember(c, "getAuthOfRes", {in("strRes_no", kStr)});
    pendingMember(c, "getUsrOfRol", {in("strRol_No", kStr)});
    return c;
  }();
  return c;
}

const bool registered = (registerMgtClass<AppMgt>(info()), true);

}  // namespace

const com::ClassInfo& AppMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
