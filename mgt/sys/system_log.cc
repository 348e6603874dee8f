// The system log: events with their module, type and time. WriteLog is the
// one-call append that the login runs for every login, so it stays one key
// test and one insert.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/common/pattern.h"
#include "mgt/sys/sys_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kLogFields = {"Log_No", "Mod_No", "Mod_Name", "Log_Type", "Disc", "Msg_Type", "WdateTime"};

}  // namespace

// A generated key that turns out to be used (another writer took it in the
// same second) is drawn again, so entries written together are never lost.
std::string SysMgt::addLog(const RecordPtr& rec, com::Variant& strSysLog_No) {
  return addRow(rec, strSysLog_No, {required("Disc", codes::kAddLogDiscEmpty)},
                {"Log_No", "LOG", "sysLog", "Log_no", codes::kAddLogKeyTaken}, codes::kAddLogFailed,
                [](const Record& r, const std::string& key) {
                  // The types are written quoted when given; only their
                  // defaults go in as bare numbers.
                  return Insert("insert into SysLog(Log_no,WDateTime,Mod_no,Mod_name,disc,Log_Type,Msg_Type) values(")
                      .text(key)
                      .text(r["WdateTime"], "null")
                      .text(r["Mod_No"], "'0'")
                      .text(r["Mod_Name"], "'sys'")
                      .text(r["Disc"], "null")
                      .text(r["Log_Type"], "0")
                      .text(r["Msg_Type"], "0")
                      .sql();
                });
}

std::string SysMgt::updateLog(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from sysLog where Log_no='",
                   {"Log_No", "WdateTime", "Disc", "Log_Type", "Mod_Name", "Mod_No", "Msg_Type"},
                   {codes::kUpdateLogKeyEmpty, codes::kUpdateLogNotFound, codes::kUpdateLogFailed});
}

std::string SysMgt::delLog(const std::string& key) {
  return deleteRow(key, "delete  from sysLog where Log_No='", codes::kDelLogKeyEmpty, codes::kDelLogFailed);
}

com::Variant SysMgt::getLog(const std::string& key) {
  return readByKey(key, "select * from sysLog  where  Log_no='", "cSysLog", kLogFields);
}

com::Variant SysMgt::getAllLog() {
  return readList("select * from sysLog", "cSysLog", kLogFields, "Log", "Log_No", EmptyList::Nothing);
}

// The time goes in as a date value, which the insert writes in the system's
// date text form; the two types as integers, so they are never empty.
bool SysMgt::WriteLog(const std::string& strModNo, const std::string& strModName, const std::string& strLogDisc,
                      int16_t intLogType, int16_t intMsgType) {
  RecordPtr rec = records::newRecord("cSysLog");
  rec->set("WdateTime", com::Variant(com::DateTime::now()));
  rec->set("Mod_No", com::Variant(strModNo));
  rec->set("Mod_Name", com::Variant(strModName));
  rec->set("Disc", com::Variant(strLogDisc));
  rec->set("Log_Type", com::Variant(intLogType));
  rec->set("Msg_Type", com::Variant(intMsgType));
  com::Variant key;
  return addLog(rec, key) == "0";
}

}  // namespace tivel::mgt
