// The dispatch interface of UmMgt: its 71 members in their published order.
#include "mgt/um/um_mgt.h"

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
  return com::bind<UmMgt>(f);
}

const com::ClassInfo& info() {
  static const com::ClassInfo c = [] {
    com::ClassInfo c("TivelMgt.UmMgt", "UmMgt");
    // Adds
    c.method("addOrg", {recParam("oOrgRec"), opt(ref("strOrgNo", kStr))}, op([](UmMgt& m, com::Args& a) {
      return Variant(m.addOrg(recArg(a, 0, "cUmOrg"), a[1]));
    }));
    c.method("addGrp", {recParam("oGrpRec"), opt(ref("strGrpNo", kStr))}, op([](UmMgt& m, com::Args& a) {
      return Variant(m.addGrp(recArg(a, 0, "cUmGrp"), a[1]));
    }));
    pendingMember(c, "addUsr", {recParam("oUsrRec"), opt(ref("strUsrNo", kStr))});
    pendingMember(c, "addOrg2Usr", {recParam("oOrg2UsrRec"), opt(ref("strOrg2UsrNo", kStr))});
    pendingMember(c, "addGrp2Usr", {recParam("oGrp2UsrRec"), opt(ref("strGrp2UsrNo", kStr))});
    pendingMember(c, "addLogInfo", {recParam("oUmLogInfoRec"), opt(ref("strToken", kStr))});
    pendingMember(c, "addUaa", {recParam("oUsrAddAttrRec"), opt(ref("strUaaNo", kStr))});
    pendingMember(c, "addUsa", {recParam("oUsrSecAttrRec"), opt(ref("strUsano", kStr))});
    pendingMember(c, "addUsi", {recParam("oUsrSecInstRec")});
    pendingMember(c, "addUai", {recParam("oUaiRec")});
    pendingMember(c, "addOaa", {recParam("oOrgAddAttrRec"), opt(ref("strOaaNo", kStr))});
    pendingMember(c, "addOai", {recParam("oOaiRec")});
    // Updates
    c.method("updateOrg", {recParam("oOrgRec"), in("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) {
      return Variant(m.updateOrg(recArg(a, 0, "cUmOrg"), a[1].toString()));
    }));
    c.method("updateGrp", {recParam("oGrpRec"), in("strGrp_no", kStr)}, op([](UmMgt& m, com::Args& a) {
      return Variant(m.updateGrp(recArg(a, 0, "cUmGrp"), a[1].toString()));
    }));
    pendingMember(c, "updateUsrByAccount", {recParam("oUsrRec"), in("strUsrAccount", kStr)});
    pendingMember(c, "changePwd", {ref("Usr_no", kStr), ref("strNewPwd", kStr)});
    pendingMember(c, "updateUsr", {recParam("oUsrRec"), in("strUsr_no", kStr)});
    pendingMember(c, "updateOaa", {recParam("oOaaRec"), in("strOaa_No", kStr)});
    pendingMember(c, "updateOai", {recParam("oOaiRec")});
    pendingMember(c, "updateUaa", {recParam("oUaaRec"), in("strUaa_No", kStr)});
    pendingMember(c, "updateUai", {recParam("oUaiRec"), in("strUai_No", kStr)});
    pendingMember(c, "updateUsa", {recParam("oUsaRec"), in("strUsa_No", kStr)});
    pendingMember(c, "updateUsi", {recParam("oUsiRec"), in("strUsi_No", kStr)});
    // Deletes
    c.method("delOrg", {in("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) { return Variant(m.delOrg(a[0].toString())); }));
    c.method("delGrp", {in("strGrp_no", kStr)}, op([](UmMgt& m, com::Args& a) { return Variant(m.delGrp(a[0].toString())); }));
    pendingMember(c, "delUsr", {in("strUsr_no", kStr)});
    pendingMember(c, "delUsrOfAccount", {in("strUsrAccount", kStr)});
    pendingMember(c, "delOrg2Usr", {opt(in("strOrg_No", kStr)), opt(in("strUsr_no", kStr))});
    pendingMember(c, "delGrp2Usr", {opt(in("strGrp_no", kStr)), opt(in("strUsr_no", kStr))});
    pendingMember(c, "delUaa", {in("strUaa_No", kStr)});
    pendingMember(c, "delUai", {in("strUaa_No", kStr), in("strUsr_no", kStr)});
    pendingMember(c, "delUsa", {in("strUsa_No", kStr)});
    pendingMember(c, "delUsi", {in("strUsa_No", kStr), in("strUsr_no", kStr)});
    pendingMember(c, "delOaa", {in("strOaa_No", kStr)});
    pendingMember(c, "delOai", {in("strOaa_No", kStr), in("strOrg_No", kStr)});
    // Reads
    c.method("getOrg", {ref("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getOrg(a[0].toString()); }));
    c.method("getTopOrgOfOrg", {in("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getTopOrgOfOrg(a[0].toString()); }));
    c.method("getSonOrgOfOrg", {in("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getSonOrgOfOrg(a[0].toString()); }));
    c.method("getOrgName", {ref("strOrg_No", kStr)}, op([](UmMgt& m, com::Args& a) { return Variant(m.getOrgName(a[0].toString())); }));
    pendingMember(c, "getOrgOfUsr", {opt(in("strUsr_no", kStr))});
    c.method("getGrp", {in("strGrp_no", kStr)}, op([](UmMgt& m, com::Args& a) { return m.getGrp(a[0].toString()); }));
    c.method("getGrpName", {in("strGrp_no", kStr)}, op([](UmMgt& m, com::Args& a) { return Variant(m.getGrpName(a[0].toString())); }));
    c.method("getAllGrp", {}, op([](UmMgt& m, com::Args&) { return m.getAllGrp(); }));
    pendingMember(c, "getAllUsr", {});
    pendingMember(c, "getUsr", {in("strUsrNo", kStr)});
    pendingMember(c, "getUsrByAccount", {in("strAccount", kStr)});
    pendingMember(c, "getUsrName", {in("strUsrNo", kStr)});
    pendingMember(c, "getUsrAccount", {in("strUsrNo", kStr)});
    pendingMember(c, "getUsrOfAccount", {in("strUsrAccount", kStr)});
    pendingMember(c, "getUsrOfOrg", {in("strOrg_No", kStr)});
    pendingMember(c, "getGrpOfUsr", {opt(in("strUsr_no", kStr))});
    pendingMember(c, "getUsrOfGrp", {in("strGrp_no", kStr)});
    pendingMember(c, "getOaa", {in("strOaa_No", kStr)});
    pendingMember(c, "getOai", {in("strOaa_No", kStr), in("strOrg_No", kStr)});
    pendingMember(c, "getUaa", {in("strUaa_No", kStr)});
    pendingMember(c, "getUai", {in("strUaa_No", kStr), in("strUsr_no", kStr)});
    pendingMember(c, "getUsa", {in("strUsa_No", kStr)});
    pendingMember(c, "getUsi", {in("strUsa_No", kStr), in("strUsr_no", kStr)});
    pendingMember(c, "getLogInfo", {in("strToken", kStr)});
    pendingMember(c, "getUaaOfUsr", {opt(in("strUsr_no", kStr))});
    pendingMember(c, "getUsrAddOfUsr", {opt(in("strUsr_no", kStr))});
    pendingMember(c, "getOrgAddOfOrg", {opt(in("strOrg_No", kStr))});
    pendingMember(c, "getUsaOfUsr", {opt(in("strUsr_no", kStr))});
    pendingMember(c, "getUsiOfUsr", {opt(in("strUsr_no", kStr))});
    pendingMember(c, "getUsrSecOfUsr", {opt(in("strUsr_no", kStr))});
    pendingMember(c, "getOaaOfOrg", {opt(in("strOrg_No", kStr))});
    pendingMember(c, "getOaiOfOrg", {opt(in("strOrg_No", kStr))});
    pendingMember(c, "getUaiOfUsr", {in("strUsrNo", kStr)});
    // Login bookkeeping and policy values
    pendingMember(c, "addUsrLogCount", {ref("strUsr_no", kStr)});
    pendingMember(c, "cleanUsrLogErrNum", {ref("strUsr_no", kStr)});
    pendingMember(c, "getUsrSecValue", {in("secAttr", kStr), in("strUsr_no", kStr)});
    return c;
  }();
  return c;
}

const bool registered = (registerMgtClass<UmMgt>(info()), true);

}  // namespace

const com::ClassInfo& UmMgt::classInfo() const { return info(); }

}  // namespace tivel::mgt
