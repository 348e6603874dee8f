// New_ScriptId: slip numbers from the counter of a JH code, year and month.
// A number is JH, year, month (no leading zero) and serial (no leading
// zeros), so numbers of different months can coincide (month 1 serial 12
// and month 11 serial 2 both end in 112); a serial whose number already
// names a slip is passed over.
#include "fee/interface.h"
#include "fee/module.h"
#include "fee/statements.h"

namespace tivel::gf {
namespace {

// Numbers must come out one at a time, so the counter is read and written
// under a lock held to the end of the save's transaction. The whole counter
// table is locked, not a row: a counter row that does not exist yet cannot be
// row-locked, and two months' counters can issue the same number. Readers are
// not blocked.
void lockCounters(ado::Connection& conn) { conn.backend().lockTable("CD_MAX_LSH"); }

bool slipExists(ado::Connection& conn, const std::string& jh, const std::string& number) {
  auto rs = conn.execute("SELECT COUNT(*) FROM T_Script" + slipCondition(jh, number));
  bool used = !rs->eof() && rs->value(0).toLong() > 0;
  rs->close();
  return used;
}

}  // namespace

std::string Interface::New_ScriptId(std::string& pErr, int32_t pYear, int16_t pMonth, const std::string& pJH) {
  try {
    if (characterCount(pJH) != 2) {
      pErr = "JH参数位数必须为2";
      WriteFileLog(pErr);
      return "";
    }
    // A number is made only for a month that exists: out of range, the year
    // and month would run into the serial (month 13 serial 1 reads as month 1
    // serial 31) and the counter would count for no month.
    if (pYear < 1 || pYear > 9999) {
      pErr = "年份参数必须在1到9999之间";
      WriteFileLog(pErr);
      return "";
    }
    if (pMonth < 1 || pMonth > 12) {
      pErr = "月份参数必须在1到12之间";
      WriteFileLog(pErr);
      return "";
    }
    ado::Connection& conn = connection();
    lockCounters(conn);
    const std::string prefix = pJH + std::to_string(pYear) + std::to_string(pMonth);
    auto rs = std::make_shared<ado::Recordset>();
    rs->open("Select * From CD_MAX_LSH WHERE JH = '" + QuoteSql(pJH) + "' and CURYEAR = " + std::to_string(pYear) +
                 " AND CURMONTH = " + std::to_string(pMonth),
             connectionPtr(), ado::adOpenDynamic, ado::adLockBatchOptimistic, -1);
    double serial = 1;
    if (rs->recordCount() != 0) {
      serial = com::Val(rs->value("MAXLSH").toString()) + 1;
    } else {
      rs->addNew();
      rs->setValue("JH", com::Variant(pJH));
      rs->setValue("CURYEAR", com::Variant(pYear));
      rs->setValue("CURMONTH", com::Variant(pMonth));
    }
    while (slipExists(conn, pJH, prefix + com::formatNumber(serial))) serial += 1;
    rs->setValue("MAXLSH", com::Variant(com::formatNumber(serial)));
    rs->updateBatch();
    rs->close();
    return prefix + com::formatNumber(serial);
  } catch (...) {
    pErr = failureDescription();
    WriteFileLog("取单号错误：" + pErr);
    return "";
  }
}

}  // namespace tivel::gf
