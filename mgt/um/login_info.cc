// Login records (umLogInfo): one row per successful login, found again by its token.
//
// The statement texts, blanks and spellings below are the system's own
// (stored pages and logs depend on them): keep them as they are.
#include <string>

#include "mgt/common/pattern.h"
#include "mgt/um/um_mgt.h"
#include "platform/codes/result_codes.h"

namespace tivel::mgt {

// A record without a token gets a generated one ("TOK_..."); a generated
// token found taken is drawn again, a supplied one is refused. The token is
// the table's primary key: a generated one goes straight to the insert,
// which a login runs for every sign-in.
std::string UmMgt::addLogInfo(const RecordPtr& rec, com::Variant& strToken) {
  return addRow(rec, strToken, {required("Usr_No", codes::kAddLogInfoUsrNoEmpty)},
                {"Token", "TOK", "umLogInfo", "token", codes::kAddLogInfoKeyTaken, true}, codes::kAddLogInfoFailed,
                [](const Record& r, const std::string& token) {
                  const std::string now = quoted(com::Variant(com::DateTime::now().text()));
                  return Insert("insert into umLogInfo(usr_no,token,login_datetime,login_ip,isAvail) values(")
                      .text(r["Usr_No"])
                      .text(token)
                      .text(r["Login_Datetime"], now.c_str())
                      .text(r["Login_Ip"], "NULL")
                      .text(r["IsAvail"], "1")
                      .sql();
                });
}

com::Variant UmMgt::getLogInfo(const std::string& strToken) {
  return readByKey(strToken, "select * from umLogInfo where token='", "cUmLogInfo",
                   {"Usr_no", "Login_Datetime", "Login_Ip", "IsAvail", "Token"});
}

}  // namespace tivel::mgt
