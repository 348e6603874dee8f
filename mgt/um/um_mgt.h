// UmMgt: users, organisations, groups, memberships, attributes and login
// records of the management database (TivelMgt.UmMgt). Operations answer
// with a result code ("0" or the code of the failing step), a record or
// Nothing, a cCollection, a name or a Boolean.
#pragma once

#include <string>

#include "mgt/common/pattern.h"
#include "platform/com/object.h"

namespace tivel::mgt {

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
};

}  // namespace tivel::mgt
