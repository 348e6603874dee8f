#include "mgt/common/password_migration.h"

#include <string>
#include <utility>
#include <vector>

#include "mgt/common/module.h"
#include "mgt/common/password_hash.h"
#include "mgt/common/pattern.h"

namespace tivel::mgt {

PasswordMigration hashStoredPasswords() {
  PasswordMigration report;
  std::vector<std::pair<std::string, std::string>> plain;  // key, stored text
  auto rs = openRead("select usr_no, pwd from umUsr");
  while (!rs->eof()) {
    com::Variant pwd = rs->value(1);
    if (pwd.isNull() || pwd.isBlank())
      ++report.withoutPassword;
    else if (isPasswordHash(pwd.toString()))
      ++report.alreadyHashed;
    else
      plain.emplace_back(rs->value(0).toString(), pwd.toString());
    rs->moveNext();
  }
  rs->close();
  for (const auto& [key, text] : plain) {
    long affected = 0;
    sharedConnection()->execute("update umUsr set pwd='" + QuoteSql(hashPassword(text)) + "' where usr_no='" +
                                    QuoteSql(key) + "' and pwd='" + QuoteSql(text) + "'",
                                &affected);
    if (affected > 0)
      ++report.hashed;
    else
      ++report.changedMeanwhile;
  }
  return report;
}

}  // namespace tivel::mgt
