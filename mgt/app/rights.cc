// Rights: the numbered rights of a resource, one row per (Res_no, Bit_Nod).
// A bit node is the right's position in an authorization string; statements
// compare it as a number, so it must read as a whole number.
#include "mgt/app/app_mgt.h"
#include "mgt/app/whole_number.h"

namespace tivel::mgt {
namespace {

using app::wholeNumber;

const Fields kRgtFields = {{"Res_No", "Res_no"}, "Bit_Nod", "Name", "Disc"};

// The select of one right, up to the bit node's closing quote.
std::string rightByPair(const std::string& resNo, const std::string& bitNod) {
  return "select * from AppRgt where res_no='" + QuoteSql(resNo) + "' and bit_Nod='" + wholeNumber(com::Variant(bitNod)) +
         "'";
}

}  // namespace

std::string AppMgt::addRgt(const RecordPtr& rec, com::Variant& strRgtNo) {
  return trapCode("10032104", [&]() -> std::string {
    const Record& r = deref(rec);
    if (blank(r["Res_no"]) || blank(r["Bit_Nod"])) return "10032101";
    if (blank(r["Name"])) return "10032102";
    const std::string bit = wholeNumber(r["Bit_Nod"]);
    auto rs = openEdit("select * from Apprgt where res_no=" + quoted(r["Res_no"]) + " and bit_nod=" + bit);
    const bool used = rs->recordCount() > 0;
    rs->close();
    if (used) return "10032103";
    // The bit node is stored as the number it reads as, so every engine
    // keeps the same value in the numeric column.
    execute(Insert("insert into AppRgt(Res_no,Bit_Nod,name,disc) values(")
                .text(r["Res_no"])
                .text(com::Variant(bit))
                .text(r["Name"])
                .text(r["Disc"], "NULL")
                .sql());
    strRgtNo = com::Variant("RES" + r["Res_no"].toString() + "BIT" + r["Bit_Nod"].toString());
    return "0";
  });
}

std::string AppMgt::updateRgt(const RecordPtr& rec, const std::string& strRes_no, const std::string& strBid) {
  if (strRes_no.empty() || strBid.empty()) return "10032111";
  return trapCode("10032113", [&]() -> std::string {
    auto rs = openEdit(rightByPair(strRes_no, strBid));
    if (rs->recordCount() < 1) {
      rs->close();
      return "10032112";
    }
    const Record& r = deref(rec);
    rs->setValue("Name", r["Name"]);
    rs->setValue("Disc", r["Disc"]);
    rs->update();
    rs->close();
    return "0";
  });
}

std::string AppMgt::delRgt(const std::string& strRes_no, int16_t intBit_nod) {
  if (strRes_no.empty()) return "10032121";
  return trapCode("10032122", [&]() -> std::string {
    execute("delete from appRgt where Res_No='" + QuoteSql(strRes_no) + "' and bit_nod =" + std::to_string(intBit_nod));
    return "0";
  });
}

std::string AppMgt::delRgtOfRes(const std::string& strRes_no) {
  return deleteRow(strRes_no, "delete  from appRgt where Res_No='", "10032123", "10032124");
}

com::Variant AppMgt::getRgt(const std::string& strRes_no, const std::string& strNod) {
  if (strRes_no.empty() || strNod.empty()) return com::Variant::nothing();
  return trapObject([&] { return firstRecord(rightByPair(strRes_no, strNod), "cAppRgt", kRgtFields); });
}

com::Variant AppMgt::getRgtOfRes(const std::string& strRes_no) {
  if (strRes_no.empty()) return com::Variant::nothing();
  return readKeyedList(
      "select * from appRgt where res_no='" + QuoteSql(strRes_no) + "' " + " order by  Bit_Nod", "cAppRgt", kRgtFields,
      [](const Record& r) { return "RES" + r["Res_no"].toString() + "NOD" + r["Bit_Nod"].toString(); },
      EmptyList::Nothing);
}

}  // namespace tivel::mgt
