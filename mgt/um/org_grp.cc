// Organisations (a tree by top_org_no) and groups (a flat list).
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"
#include "mgt/um/um_mgt.h"

namespace tivel::mgt {
namespace {

const Fields kOrgFields = {"Org_No", "Name", "Disc", "Top_Org_No", "Priority"};
const Fields kGrpFields = {"Grp_no", "Name", "Disc"};

const char* const kOrgByKey = "select * from umOrg where org_no='";
const char* const kGrpByKey = "select * from umGrp where Grp_no='";

}  // namespace

std::string UmMgt::addOrg(const RecordPtr& rec, com::Variant& strOrgNo) {
  return addRow(rec, strOrgNo,
                {required("Name", codes::kAddOrgNameEmpty), unique("umOrg", "name", "Name", codes::kAddOrgNameTaken)},
                {"Org_No", "ORG", "umOrg", "org_no", codes::kAddOrgKeyTaken}, codes::kAddOrgFailed,
                [](const Record& r, const std::string& key) {
                  return Insert("insert into umOrg(Org_no,name,disc,Priority,top_org_no) values(")
                      .text(key)
                      .text(r["Name"])
                      .text(r["Disc"], "NULL")
                      .text(r["Priority"], "'999999'")
                      .text(r["Top_Org_No"], "'0'")
                      .sql();
                });
}

std::string UmMgt::addGrp(const RecordPtr& rec, com::Variant& strGrpNo) {
  return addRow(rec, strGrpNo,
                {required("Name", codes::kAddGrpNameEmpty), unique("umGrp", "name", "Name", codes::kAddGrpNameTaken)},
                {"Grp_no", "GRP", "umGrp", "grp_no", codes::kAddGrpKeyTaken}, codes::kAddGrpFailed,
                [](const Record& r, const std::string& key) {
                  return Insert("insert into umGrp(Grp_no,name,disc) values(")
                      .text(key)
                      .text(r["Name"])
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

std::string UmMgt::updateOrg(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, kOrgByKey, {"Org_No", "Name", "Disc", "Top_Org_No", "Priority"},
                   {codes::kUpdateOrgKeyEmpty, codes::kUpdateOrgNotFound, codes::kUpdateOrgFailed});
}

std::string UmMgt::updateGrp(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, kGrpByKey, {"Grp_no", "Name", "Disc"},
                   {codes::kUpdateGrpKeyEmpty, codes::kUpdateGrpNotFound, codes::kUpdateGrpFailed});
}

std::string UmMgt::delOrg(const std::string& key) {
  return deleteRow(key, "delete from umOrg where org_No='", codes::kDelOrgKeyEmpty, codes::kDelOrgFailed);
}

std::string UmMgt::delGrp(const std::string& key) {
  return deleteRow(key, "delete from umGrp where Grp_No='", codes::kDelGrpKeyEmpty, codes::kDelGrpFailed);
}

com::Variant UmMgt::getOrg(const std::string& key) { return readByKey(key, kOrgByKey, "cUmOrg", kOrgFields); }

std::string UmMgt::getOrgName(const std::string& key) { return readName(key, kOrgByKey, "Name"); }

// Two reads: the organisation's parent key, then the parent. No empty-key
// test; a top organisation (parent "0") has no parent row.
com::Variant UmMgt::getTopOrgOfOrg(const std::string& key) {
  return readParent("select * from umOrg " + std::string("where  org_no='") + QuoteSql(key) + "'", "Top_Org_No",
                    "select * from umOrg where  org_no='", "cUmOrg", kOrgFields);
}

com::Variant UmMgt::getSonOrgOfOrg(const std::string& key) {
  return readList(
      "select * from umOrg" + std::string(" where  top_org_no='") + QuoteSql(key) + "'" + " order by Priority  ",
      "cUmOrg", kOrgFields, "ORG", "Org_No");
}

com::Variant UmMgt::getGrp(const std::string& key) { return readByKey(key, kGrpByKey, "cUmGrp", kGrpFields); }

std::string UmMgt::getGrpName(const std::string& key) { return readName(key, kGrpByKey, "Name"); }

com::Variant UmMgt::getAllOrg() {
  return readList("select * from umOrg order by Priority, org_no", "cUmOrg", kOrgFields, "ORG", "Org_No");
}

com::Variant UmMgt::getAllGrp() { return readList("select * from umGrp ", "cUmGrp", kGrpFields, "GRP", "Grp_no"); }

}  // namespace tivel::mgt
