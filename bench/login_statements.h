// The statements one login issues, composed as the components compose them,
// for the benchmarks that run them directly through an engine's own API.
// Tables are spelt as the schema spells them: an engine that tells table
// names apart by letter case (MariaDB on Linux) takes only that spelling from
// a program that talks to it directly; the components' other spellings are
// the data-access layer's to adapt.
#pragma once

#include <cstdlib>
#include <string>

namespace tivel::bench {

// Runs the login of user "USR_bench" (account "bench") on `d`, which offers
// run(sql) (every column of every row read; answers the row count) and
// first(sql) (the first field of the first row as text); `n` makes this
// login's record and log keys unique.
template <class Db>
void loginStatements(Db& d, long n) {
  const std::string u = "USR_bench";
  d.run("select * from umUsr where Account='bench'");
  // Every policy value at once: the user's own, then the defaults in force.
  d.run("select usa_no, usi_value from umUsrSecInst where usr_no='" + u + "'");
  d.run("select usa_no, default_value from umUsrSecAttr where isAvail=1");
  // Login count: read the user, read it for editing, write the changed field.
  d.run("select * from umUsr where usr_no='" + u + "'");
  std::string count = d.first("select login_count from umUsr where Usr_no='" + u + "'");
  d.run("update umUsr set login_count='" + std::to_string(std::atol(count.c_str()) + 1) + "' where usr_no='" + u +
        "' and login_count='" + count + "'");
  // Login-error count.
  if (d.run("select * from umUsrSecInst where usa_no='3' and usr_no='" + u + "'") == 0)
    d.run("insert into umUsrSecInst(Usi_Value,Usa_No,Usr_no,IsAvail) values('0','3','" + u + "',1)");
  else
    d.run("update umUsrSecInst set Usi_Value='0' where usa_no='3' and usr_no='" + u + "'");
  // Login record and log entry, each after its key test.
  std::string token = "TOK_direct_" + std::to_string(n);
  d.run("Select Count(*) from umLogInfo where token='" + token + "' ");
  d.run("insert into umLogInfo(usr_no,token,login_datetime,login_ip,isAvail) values('" + u + "','" + token +
        "','2026-12-08 00:00:00','127.0.0.1',1)");
  std::string log = "LOG_direct_" + std::to_string(n);
  d.run("Select Count(*) from SysLog where Log_no='" + log + "' ");
  d.run("insert into SysLog(Log_no,WDateTime,Mod_no,Mod_name,disc,Log_Type,Msg_Type) values('" + log +
        "','2026-12-08 00:00:00','0','sys','bench登录成功！',0,0)");
}

}  // namespace tivel::bench
