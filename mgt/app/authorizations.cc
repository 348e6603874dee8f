// Authorizations: the rights a subject (subject type and key) holds on a
// resource, written as one string with a character per bit node, one row per
// (res_no, OGRU_type, OGRU_no). Subject types are compared as numbers, so
// they must read as whole numbers.
#include "mgt/app/app_mgt.h"
#include "mgt/app/whole_number.h"
#include "mgt/common/module.h"

namespace tivel::mgt {
namespace {

using app::wholeNumber;

const Fields kAuthFields = {{"Res_No", "Res_no"}, "Res_Auth", {"OGRU_NO", "OGRU_No"}, {"OGRU_TYPE", "OGRU_Type"}, "IsAvail"};

// The select of one subject's authorization on a resource.
std::string authOfSubject(const std::string& resNo, const std::string& type, const std::string& no) {
  return "select * from appAuth where res_no='" + QuoteSql(resNo) + "' and OGRU_Type=" + wholeNumber(com::Variant(type)) +
         " and OGRU_No='" + QuoteSql(no) + "'";
}

}  // namespace

std::string AppMgt::addAuth(const RecordPtr& rec, com::Variant& strAuthNo) {
  return trapCode("10034005", [&]() -> std::string {
    const Record& r = deref(rec);
    if (blank(r["Res_no"])) return "10034001";
    if (r["OGRU_Type"].isNull()) return "10034002";
    if (blank(r["OGRU_No"])) return "10034003";
    const std::string type = wholeNumber(r["OGRU_Type"]);
    auto rs = openEdit("select * from AppAuth where res_no=" + quoted(r["Res_no"]) + " and OGRU_type=" + type +
                       " and OGRU_no= " + quoted(r["OGRU_No"]));
    const bool held = rs->recordCount() > 0;
    rs->close();
    if (held) return "10034004";
    // No defaults: an empty string or flag is stored as the empty string.
    execute(Insert("insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values(")
                .text(r["Res_no"])
                .text(com::Variant(type))
                .text(r["OGRU_No"])
                .text(r["Res_Auth"])
                .text(r["IsAvail"])
                .sql());
    strAuthNo = com::Variant("Res" + r["Res_no"].toString() + "OGRUTYPE" + r["OGRU_Type"].toString() + "OGRU" +
                             r["OGRU_No"].toString());
    return "0";
  });
}

std::string AppMgt::updateAuth(const RecordPtr& rec) {
  return trapCode("10034013", [&]() -> std::string {
    const Record& r = deref(rec);
    auto rs = openEdit("select * from AppAuth where res_no=" + quoted(r["Res_no"]) + " and OGRU_No=" + quoted(r["OGRU_No"]) +
                       " and OGRU_Type='" + wholeNumber(r["OGRU_Type"]) + "'");
    if (rs->recordCount() < 1) {
      rs->close();
      return "10034012";
    }
    rs->setValue("Res_Auth", r["Res_Auth"]);
    rs->setValue("IsAvail", r["IsAvail"]);
    rs->update();
    rs->close();
    return "0";
  });
}

// The delete and the add run in one transaction on the shared connection, so
// a replacement that fails leaves the old authorization in place.
bool AppMgt::setAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type, const std::string& strOGRU_No,
                          const std::string& strAuth) {
  return trapBool([&] {
    const ado::ConnectionPtr& db = sharedConnection();
    db->beginTrans();
    try {
      bool ok = delAuth(strRes_no, strOGRU_Type, strOGRU_No) == "0";
      if (ok) {
        RecordPtr rec = records::newRecord("cAppAuth");
        rec->set("Res_no", com::Variant(strRes_no));
        rec->set("OGRU_Type", com::Variant(strOGRU_Type));
        rec->set("OGRU_No", com::Variant(strOGRU_No));
        rec->set("Res_Auth", com::Variant(strAuth));
        rec->set("IsAvail", com::Variant(int32_t{1}));
        com::Variant id;
        ok = addAuth(rec, id) == "0";
      }
      if (ok)
        db->commitTrans();
      else
        db->rollbackTrans();
      return ok;
    } catch (...) {
      db->rollbackTrans();
      throw;
    }
  });
}

std::string AppMgt::delAuth(const std::string& Res_No, const std::string& OGRU_TYPE, const std::string& OGRU_NO) {
  return trapCode("10034022", [&]() -> std::string {
    execute("delete from appAuth where res_no='" + QuoteSql(Res_No) + "' and OGRU_No='" + QuoteSql(OGRU_NO) +
            "' and OGRU_Type=" + wholeNumber(com::Variant(OGRU_TYPE)));
    return "0";
  });
}

std::string AppMgt::delAuthOfRes(const std::string& strRes_no) {
  return deleteRow(strRes_no, "delete from appAuth where res_No='", "10034023", "10034024");
}

com::Variant AppMgt::getAuth(const std::string& strRes_no, const std::string& strOGRU_Type, const std::string& strOGRU_No) {
  if (strRes_no.empty()) return com::Variant::nothing();
  return trapObject(
      [&] { return firstRecord(authOfSubject(strRes_no, strOGRU_Type, strOGRU_No), "cAppAuth", kAuthFields); });
}

// Exactly the string stored for this subject: never merged with the strings
// of the user's organisations, groups or roles.
std::string AppMgt::getAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type,
                                 const std::string& strOGRU_No) {
  if (strRes_no.empty()) return "";
  return trapText([&]() -> std::string {
    auto rs = openRead(authOfSubject(strRes_no, strOGRU_Type, strOGRU_No));
    std::string auth = rs->recordCount() > 0 ? rs->value("Res_Auth").toString() : "";
    rs->close();
    return auth;
  });
}

com::Variant AppMgt::getAuthOfRes(const std::string& strRes_no) {
  if (strRes_no.empty()) return com::Variant::nothing();
  return readKeyedList(
      "select * from appAuth where res_no='" + QuoteSql(strRes_no) + "' ", "cAppAuth", kAuthFields,
      [](const Record& r) {
        return "RES" + r["Res_no"].toString() + "OGRUT" + r["OGRU_Type"].toString() + "OGRU" + r["OGRU_No"].toString();
      },
      EmptyList::Nothing);
}

}  // namespace tivel::mgt
