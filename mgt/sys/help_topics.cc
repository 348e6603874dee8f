// Help topics (a tree by top_hlp_no, each belonging to a module) and the
// cross-references between them.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/common/pattern.h"
#include "mgt/sys/sys_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kHlpFields = {"Hlp_No",   "Hlp_Topic",   "Hlp_Context", "Mod_No",
                           "Mod_Name", "Hlp_Example", "WdateTime",   "Top_Hlp_No"};

}  // namespace

std::string SysMgt::AddHlp(const RecordPtr& rec, com::Variant& strHlpNo) {
  return addRow(rec, strHlpNo, {required("Hlp_Topic", codes::kAddHlpHlpTopicEmpty)},
                {"Hlp_No", "HLP", "sysHlp", "hlp_no", codes::kAddHlpKeyTaken}, codes::kAddHlpFailed,
                [](const Record& r, const std::string& key) {
                  return Insert(
                             "insert into SysHlp(HLP_no,Mod_No,Mod_Name,top_hlp_no,Hlp_Topic,Hlp_Context,"
                             "Hlp_Example,wDateTime) values(")
                      .text(key)
                      .text(r["Mod_No"], "'0'")
                      .text(r["Mod_Name"], "'sys'")
                      .text(r["Top_Hlp_No"], "'0'")
                      .text(r["Hlp_Topic"])
                      .text(r["Hlp_Context"], "null")
                      .text(r["Hlp_Example"], "null")
                      .text(r["WdateTime"], "null")
                      .sql();
                });
}

// A reference has no key of its own and no uniqueness: the same pair added
// twice is stored twice.
std::string SysMgt::AddHlpRef(const RecordPtr& rec, com::Variant& /*strSysHlpRef_No: not written*/) {
  return addUnkeyed(
      rec, {required("Hlp_No", codes::kAddHlpRefHlpNoEmpty), required("Hlp_No_Ref", codes::kAddHlpRefHlpNoRefEmpty)},
      codes::kAddHlpRefFailed, [](const Record& r) {
        return Insert("insert into SysHlpRef(hlp_no,hlp_no_Ref) values(").text(r["Hlp_No"]).text(r["Hlp_No_Ref"]).sql();
      });
}

std::string SysMgt::updateHlp(const RecordPtr& rec, const std::string& key) {
  return updateRow(
      rec, key, "select * from sysHlp where Hlp_no='",
      {"Hlp_No", "Mod_Name", "Mod_No", "Top_Hlp_No", "Hlp_Topic", "Hlp_Context", "Hlp_Example", "WdateTime"},
      {codes::kUpdateHlpKeyEmpty, codes::kUpdateHlpNotFound, codes::kUpdateHlpFailed});
}

std::string SysMgt::delHlp(const std::string& key) {
  return deleteRow(key, "delete  from sysHlp where Hlp_No='", codes::kDelHlpKeyEmpty, codes::kDelHlpFailed);
}

com::Variant SysMgt::getHlp(const std::string& key) {
  return readByKey(key, "select * from sysHlp  where  Hlp_no='", "cSysHlp", kHlpFields);
}

com::Variant SysMgt::getSonHlpOfHlp(const std::string& key) {
  const std::string parent = key.empty() ? "0" : key;
  return readList("select * from sysHlp where  top_Hlp_no='" + QuoteSql(parent) + "'", "cSysHlp", kHlpFields, "Hlp",
                  "Hlp_No", EmptyList::Nothing);
}

// A topic referred to twice repeats its collection key; the collection
// refuses it and the list gives Nothing.
com::Variant SysMgt::getHlpRefofHlp(const std::string& key) {
  return readList(
      "SELECT  sysHlp.* FROM sysHlp INNER JOIN sysHlpRef ON sysHlp.hlp_no = sysHlpRef.hlp_no_Ref "
      " where  sysHlpRef.hlp_no='" +
          QuoteSql(key) + "'",
      "cSysHlp", kHlpFields, "Hlp", "Hlp_No", EmptyList::Nothing);
}

}  // namespace tivel::mgt
