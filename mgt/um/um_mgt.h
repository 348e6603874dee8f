// UmMgt: users, organisations, groups, memberships, attributes and login
// records of the management database (TivelMgt.UmMgt). Operations answer
// with a result code ("0" or the code of the failing step), a record or
// Nothing, a cCollection, a name or a Boolean.
#pragma once

#include <string>

#include "platform/com/object.h"
#include "records/record.h"

namespace tivel::mgt {

using records::Record;
using records::RecordPtr;

class UmMgt : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // ---- Organisations and groups
  std::string addOrg(const RecordPtr& oOrgRec, com::Variant& strOrgNo);
  std::string addGrp(const RecordPtr& oGrpRec, com::Variant& strGrpNo);
  std::string updateOrg(const RecordPtr& oOrgRec, const std::string& strOrg_No);
  std::string updateGrp(const RecordPtr& oGrpRec, const std::string& strGrp_no);
  std::string delOrg(const std::string& strOrg_No);
  std::string delGrp(const std::string& strGrp_no);
  com::Variant getOrg(const std::string& strOrg_No);          // cUmOrg or Nothing
  com::Variant getTopOrgOfOrg(const std::string& strOrg_No);  // the parent's cUmOrg or Nothing
  com::Variant getSonOrgOfOrg(const std::string& strOrg_No);  // cCollection of cUmOrg, by priority
  std::string getOrgName(const std::string& strOrg_No);
  com::Variant getGrp(const std::string& strGrp_no);
  std::string getGrpName(const std::string& strGrp_no);
  com::Variant getAllGrp();
  // cCollection of every cUmOrg by priority, whatever its parent (an
  // organisation whose parent is gone included); Nothing on failure.
  com::Variant getAllOrg();

  // ---- Users
  std::string addUsr(const RecordPtr& oUsrRec, com::Variant& strUsrNo);
  // Writes all fourteen fields of the user row with that key.
  std::string updateUsr(const RecordPtr& oUsrRec, const std::string& strUsr_no);
  // Writes eleven fields of the user row with that account (not account, address, account time).
  std::string updateUsrByAccount(const RecordPtr& oUsrRec, const std::string& strUsrAccount);
  // Sets the user's password; true when written.
  bool changePwd(const std::string& Usr_no, const std::string& strNewPwd);
  std::string delUsr(const std::string& strUsr_no);
  std::string delUsrOfAccount(const std::string& strUsrAccount);
  com::Variant getUsr(const std::string& strUsrNo);                // cUmUsr or Nothing
  com::Variant getUsrByAccount(const std::string& strAccount);     // cUmUsr or Nothing
  com::Variant getUsrOfAccount(const std::string& strUsrAccount);  // the same as getUsrByAccount
  std::string getUsrName(const std::string& strUsrNo);
  std::string getUsrAccount(const std::string& strUsrNo);
  com::Variant getAllUsr();  // cCollection of cUmUsr with seven properties filled
  // Raises the user's login count by one; true when written. A write that
  // meets a concurrent change of the row reads it again and retries.
  bool addUsrLogCount(const std::string& strUsr_no);
  // addUsrLogCount from the user row the caller has just read: one write of
  // the count as read plus one; a row changed since, as addUsrLogCount.
  bool addUsrLogCountAsRead(const std::string& strUsr_no, const Record& asRead);
  // Sets the user's value of security attribute 3 (login errors) to "0", creating it when missing.
  bool cleanUsrLogErrNum(const std::string& strUsr_no);
  // cleanUsrLogErrNum for a user the caller has just found without that value: creates it "0".
  bool startUsrLogErrNum(const std::string& strUsr_no);

  // ---- Memberships
  std::string addOrg2Usr(const RecordPtr& oOrg2UsrRec, com::Variant& strOrg2UsrNo);
  std::string addGrp2Usr(const RecordPtr& oGrp2UsrRec, com::Variant& strGrp2UsrNo);
  // Deletes by whichever of the two keys are given; both empty is a failure.
  std::string delOrg2Usr(const std::string& strOrg_No, const std::string& strUsr_no);
  std::string delGrp2Usr(const std::string& strGrp_no, const std::string& strUsr_no);
  com::Variant getOrgOfUsr(const std::string& strUsr_no);  // cCollection of cUmOrg, by membership priority
  com::Variant getGrpOfUsr(const std::string& strUsr_no);  // cCollection of cUmGrp, by membership priority
  // Members by membership priority; "0" lists users in no organisation; "" gives Nothing.
  com::Variant getUsrOfOrg(const std::string& strOrg_No);
  // Members by membership priority; "0" lists users in no group; "" gives Nothing.
  com::Variant getUsrOfGrp(const std::string& strGrp_no);

  // ---- Extended attributes: definitions (owner "0": every user or
  // organisation) and values. Lists give Nothing on failure.
  std::string addUaa(const RecordPtr& oUsrAddAttrRec, com::Variant& strUaaNo);
  // Adds a value row; the database numbers it (uai_no). No test for an existing value.
  std::string addUai(const RecordPtr& oUaiRec);
  // The organisation must not have a definition of that name already.
  std::string addOaa(const RecordPtr& oOrgAddAttrRec, com::Variant& strOaaNo);
  std::string addOai(const RecordPtr& oOaiRec);
  std::string updateUaa(const RecordPtr& oUaaRec, const std::string& strUaa_No);
  // Changes the value row with that uai_no.
  std::string updateUai(const RecordPtr& oUaiRec, const std::string& strUai_No);
  std::string updateOaa(const RecordPtr& oOaaRec, const std::string& strOaa_No);
  // Changes the value of the record's definition and organisation.
  std::string updateOai(const RecordPtr& oOaiRec);
  std::string delUaa(const std::string& strUaa_No);
  // Deletes by whichever of the two keys are given; both empty is a failure.
  std::string delUai(const std::string& strUaa_No, const std::string& strUsr_no);
  std::string delOaa(const std::string& strOaa_No);
  // Deletes by whichever of the two keys are given; both empty is a failure.
  std::string delOai(const std::string& strOaa_No, const std::string& strOrg_No);
  com::Variant getUaa(const std::string& strUaa_No);                                // cUmUsrAddAttr or Nothing
  com::Variant getUai(const std::string& strUaa_No, const std::string& strUsr_no);  // cUmUsrAddInst or Nothing
  com::Variant getOaa(const std::string& strOaa_No);                                // cUmOrgAddAttr or Nothing
  com::Variant getOai(const std::string& strOaa_No, const std::string& strOrg_No);  // cUmOrgAddInst or Nothing
  com::Variant getUaaOfUsr(const std::string& strUsr_no);  // cCollection: global definitions and the user's own
  com::Variant getUaiOfUsr(const std::string& strUsrNo);   // cCollection in uai_no order; "" gives Nothing
  // cCollection of cUmUsrAddress, one per value of the user, owner as the definition has it; "" gives Nothing.
  com::Variant getUsrAddOfUsr(const std::string& strUsr_no);
  com::Variant getOaaOfOrg(const std::string& strOrg_No);  // cCollection: global definitions and the organisation's own
  com::Variant getOaiOfOrg(const std::string& strOrg_No);  // cCollection of the organisation's values
  // cCollection of cUmOrgAddress, one per value of the organisation; "" gives Nothing.
  com::Variant getOrgAddOfOrg(const std::string& strOrg_No);

  // ---- Security attributes
  std::string addUsa(const RecordPtr& oUsrSecAttrRec, com::Variant& strUsano);
  std::string updateUsa(const RecordPtr& oUsaRec, const std::string& strUsa_No);
  std::string delUsa(const std::string& strUsa_No);
  std::string addUsi(const RecordPtr& oUsrSecInstRec);
  std::string updateUsi(const RecordPtr& oUsiRec, const std::string& strUsi_No);
  // Deletes by whichever of the two keys are given; both empty is a failure.
  std::string delUsi(const std::string& strUsa_No, const std::string& strUsr_no);
  com::Variant getUsa(const std::string& strUsa_No);                                // cUmUsrSecAttr or Nothing
  com::Variant getUsi(const std::string& strUsa_No, const std::string& strUsr_no);  // cUmUsrSecInst or Nothing
  com::Variant getUsaOfUsr(const std::string& strUsr_no);     // cCollection: global definitions and the user's own
  com::Variant getUsiOfUsr(const std::string& strUsr_no);     // cCollection of the user's values ("" : everyone's)
  com::Variant getUsrSecOfUsr(const std::string& strUsr_no);  // cCollection of cUmUsrSec; "" gives Nothing
  // The effective value of a policy attribute (by exact name) for a user: the
  // user's own value, else the default of a definition in force, else "".
  std::string getUsrSecValue(const std::string& secAttr, const std::string& strUsr_no);

  // ---- Login records
  std::string addLogInfo(const RecordPtr& oUmLogInfoRec, com::Variant& strToken);
  com::Variant getLogInfo(const std::string& strToken);  // cUmLogInfo or Nothing

 private:
  // updateUsr for a read-modify-write: `asRead` is the record as getUsr gave
  // it; only the fields changed since are written, and a row changed since
  // in one of those fields is a conflict (the update's failure code).
  std::string updateUsr(const RecordPtr& oUsrRec, const std::string& strUsr_no, const Record& asRead);
};

}  // namespace tivel::mgt
