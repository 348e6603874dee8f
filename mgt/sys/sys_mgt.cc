// The dispatch interface of SysMgt: its 27 members in their published order.
#include "mgt/sys/sys_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using namespace members;

const com::ClassInfo& info() {
  return dispatchInterface<SysMgt>("TivelMgt.SysMgt", "SysMgt", [](com::ClassInfo& c) {
    MemberLines<SysMgt> table(c);
    // Adds
    TIVEL_CHANGE(table, addSysAttr, {rec("oSysAttrRec", "cSysAttr"), opt(ref("strSatNo", kStr))});
    TIVEL_CHANGE(table, addMod, {rec("oModuleRec", "cSysModule"), opt(ref("strModNo", kStr))});
    TIVEL_CHANGE(table, AddHlp, {rec("oHlpRec", "cSysHlp"), opt(ref("strHlpNo", kStr))});
    TIVEL_CHANGE(table, AddHlpRef, {rec("oHlpRefRec", "cSysHlpRef"), opt(ref("strSysHlpRef_No", kStr))});
    TIVEL_CHANGE(table, AddErr, {rec("oErrRec", "cSysErr"), opt(ref("strSysErr_No", kStr))});
    TIVEL_CHANGE(table, addLog, {rec("oLogRec", "cSysLog"), opt(ref("strSysLog_No", kStr))});
    // Updates
    TIVEL_CHANGE(table, updateSysAttr, {rec("oSysAttrRec", "cSysAttr"), in("strSysAttr_No", kStr)});
    TIVEL_CHANGE(table, updateMod, {rec("oModRec", "cSysModule"), in("strMod_no", kStr)});
    TIVEL_CHANGE(table, updateHlp, {rec("oHlpRec", "cSysHlp"), in("strHlp_No", kStr)});
    TIVEL_CHANGE(table, updateErr, {rec("oErrRec", "cSysErr"), in("strErr_No", kStr)});
    TIVEL_CHANGE(table, updateLog, {rec("oLogRec", "cSysLog"), in("strLog_No", kStr)});
    // Deletes
    TIVEL_CHANGE(table, delSysAttr, {in("strSysAttr_No", kStr)});
    TIVEL_CHANGE(table, delMod, {in("strMod_no", kStr)});
    TIVEL_CHANGE(table, delHlp, {in("strHlp_No", kStr)});
    TIVEL_CHANGE(table, delErr, {in("strErr_No", kStr)});
    TIVEL_CHANGE(table, delLog, {in("strLog_No", kStr)});
    // Reads
    TIVEL_READ(table, getSysAttr, {opt(in("strSysAttr_No", kStr))});
    TIVEL_READ(table, getAllErr, {});
    TIVEL_READ(table, getMod, {in("strMod_no", kStr)});
    TIVEL_READ(table, getSonModOfMod, {in("strMod_no", kStr)});
    TIVEL_READ(table, getHlp, {opt(in("strHlp_No", kStr))});
    TIVEL_READ(table, getSonHlpOfHlp, {in("strHlp_No", kStr)});
    TIVEL_READ(table, getHlpRefofHlp, {in("strHlp_No", kStr)});
    TIVEL_READ(table, getErr, {opt(in("strErr_No", kStr))});
    TIVEL_READ(table, getLog, {opt(in("strLog_No", kStr))});
    TIVEL_READ(table, getAllLog, {});
    // The one-call log append
    TIVEL_CHANGE(table, WriteLog,
                 {in("strModNo", kStr), ref("strModName", kStr), ref("strLogDisc", kStr), opt(in("intLogType", kInt)),
                  opt(in("intMsgType", kInt))});
  });
}

const bool registered = (registerMgtClass<SysMgt>(info()), true);

}  // namespace

const com::ClassInfo& SysMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
