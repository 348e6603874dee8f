// Extended attributes of users and organisations: definitions (umUsrAddAttr,
// umOrgAddAttr) owned by one user or organisation or, under owner "0", by
// all of them; values (umUsrAddInst, one row per value, numbered by the
// database; umOrgAddInst, one row per definition and organisation); and the
// joined reads of a user's or organisation's values with their definitions.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are, isGobal included.
#include <string>

#include "mgt/common/pattern.h"
#include "mgt/um/um_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {
namespace {

const Fields kUaaFields = {"Uaa_No", "Name",      "Parse",    "Usr_No", "Default_Value",
                           "IsNull", "Data_type", "Position", "IsGobal"};
const Fields kOaaFields = {"Oaa_No", "Name",      "Parse",    "Org_No", "Default_Value",
                           "IsNull", "Data_type", "Position", "IsGobal"};
const Fields kUaiFields = {"Uaa_No", "Usr_No", "Uai_Value"};
const Fields kUaiOfUsrFields = {"Usr_No", "Uaa_No", "Uai_Value"};
const Fields kOaiFields = {"Oaa_No", "Org_No", "Oai_Value"};
// The joined rows: the definition's columns (its owner included) and the value.
const Fields kUsrAddFields = {"Uaa_No", "Usr_No",  "Name",      "Parse",    "Default_Value",
                              "IsNull", "IsGobal", "Data_type", "Position", "Uai_Value"};
const Fields kOrgAddFields = {"Oaa_No", "Org_No",  "Name",      "Parse",    "Default_Value",
                              "IsNull", "IsGobal", "Data_type", "Position", "Oai_Value"};

const char* const kUaaByKey = "select * from UmUsrAddAttr where Uaa_no='";
const char* const kOaaByKey = "select * from UmOrgAddAttr where Oaa_no='";

// Counts the record's organisation's definitions of the record's name.
Statement definitionsOfName(const Record& r) {
  return Statement("Select Count(*) from  umOrgAddAttr  where ", {{"Org_no=", r["Org_No"]}, {"Name=", r["Name"]}});
}

}  // namespace

// ---- User attribute definitions

// No name test: names may repeat. Type, position and flags are numbers.
std::string UmMgt::addUaa(const RecordPtr& rec, com::Variant& strUaaNo) {
  return addRow(rec, strUaaNo, {required("Usr_No", codes::kAddUaaUsrNoEmpty)},
                {"Uaa_No", "UAA", "umUsrAddAttr", "uaa_no", codes::kAddUaaKeyTaken}, codes::kAddUaaFailed,
                [](const Record& r, const std::string& key) {
                  return Insert(
                             "insert into umUsrAddAttr(Uaa_no,usr_no,name,parse,default_value,data_type,position,"
                             "isNull,isGobal) values(")
                      .text(key)
                      .text(r["Usr_No"])
                      .text(r["Name"], "NULL")
                      .text(r["Parse"], "NULL")
                      .text(r["Default_Value"], "NULL")
                      .numberUnlessNull(r["Data_type"], "0")
                      .numberUnlessNull(r["Position"], "'0'")
                      .numberUnlessNull(r["IsNull"], "1")
                      .numberUnlessNull(r["IsGobal"], "0")
                      .sql();
                });
}

// Never changes the key or isGobal.
std::string UmMgt::updateUaa(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, kUaaByKey, {"Usr_no", "Name", "Parse", "Data_type", "Default_Value", "IsNull", "Position"},
                   {codes::kUpdateUaaKeyEmpty, codes::kUpdateUaaNotFound, codes::kUpdateUaaFailed});
}

// The definition's values stay.
std::string UmMgt::delUaa(const std::string& key) {
  // Two blanks after "delete", as the system writes it.
  return deleteRow(key, "delete  from umUsrAddAttr where uaa_No='", codes::kDelUaaKeyEmpty, codes::kDelUaaFailed);
}

com::Variant UmMgt::getUaa(const std::string& key) { return readByKey(key, kUaaByKey, "cUmUsrAddAttr", kUaaFields); }

com::Variant UmMgt::getUaaOfUsr(const std::string& usr) {
  return readList("select * from UmUsrAddAttr  " + std::string("where  Usr_no='0' or  Usr_no='") + QuoteSql(usr) + "'",
                  "cUmUsrAddAttr", kUaaFields, "UAA", "Uaa_No");
}

// ---- User attribute values

// No key is written and no existing value tested: a second value is another row.
std::string UmMgt::addUai(const RecordPtr& rec) {
  return addUnkeyed(rec, {required("Usr_No", codes::kAddUaiPairEmpty), required("Uaa_No", codes::kAddUaiPairEmpty)},
                    codes::kAddUaiFailed, [](const Record& r) {
                      return Insert("insert into umUsrAddInst(usr_no,uaa_no,uai_value) values(")
                          .text(r["Usr_No"])
                          .text(r["Uaa_No"])
                          .text(r["Uai_Value"], "NULL")
                          .sql();
                    });
}

std::string UmMgt::delUai(const std::string& uaa, const std::string& usr) {
  return deleteGiven("delete from umUsrAddInst", " where ", {{"uaa_No=", uaa}, {"usr_No=", usr}},
                     codes::kDelUaiNothingGiven, codes::kDelUaiFailed);
}

// The row is named by its uai_no, which the database assigned.
std::string UmMgt::updateUai(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, "select * from UmUsrAddInst where Uai_no='", {"Usr_no", "Uaa_No", "Uai_Value"},
                   {codes::kUpdateUaiKeyEmpty, codes::kUpdateUaiNotFound, codes::kUpdateUaiFailed});
}

// The owner is not tested: an empty one reads the values without owner.
com::Variant UmMgt::getUai(const std::string& uaa, const std::string& usr) {
  if (uaa.empty()) return com::Variant::nothing();
  return readFirst(Statement("select * from umUsrAddInst where ", {{"uaa_no=", uaa}, {"usr_no=", usr}}),
                   "cUmUsrAddInst", kUaiFields);
}

// In the order the values were added; values are filed under definition and user together.
com::Variant UmMgt::getUaiOfUsr(const std::string& usr) {
  if (usr.empty()) return com::Variant::nothing();
  return readKeyedList("select * from umUsrAddInst where usr_no='" + QuoteSql(usr) + "'  order by uai_no",
                       "cUmUsrAddInst", kUaiOfUsrFields,
                       [](const Record& r) { return "UAA" + r["Uaa_No"].toString() + "USR" + r["Usr_No"].toString(); });
}

com::Variant UmMgt::getUsrAddOfUsr(const std::string& usr) {
  if (usr.empty()) return com::Variant::nothing();
  return readList(
      "SELECT umUsrAddAttr.*, umUsrAddInst.uai_value" +
          std::string(" FROM umUsrAddInst INNER JOIN umUsrAddAttr ON umUsrAddAttr.uaa_no = umUsrAddInst.uaa_no") +
          " where  umUsrAddInst.usr_no='" + QuoteSql(usr) + "' ",
      "cUmUsrAddress", kUsrAddFields, "UAD", "Uaa_No");
}

// ---- Organisation attribute definitions

// One definition of a name per organisation. Type and flags are numbers; position is text.
std::string UmMgt::addOaa(const RecordPtr& rec, com::Variant& strOaaNo) {
  return addRow(rec, strOaaNo,
                {required("Org_No", codes::kAddOaaOrgNoEmpty), uniqueWhere(definitionsOfName, codes::kAddOaaNameTaken)},
                {"Oaa_No", "OAA", "umOrgAddAttr", "oaa_no", codes::kAddOaaKeyTaken}, codes::kAddOaaFailed,
                [](const Record& r, const std::string& key) {
                  return Insert(
                             "insert into umOrgAddAttr(Oaa_no,org_no,name,parse,default_value,data_type,isNull,"
                             "position,isGobal) values(")
                      .text(key)
                      .text(r["Org_No"])
                      .text(r["Name"], "NULL")
                      .text(r["Parse"], "NULL")
                      .text(r["Default_Value"], "NULL")
                      .numberUnlessNull(r["Data_type"], "0")
                      .numberUnlessNull(r["IsNull"], "1")
                      .textUnlessNull(r["Position"], "'0,0,0,0,0,0,0,0'")
                      .numberUnlessNull(r["IsGobal"], "0")
                      .sql();
                });
}

// Moves the row when the record's key differs; never changes position or isGobal.
std::string UmMgt::updateOaa(const RecordPtr& rec, const std::string& key) {
  return updateRow(rec, key, kOaaByKey, {"Oaa_No", "Org_No", "Name", "Parse", "Data_type", "Default_Value", "IsNull"},
                   {codes::kUpdateOaaKeyEmpty, codes::kUpdateOaaNotFound, codes::kUpdateOaaFailed});
}

// The definition's values stay.
std::string UmMgt::delOaa(const std::string& key) {
  // Two blanks after "delete", as the system writes it.
  return deleteRow(key, "delete  from umOrgAddAttr where oaa_No='", codes::kDelOaaKeyEmpty, codes::kDelOaaFailed);
}

com::Variant UmMgt::getOaa(const std::string& key) { return readByKey(key, kOaaByKey, "cUmOrgAddAttr", kOaaFields); }

com::Variant UmMgt::getOaaOfOrg(const std::string& org) {
  return readList("select * from UmOrgAddAttr  " + std::string("where  Org_no='0' or  Org_no='") + QuoteSql(org) + "'",
                  "cUmOrgAddAttr", kOaaFields, "OAA", "Oaa_No");
}

// ---- Organisation attribute values

// Definition and organisation name the row: a second value of the pair fails.
std::string UmMgt::addOai(const RecordPtr& rec) {
  return addUnkeyed(rec, {required("Oaa_No", codes::kAddOaiOaaNoEmpty), required("Org_No", codes::kAddOaiOrgNoEmpty)},
                    codes::kAddOaiFailed, [](const Record& r) {
                      return Insert("insert into umOrgAddInst(Oaa_no,org_no,Oai_Value) values(")
                          .text(r["Oaa_No"])
                          .text(r["Org_No"])
                          .text(r["Oai_Value"], "NULL")
                          .sql();
                    });
}

// The row is named by the record's definition and organisation; only the value changes.
std::string UmMgt::updateOai(const RecordPtr& rec) {
  return updateWhere(
      rec, {required("Oaa_No", codes::kUpdateOaiPairEmpty), required("Org_No", codes::kUpdateOaiPairEmpty)},
      [](const Record& r) {
        return Statement("select * from UmOrgAddInst where ", {{"Oaa_no=", r["Oaa_No"]}, {"Org_no=", r["Org_No"]}});
      },
      {"Oai_Value"}, codes::kUpdateOaiNotFound, codes::kUpdateOaiFailed);
}

// Both keys empty and a failure give the same code.
std::string UmMgt::delOai(const std::string& oaa, const std::string& org) {
  return deleteGiven("delete from umOrgAddInst", " where ", {{"oaa_No=", oaa}, {"org_no=", org}},
                     codes::kDelOaiNothingGiven, codes::kDelOaiFailed);
}

com::Variant UmMgt::getOai(const std::string& oaa, const std::string& org) {
  if (oaa.empty() || org.empty()) return com::Variant::nothing();
  return readFirst(Statement("select * from UmOrgAddInst where ", {{"Oaa_no=", oaa}, {"Org_no=", org}}),
                   "cUmOrgAddInst", kOaiFields);
}

com::Variant UmMgt::getOaiOfOrg(const std::string& org) {
  return readKeyedList("select * from UmOrgAddInst  " + std::string("where  Org_no='") + QuoteSql(org) + "'",
                       "cUmOrgAddInst", kOaiFields,
                       [](const Record& r) { return "OAA" + r["Oaa_No"].toString() + "ORG" + r["Org_No"].toString(); });
}

com::Variant UmMgt::getOrgAddOfOrg(const std::string& org) {
  if (org.empty()) return com::Variant::nothing();
  return readList(
      "SELECT umOrgAddAttr.*, umOrgAddInst.oai_value" +
          std::string(" FROM umOrgAddInst INNER JOIN umOrgAddAttr on umOrgAddAttr.oaa_no = umOrgAddInst.oaa_no") +
          " where   umOrgAddInst.org_no='" + QuoteSql(org) + "'",
      "cUmOrgAddress", kOrgAddFields, "OAD", "Oaa_No");
}

}  // namespace tivel::mgt
