// f_GetRecordset and f_SetRs: the generic reader and statement runner the
// fee application's pages use. Both run the caller's own SQL by design.
#include "fee/interface.h"
#include "fee/module.h"
#include "fee/statements.h"

namespace tivel::gf {
namespace {

// The trace f_SetRs keeps of its steps; written to the log only when the
// call fails.
class Trace {
 public:
  void line(const std::string& text) { text_ += text + "\r\n"; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Opens the call's recordset on an object element, writes its pending
// changes and closes it again.
void writeRecordset(ado::Recordset& rs, const com::Variant& element) {
  rs.open(element, com::Variant::missing(), ado::adOpenUnspecified, ado::adLockUnspecified, -1);
  rs.updateBatch();
  rs.close();
}

}  // namespace

com::Variant Interface::f_GetRecordset(com::Variant& pErr, const com::Variant& pSessionId, const com::Variant& pSQL) {
  try {
    ensureConnected();
    auto rs = std::make_shared<ado::Recordset>();
    rs->open(pSQL, com::Variant(com::ObjectPtr(connectionPtr())), ado::adOpenKeyset, ado::adLockBatchOptimistic, -1);
    return com::Variant(com::ObjectPtr(rs));
  } catch (...) {
    std::string description = failureDescription();
    pErr = com::Variant(description);
    WriteFileLog(description);
    return com::Variant::nothing();
  }
}

bool Interface::f_SetRs(std::string& pErr, const std::string& msessionid, const com::Variant& pVar) {
  // Neither the connection nor the recordset is trapped: their failures
  // reach the caller.
  ensureConnected();
  ado::Recordset rs;
  rs.setActiveConnection(connectionPtr());
  rs.setLockType(ado::adLockBatchOptimistic);
  Trace trace;
  trace.line("执行模块：f_SetRs，");
  trace.line("操作：判断参数");

  auto fail = [&](const std::string& description) {
    pErr = description;
    trace.line(description);
    WriteFileLog(trace.text());
    return false;
  };

  // First trap: the argument test and the forms without a transaction.
  long upper = -1;
  try {
    if (pVar.type() == com::VarType::Array) {
      upper = static_cast<long>(pVar.array().size()) - 1;
      if (upper < 0) return fail("参数必须大于或等于3");
      trace.line("结果：参数正确");
      trace.line("参数共：" + std::to_string(upper) + "个。");
    } else if (pVar.isObject()) {
      trace.line("参数:1是对象。");
      writeRecordset(rs, pVar);
      return true;
    } else {
      trace.line("参数:1是SQL语句：" + pVar.toString());
      connection().execute(pVar.toString());
      return true;
    }
  } catch (...) {
    return fail(failureDescription());
  }

  // Second trap: every element in one transaction, rolled back on failure.
  // A rollback that fails itself (BeginTrans had failed) reaches the caller.
  ado::Connection& conn = connection();
  std::string description;
  try {
    conn.beginTrans();
    for (long i = 0; i <= upper; ++i) {
      const com::Variant& item = pVar.array()[static_cast<size_t>(i)];
      if (item.isObject()) {
        trace.line("参数:" + std::to_string(i) + "是对象。");
        writeRecordset(rs, item);
      } else {
        trace.line("参数:" + std::to_string(i) + "是SQL语句：" + item.toString());
        conn.execute(item.toString());
      }
    }
    conn.commitTrans();
    return true;
  } catch (...) {
    description = failureDescription();
  }
  conn.rollbackTrans();
  return fail(description);
}

}  // namespace tivel::gf
