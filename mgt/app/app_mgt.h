// AppMgt: applications, their resources (a tree per application), rights,
// authorizations and roles of the management database (TivelMgt.AppMgt).
// Adds, updates and deletes answer with a result code ("0" or the code of
// the failing step); reads answer with a record or Nothing, a cCollection or
// Nothing (never an empty collection), a name or a Boolean.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/object.h"
#include "records/record.h"

namespace tivel::mgt {

using records::Record;
using records::RecordPtr;

class AppMgt : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // ---- Applications
  // Adds a cApp (Name required); strAppNo receives the key ("App_..." when none is given).
  std::string addApp(const RecordPtr& oAppRec, com::Variant& strAppNo);
  // Writes App_No, Name and Disc of the record into the application strApp_No.
  std::string updateApp(const RecordPtr& oAppRec, const std::string& strApp_No);
  // Deletes the application row only; its resources stay.
  std::string delApp(const std::string& strApp_No);
  // Every application in ascending key order, keyed "App" + App_No; Nothing when there is none.
  com::Variant getAllApp();
  // The cApp of that key, or Nothing.
  com::Variant getApp(const std::string& strApp_No);

  // ---- Resources
  // Adds a cAppRes (Name, then App_No required); strResNo receives the key ("RES_..." when none is given).
  std::string addRes(const RecordPtr& oResRec, com::Variant& strResNo);
  // Writes the record's fields into the resource strRes_no.
  std::string updateRes(const RecordPtr& oResRec, const std::string& strRes_no);
  // Deletes the resource row only; its children, rights and authorizations stay.
  std::string delRes(const std::string& strRes_no);
  // The resources of one application (every resource when strAppNo is empty),
  // keyed "Res" + Res_no; Nothing when there is none.
  com::Variant getResOfApp(const std::string& strAppNo);
  // The cAppRes of that key, or Nothing; a failed read throws ComError(-1,
  // "TivelMgt.AppMgt.getRes", the failure's description).
  com::Variant getRes(const std::string& strRes_no);
  // True exactly when the resource exists and its IsRes equals 1; false on any failure.
  bool isRes(const std::string& strRes_no);
  // The parent's cAppRes, or Nothing; a failed read throws ComError(-1,
  // "TivelMgt.AppMgt.getTopResOfRes", the failure's description).
  com::Variant getTopResOfRes(const std::string& strRes_no);
  // The children of strRes_no within strApp_No ("0": the application's top
  // resources), keyed "Res" + Res_no; Nothing when there is none.
  com::Variant getSonResOfRes(const std::string& strApp_No, const std::string& strRes_no);

  // ---- Rights: one per (Res_no, Bit_Nod); bit nodes must read as whole numbers.
  // Adds a cAppRgt (Res_no and Bit_Nod, then Name required); strRgtNo receives
  // "RES" + Res_no + "BIT" + Bit_Nod.
  std::string addRgt(const RecordPtr& RestRec, com::Variant& strRgtNo);
  // Writes the record's Name and Disc into the right strBid of strRes_no.
  std::string updateRgt(const RecordPtr& RestRec, const std::string& strRes_no, const std::string& strBid);
  // Deletes one right; "0" whether or not it existed.
  std::string delRgt(const std::string& strRes_no, int16_t intBit_nod);
  // Deletes every right of the resource; its authorizations stay.
  std::string delRgtOfRes(const std::string& strRes_no);
  // The cAppRgt of that pair, or Nothing.
  com::Variant getRgt(const std::string& strRes_no, const std::string& strNod);
  // The resource's rights in ascending bit-node order, keyed "RES" + Res_no +
  // "NOD" + Bit_Nod; Nothing when there is none.
  com::Variant getRgtOfRes(const std::string& strRes_no);

  // ---- Authorizations: one per (res_no, OGRU_type, OGRU_no); subject types
  // must read as whole numbers ("3" is a user).
  // Adds a cAppAuth (Res_no, a non-null OGRU_Type, OGRU_No required); strAuthNo
  // receives "Res" + Res_no + "OGRUTYPE" + OGRU_Type + "OGRU" + OGRU_No.
  std::string addAuth(const RecordPtr& oAuthRec, com::Variant& strAuthNo);
  // Writes Res_Auth and IsAvail of the record into the authorization its triple names.
  std::string updateAuth(const RecordPtr& oAuthRec);
  // Replaces the subject's authorization string (IsAvail 1) in one
  // transaction: true on success; on failure the old row stays.
  bool setAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type, const std::string& strOGRU_No,
                    const std::string& strAuth);
  // Deletes one authorization; "0" whether or not it existed.
  std::string delAuth(const std::string& Res_No, const std::string& OGRU_TYPE, const std::string& OGRU_NO);
  // Deletes every authorization on the resource.
  std::string delAuthOfRes(const std::string& strRes_no);
  // The cAppAuth of that triple, or Nothing.
  com::Variant getAuth(const std::string& strRes_no, const std::string& strOGRU_Type, const std::string& strOGRU_No);
  // The authorization string stored for exactly that subject, or "".
  std::string getAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type,
                           const std::string& strOGRU_No);
  // Every subject's cAppAuth on the resource, keyed "RES" + Res_no + "OGRUT" +
  // OGRU_Type + "OGRU" + OGRU_No; Nothing when there is none.
  com::Variant getAuthOfRes(const std::string& strRes_no);

  // ---- Roles and role membership
  // Adds a cAppRol (App_No, then Name required); strRolNo receives the key ("Rol_..." when none is given).
  std::string addRol(const RecordPtr& oRolRec, com::Variant& strRolNo);
  // Adds a cAppRol2Usr (Rol_No, then Usr_No required; Priority "99999" when
  // empty); strRol2Usr receives "".
  std::string addRol2Usr(const RecordPtr& oRol2UsrRec, com::Variant& strRol2Usr);
  // Writes the record's fields into the role strRol_No (codes of updateRes).
  std::string updateRol(const RecordPtr& oRolRec, const std::string& strRol_No);
  // Deletes the role row only; its memberships and authorizations stay.
  std::string delRol(const std::string& strRol_No);
  // Deletes one membership (both keys), a role's (role only) or a user's (user only).
  std::string delRol2Usr(const std::string& strRol_No, const std::string& strUsr_no);
  // The roles of one application (every role when strAppNo is empty), keyed
  // "Rol" + Rol_No; Nothing when there is none.
  com::Variant getRolOfApp(const std::string& strAppNo);
  // The cAppRol of that key, or Nothing; a failed read throws ComError(-1, "TivelMgt.AppMgt.getRol", ...).
  com::Variant getRol(const std::string& strRol_No);
  // The role's name, or ""; a failed read throws ComError(-1, "TivelMgt.AppMgt.getRolName", ...).
  std::string getRolName(const std::string& strRol_No);
  // The user's roles (every membership's role when strUsr_no is empty) in
  // ascending membership priority, keyed "Rol" + Rol_No; Nothing when there is
  // none; a failed read throws ComError(-1, "TivelMgt.UmMgt.getRolOfUsr", ...).
  com::Variant getRolOfUsr(const std::string& strUsr_no);
  // The role's users (seven fields of cUmUsr) in ascending membership
  // priority, keyed "Usr" + Usr_No; Nothing when there is none or on failure.
  com::Variant getUsrOfRol(const std::string& strRol_No);
};

}  // namespace tivel::mgt
