// Security attributes of users: definitions (umUsrSecAttr) with a default and
// flags, values per user (umUsrSecInst), and the effective value the account
// policy asks for by name.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include <array>
#include <string>
#include <string_view>

#include "mgt/common/pattern.h"
#include "mgt/um/um_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

// The policy attributes are stored under fixed numbers: position + 1.
constexpr std::array<std::string_view, 13> kPolicyNames = {
    "IpLimit",      "TimeLimit",     "LogErrNum",   "LogErrLockNum", "IsPwdTwo", "PwdTwo", "AcntLimitDate",
    "PwdLimitDate", "PwdFirstLimit", "Certificate", "CertSignature", "LdapAcnt", "LdapPwd"};

// The number of a policy attribute by its exact name (letter case counts); 0 for any other name.
int policyNumber(std::string_view name) {
  for (size_t i = 0; i < kPolicyNames.size(); ++i)
    if (kPolicyNames[i] == name) return static_cast<int>(i) + 1;
  return 0;
}

// The number of the login-error count.
const char* const kLogErrNum = "3";

const Fields kUsaFields = {"Usa_No", "Name",    "Parse",  "Usr_no",  "Default_Value",
                           "Disc",   "IsAvail", "IsNull", "IsGobal", "Data_type"};
const Fields kUsaOfUsrFields = {"Usa_No", "Usr_no",  "Name",      "Parse",   "Default_Value",
                                "IsNull", "IsGobal", "Data_type", "IsAvail", "Disc"};
const Fields kUsiFields = {"Usa_No", "Usr_no", "Usi_Value", "IsAvail"};
const Fields kUsrSecFields = {"Usa_No",  "Usr_no",  "Name",      "Parse", "Default_Value", "IsNull",
                              "IsAvail", "IsGobal", "Data_type", "Disc",  "Usi_Value",     "Usi_IsAvail"};

// The first row's only column as text; "" when there is no row or it holds NULL.
// `found` tells whether there was a row.
std::string firstValue(const std::string& sql, bool* found) {
  auto rs = openRead(sql);
  *found = rs->recordCount() > 0;
  com::Variant v = *found ? rs->value(0) : com::Variant();
  rs->close();
  return v.isNull() ? "" : v.toString();
}

}  // namespace

// Its own trap: the read falls back from the user's value to the default,
// and a value found NULL ("") must still win over the default, which no
// shared read tells apart from a missing row.
std::string UmMgt::getUsrSecValue(const std::string& secAttr, const std::string& strUsr_no) {
  const std::string number = std::to_string(policyNumber(secAttr));
  if (strUsr_no.empty()) return "";
  return trapText([&]() -> std::string {
    bool found = false;
    // The user's own value wins, whatever its own flag says.
    std::string value = firstValue(
        "select usi_value from UmUsrSecInst where usa_no='" + number + "' and usr_no='" + QuoteSql(strUsr_no) + "'",
        &found);
    if (found) return value;
    // Else the default of a definition in force, whoever owns it.
    return firstValue("select default_value from UmUsrSecAttr where usa_no='" + number + "' and isAvail=1", &found);
  });
}

std::string UmMgt::addUsa(const RecordPtr& rec, com::Variant& strUsano) {
  return addRow(rec, strUsano, {required("Usr_No", codes::kAddUsaUsrNoEmpty)},
                {"Usa_No", "USA", "umUsrSecAttr", "usa_no", codes::kAddUsaKeyTaken}, codes::kAddUsaFailed,
                [](const Record& r, const std::string& key) {
                  return Insert(
                             "insert into umUsrSecAttr(Usa_no,usr_no,name,parse,default_value,data_type,isAvail,"
                             "isNull,isGobal,disc) values(")
                      .text(key)
                      .text(r["Usr_No"])
                      .text(r["Name"], "NULL")
                      .text(r["Parse"], "NULL")
                      .text(r["Default_Value"], "NULL")
                      .number(r["Data_type"])  // a null type is no number either: the add fails
                      .numberUnlessNull(r["IsAvail"], "1")
                      .numberUnlessNull(r["IsNull"], "1")
                      .numberUnlessNull(r["IsGobal"], "1")
                      .text(r["Disc"], "NULL")
                      .sql();
                });
}

std::string UmMgt::updateUsa(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from UmUsrSecAttr where Usa_no='",
                   {"Usr_no", "Name", "Parse", "Data_type", "Default_Value", "IsNull", "IsGobal", "Disc", "IsAvail"},
                   {codes::kUpdateUsaKeyEmpty, codes::kUpdateUsaNotFound, codes::kUpdateUsaFailed});
}

std::string UmMgt::delUsa(const std::string& key) {
  // Two blanks after "delete", as the system writes it.
  return deleteRow(key, "delete  from umUsrSecAttr where usa_No='", codes::kDelUsaKeyEmpty, codes::kDelUsaFailed);
}

// No key is generated and no uniqueness tested: a second value is another row.
std::string UmMgt::addUsi(const RecordPtr& rec) {
  return addUnkeyed(rec, {required("Usa_No", codes::kAddUsiPairEmpty), required("Usr_No", codes::kAddUsiPairEmpty)},
                    codes::kAddUsiFailed, [](const Record& r) {
                      return Insert("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values(")
                          .text(r["Usa_No"])
                          .text(r["Usr_No"])
                          .text(r["Usi_Value"], "NULL")
                          .number(r["IsAvail"], "0")
                          .sql();
                    });
}

std::string UmMgt::updateUsi(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from UmUsrSecInst where Usi_no='", {"Usi_Value", "IsAvail"},
                   {codes::kUpdateUsiKeyEmpty, codes::kUpdateUsiNotFound, codes::kUpdateUsiFailed});
}

std::string UmMgt::delUsi(const std::string& usa, const std::string& usr) {
  return deleteGiven("delete from umUsrSecInst", " where ", {{"usa_No=", usa}, {"usr_No=", usr}},
                     codes::kDelUsiNothingGiven, codes::kDelUsiFailed);
}

com::Variant UmMgt::getUsa(const std::string& key) {
  return readByKey(key, "select * from UmUsrSecAttr where Usa_no='", "cUmUsrSecAttr", kUsaFields);
}

com::Variant UmMgt::getUsi(const std::string& usa, const std::string& usr) {
  if (usa.empty() || usr.empty()) return com::Variant::nothing();
  return readFirst("select * from UmUsrSecInst where usa_no='" + QuoteSql(usa) + "' and usr_no='" + QuoteSql(usr) + "'",
                   "cUmUsrSecInst", kUsiFields);
}

com::Variant UmMgt::getUsaOfUsr(const std::string& usr) {
  return readList("select * from UmUsrSecAttr  " + std::string("where  Usr_no='0' or  Usr_no='") + QuoteSql(usr) + "'",
                  "cUmUsrSecAttr", kUsaOfUsrFields, "USA", "Usa_No");
}

// Values are filed under attribute and user together: "USA" + attribute + "USR" + user.
com::Variant UmMgt::getUsiOfUsr(const std::string& usr) {
  return readKeyedList(
      "select * from UmUsrSecInst  " + (usr.empty() ? std::string() : "where  usr_no='" + QuoteSql(usr) + "'"),
      "cUmUsrSecInst", kUsiFields,
      [](const Record& r) { return "USA" + r["Usa_No"].toString() + "USR" + r["Usr_No"].toString(); });
}

com::Variant UmMgt::getUsrSecOfUsr(const std::string& usr) {
  if (usr.empty()) return com::Variant::nothing();
  return readList(
      "SELECT umUsrSecAttr.*, umUsrSecInst.usi_value,umUsrSecInst.isavail as usi_isavail" +
          std::string(" FROM umUsrSecInst INNER JOIN umUsrSecAttr ON umUsrSecAttr.usa_no = umUsrSecInst.usa_no") +
          " where  umUsrSecInst.usr_no='" + QuoteSql(usr) + "' ",
      "cUmUsrSec", kUsrSecFields, "USC", "Usa_No");
}

// The login-error count is the user's value of attribute 3: reset it, or
// create it reset. Its own trap: a write that inserts or updates by what it
// finds is no shape the other operations share.
bool UmMgt::cleanUsrLogErrNum(const std::string& strUsr_no) {
  return trapBool([&]() -> bool {
    auto rs = openEdit(std::string("select * from UmUsrSecInst where usa_no='") + kLogErrNum + "' and usr_no='" +
                       QuoteSql(strUsr_no) + "'");
    if (rs->eof()) {
      rs->addNew();
      rs->setValue("Usi_Value", com::Variant("0"));
      rs->setValue("Usa_No", com::Variant(kLogErrNum));
      rs->setValue("Usr_no", com::Variant(strUsr_no));
      rs->setValue("IsAvail", com::Variant(int32_t{1}));
    } else {
      rs->setValue("Usi_Value", com::Variant("0"));
    }
    rs->update();
    rs->close();
    return true;
  });
}

// The row cleanUsrLogErrNum adds when it finds none, without looking again.
bool UmMgt::startUsrLogErrNum(const std::string& strUsr_no) {
  return trapBool([&]() -> bool {
    execute(std::string("insert into UmUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('") + kLogErrNum + "'," +
            quoted(com::Variant(strUsr_no)) + ",'0',1)");
    return true;
  });
}

}  // namespace tivel::mgt
