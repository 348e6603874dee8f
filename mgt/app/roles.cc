// Roles of an application and the users who hold them (AppRol, AppRol2Usr).
// A membership is the pair (Rol_no, Usr_no); its priority orders a user's
// roles and a role's users. getRol, getRolName and getRolOfUsr fail the call
// when their read fails, so a caller can tell a broken read from absence.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/app/app_mgt.h"
#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kRolListFields = {"Rol_No", "App_No", "Name", "Disc"};
const Fields kRolFields = {"Rol_No", "Name", "Disc", "App_No"};
// The members of a role carry seven of the user's fields.
const Fields kMemberFields = {{"Usr_no", "Usr_No"}, "Account",    "Name", {"pwd", "Pwd"},
                              "Login_Count",        "Login_Mode", "State"};

const char* const kRolByKey = "select * from appRol where Rol_no='";

std::string rolKey(const Record& r) { return "Rol" + r["Rol_No"].toString(); }

}  // namespace

std::string AppMgt::addRol(const RecordPtr& rec, com::Variant& strRolNo) {
  return addRow(rec, strRolNo,
                {required("App_No", codes::kAddRolAppNoEmpty), required("Name", codes::kAddRolNameEmpty)},
                {"Rol_No", "Rol", "approl", "rol_no", codes::kAddRolKeyTaken}, codes::kAddRolFailed,
                [](const Record& r, const std::string& key) {
                  return Insert("insert into AppRol(Rol_no,App_no,name,disc) values(")
                      .text(key)
                      .text(r["App_No"])
                      .text(r["Name"])
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

// Neither the role nor the user need exist: only the pair is tested. The
// identifier handed back is empty.
std::string AppMgt::addRol2Usr(const RecordPtr& rec, com::Variant& strRol2Usr) {
  return addPair(
      rec, strRol2Usr,
      {.checks = {required("Rol_No", codes::kAddRol2UsrRolNoEmpty), required("Usr_No", codes::kAddRol2UsrUsrNoEmpty)},
       .test =
           [](const Record& r) {
             return "select * from appRol2Usr where " + condition({{"rol_no=", r["Rol_No"]}, {"usr_no=", r["Usr_No"]}});
           },
       .existsCode = codes::kAddRol2UsrExists,
       .insert =
           [](const Record& r) {
             return Insert("insert into AppRol2Usr(Rol_no,Usr_no,priority) values(")
                 .text(r["Rol_No"])
                 .text(r["Usr_No"])
                 .text(r["Priority"], "'99999'")
                 .sql();
           },
       .id = [](const Record&) { return std::string(); },
       .trapCodeValue = codes::kAddRol2UsrFailed});
}

// Reports with the codes of updateRes.
std::string AppMgt::updateRol(const RecordPtr& rec, const std::string& strRol_No) {
  return updateRow(rec, strRol_No, "select * from AppRol where rol_no='", {"Rol_No", "App_No", "Disc", "Name"},
                   {codes::kUpdateRolKeyEmpty, codes::kUpdateRolNotFound, codes::kUpdateRolFailed});
}

// The role's memberships and authorizations stay.
std::string AppMgt::delRol(const std::string& strRol_No) {
  return deleteRow(strRol_No, "delete from appRol where rol_No='", codes::kDelRolKeyEmpty, codes::kDelRolFailed);
}

// One membership, every member of a role, or every role of a user.
std::string AppMgt::delRol2Usr(const std::string& strRol_No, const std::string& strUsr_no) {
  return deleteGiven("delete from appRol2Usr ", "where ", {{"Rol_No=", strRol_No}, {"usr_no=", strUsr_no}},
                     codes::kDelRol2UsrNothingGiven, codes::kDelRol2UsrFailed);
}

com::Variant AppMgt::getRolOfApp(const std::string& strAppNo) {
  std::string sql = "select * from appRol ";
  if (!strAppNo.empty()) sql += " where app_no ='" + QuoteSql(strAppNo) + "'";
  return readKeyedList(sql, "cAppRol", kRolListFields, rolKey, EmptyList::Nothing);
}

com::Variant AppMgt::getRol(const std::string& strRol_No) {
  if (strRol_No.empty()) return com::Variant::nothing();
  return readFirst(kRolByKey + QuoteSql(strRol_No) + "'", "cAppRol", kRolFields, failCall("TivelMgt.AppMgt.getRol"));
}

std::string AppMgt::getRolName(const std::string& strRol_No) {
  if (strRol_No.empty()) return "";
  return readText(kRolByKey + QuoteSql(strRol_No) + "'", "Name", failCall("TivelMgt.AppMgt.getRolName"));
}

// Without a user every membership is read; a role with two or more members
// then repeats its collection key, which the collection refuses, and the
// call fails. The source names UmMgt, as callers of this read expect.
com::Variant AppMgt::getRolOfUsr(const std::string& strUsr_no) {
  std::string sql = "SELECT AppRol.* FROM AppRol INNER JOIN AppRol2usr ON AppRol2usr.Rol_no = AppRol.Rol_no";
  if (!strUsr_no.empty()) sql += " where  AppRol2usr.usr_no='" + QuoteSql(strUsr_no) + "'";
  sql += " order by AppRol2usr.Priority";
  return readKeyedList(sql, "cAppRol", kRolListFields, rolKey, EmptyList::Nothing,
                       failCall("TivelMgt.UmMgt.getRolOfUsr"));
}

// Members whose user row is gone are left out by the join.
com::Variant AppMgt::getUsrOfRol(const std::string& strRol_No) {
  if (strRol_No.empty()) return com::Variant::nothing();
  return readList("SELECT umUsr.* FROM appRol2Usr INNER JOIN umUsr ON appRol2Usr.Usr_no = umUsr.usr_no" +
                      std::string(" where appRol2Usr.rol_no='") + QuoteSql(strRol_No) + "'" +
                      " ORDER BY appRol2Usr.Priority",
                  "cUmUsr", kMemberFields, "Usr", "Usr_No", EmptyList::Nothing);
}

}  // namespace tivel::mgt
