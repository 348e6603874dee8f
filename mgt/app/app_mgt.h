// AppMgt: applications, their resources (a tree per application), rights,
// authorizations and roles of the management database (TivelMgt.AppMgt).
// Adds, updates and deletes answer with a result code ("0" or the code of
// the failing step); reads answer with a record or Nothing, a cCollection or
// Nothing (never an empty collection), a name or a Boolean.
#pragma once

#include <string>

#include "mgt/common/pattern.h"
#include "platform/com/object.h"

namespace tivel::mgt {

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
};

}  // namespace tivel::mgt
