// Resources: the protected items of an application, a tree by top_res_no
// ("0" at the top). getRes and getTopResOfRes fail the call when their read
// fails; isRes turns that failure into false.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/app/app_mgt.h"
#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kResFields = {"Res_No", "App_No", "isRes", "Name", "Disc", "Top_Res_No"};
const Fields kResListFields = {"Res_No", "App_No", "Name", "Disc", "isRes", "Top_Res_No"};

const char* const kResByKey = "select * from appRes where Res_no='";

}  // namespace

std::string AppMgt::addRes(const RecordPtr& rec, com::Variant& strResNo) {
  return addRow(rec, strResNo,
                {required("Name", codes::kAddResNameEmpty), required("App_No", codes::kAddResAppNoEmpty)},
                {"Res_no", "RES", "appres", "res_no", codes::kAddResKeyTaken}, codes::kAddResFailed,
                [](const Record& r, const std::string& key) {
                  return Insert("insert into AppRes(Res_no,name,disc,app_no,top_res_no,ISres) values(")
                      .text(key)
                      .text(r["Name"])
                      .text(r["Disc"], "NULL")
                      .text(r["App_No"], "'0'")
                      .text(r["Top_Res_No"], "'0'")
                      .text(r["IsRes"], "'0'")
                      .sql();
                });
}

std::string AppMgt::updateRes(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from AppRes where Res_no='",
                   {{"Res_No", "Res_no"}, "Name", "Disc", "Top_Res_No", "App_No", {"isRes", "IsRes"}},
                   {codes::kUpdateResKeyEmpty, codes::kUpdateResNotFound, codes::kUpdateResFailed});
}

std::string AppMgt::delRes(const std::string& key) {
  return deleteRow(key, "delete from appres where Res_No='", codes::kDelResKeyEmpty, codes::kDelResFailed);
}

com::Variant AppMgt::getResOfApp(const std::string& strAppNo) {
  std::string sql = "select * from appRes ";
  if (!strAppNo.empty()) sql += " where app_no ='" + QuoteSql(strAppNo) + "'";
  return readList(sql, "cAppRes", kResListFields, "Res", "Res_no", EmptyList::Nothing);
}

com::Variant AppMgt::getRes(const std::string& key) {
  if (key.empty()) return com::Variant::nothing();
  return readFirst(kResByKey + QuoteSql(key) + "'", "cAppRes", kResFields, failCall("TivelMgt.AppMgt.getRes"));
}

// getRes's read, with a failure answered as Nothing and so as false.
bool AppMgt::isRes(const std::string& key) {
  RecordPtr res = std::dynamic_pointer_cast<Record>(readByKey(key, kResByKey, "cAppRes", kResFields).toObject());
  return res && res->get("IsRes").looseEquals(com::Variant(int32_t{1}));
}

// Two reads: the resource's parent key, then the parent. With an empty
// argument the first read takes the first row of the whole table.
com::Variant AppMgt::getTopResOfRes(const std::string& key) {
  std::string sql = "select * from AppRes ";
  if (!key.empty()) sql += "where  res_no='" + QuoteSql(key) + "'";
  return readParent(sql, "Top_Res_No", "select * from AppRes where  res_no='", "cAppRes", kResFields,
                    failCall("TivelMgt.AppMgt.getTopResOfRes"));
}

com::Variant AppMgt::getSonResOfRes(const std::string& strApp_No, const std::string& strRes_no) {
  return readList("select * from AppRes" + std::string(" where  App_No='") + QuoteSql(strApp_No) +
                      "' and top_Res_no='" + QuoteSql(strRes_no) + "'",
                  "cAppRes", kResListFields, "Res", "Res_no", EmptyList::Nothing);
}

}  // namespace tivel::mgt
