// Save_Script and Delete_Script: a fee slip's header, details, attachment
// and snapshots, written and removed in one transaction.
#include "fee/interface.h"
#include "fee/module.h"
#include "fee/statements.h"

namespace tivel::gf {
namespace {

constexpr const char* kNewSlip = "(自动产生)";

// The detail columns a save copies from each row of pDtl.
constexpr const char* kDetailColumns[] = {"S_NO", "IsExt", "Author_Id", "Percentage", "Amount"};

}  // namespace

bool Interface::Save_Script(std::string& pErr, int32_t pYear, int16_t pMonth, const std::string& pJH,
                            const ado::RecordsetPtr& pScript, const ado::RecordsetPtr& pDtl,
                            const ado::RecordsetPtr& pFile) {
  std::string description;
  try {
    ado::Connection& conn = connection();
    conn.beginTrans();

    std::string number;
    const com::Variant id = deref(pScript).value("Script_Id");
    if (!id.isNull() && id.toString() == kNewSlip) {
      number = New_ScriptId(pErr, pYear, pMonth, pJH);
      if (number.empty()) {
        conn.rollbackTrans();
        WriteFileLog(pErr);
        return false;
      }
    } else {
      number = id.toString();
    }
    const std::string where = slipCondition(pJH, number);

    conn.execute("DELETE FROM T_ScrpDtl" + where);

    // Header: every column of T_Script from the field of the same name.
    auto rs = openBatch("SELECT * FROM T_Script" + where);
    if (rs->recordCount() == 0) rs->addNew();
    for (int32_t i = 0; i < rs->fieldCount(); ++i) rs->setValue(i, pScript->value(rs->fieldName(i)));
    rs->setValue("Script_Id", com::Variant(number));
    rs->updateBatch();
    rs->close();

    // Details: replaced by the rows of pDtl.
    rs = openBatch("SELECT * FROM T_ScrpDtl" + where);
    ado::Recordset& details = deref(pDtl);
    details.moveFirst();
    for (; !details.eof(); details.moveNext()) {
      rs->addNew();
      rs->setValue("JH", com::Variant(pJH));
      rs->setValue("Script_Id", com::Variant(number));
      for (const char* column : kDetailColumns) rs->setValue(column, details.value(column));
    }
    rs->updateBatch();
    rs->close();

    // Attachment, when one is passed; otherwise the stored one stays.
    ado::Recordset& file = deref(pFile);
    if (file.recordCount() > 0) {
      rs = openBatch("SELECT * FROM T_ScrpFile" + where);
      if (rs->recordCount() == 0) rs->addNew();
      rs->setValue("JH", com::Variant(pJH));
      rs->setValue("Script_Id", com::Variant(number));
      rs->setValue("DATA", file.value("DATA"));
      rs->setValue("REMARK", file.value("REMARK"));
      rs->updateBatch();
      rs->close();
    }

    // Snapshot n of header and details: n is the number of earlier ones.
    rs = openBatch("SELECT COUNT(*) AS Exp1 FROM T_Script_Save" + where);
    const std::string n = std::to_string(rs->value("Exp1").toLong());
    rs->close();
    conn.execute("INSERT INTO T_Script_Save SELECT *," + n + " AS I_NO FROM T_Script" + where);
    conn.execute("INSERT INTO T_ScrpDtl_Save SELECT *," + n + " AS I_NO FROM T_ScrpDtl" + where);

    conn.commitTrans();
    pErr = number;
    return true;
  } catch (...) {
    description = failureDescription();
  }
  pErr = description;
  // Rolled back before the log is written, so a log that cannot be written
  // never leaves the thread's connection inside the transaction. A rollback
  // that fails (the transaction never began) reaches the caller.
  connection().rollbackTrans();
  WriteFileLog(pErr);
  return false;
}

bool Interface::Delete_Script(std::string& pErr, const std::string& pID, const std::string& pJH) {
  const std::string where = slipCondition(pJH, pID);
  // Not trapped: a slip without a header fails to the caller here.
  auto rs = openBatch("SELECT Sign_Id FROM T_Script" + where);
  const com::Variant sign = rs->value("Sign_Id");
  rs->close();
  if (!sign.isNull() && !sign.isBlank()) {
    pErr = "已经签发，不能删除稿费单。";
    return false;
  }

  std::string statement;
  std::string description;
  try {
    ado::Connection& conn = connection();
    conn.beginTrans();
    for (const char* table : {"T_ScrpDtl_Save", "T_ScrpDtl", "T_Scrpfile", "T_Script_Save", "T_Script"}) {
      statement = std::string("DELETE FROM ") + table + where;
      conn.execute(statement);
    }
    conn.commitTrans();
    pErr = "";
    return true;
  } catch (...) {
    description = failureDescription();
  }
  connection().rollbackTrans();
  pErr = description;
  WriteFileLog(pErr);
  WriteFileLog(statement);
  return false;
}

}  // namespace tivel::gf
