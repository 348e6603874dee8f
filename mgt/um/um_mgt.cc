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
    MemberLines<UmMgt> table(c);
    // Adds
    TIVEL_CHANGE(table, addOrg, {rec("oOrgRec", "cUmOrg"), opt(ref("strOrgNo", kStr))});
    TIVEL_CHANGE(table, addGrp, {rec("oGrpRec", "cUmGrp"), opt(ref("strGrpNo", kStr))});
    TIVEL_CHANGE(table, addUsr, {rec("oUsrRec", "cUmUsr"), opt(ref("strUsrNo", kStr))});
    TIVEL_CHANGE(table, addOrg2Usr, {rec("oOrg2UsrRec", "cUmOrg2usr"), opt(ref("strOrg2UsrNo", kStr))});
    TIVEL_CHANGE(table, addGrp2Usr, {rec("oGrp2UsrRec", "cUmGrp2usr"), opt(ref("strGrp2UsrNo", kStr))});
    TIVEL_CHANGE(table, addLogInfo, {rec("oUmLogInfoRec", "cUmLogInfo"), opt(ref("strToken", kStr))});
    TIVEL_CHANGE(table, addUaa, {rec("oUsrAddAttrRec", "cUmUsrAddAttr"), opt(ref("strUaaNo", kStr))});
    TIVEL_CHANGE(table, addUsa, {rec("oUsrSecAttrRec", "cUmUsrSecAttr"), opt(ref("strUsano", kStr))});
    TIVEL_CHANGE(table, addUsi, {rec("oUsrSecInstRec", "cUmUsrSecInst")});
    TIVEL_CHANGE(table, addUai, {rec("oUaiRec", "cUmUsrAddInst")});
    TIVEL_CHANGE(table, addOaa, {rec("oOrgAddAttrRec", "cUmOrgAddAttr"), opt(ref("strOaaNo", kStr))});
    TIVEL_CHANGE(table, addOai, {rec("oOaiRec", "cUmOrgAddInst")});
    // Updates
    TIVEL_CHANGE(table, updateOrg, {rec("oOrgRec", "cUmOrg"), in("strOrg_No", kStr)});
    TIVEL_CHANGE(table, updateGrp, {rec("oGrpRec", "cUmGrp"), in("strGrp_no", kStr)});
    TIVEL_CHANGE(table, updateUsrByAccount, {rec("oUsrRec", "cUmUsr"), in("strUsrAccount", kStr)});
    TIVEL_CHANGE(table, changePwd, {ref("Usr_no", kStr), ref("strNewPwd", kStr)});
    // Overloaded (the read-modify-write form is the library's own): a line of its own.
    changeMember(c, "updateUsr", {recParam("oUsrRec"), in("strUsr_no", kStr)}, op([](UmMgt& m, com::Args& a) {
                   return Variant(m.updateUsr(recArg(a, 0, "cUmUsr"), a[1].toString()));
                 }));
    TIVEL_CHANGE(table, updateOaa, {rec("oOaaRec", "cUmOrgAddAttr"), in("strOaa_No", kStr)});
    TIVEL_CHANGE(table, updateOai, {rec("oOaiRec", "cUmOrgAddInst")});
    TIVEL_CHANGE(table, updateUaa, {rec("oUaaRec", "cUmUsrAddAttr"), in("strUaa_No", kStr)});
    TIVEL_CHANGE(table, updateUai, {rec("oUaiRec", "cUmUsrAddInst"), in("strUai_No", kStr)});
    TIVEL_CHANGE(table, updateUsa, {rec("oUsaRec", "cUmUsrSecAttr"), in("strUsa_No", kStr)});
    TIVEL_CHANGE(table, updateUsi, {rec("oUsiRec", "cUmUsrSecInst"), in("strUsi_No", kStr)});
    // Deletes
    TIVEL_CHANGE(table, delOrg, {in("strOrg_No", kStr)});
    TIVEL_CHANGE(table, delGrp, {in("strGrp_no", kStr)});
    TIVEL_CHANGE(table, delUsr, {in("strUsr_no", kStr)});
    TIVEL_CHANGE(table, delUsrOfAccount, {in("strUsrAccount", kStr)});
    TIVEL_CHANGE(table, delOrg2Usr, {opt(in("strOrg_No", kStr)), opt(in("strUsr_no", kStr))});
    TIVEL_CHANGE(table, delGrp2Usr, {opt(in("strGrp_no", kStr)), opt(in("strUsr_no", kStr))});
    TIVEL_CHANGE(table, delUaa, {in("strUaa_No", kStr)});
    TIVEL_CHANGE(table, delUai, {in("strUaa_No", kStr), in("strUsr_no", kStr)});
    TIVEL_CHANGE(table, delUsa, {in("strUsa_No", kStr)});
    TIVEL_CHANGE(table, delUsi, {in("strUsa_No", kStr), in("strUsr_no", kStr)});
    TIVEL_CHANGE(table, delOaa, {in("strOaa_No", kStr)});
    TIVEL_CHANGE(table, delOai, {in("strOaa_No", kStr), in("strOrg_No", kStr)});
    // Reads
    TIVEL_READ(table, getOrg, {ref("strOrg_No", kStr)});
    TIVEL_READ(table, getTopOrgOfOrg, {in("strOrg_No", kStr)});
    TIVEL_READ(table, getSonOrgOfOrg, {in("strOrg_No", kStr)});
    TIVEL_READ(table, getOrgName, {ref("strOrg_No", kStr)});
    TIVEL_READ(table, getOrgOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getGrp, {in("strGrp_no", kStr)});
    TIVEL_READ(table, getGrpName, {in("strGrp_no", kStr)});
    TIVEL_READ(table, getAllGrp, {});
    TIVEL_READ(table, getAllUsr, {});
    TIVEL_READ(table, getUsr, {in("strUsrNo", kStr)});
    TIVEL_READ(table, getUsrByAccount, {in("strAccount", kStr)});
    TIVEL_READ(table, getUsrName, {in("strUsrNo", kStr)});
    TIVEL_READ(table, getUsrAccount, {in("strUsrNo", kStr)});
    TIVEL_READ(table, getUsrOfAccount, {in("strUsrAccount", kStr)});
    TIVEL_READ(table, getUsrOfOrg, {in("strOrg_No", kStr)});
    TIVEL_READ(table, getGrpOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getUsrOfGrp, {in("strGrp_no", kStr)});
    TIVEL_READ(table, getOaa, {in("strOaa_No", kStr)});
    TIVEL_READ(table, getOai, {in("strOaa_No", kStr), in("strOrg_No", kStr)});
    TIVEL_READ(table, getUaa, {in("strUaa_No", kStr)});
    TIVEL_READ(table, getUai, {in("strUaa_No", kStr), in("strUsr_no", kStr)});
    TIVEL_READ(table, getUsa, {in("strUsa_No", kStr)});
    TIVEL_READ(table, getUsi, {in("strUsa_No", kStr), in("strUsr_no", kStr)});
    TIVEL_READ(table, getLogInfo, {in("strToken", kStr)});
    TIVEL_READ(table, getUaaOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getUsrAddOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getOrgAddOfOrg, {opt(in("strOrg_No", kStr))});
    TIVEL_READ(table, getUsaOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getUsiOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getUsrSecOfUsr, {opt(in("strUsr_no", kStr))});
    TIVEL_READ(table, getOaaOfOrg, {opt(in("strOrg_No", kStr))});
    TIVEL_READ(table, getOaiOfOrg, {opt(in("strOrg_No", kStr))});
    TIVEL_READ(table, getUaiOfUsr, {in("strUsrNo", kStr)});
    // Login bookkeeping and policy values
    TIVEL_CHANGE(table, addUsrLogCount, {ref("strUsr_no", kStr)});
    TIVEL_CHANGE(table, cleanUsrLogErrNum, {ref("strUsr_no", kStr)});
    TIVEL_READ(table, getUsrSecValue, {in("secAttr", kStr), in("strUsr_no", kStr)});
  });
}

const bool registered = (registerMgtClass<UmMgt>(info()), true);

}  // namespace

const com::ClassInfo& UmMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
