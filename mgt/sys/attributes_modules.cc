// System attributes (named settings with a type and a value) and modules
// (the portal's menu entries, a tree by top_Mod_No).
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/common/pattern.h"
#include "mgt/sys/sys_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kAttrFields = {"Attr_No", "Name", "Attr_Type", "Attr_Value", "Disc"};
const Fields kModFields = {"Mod_No",    "Top_Mod_No",   "Name",     "En_Name", "Logo", "Priority",
                           "IsInstall", "IsVisibility", "Url_Link", "Param",   "Disc"};

}  // namespace

std::string SysMgt::addSysAttr(const RecordPtr& rec, com::Variant& strSatNo) {
  return addRow(rec, strSatNo, {required("Name", codes::kAddSysAttrNameEmpty)},
                {"Attr_No", "ATT", "SysAttr", "Attr_No", codes::kAddSysAttrKeyTaken}, codes::kAddSysAttrFailed,
                [](const Record& r, const std::string& key) {
                  return Insert("insert into SysAttr(Attr_No,name,AttR_type,AttR_value,disc) values(")
                      .text(key)
                      .text(r["Name"])
                      .numberUnlessNull(r["Attr_Type"], "0")
                      .text(r["Attr_Value"], "NULL")
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

std::string SysMgt::addMod(const RecordPtr& rec, com::Variant& strModNo) {
  return addRow(rec, strModNo, {required("Name", codes::kAddModNameEmpty)},
                {"Mod_No", "MOD", "SysModule", "mod_no", codes::kAddModKeyTaken}, codes::kAddModFailed,
                [](const Record& r, const std::string& key) {
                  return Insert(
                             "insert into SysModule(Mod_no,top_Mod_No,name,En_Name,Logo,priority,isInstall,"
                             "isVisibility,Url_Link,Param ,disc) values(")
                      .text(key)
                      .text(r["Top_Mod_No"], "'0'")
                      .text(r["Name"])
                      .text(r["En_Name"], "NULL")
                      .text(r["Logo"], "NULL")
                      .text(r["Priority"], "'99999999'")
                      .numberUnlessNull(r["IsInstall"], "1")
                      .numberUnlessNull(r["IsVisibility"], "1")
                      .text(r["Url_Link"], "NULL")
                      .text(r["Param"], "NULL")
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

std::string SysMgt::updateSysAttr(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from SysAttr where Attr_No='", kAttrFields,
                   {codes::kUpdateSysAttrKeyEmpty, codes::kUpdateSysAttrNotFound, codes::kUpdateSysAttrFailed});
}

std::string SysMgt::updateMod(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from sysModule where Mod_no='",
                   {"Mod_No", "En_Name", "Disc", "IsInstall", "IsVisibility", "Logo", "Name", "Param", "Priority",
                    "Top_Mod_No", "Url_Link"},
                   {codes::kUpdateModKeyEmpty, codes::kUpdateModNotFound, codes::kUpdateModFailed});
}

std::string SysMgt::delSysAttr(const std::string& key) {
  return deleteRow(key, "delete  from SysAttr where Attr_No='", codes::kDelSysAttrKeyEmpty, codes::kDelSysAttrFailed);
}

std::string SysMgt::delMod(const std::string& key) {
  // The blanks inside the statement are the system's own.
  return deleteRow(key, "delete  from sysModule where Mod_No   ='", codes::kDelModKeyEmpty, codes::kDelModFailed);
}

com::Variant SysMgt::getSysAttr(const std::string& key) {
  return readByKey(key, "select * from SysAttr where  Attr_No='", "cSysAttr", kAttrFields);
}

com::Variant SysMgt::getMod(const std::string& key) {
  return readByKey(key, "select * from sysModule  where  Mod_no='", "cSysModule", kModFields);
}

com::Variant SysMgt::getSonModOfMod(const std::string& key) {
  const std::string parent = key.empty() ? "0" : key;
  return readList("select * from SysModule   where  Top_Mod_No   ='" + QuoteSql(parent) + "' order by Priority   ",
                  "cSysModule", kModFields, "Mod", "Mod_No", EmptyList::Nothing);
}

}  // namespace tivel::mgt
