// Authorizations: the rights a subject (subject type and key) holds on a
// resource, written as one string with a character per bit node, one row per
// (res_no, OGRU_type, OGRU_no). Subject types are compared as numbers, so
// they must read as whole numbers.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/app/app_mgt.h"
#include "mgt/common/module.h"
#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kAuthFields = {
    {"Res_No", "Res_no"}, "Res_Auth", {"OGRU_NO", "OGRU_No"}, {"OGRU_TYPE", "OGRU_Type"}, "IsAvail"};

// The select of one subject's authorization on a resource. The usual
// subject type, a short run of digits, is placed here at once (the check
// runs on every page and the terms cost a value and a text each); any other
// goes through the terms, whose placing fails inside the caller's guard.
Statement authOfSubject(const std::string& resNo, const std::string& type, const std::string& no) {
  if (!type.empty() && type.size() <= 9 && type.find_first_not_of("0123456789") == std::string::npos) {
    const size_t first = type.find_first_not_of('0');
    std::string sql = "select * from appAuth where res_no='";
    sql.reserve(sql.size() + resNo.size() + type.size() + no.size() + 32);
    sql += QuoteSql(resNo);
    sql += "' and OGRU_Type=";
    sql.append(first == std::string::npos ? std::string_view("0") : std::string_view(type).substr(first));
    sql += " and OGRU_No='";
    sql += QuoteSql(no);
    sql += '\'';
    return Statement(std::move(sql));
  }
  return Statement("select * from appAuth where ",
                   {{"res_no=", resNo}, {"OGRU_Type=", type, Place::Whole}, {"OGRU_No=", no}});
}

}  // namespace

std::string AppMgt::addAuth(const RecordPtr& rec, com::Variant& strAuthNo) {
  return addPair(
      rec, strAuthNo,
      {.checks = {required("Res_no", codes::kAddAuthResNoEmpty), present("OGRU_Type", codes::kAddAuthOGRUTypeMissing),
                  required("OGRU_No", codes::kAddAuthOGRUNoEmpty)},
       .test =
           [](const Record& r) {
             // "OGRU_no= " with its blank.
             return "select * from AppAuth where " + condition({{"res_no=", r["Res_no"]},
                                                                {"OGRU_type=", r["OGRU_Type"], Place::Whole},
                                                                {"OGRU_no= ", r["OGRU_No"]}});
           },
       .existsCode = codes::kAddAuthExists,
       // No defaults: an empty string or flag is stored as the empty string.
       .insert =
           [](const Record& r) {
             return Insert("insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values(")
                 .text(r["Res_no"])
                 .value(r["OGRU_Type"], Place::WholeText)
                 .text(r["OGRU_No"])
                 .text(r["Res_Auth"])
                 .text(r["IsAvail"])
                 .sql();
           },
       .id =
           [](const Record& r) {
             return "Res" + r["Res_no"].toString() + "OGRUTYPE" + r["OGRU_Type"].toString() + "OGRU" +
                    r["OGRU_No"].toString();
           },
       .trapCodeValue = codes::kAddAuthFailed});
}

std::string AppMgt::updateAuth(const RecordPtr& rec) {
  return updateWhere(
      rec,
      [](const Record& r) {
        return Statement(
            "select * from AppAuth where ",
            {{"res_no=", r["Res_no"]}, {"OGRU_No=", r["OGRU_No"]}, {"OGRU_Type=", r["OGRU_Type"], Place::WholeText}});
      },
      {"Res_Auth", "IsAvail"}, codes::kUpdateAuthNotFound, codes::kUpdateAuthFailed);
}

// The delete and the add run in one transaction on the shared connection, so
// a replacement that fails leaves the old authorization in place.
bool AppMgt::setAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type, const std::string& strOGRU_No,
                          const std::string& strAuth) {
  return inTransaction([&] {
    if (delAuth(strRes_no, strOGRU_Type, strOGRU_No) != "0") return false;
    RecordPtr rec = records::newRecord("cAppAuth");
    rec->set("Res_no", com::Variant(strRes_no));
    rec->set("OGRU_Type", com::Variant(strOGRU_Type));
    rec->set("OGRU_No", com::Variant(strOGRU_No));
    rec->set("Res_Auth", com::Variant(strAuth));
    rec->set("IsAvail", com::Variant(int32_t{1}));
    com::Variant id;
    return addAuth(rec, id) == "0";
  });
}

std::string AppMgt::delAuth(const std::string& Res_No, const std::string& OGRU_TYPE, const std::string& OGRU_NO) {
  return deleteWhere(Statement("delete from appAuth where ",
                               {{"res_no=", Res_No}, {"OGRU_No=", OGRU_NO}, {"OGRU_Type=", OGRU_TYPE, Place::Whole}}),
                     codes::kDelAuthFailed);
}

std::string AppMgt::delAuthOfRes(const std::string& strRes_no) {
  return deleteRow(strRes_no, "delete from appAuth where res_No='", codes::kDelAuthOfResKeyEmpty,
                   codes::kDelAuthOfResFailed);
}

com::Variant AppMgt::getAuth(const std::string& strRes_no, const std::string& strOGRU_Type,
                             const std::string& strOGRU_No) {
  if (strRes_no.empty()) return com::Variant::nothing();
  return readFirst(authOfSubject(strRes_no, strOGRU_Type, strOGRU_No), "cAppAuth", kAuthFields);
}

// Exactly the string stored for this subject: never merged with the strings
// of the user's organisations, groups or roles.
std::string AppMgt::getAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type,
                                 const std::string& strOGRU_No) {
  if (strRes_no.empty()) return "";
  return readText(authOfSubject(strRes_no, strOGRU_Type, strOGRU_No), "Res_Auth");
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
