// Applications: a flat list of rows keyed by App_no; names need not be unique.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/app/app_mgt.h"
#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kAppFields = {"App_No", "Name", "Disc"};

const char* const kAppByKey = "select * from app where App_no='";

}  // namespace

std::string AppMgt::addApp(const RecordPtr& rec, com::Variant& strAppNo) {
  return addRow(rec, strAppNo, {required("Name", codes::kAddAppNameEmpty)},
                {"App_No", "App", "app", "app_no", codes::kAddAppKeyTaken}, codes::kAddAppFailed,
                [](const Record& r, const std::string& key) {
                  return Insert("insert into App(App_no,name,disc) values(")
                      .text(key)
                      .text(r["Name"])
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

std::string AppMgt::updateApp(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from App where App_no='", {"App_No", "Name", "Disc"},
                   {codes::kUpdateAppKeyEmpty, codes::kUpdateAppNotFound, codes::kUpdateAppFailed});
}

std::string AppMgt::delApp(const std::string& key) {
  return deleteRow(key, "delete from app where App_No='", codes::kDelAppKeyEmpty, codes::kDelAppFailed);
}

com::Variant AppMgt::getAllApp() {
  return readList("select * from app order by app_no", "cApp", kAppFields, "App", "App_No", EmptyList::Nothing);
}

com::Variant AppMgt::getApp(const std::string& key) { return readByKey(key, kAppByKey, "cApp", kAppFields); }

}  // namespace tivel::mgt
