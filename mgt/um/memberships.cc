// Memberships of users in organisations (umOrg2Usr) and groups (umGrp2Usr),
// and the lists they give, each in ascending membership priority.
#include <string>

#include "mgt/um/um_mgt.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

const Fields kOrgOfUsrFields = {"Org_No", "Name", "Top_Org_No", "Priority", "Disc"};
const Fields kGrpOfUsrFields = {"Grp_no", "Name", "Disc"};
// Members get all fourteen fields, in this order.
const Fields kMemberFields = {"Usr_no", "Account", "pwd",   "Name",        "NetName",    "Address", "Phone",
                              "Mobile", "Email",   "EmailOA", "Login_Count", "Login_Mode", "State", "Account_Time"};

// What tells one kind of membership from the other.
struct Membership {
  const char* keyProperty;  // the organisation's or group's key in the record
  const char* test;         // select by the pair: text up to "='", the key follows
  const char* insertHead;
  bool withIsMain;
  const char* idPrefix;     // of the composite identifier handed back
  const char* keyEmpty;
  const char* usrEmpty;
  const char* exists;
  const char* trap;
};

const Membership kOrg2Usr = {"Org_No", "select * from  umOrg2Usr where Org_no ='",
                             "insert into umOrg2Usr(Org_no,Usr_no,isMain,priority) values(",
                             true, "ORG", "10024001", "10024002", "10024003", "10024004"};
const Membership kGrp2Usr = {"Grp_no", "select * from  umGrp2Usr where grp_no ='",
                             "insert into umGrp2Usr(Grp_no,Usr_no,priority) values(",
                             false, "GRP", "10025001", "10025002", "10025003", "10025004"};

// The pair must be new: test, then insert. An empty IsMain cannot be written
// (the column needs a value) and ends in the trap like any other failure.
std::string addMembership(const Membership& m, const RecordPtr& rec, com::Variant& idOut) {
  return trapCode(m.trap, [&]() -> std::string {
    const Record& r = deref(rec);
    if (blank(r[m.keyProperty])) return m.keyEmpty;
    if (blank(r["Usr_No"])) return m.usrEmpty;
    const std::string key = r[m.keyProperty].toString(), usr = r["Usr_No"].toString();
    auto rs = openRead(m.test + QuoteSql(key) + "' and Usr_no='" + QuoteSql(usr) + "'");
    const bool member = rs->recordCount() > 0;
    rs->close();
    if (member) return m.exists;
    Insert insert(m.insertHead);
    insert.text(key).text(usr);
    if (m.withIsMain) {
      if (blank(r["IsMain"])) com::raise(com::kTypeMismatch, "TivelMgt", "IsMain holds no value");
      insert.text(r["IsMain"]);
    }
    execute(insert.text(r["Priority"], "'999999'").sql());
    idOut = com::Variant(std::string(m.idPrefix) + key + "USR" + usr);
    return "0";
  });
}

// A delete by whichever of the two keys are given. `both` is the condition
// when both are, up to the user's key.
std::string deleteMembership(const std::string& head, const std::string& key, const std::string& usr,
                             const std::string& both, const std::string& keyOnly, const char* bothEmpty,
                             const char* trap) {
  if (key.empty() && usr.empty()) return bothEmpty;
  return trapCode(trap, [&]() -> std::string {
    std::string where;
    if (!key.empty() && !usr.empty())
      where = both + QuoteSql(key) + "' and usr_no='" + QuoteSql(usr) + "'";
    else if (!key.empty())
      where = keyOnly + QuoteSql(key) + "'";
    else
      where = "where usr_no='" + QuoteSql(usr) + "'";
    execute(head + where);
    return "0";
  });
}

}  // namespace

std::string UmMgt::addOrg2Usr(const RecordPtr& rec, com::Variant& strOrg2UsrNo) {
  return addMembership(kOrg2Usr, rec, strOrg2UsrNo);
}

std::string UmMgt::addGrp2Usr(const RecordPtr& rec, com::Variant& strGrp2UsrNo) {
  return addMembership(kGrp2Usr, rec, strGrp2UsrNo);
}

std::string UmMgt::delOrg2Usr(const std::string& org, const std::string& usr) {
  return deleteMembership("delete from umOrg2usr ", org, usr, "where Org_No='", "where Org_No='", "10024021",
                          "10024022");
}

std::string UmMgt::delGrp2Usr(const std::string& grp, const std::string& usr) {
  return deleteMembership("delete  from umGrp2usr ", grp, usr, " where Grp_No='", "where Grp_no='", "10025021",
                          "10025022");
}

com::Variant UmMgt::getOrgOfUsr(const std::string& usr) {
  std::string sql = "SELECT umOrg.* FROM umOrg2usr INNER JOIN umOrg ON umOrg2usr.Org_no = umOrg.Org_no";
  if (!usr.empty()) sql += " where  umOrg2usr.usr_no='" + QuoteSql(usr) + "'";
  sql += " order by   umOrg2usr.Priority";
  return readList(sql, "cUmOrg", kOrgOfUsrFields, "ORG", "Org_No");
}

com::Variant UmMgt::getGrpOfUsr(const std::string& usr) {
  std::string sql = "SELECT umGrp.* FROM umGrp2usr INNER JOIN umGrp ON umGrp2usr.grp_no = umGrp.grp_no";
  if (!usr.empty()) sql += " where  umGrp2usr.usr_no='" + QuoteSql(usr) + "'";
  sql += " order by umGrp2usr.Priority";
  return readList(sql, "cUmGrp", kGrpOfUsrFields, "Grp", "Grp_no");
}

com::Variant UmMgt::getUsrOfOrg(const std::string& org) {
  if (org.empty()) return com::Variant::nothing();
  const std::string sql =
      org == "0" ? std::string("    SELECT umUsr.* From umUsr ") +
                       "WHERE (NOT Exists (SELECT umOrg2Usr.* from umOrg2Usr where umOrg2Usr.usr_no=umUsr.usr_no));"
                 : "SELECT  umUsr.* FROM umOrg2usr INNER JOIN umUsr ON umOrg2usr.usr_no = umUsr.usr_no" +
                       std::string(" where  umOrg2usr.org_no='") + QuoteSql(org) + "'" + " order by umOrg2usr.Priority";
  return readList(sql, "cUmUsr", kMemberFields, "USR", "Usr_No");
}

com::Variant UmMgt::getUsrOfGrp(const std::string& grp) {
  if (grp.empty()) return com::Variant::nothing();
  const std::string sql =
      grp == "0" ? std::string("    SELECT umUsr.* From umUsr ") +
                       "WHERE (NOT Exists (SELECT umGrp2Usr.* from umGrp2Usr where umGrp2Usr.usr_no=umUsr.usr_no));"
                 : "SELECT umUsr.* FROM umGrp2usr INNER JOIN umUsr ON umGrp2usr.usr_no = umUsr.usr_no" +
                       std::string(" where  umGrp2usr.Grp_no='") + QuoteSql(grp) + "'" + " order by umGrp2Usr.priority";
  return readList(sql, "cUmUsr", kMemberFields, "Usr", "Usr_No");
}

}  // namespace tivel::mgt
