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

const char* findScript(const std::string& dialect, const std::string& name) {
  for (const SchemaScript& s : schemaScripts())
    if (dialect == s.dialect && name == s.name) return s.text;
  return nullptr;
}

std::vector<std::string> scriptTables(const std::string& dialect, const std::string& name) {
  const char* text = findScript(dialect, name);
  if (!text)
    com::raise(com::kInvalidArgument, "TivelMgt", "No " + name + " schema for the database dialect " + dialect);
  std::vector<std::string> tables;
  static const std::string kCreate = "CREATE TABLE IF NOT EXISTS ";
  for (const std::string& stmt : ado::scriptStatements(text)) {
    const size_t at = stmt.find_first_not_of(" \t\r\n");
    if (at == std::string::npos || stmt.compare(at, kCreate.size(), kCreate) != 0) continue;
    const size_t from = at + kCreate.size();
    const size_t end = stmt.find_first_of(" (\t\r\n", from);
    tables.push_back(stmt.substr(from, end - from));
  }
  return tables;
}

int schemaVersion(ado::Connection& conn, const std::string& name) {
  try {
    auto rs = conn.execute("select Version from SchemaVersion where Name='" + QuoteSql(name) + "'");
    const int v = rs->eof() ? 0 : rs->value(0).toLong();
    rs->close();
    return v;
  } catch (const com::ComError&) {
    return 0;  // no version table
  }
}

namespace {

bool tableExists(ado::Connection& conn, const std::string& table) {
  try {
    conn.execute("select * from " + table + " where 1 = 0")->close();
    return true;
  } catch (const com::ComError&) {
    return false;
  }
}

void runScript(ado::Connection& conn, const char* text) {
  for (const std::string& stmt : ado::scriptStatements(text)) conn.execute(stmt);
}

void recordVersion(ado::Connection& conn, const std::string& name, int version) {
  runScript(conn, findScript(conn.backend().dialect(), "version"));
  conn.inTransaction([&] {
    conn.execute("delete from SchemaVersion where Name='" + QuoteSql(name) + "'");
    conn.execute("insert into SchemaVersion(Name,Version) values('" + QuoteSql(name) + "'," + std::to_string(version) +
                 ")");
  });
}

}  // namespace

void applySchema(ado::Connection& conn, const std::string& name) {
  const std::string dialect = conn.backend().dialect();
  const char* script = findScript(dialect, name);
  if (!script)
    com::raise(com::kInvalidArgument, "TivelMgt", "No " + name + " schema for the database dialect " + dialect);
  const int recorded = schemaVersion(conn, name);
  if (recorded > kSchemaVersion)
    com::raise(com::kInvalidArgument, "TivelMgt",
               "The database's " + name + " schema is version " + std::to_string(recorded) +
                   ", newer than this release's (" + std::to_string(kSchemaVersion) +
                   "); use the release that made it. Nothing was changed.");
  bool complete = true;
  for (const std::string& table : scriptTables(dialect, name)) complete = complete && tableExists(conn, table);

  if (name == "mgt") refuseRepeatedAccounts(conn);
  for (int v = recorded + 1; recorded > 0 && v <= kSchemaVersion; ++v) {
    const std::string upgrade = name + "-upgrade-" + std::to_string(v);
    const char* text = findScript(dialect, upgrade);
    if (!text) com::raise(com::kInvalidArgument, "TivelMgt", "No script " + upgrade + " for the dialect " + dialect);
    // A schema change on MariaDB commits at once; elsewhere the upgrade and
    // its version are one transaction.
    conn.inTransaction([&] {
      runScript(conn, text);
      conn.execute("update SchemaVersion set Version=" + std::to_string(v) + " where Name='" + QuoteSql(name) + "'");
    });
  }
  // The script also makes what a complete schema may still lack (an index
  // a later script added). A role that may not create anything fails it;
  // with every table there, that role's database works as it is.
  try {
    runScript(conn, script);
  } catch (const com::ComError&) {
    if (!complete) throw;
  }
  if (recorded == 0) {
    try {
      recordVersion(conn, name, kSchemaVersion);
    } catch (const com::ComError&) {
      // A database made before versions were recorded, complete, reached by
      // a role that may not create the version table: it is at version 1
      // and works as it is; the schema's owner records it at its next init.
      if (!complete) throw;
    }
  }
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
