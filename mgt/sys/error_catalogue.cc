// The error catalogue: the errors the portal can show, each naming its help topic.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/common/pattern.h"
#include "mgt/sys/sys_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kErrFields = {"Err_No", "Hlp_No", "Err_Type", "Disc", "IsLog", "IsVisibility"};

}  // namespace

std::string SysMgt::AddErr(const RecordPtr& rec, com::Variant& strSysErr_No) {
  return addRow(rec, strSysErr_No, {required("Hlp_No", codes::kAddErrHlpNoEmpty)},
                {"Err_No", "Err", "sysErr", "err_no", codes::kAddErrKeyTaken}, codes::kAddErrFailed,
                [](const Record& r, const std::string& key) {
                  // The flags are written quoted when given; only their
                  // defaults go in as bare numbers.
                  return Insert("insert into SysErr(err_no,Hlp_no,Err_Type,disc,isLog,isVisibility) values(")
                      .text(key)
                      .text(r["Hlp_No"])
                      .text(r["Err_Type"], "'1'")
                      .text(r["Disc"], "null")
                      .text(r["IsLog"], "0")
                      .text(r["IsVisibility"], "1")
                      .sql();
                });
}

std::string SysMgt::updateErr(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from sysErr where Err_no='",
                   {"Err_No", "Err_Type", "Disc", "Hlp_No", "IsLog", "IsVisibility"},
                   {codes::kUpdateErrKeyEmpty, codes::kUpdateErrNotFound, codes::kUpdateErrFailed});
}

std::string SysMgt::delErr(const std::string& key) {
  return deleteRow(key, "delete  from sysErr where Err_No='", codes::kDelErrKeyEmpty, codes::kDelErrFailed);
}

com::Variant SysMgt::getErr(const std::string& key) {
  return readByKey(key, "select * from sysErr  where  Err_no='", "cSysErr", kErrFields);
}

com::Variant SysMgt::getAllErr() {
  return readList("select * from sysErr", "cSysErr", kErrFields, "Err", "Err_No", EmptyList::Nothing);
}

}  // namespace tivel::mgt
