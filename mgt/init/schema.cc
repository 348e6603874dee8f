#include "mgt/init/schema.h"

#include "mgt/common/helpers.h"
#include "platform/ado/recordset.h"
#include "platform/ado/script.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

bool rowPresent(ado::Connection& conn, const std::string& sql) {
  auto rs = conn.execute(sql);
  bool present = !rs->eof() && rs->value(0).toLong() > 0;
  rs->close();
  return present;
}

struct SecurityAttribute {
  const char* number;
  const char* name;
  const char* disc;
};

// The account-policy attributes; the login procedure finds them by these numbers.
const SecurityAttribute kSecurityAttributes[] = {
    {"1", "IpLimit", "登录地址限制"},           {"2", "TimeLimit", "登录时间限制"},
    {"3", "LogErrNum", "登录错误次数"},         {"4", "LogErrLockNum", "登录错误锁定次数"},
    {"5", "IsPwdTwo", "是否使用二次密码"},      {"6", "PwdTwo", "二次密码"},
    {"7", "AcntLimitDate", "帐号有效期"},       {"8", "PwdLimitDate", "密码有效期"},
    {"9", "PwdFirstLimit", "首次登录修改密码"}, {"10", "Certificate", "证书"},
    {"11", "CertSignature", "证书签名"},        {"12", "LdapAcnt", "目录登录帐号"},
    {"13", "LdapPwd", "目录登录密码"},
};

struct Group {
  const char* key;
  const char* name;
};

// Group 1 and group 2 are the system's two administrator groups; every user
// registered through the login component joins group 3.
const Group kGroups[] = {{"1", "系统管理员"}, {"2", "安全管理员"}, {"3", "注册用户"}};

}  // namespace

namespace {

// A management database whose accounts repeat cannot take the unique index
// on accounts: say which accounts and what to do, rather than leave the
// engine's message about a failed index.
void refuseRepeatedAccounts(ado::Connection& conn) {
  ado::RecordsetPtr rs;
  try {
    rs = conn.execute(
        "select account, count(*) from umUsr where account is not null group by account "
        "having count(*) > 1 order by account");
  } catch (const com::ComError&) {
    return;  // no user table yet: the script makes it
  }
  int repeated = 0;
  std::string some;
  for (; !rs->eof(); rs->moveNext(), ++repeated)
    if (repeated < 5)
      some += (repeated ? ", '" : "'") + rs->value(0).toString() + "' (" + rs->value(1).toString() + " rows)";
  rs->close();
  if (repeated == 0) return;
  com::raise(com::kInvalidArgument, "TivelMgt",
             "umUsr holds " + std::to_string(repeated) + " account(s) on more than one row: " + some +
                 (repeated > 5 ? ", ..." : "") +
                 ". Accounts must be unique; delete or rename the extra rows, then run this again. "
                 "Nothing was changed.");
}

}  // namespace

void applySchema(ado::Connection& conn, const std::string& name) {
  std::string dialect = conn.backend().dialect();
  for (const SchemaScript& s : schemaScripts()) {
    if (dialect != s.dialect || name != s.name) continue;
    if (name == "mgt") refuseRepeatedAccounts(conn);
    for (const std::string& stmt : ado::scriptStatements(s.text)) conn.execute(stmt);
    return;
  }
  com::raise(com::kInvalidArgument, "TivelMgt", "No " + name + " schema for the database dialect " + dialect);
}

void seedManagementData(ado::Connection& conn) {
  for (const Group& g : kGroups) {
    if (rowPresent(conn, std::string("select count(*) from umGrp where Grp_no='") + g.key + "'")) continue;
    conn.execute(std::string("insert into umGrp(Grp_no,name,disc) values('") + g.key + "','" + QuoteSql(g.name) +
                 "',NULL)");
  }
  for (const SecurityAttribute& a : kSecurityAttributes) {
    if (rowPresent(conn, std::string("select count(*) from umUsrSecAttr where Usa_no='") + a.number + "'")) continue;
    conn.execute(std::string("insert into umUsrSecAttr(Usa_no,usr_no,name,parse,default_value,data_type,isAvail,"
                             "isNull,isGobal,disc) values('") +
                 a.number + "','0','" + a.name + "',NULL,NULL,0,0,1,1,'" + QuoteSql(a.disc) + "')");
  }
}

}  // namespace tivel::mgt
