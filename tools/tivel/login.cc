// tivel login ACCOUNT: one real login through the components, for an
// administrator trying an account on a root.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "platform/codes/result_codes.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "tools/tivel/command.h"
#include "tools/tivel/password.h"
#include "tools/tivel/rpc/connection_messages.h"

namespace tivel::tool {
namespace {

// Prints the newest login record of the account's user.
void printLoginRecord(const std::string& account) {
  auto& conn = mgt::sharedConnection();
  auto rs = conn->execute(
      "select l.token, l.login_datetime, l.login_ip, l.isAvail, u.login_count "
      "from umLogInfo l inner join umUsr u on u.usr_no = l.usr_no where u.account='" +
      mgt::QuoteSql(account) + "' order by l.login_datetime desc, l.token desc");
  if (rs->eof()) {
    std::cout << "login record: none\n";
    return;
  }
  auto text = [&](int i) { return rs->value(i).isNull() ? std::string("NULL") : rs->value(i).toString(); };
  std::cout << "login record: token " << text(0) << ", time " << text(1) << ", address " << text(2) << ", IsAvail "
            << text(3) << "\n"
            << "login count:  " << text(4) << "\n";
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("login", "Log an account in through the components and show the login record");
  auto account = std::make_shared<std::string>();
  auto root = std::make_shared<std::string>();
  auto address = std::make_shared<std::string>("127.0.0.1");
  auto fromStdin = std::make_shared<bool>(false);
  cmd->add_option("ACCOUNT", *account, "The account to log in")->required();
  cmd->add_option("--root", *root, "Portal root R (sets TIVEL_HOME; default: the installation's own)");
  cmd->add_option("--address", *address, "The caller's address recorded with the login")->capture_default_str();
  cmd->add_flag("--password-stdin", *fromStdin, "Read the password from the first line of standard input");
  cmd->callback([=] {
    if (!root->empty()) ::setenv("TIVEL_HOME", root->c_str(), 1);
    tellConnectionEvents("tivel login");
    std::string pwd = readPassword("Password for " + *account + ": ", *fromStdin);
    try {
      auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
      std::string code = admin->loginByPwd(*account, pwd, *address);
      std::cout << "loginByPwd:   " << code << " (" << codes::loginMeaning(code) << ")\n";
      if (code == "0") printLoginRecord(*account);
      if (code != "0") throw CLI::RuntimeError(2);
    } catch (const com::ComError& e) {
      std::cerr << "tivel login: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
