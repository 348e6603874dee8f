// Rights: the numbered rights of a resource, one row per (Res_no, Bit_Nod).
// A bit node is the right's position in an authorization string; statements
// compare it as a number, so it must read as a whole number.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include "mgt/app/app_mgt.h"
#include "mgt/common/pattern.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kRgtFields = {{"Res_No", "Res_no"}, "Bit_Nod", "Name", "Disc"};

// The select of one right; the bit node between quotes.
Statement rightByPair(const std::string& resNo, const std::string& bitNod) {
  return Statement("select * from AppRgt where ", {{"res_no=", resNo}, {"bit_Nod=", bitNod, Place::WholeText}});
}

}  // namespace

std::string AppMgt::addRgt(const RecordPtr& rec, com::Variant& strRgtNo) {
  return addPair(
      rec, strRgtNo,
      {.checks = {required("Res_no", codes::kAddRgtPairEmpty), required("Bit_Nod", codes::kAddRgtPairEmpty),
                  required("Name", codes::kAddRgtNameEmpty)},
       .test =
           [](const Record& r) {
             return "select * from Apprgt where " +
                    condition({{"res_no=", r["Res_no"]}, {"bit_nod=", r["Bit_Nod"], Place::Whole}});
           },
       .existsCode = codes::kAddRgtExists,
       // The bit node is stored as the number it reads as, so every engine
       // keeps the same value in the numeric column.
       .insert =
           [](const Record& r) {
             return Insert("insert into AppRgt(Res_no,Bit_Nod,name,disc) values(")
                 .text(r["Res_no"])
                 .value(r["Bit_Nod"], Place::WholeText)
                 .text(r["Name"])
                 .text(r["Disc"], "NULL")
                 .sql();
           },
       .id = [](const Record& r) { return "RES" + r["Res_no"].toString() + "BIT" + r["Bit_Nod"].toString(); },
       .trapCodeValue = codes::kAddRgtFailed});
}

std::string AppMgt::updateRgt(const RecordPtr& rec, const std::string& strRes_no, const std::string& strBid) {
  if (strRes_no.empty() || strBid.empty()) return codes::kUpdateRgtKeyEmpty;
  return updateWhere(rec, rightByPair(strRes_no, strBid), {"Name", "Disc"}, codes::kUpdateRgtNotFound,
                     codes::kUpdateRgtFailed);
}

std::string AppMgt::delRgt(const std::string& strRes_no, int16_t intBit_nod) {
  if (strRes_no.empty()) return codes::kDelRgtKeyEmpty;
  return deleteWhere(
      Statement("delete from appRgt where ",
                {{"Res_No=", strRes_no}, {"bit_nod =", com::Variant(int32_t{intBit_nod}), Place::Number}}),
      codes::kDelRgtFailed);
}

std::string AppMgt::delRgtOfRes(const std::string& strRes_no) {
  return deleteRow(strRes_no, "delete  from appRgt where Res_No='", codes::kDelRgtOfResKeyEmpty,
                   codes::kDelRgtOfResFailed);
}

com::Variant AppMgt::getRgt(const std::string& strRes_no, const std::string& strNod) {
  if (strRes_no.empty() || strNod.empty()) return com::Variant::nothing();
  return readFirst(rightByPair(strRes_no, strNod), "cAppRgt", kRgtFields);
}

com::Variant AppMgt::getRgtOfRes(const std::string& strRes_no) {
  if (strRes_no.empty()) return com::Variant::nothing();
  return readKeyedList(
      "select * from appRgt where res_no='" + QuoteSql(strRes_no) + "' " + " order by  Bit_Nod", "cAppRgt", kRgtFields,
      [](const Record& r) { return "RES" + r["Res_no"].toString() + "NOD" + r["Bit_Nod"].toString(); },
      EmptyList::Nothing);
}

}  // namespace tivel::mgt
