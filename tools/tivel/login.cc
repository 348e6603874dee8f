// tivel login ACCOUNT: one real login through the components, for an
// administrator trying an account on a root.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "mgt/admin/admin_mgt.h"
#include "mgt/um/um_mgt.h"
#include "platform/codes/result_codes.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "records/record.h"
#include "tools/tivel/command.h"
#include "tools/tivel/password.h"
#include "tools/tivel/rpc/connection_messages.h"

namespace tivel::tool {
namespace {

// Prints the login record the login wrote and its user's login count.
void printLoginRecord(const mgt::LoginOutcome& login) {
  auto um = std::dynamic_pointer_cast<mgt::UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  records::RecordPtr record =
      login.token.empty() || !um ? nullptr : records::recordArg(um->getLogInfo(login.token), "cUmLogInfo");
  if (!record) {
    std::cout << "login record: none\n";
    return;
  }
  records::RecordPtr user = records::recordArg(um->getUsr(login.usrNo), "cUmUsr");
  auto text = [](const com::Variant& v) { return v.isNull() ? std::string("NULL") : v.toString(); };
  std::cout << "login record: token " << login.token << ", time " << text(record->get("Login_Datetime")) << ", address "
            << text(record->get("Login_Ip")) << ", IsAvail " << text(record->get("IsAvail")) << "\n"
            << "login count:  " << (user ? text(user->get("Login_Count")) : std::string("NULL")) << "\n";
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
      const mgt::LoginOutcome login = admin->login(*account, pwd, *address);
      std::cout << "loginByPwd:   " << login.code << " (" << codes::loginMeaning(login.code) << ")\n";
      if (login.code != "0") throw CLI::RuntimeError(2);
      printLoginRecord(login);
    } catch (const com::ComError& e) {
      std::cerr << "tivel login: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
