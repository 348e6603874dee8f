// The dispatch interface of SysMgt: its 27 members in their published order.
#include "mgt/sys/sys_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using namespace members;

constexpr MemberOf<SysMgt> op;

// An optional 16-bit argument; 0 when omitted.
int16_t smallArg(const com::Args& a, size_t i) { return com::argOr(a, i, Variant(int16_t{0})).toInteger(); }

const com::ClassInfo& info() {
  return dispatchInterface<SysMgt>("TivelMgt.SysMgt", "SysMgt", [](com::ClassInfo& c) {
    // Adds
    c.method("addSysAttr", {recParam("oSysAttrRec"), opt(ref("strSatNo", kStr))},
             op([](SysMgt& m, com::Args& a) { return Variant(m.addSysAttr(recArg(a, 0, "cSysAttr"), a[1])); }));
    c.method("addMod", {recParam("oModuleRec"), opt(ref("strModNo", kStr))},
             op([](SysMgt& m, com::Args& a) { return Variant(m.addMod(recArg(a, 0, "cSysModule"), a[1])); }));
    c.method("AddHlp", {recParam("oHlpRec"), opt(ref("strHlpNo", kStr))},
             op([](SysMgt& m, com::Args& a) { return Variant(m.AddHlp(recArg(a, 0, "cSysHlp"), a[1])); }));
    c.method("AddHlpRef", {recParam("oHlpRefRec"), opt(ref("strSysHlpRef_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return Variant(m.AddHlpRef(recArg(a, 0, "cSysHlpRef"), a[1])); }));
    c.method("AddErr", {recParam("oErrRec"), opt(ref("strSysErr_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return Variant(m.AddErr(recArg(a, 0, "cSysErr"), a[1])); }));
    c.method("addLog", {recParam("oLogRec"), opt(ref("strSysLog_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return Variant(m.addLog(recArg(a, 0, "cSysLog"), a[1])); }));
    // Updates
    c.method("updateSysAttr", {recParam("oSysAttrRec"), in("strSysAttr_No", kStr)}, op([](SysMgt& m, com::Args& a) {
               return Variant(m.updateSysAttr(recArg(a, 0, "cSysAttr"), a[1].toString()));
             }));
    c.method("updateMod", {recParam("oModRec"), in("strMod_no", kStr)}, op([](SysMgt& m, com::Args& a) {
               return Variant(m.updateMod(recArg(a, 0, "cSysModule"), a[1].toString()));
             }));
    c.method("updateHlp", {recParam("oHlpRec"), in("strHlp_No", kStr)}, op([](SysMgt& m, com::Args& a) {
               return Variant(m.updateHlp(recArg(a, 0, "cSysHlp"), a[1].toString()));
             }));
    c.method("updateErr", {recParam("oErrRec"), in("strErr_No", kStr)}, op([](SysMgt& m, com::Args& a) {
               return Variant(m.updateErr(recArg(a, 0, "cSysErr"), a[1].toString()));
             }));
    c.method("updateLog", {recParam("oLogRec"), in("strLog_No", kStr)}, op([](SysMgt& m, com::Args& a) {
               return Variant(m.updateLog(recArg(a, 0, "cSysLog"), a[1].toString()));
             }));
    // Deletes
    c.method("delSysAttr", {in("strSysAttr_No", kStr)},
             op([](SysMgt& m, com::Args& a) { return Variant(m.delSysAttr(a[0].toString())); }));
    c.method("delMod", {in("strMod_no", kStr)},
             op([](SysMgt& m, com::Args& a) { return Variant(m.delMod(a[0].toString())); }));
    c.method("delHlp", {in("strHlp_No", kStr)},
             op([](SysMgt& m, com::Args& a) { return Variant(m.delHlp(a[0].toString())); }));
    c.method("delErr", {in("strErr_No", kStr)},
             op([](SysMgt& m, com::Args& a) { return Variant(m.delErr(a[0].toString())); }));
    c.method("delLog", {in("strLog_No", kStr)},
             op([](SysMgt& m, com::Args& a) { return Variant(m.delLog(a[0].toString())); }));
    // Reads
    c.method("getSysAttr", {opt(in("strSysAttr_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return m.getSysAttr(textArg(a, 0)); }));
    c.method("getAllErr", {}, op([](SysMgt& m, com::Args&) { return m.getAllErr(); }));
    c.method("getMod", {in("strMod_no", kStr)}, op([](SysMgt& m, com::Args& a) { return m.getMod(a[0].toString()); }));
    c.method("getSonModOfMod", {in("strMod_no", kStr)},
             op([](SysMgt& m, com::Args& a) { return m.getSonModOfMod(a[0].toString()); }));
    c.method("getHlp", {opt(in("strHlp_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return m.getHlp(textArg(a, 0)); }));
    c.method("getSonHlpOfHlp", {in("strHlp_No", kStr)},
             op([](SysMgt& m, com::Args& a) { return m.getSonHlpOfHlp(a[0].toString()); }));
    c.method("getHlpRefofHlp", {in("strHlp_No", kStr)},
             op([](SysMgt& m, com::Args& a) { return m.getHlpRefofHlp(a[0].toString()); }));
    c.method("getErr", {opt(in("strErr_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return m.getErr(textArg(a, 0)); }));
    c.method("getLog", {opt(in("strLog_No", kStr))},
             op([](SysMgt& m, com::Args& a) { return m.getLog(textArg(a, 0)); }));
    c.method("getAllLog", {}, op([](SysMgt& m, com::Args&) { return m.getAllLog(); }));
    // The one-call log append
    c.method(
        "WriteLog",
        {in("strModNo", kStr), ref("strModName", kStr), ref("strLogDisc", kStr), opt(in("intLogType", kInt)),
         opt(in("intMsgType", kInt))},
        op([](SysMgt& m, com::Args& a) {
          return Variant(m.WriteLog(a[0].toString(), a[1].toString(), a[2].toString(), smallArg(a, 3), smallArg(a, 4)));
        }));
  });
}

const bool registered = (registerMgtClass<SysMgt>(info()), true);

}  // namespace

const com::ClassInfo& SysMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
