// Applications: a flat list of rows keyed by App_no; names need not be unique.
#include "mgt/app/app_mgt.h"
#include "mgt/common/pattern.h"

namespace tivel::mgt {
namespace {

const Fields kAppFields = {"App_No", "Name", "Disc"};

const char* const kAppByKey = "select * from app where App_no='";

}  // namespace

std::string AppMgt::addApp(const RecordPtr& rec, com::Variant& strAppNo) {
  return addRow(rec, strAppNo, {required("Name", "10031001")}, {"App_No", "App", "app", "app_no", "10031002"},
                "10031003", [](const Record& r, const std::string& key) {
                  return Insert("insert into App(App_no,name,disc) values(")
                      .text(key)
                      .text(r["Name"])
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

std::string AppMgt::updateApp(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from App where App_no='", {"App_No", "Name", "Disc"},
                   {"10031011", "10031012", "10031013"});
}

std::string AppMgt::delApp(const std::string& key) {
  return deleteRow(key, "delete from app where App_No='", "10031021", "10031022");
}

com::Variant AppMgt::getAllApp() {
  return readList("select * from app order by app_no", "cApp", kAppFields, "App", "App_No", EmptyList::Nothing);
}

com::Variant AppMgt::getApp(const std::string& key) { return readByKey(key, kAppByKey, "cApp", kAppFields); }

}  // namespace tivel::mgt
