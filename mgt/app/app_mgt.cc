// The dispatch interface of AppMgt: its 37 members in their published order.
#include "mgt/app/app_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using namespace members;

const com::ClassInfo& info() {
  return dispatchInterface<AppMgt>("TivelMgt.AppMgt", "AppMgt", [](com::ClassInfo& c) {
    MemberLines<AppMgt> table(c);
    // Adds
    TIVEL_CHANGE(table, addApp, {rec("oAppRec", "cApp"), opt(ref("strAppNo", kStr))});
    TIVEL_CHANGE(table, addRes, {rec("oResRec", "cAppRes"), opt(ref("strResNo", kStr))});
    TIVEL_CHANGE(table, addRgt, {rec("RestRec", "cAppRgt"), opt(ref("strRgtNo", kStr))});
    TIVEL_CHANGE(table, addAuth, {rec("oAuthRec", "cAppAuth"), opt(ref("strAuthNo", kStr))});
    TIVEL_CHANGE(table, addRol, {rec("oRolRec", "cAppRol"), opt(ref("strRolNo", kStr))});
    TIVEL_CHANGE(table, addRol2Usr, {rec("oRol2UsrRec", "cAppRol2Usr"), opt(ref("strRol2Usr", kStr))});
    // Updates
    TIVEL_CHANGE(table, updateApp, {rec("oAppRec", "cApp"), in("strApp_No", kStr)});
    TIVEL_CHANGE(table, updateRes, {rec("oResRec", "cAppRes"), in("strRes_no", kStr)});
    TIVEL_CHANGE(table, updateRgt, {rec("RestRec", "cAppRgt"), in("strRes_no", kStr), in("strBid", kStr)});
    TIVEL_CHANGE(table, setAuthOfUsr,
                 {ref("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr), ref("strAuth", kStr)});
    TIVEL_CHANGE(table, updateAuth, {rec("oAuthRec", "cAppAuth")});
    TIVEL_CHANGE(table, updateRol, {rec("oRolRec", "cAppRol"), in("strRol_No", kStr)});
    // Deletes
    TIVEL_CHANGE(table, delApp, {in("strApp_No", kStr)});
    TIVEL_CHANGE(table, delRes, {in("strRes_no", kStr)});
    TIVEL_CHANGE(table, delRgt, {in("strRes_no", kStr), in("intBit_nod", kInt)});
    TIVEL_CHANGE(table, delRgtOfRes, {in("strRes_no", kStr)});
    TIVEL_CHANGE(table, delAuth, {in("Res_No", kStr), ref("OGRU_TYPE", kStr), ref("OGRU_NO", kStr)});
    TIVEL_CHANGE(table, delAuthOfRes, {in("strRes_no", kStr)});
    TIVEL_CHANGE(table, delRol, {in("strRol_No", kStr)});
    TIVEL_CHANGE(table, delRol2Usr, {opt(in("strRol_No", kStr)), opt(ref("strUsr_no", kStr))});
    // Reads
    TIVEL_READ(table, getAllApp, {});
    TIVEL_READ(table, getRolOfApp, {opt(in("strAppNo", kStr))});
    TIVEL_READ(table, getResOfApp, {opt(in("strAppNo", kStr))});
    TIVEL_READ(table, getRol, {in("strRol_No", kStr)});
    TIVEL_READ(table, getRolName, {in("strRol_No", kStr)});
    TIVEL_READ(table, getRolOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getApp, {in("strApp_No", kStr)});
    TIVEL_READ(table, getRes, {in("strRes_no", kStr)});
    TIVEL_READ(table, isRes, {in("strRes_no", kStr)});
    TIVEL_READ(table, getTopResOfRes, {in("strRes_no", kStr)});
    TIVEL_READ(table, getSonResOfRes, {in("strApp_No", kStr), in("strRes_no", kStr)});
    TIVEL_READ(table, getRgt, {in("strRes_no", kStr), in("strNod", kStr)});
    TIVEL_READ(table, getRgtOfRes, {in("strRes_no", kStr)});
    TIVEL_READ(table, getAuth, {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)});
    TIVEL_READ(table, getAuthOfUsr, {in("strRes_no", kStr), in("strOGRU_Type", kStr), in("strOGRU_No", kStr)});
    TIVEL_READ(table, getAuthOfRes, {in("strRes_no", kStr)});
    TIVEL_READ(table, getUsrOfRol, {in("strRol_No", kStr)});
  });
}

const bool registered = (registerMgtClass<AppMgt>(info()), true);

}  // namespace

const com::ClassInfo& AppMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
