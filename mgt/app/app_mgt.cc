// The dispatch interface of AppMgt: its 37 members in their published order.
#include "mgt/app/app_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using namespace members;

constexpr MemberOf<AppMgt> op;

const com::ClassInfo& info() {
  return dispatchInterface<AppMgt>("TivelMgt.AppMgt", "AppMgt", [](com::ClassInfo& c) {
    // Adds
    c.method("addApp", {recParam("oAppRec"), opt(ref("strAppNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.addApp(recArg(a, 0, "cApp"), a[1])); }));
    c.method("addRes", {recParam("oResRec"), opt(ref("strResNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.addRes(recArg(a, 0, "cAppRes"), a[1])); }));
    c.method("addRgt", {recParam("RestRec"), opt(ref("strRgtNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.addRgt(recArg(a, 0, "cAppRgt"), a[1])); }));
    c.method("addAuth", {recParam("oAuthRec"), opt(ref("strAuthNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.addAuth(recArg(a, 0, "cAppAuth"), a[1])); }));
    c.method("addRol", {recParam("oRolRec"), opt(ref("strRolNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.addRol(recArg(a, 0, "cAppRol"), a[1])); }));
    c.method("addRol2Usr", {recParam("oRol2UsrRec"), opt(ref("strRol2Usr", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.addRol2Usr(recArg(a, 0, "cAppRol2Usr"), a[1])); }));
    // Updates
    c.method("updateApp", {recParam("oAppRec"), in("strApp_No", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.updateApp(recArg(a, 0, "cApp"), a[1].toString())); }));
    c.method("updateRes", {recParam("oResRec"), in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) {
               return Variant(m.updateRes(recArg(a, 0, "cAppRes"), a[1].toString()));
             }));
    c.method("updateRgt", {recParam("RestRec"), in("strRes_no", kStr), in("strBid", kStr)},
             op([](AppMgt& m, com::Args& a) {
               return Variant(m.updateRgt(recArg(a, 0, "cAppRgt"), a[1].toString(), a[2].toString()));
             }));
    c.method("setAuthOfUsr",
             {ref("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr), ref("strAuth", kStr)},
             op([](AppMgt& m, com::Args& a) {
               return Variant(m.setAuthOfUsr(a[0].toString(), a[1].toString(), a[2].toString(), a[3].toString()));
             }));
    c.method("updateAuth", {recParam("oAuthRec")},
             op([](AppMgt& m, com::Args& a) { return Variant(m.updateAuth(recArg(a, 0, "cAppAuth"))); }));
    c.method("updateRol", {recParam("oRolRec"), in("strRol_No", kStr)}, op([](AppMgt& m, com::Args& a) {
               return Variant(m.updateRol(recArg(a, 0, "cAppRol"), a[1].toString()));
             }));
    // Deletes
    c.method("delApp", {in("strApp_No", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delApp(a[0].toString())); }));
    c.method("delRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delRes(a[0].toString())); }));
    c.method("delRgt", {in("strRes_no", kStr), in("intBit_nod", kInt)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delRgt(a[0].toString(), a[1].toInteger())); }));
    c.method("delRgtOfRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delRgtOfRes(a[0].toString())); }));
    c.method("delAuth", {in("Res_No", kStr), ref("OGRU_TYPE", kStr), ref("OGRU_NO", kStr)},
             op([](AppMgt& m, com::Args& a) {
               return Variant(m.delAuth(a[0].toString(), a[1].toString(), a[2].toString()));
             }));
    c.method("delAuthOfRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delAuthOfRes(a[0].toString())); }));
    c.method("delRol", {in("strRol_No", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delRol(a[0].toString())); }));
    c.method("delRol2Usr", {opt(in("strRol_No", kStr)), opt(ref("strUsr_no", kStr))},
             op([](AppMgt& m, com::Args& a) { return Variant(m.delRol2Usr(textArg(a, 0), textArg(a, 1))); }));
    // Reads
    c.method("getAllApp", {}, op([](AppMgt& m, com::Args&) { return m.getAllApp(); }));
    c.method("getRolOfApp", {opt(in("strAppNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return m.getRolOfApp(textArg(a, 0)); }));
    c.method("getResOfApp", {opt(in("strAppNo", kStr))},
             op([](AppMgt& m, com::Args& a) { return m.getResOfApp(textArg(a, 0)); }));
    c.method("getRol", {in("strRol_No", kStr)}, op([](AppMgt& m, com::Args& a) { return m.getRol(a[0].toString()); }));
    c.method("getRolName", {in("strRol_No", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.getRolName(a[0].toString())); }));
    c.method("getRolOfUsr", {opt(in("strUsr_no", kStr))},
             op([](AppMgt& m, com::Args& a) { return m.getRolOfUsr(textArg(a, 0)); }));
    c.method("getApp", {in("strApp_No", kStr)}, op([](AppMgt& m, com::Args& a) { return m.getApp(a[0].toString()); }));
    c.method("getRes", {in("strRes_no", kStr)}, op([](AppMgt& m, com::Args& a) { return m.getRes(a[0].toString()); }));
    c.method("isRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return Variant(m.isRes(a[0].toString())); }));
    c.method("getTopResOfRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getTopResOfRes(a[0].toString()); }));
    c.method("getSonResOfRes", {in("strApp_No", kStr), in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getSonResOfRes(a[0].toString(), a[1].toString()); }));
    c.method("getRgt", {in("strRes_no", kStr), in("strNod", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getRgt(a[0].toString(), a[1].toString()); }));
    c.method("getRgtOfRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getRgtOfRes(a[0].toString()); }));
    c.method("getAuth", {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getAuth(a[0].toString(), a[1].toString(), a[2].toString()); }));
    c.method("getAuthOfUsr", {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)},
             op([](AppMgt& m, com::Args& a) {
               return Variant(m.getAuthOfUsr(a[0].toString(), a[1].toString(), a[2].toString()));
             }));
    c.method("getAuthOfRes", {in("strRes_no", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getAuthOfRes(a[0].toString()); }));
    c.method("getUsrOfRol", {in("strRol_No", kStr)},
             op([](AppMgt& m, com::Args& a) { return m.getUsrOfRol(a[0].toString()); }));
  });
}

const bool registered = (registerMgtClass<AppMgt>(info()), true);

}  // namespace

const com::ClassInfo& AppMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
