// The dispatch interface of UmMgt: its 71 members in their published order.
#include "mgt/um/um_mgt.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/member_table.h"

namespace tivel::mgt {
namespace {

using namespace members;

constexpr MemberOf<UmMgt> op;

const com::ClassInfo& info() {
  return dispatchInterface<UmMgt>("TivelMgt.UmMgt", "UmMgt", [](com::ClassInfo& c) {
    // Adds
    c.method("addOrg", {recParam("oOrgRec"), opt(ref("strOrgNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addOrg(recArg(a, 0, "cUmOrg"), a[1])); }));
    c.method("addGrp", {recParam("oGrpRec"), opt(ref("strGrpNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addGrp(recArg(a, 0, "cUmGrp"), a[1])); }));
    c.method("addUsr", {recParam("oUsrRec"), opt(ref("strUsrNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addUsr(recArg(a, 0, "cUmUsr"), a[1])); }));
    c.method("addOrg2Usr", {recParam("oOrg2UsrRec"), opt(ref("strOrg2UsrNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addOrg2Usr(recArg(a, 0, "cUmOrg2usr"), a[1])); }));
    c.method("addGrp2Usr", {recParam("oGrp2UsrRec"), opt(ref("strGrp2UsrNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addGrp2Usr(recArg(a, 0, "cUmGrp2usr"), a[1])); }));
    c.method("addLogInfo", {recParam("oUmLogInfoRec"), opt(ref("strToken", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addLogInfo(recArg(a, 0, "cUmLogInfo"), a[1])); }));
    c.method("addUaa", {recParam("oUsrAddAttrRec"), opt(ref("strUaaNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addUaa(recArg(a, 0, "cUmUsrAddAttr"), a[1])); }));
    c.method("addUsa", {recParam("oUsrSecAttrRec"), opt(ref("strUsano", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addUsa(recArg(a, 0, "cUmUsrSecAttr"), a[1])); }));
    c.method("addUsi", {recParam("oUsrSecInstRec")},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addUsi(recArg(a, 0, "cUmUsrSecInst"))); }));
    c.method("addUai", {recParam("oUaiRec")},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addUai(recArg(a, 0, "cUmUsrAddInst"))); }));
    c.method("addOaa", {recParam("oOrgAddAttrRec"), opt(ref("strOaaNo", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addOaa(recArg(a, 0, "cUmOrgAddAttr"), a[1])); }));
    c.method("addOai", {recParam("oOaiRec")},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addOai(recArg(a, 0, "cUmOrgAddInst"))); }));
    // Updates
    c.method("updateOrg", {recParam("oOrgRec"), in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.updateOrg(recArg(a, 0, "cUmOrg"), a[1].toString())); }));
    c.method("updateGrp", {recParam("oGrpRec"), in("strGrp_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.updateGrp(recArg(a, 0, "cUmGrp"), a[1].toString())); }));
    c.method("updateUsrByAccount", {recParam("oUsrRec"), in("strUsrAccount", kStr)}, op([](UmMgt& m, com::Args& a) {
               return Variant(m.updateUsrByAccount(recArg(a, 0, "cUmUsr"), a[1].toString()));
             }));
    c.method("changePwd", {ref("Usr_no", kStr), ref("strNewPwd", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.changePwd(a[0].toString(), a[1].toString())); }));
    c.method("updateUsr", {recParam("oUsrRec"), in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.updateUsr(recArg(a, 0, "cUmUsr"), a[1].toString())); }));
    c.method("updateOaa", {recParam("oOaaRec"), in("strOaa_No", kStr)}, op([](UmMgt& m, com::Args& a) {
               return Variant(m.updateOaa(recArg(a, 0, "cUmOrgAddAttr"), a[1].toString()));
             }));
    c.method("updateOai", {recParam("oOaiRec")},
             op([](UmMgt& m, com::Args& a) { return Variant(m.updateOai(recArg(a, 0, "cUmOrgAddInst"))); }));
    c.method("updateUaa", {recParam("oUaaRec"), in("strUaa_No", kStr)}, op([](UmMgt& m, com::Args& a) {
               return Variant(m.updateUaa(recArg(a, 0, "cUmUsrAddAttr"), a[1].toString()));
             }));
    c.method("updateUai", {recParam("oUaiRec"), in("strUai_No", kStr)}, op([](UmMgt& m, com::Args& a) {
               return Variant(m.updateUai(recArg(a, 0, "cUmUsrAddInst"), a[1].toString()));
             }));
    c.method("updateUsa", {recParam("oUsaRec"), in("strUsa_No", kStr)}, op([](UmMgt& m, com::Args& a) {
               return Variant(m.updateUsa(recArg(a, 0, "cUmUsrSecAttr"), a[1].toString()));
             }));
    c.method("updateUsi", {recParam("oUsiRec"), in("strUsi_No", kStr)}, op([](UmMgt& m, com::Args& a) {
               return Variant(m.updateUsi(recArg(a, 0, "cUmUsrSecInst"), a[1].toString()));
             }));
    // Deletes
    c.method("delOrg", {in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delOrg(a[0].toString())); }));
    c.method("delGrp", {in("strGrp_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delGrp(a[0].toString())); }));
    c.method("delUsr", {in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delUsr(a[0].toString())); }));
    c.method("delUsrOfAccount", {in("strUsrAccount", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delUsrOfAccount(a[0].toString())); }));
    c.method("delOrg2Usr", {opt(in("strOrg_No", kStr)), opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delOrg2Usr(textArg(a, 0), textArg(a, 1))); }));
    c.method("delGrp2Usr", {opt(in("strGrp_no", kStr)), opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delGrp2Usr(textArg(a, 0), textArg(a, 1))); }));
    c.method("delUaa", {in("strUaa_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delUaa(a[0].toString())); }));
    c.method("delUai", {in("strUaa_No", kStr), in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delUai(a[0].toString(), a[1].toString())); }));
    c.method("delUsa", {in("strUsa_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delUsa(a[0].toString())); }));
    c.method("delUsi", {in("strUsa_No", kStr), in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delUsi(a[0].toString(), a[1].toString())); }));
    c.method("delOaa", {in("strOaa_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delOaa(a[0].toString())); }));
    c.method("delOai", {in("strOaa_No", kStr), in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.delOai(a[0].toString(), a[1].toString())); }));
    // Reads
    c.method("getOrg", {ref("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getOrg(a[0].toString()); }));
    c.method("getTopOrgOfOrg", {in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getTopOrgOfOrg(a[0].toString()); }));
    c.method("getSonOrgOfOrg", {in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getSonOrgOfOrg(a[0].toString()); }));
    c.method("getOrgName", {ref("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.getOrgName(a[0].toString())); }));
    c.method("getOrgOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getOrgOfUsr(textArg(a, 0)); }));
    c.method("getGrp", {in("strGrp_no", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getGrp(a[0].toString()); }));
    c.method("getGrpName", {in("strGrp_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.getGrpName(a[0].toString())); }));
    c.method("getAllGrp", {}, op([](UmMgt& m, com::Args&) { return m.getAllGrp(); }));
    c.method("getAllUsr", {}, op([](UmMgt& m, com::Args&) { return m.getAllUsr(); }));
    c.method("getUsr", {in("strUsrNo", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getUsr(a[0].toString()); }));
    c.method("getUsrByAccount", {in("strAccount", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUsrByAccount(a[0].toString()); }));
    c.method("getUsrName", {in("strUsrNo", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.getUsrName(a[0].toString())); }));
    c.method("getUsrAccount", {in("strUsrNo", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.getUsrAccount(a[0].toString())); }));
    c.method("getUsrOfAccount", {in("strUsrAccount", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUsrOfAccount(a[0].toString()); }));
    c.method("getUsrOfOrg", {in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUsrOfOrg(a[0].toString()); }));
    c.method("getGrpOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getGrpOfUsr(textArg(a, 0)); }));
    c.method("getUsrOfGrp", {in("strGrp_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUsrOfGrp(a[0].toString()); }));
    c.method("getOaa", {in("strOaa_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getOaa(a[0].toString()); }));
    c.method("getOai", {in("strOaa_No", kStr), in("strOrg_No", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getOai(a[0].toString(), a[1].toString()); }));
    c.method("getUaa", {in("strUaa_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getUaa(a[0].toString()); }));
    c.method("getUai", {in("strUaa_No", kStr), in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUai(a[0].toString(), a[1].toString()); }));
    c.method("getUsa", {in("strUsa_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getUsa(a[0].toString()); }));
    c.method("getUsi", {in("strUsa_No", kStr), in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUsi(a[0].toString(), a[1].toString()); }));
    c.method("getLogInfo", {in("strToken", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getLogInfo(a[0].toString()); }));
    c.method("getUaaOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getUaaOfUsr(textArg(a, 0)); }));
    c.method("getUsrAddOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getUsrAddOfUsr(textArg(a, 0)); }));
    c.method("getOrgAddOfOrg", {opt(in("strOrg_No", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getOrgAddOfOrg(textArg(a, 0)); }));
    c.method("getUsaOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getUsaOfUsr(textArg(a, 0)); }));
    c.method("getUsiOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getUsiOfUsr(textArg(a, 0)); }));
    c.method("getUsrSecOfUsr", {opt(in("strUsr_no", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getUsrSecOfUsr(textArg(a, 0)); }));
    c.method("getOaaOfOrg", {opt(in("strOrg_No", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getOaaOfOrg(textArg(a, 0)); }));
    c.method("getOaiOfOrg", {opt(in("strOrg_No", kStr))},
             op([](UmMgt& m, com::Args& a) { return m.getOaiOfOrg(textArg(a, 0)); }));
    c.method("getUaiOfUsr", {in("strUsrNo", kStr)},
             op([](UmMgt& m, com::Args& a) { return m.getUaiOfUsr(a[0].toString()); }));
    // Login bookkeeping and policy values
    c.method("addUsrLogCount", {ref("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.addUsrLogCount(a[0].toString())); }));
    c.method("cleanUsrLogErrNum", {ref("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.cleanUsrLogErrNum(a[0].toString())); }));
    c.method("getUsrSecValue", {in("secAttr", kStr), in("strUsr_no", kStr)},
             op([](UmMgt& m, com::Args& a) { return Variant(m.getUsrSecValue(a[0].toString(), a[1].toString())); }));
  });
}

const bool registered = (registerMgtClass<UmMgt>(info()), true);

}  // namespace

const com::ClassInfo& UmMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
