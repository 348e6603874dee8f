// Memberships of users in organisations (umOrg2Usr) and groups (umGrp2Usr),
// and the lists they give, each in ascending membership priority.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include <string>

#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

const Fields kOrgOfUsrFields = {"Org_No", "Name", "Top_Org_No", "Priority", "Disc"};
const Fields kGrpOfUsrFields = {"Grp_no", "Name", "Disc"};
// Members get all fourteen fields, in this order.
const Fields kMemberFields = {"Usr_no", "Account", "pwd",     "Name",        "NetName",    "Address", "Phone",
                              "Mobile", "Email",   "EmailOA", "Login_Count", "Login_Mode", "State",   "Account_Time"};

// The pair add of a membership: the pair (organisation or group, user) must
// be new; the identifier handed back is prefix + key + "USR" + user.
PairAdd membership(const char* keyProperty, const char* test, const char* keyColumn, const char* insertHead,
                   bool withIsMain, const char* idPrefix, const char* keyEmpty, const char* usrEmpty,
                   const char* exists, const char* trap) {
  return PairAdd{
      .checks = {required(keyProperty, keyEmpty), required("Usr_No", usrEmpty)},
      .test =
          [=](const Record& r) {
            return test + condition({{keyColumn, r[keyProperty]}, {"Usr_no=", r["Usr_No"]}});
          },
      .existsCode = exists,
      .insert =
          [=](const Record& r) {
            Insert insert(insertHead);
            insert.text(r[keyProperty]).text(r["Usr_No"]);
            // An empty IsMain cannot be written (the column needs a value) and
            // ends in the trap like any other failure.
            if (withIsMain) {
              if (blank(r["IsMain"])) com::raise(com::kTypeMismatch, "TivelMgt", "IsMain holds no value");
              insert.text(r["IsMain"]);
            }
            return insert.text(r["Priority"], "'999999'").sql();
          },
      .id = [=](const Record& r) { return idPrefix + r[keyProperty].toString() + "USR" + r["Usr_No"].toString(); },
      .trapCodeValue = trap};
}

}  // namespace

std::string UmMgt::addOrg2Usr(const RecordPtr& rec, com::Variant& strOrg2UsrNo) {
  return addPair(rec, strOrg2UsrNo,
                 membership("Org_No", "select * from  umOrg2Usr where ",
                            "Org_no =", "insert into umOrg2Usr(Org_no,Usr_no,isMain,priority) values(", true, "ORG",
                            codes::kAddOrg2UsrOrgEmpty, codes::kAddOrg2UsrUsrEmpty, codes::kAddOrg2UsrExists,
                            codes::kAddOrg2UsrFailed));
}

std::string UmMgt::addGrp2Usr(const RecordPtr& rec, com::Variant& strGrp2UsrNo) {
  return addPair(rec, strGrp2UsrNo,
                 membership("Grp_no", "select * from  umGrp2Usr where ",
                            "grp_no =", "insert into umGrp2Usr(Grp_no,Usr_no,priority) values(", false, "GRP",
                            codes::kAddGrp2UsrGrpEmpty, codes::kAddGrp2UsrUsrEmpty, codes::kAddGrp2UsrExists,
                            codes::kAddGrp2UsrFailed));
}

std::string UmMgt::delOrg2Usr(const std::string& org, const std::string& usr) {
  return deleteGiven("delete from umOrg2usr ", "where ", {{"Org_No=", org}, {"usr_no=", usr}},
                     codes::kDelOrg2UsrNothingGiven, codes::kDelOrg2UsrFailed);
}

// The group column is spelt "Grp_No" with both keys and "Grp_no" alone, and
// only the statement with both keys has a blank before "where": kept as is.
std::string UmMgt::delGrp2Usr(const std::string& grp, const std::string& usr) {
  const bool both = !grp.empty() && !usr.empty();
  return deleteGiven("delete  from umGrp2usr ", both ? " where " : "where ",
                     {{both ? "Grp_No=" : "Grp_no=", grp}, {"usr_no=", usr}}, codes::kDelGrp2UsrNothingGiven,
                     codes::kDelGrp2UsrFailed);
}

com::Variant UmMgt::getOrgOfUsr(const std::string& usr) {
  std::string sql = "SELECT umOrg.* FROM umOrg2usr INNER JOIN umOrg ON umOrg2usr.Org_no = umOrg.Org_no";
  if (!usr.empty()) sql += " where  umOrg2usr.usr_no='" + QuoteSql(usr) + "'";
  sql += " order by   umOrg2usr.Priority";
  return readList(sql, "cUmOrg", kOrgOfUsrFields, "ORG", "Org_No");
}

com::Variant UmMgt::getGrpOfUsr(const std::string& usr) {
  std::string sql = "SELECT umGrp.* FROM umGrp2usr INNER JOIN umGrp ON umGrp2usr.grp_no = umGrp.grp_no";
  if (!usr.empty()) sql += " where  umGrp2usr.usr_no='" + QuoteSql(usr) + "'";
  sql += " order by umGrp2usr.Priority";
  return readList(sql, "cUmGrp", kGrpOfUsrFields, "Grp", "Grp_no");
}

com::Variant UmMgt::getUsrOfOrg(const std::string& org) {
  if (org.empty()) return com::Variant::nothing();
  const std::string sql =
      org == "0" ? std::string("    SELECT umUsr.* From umUsr ") +
                       "WHERE (NOT Exists (SELECT umOrg2Usr.* from umOrg2Usr where umOrg2Usr.usr_no=umUsr.usr_no));"
                 : "SELECT  umUsr.* FROM umOrg2usr INNER JOIN umUsr ON umOrg2usr.usr_no = umUsr.usr_no" +
                       std::string(" where  umOrg2usr.org_no='") + QuoteSql(org) + "'" + " order by umOrg2usr.Priority";
  return readList(sql, "cUmUsr", kMemberFields, "USR", "Usr_No");
}

com::Variant UmMgt::getUsrOfGrp(const std::string& grp) {
  if (grp.empty()) return com::Variant::nothing();
  const std::string sql =
      grp == "0" ? std::string("    SELECT umUsr.* From umUsr ") +
                       "WHERE (NOT Exists (SELECT umGrp2Usr.* from umGrp2Usr where umGrp2Usr.usr_no=umUsr.usr_no));"
                 : "SELECT umUsr.* FROM umGrp2usr INNER JOIN umUsr ON umGrp2usr.usr_no = umUsr.usr_no" +
                       std::string(" where  umGrp2usr.Grp_no='") + QuoteSql(grp) + "'" + " order by umGrp2Usr.priority";
  return readList(sql, "cUmUsr", kMemberFields, "Usr", "Usr_No");
}

}  // namespace tivel::mgt
