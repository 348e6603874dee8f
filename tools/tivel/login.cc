// tivel login ACCOUNT: one real login through the components, for an
// administrator trying an account on a root.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "mgt/admin/admin_mgt.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "records/record.h"
#include "tools/tivel/command.h"
#include "tools/tivel/password.h"
#include "tools/tivel/rpc/connection_messages.h"

namespace tivel::tool {
namespace {

const char* meaning(const std::string& code) {
  static const std::map<std::string, const char*> m = {
      {"0", "login accepted"},
      {"10001", "the account is empty"},
      {"10002", "no user has that account"},
      {"10003", "the password differs from the stored one"},
      {"10005", "run-time failure"},
      {"10006", "run-time failure in the policy checks"},
      {"10010", "refused by the address limit"},
      {"10011", "refused by the time limit"},
      {"10012", "refused by the login-error limit"},
      {"10014", "refused by the account expiry"},
      {"10015", "refused by the password expiry"},
      {"10016", "the password must be changed before use"},
      {"10017", "the bookkeeping of the login failed"},
  };
  auto it = m.find(code);
  return it == m.end() ? "unknown code" : it->second;
}

// Prints the login record the login wrote and its user's login count.
void printLoginRecord(const mgt::LoginOutcome& login) {
  com::ObjectPtr um = com::CreateObject("TivelMgt.UmMgt");
  com::Args byToken{com::Variant(login.token)};
  records::RecordPtr record =
      login.token.empty()
          ? nullptr
          : records::recordArg(um->invoke("getLogInfo", com::MemberKind::Method, byToken), "cUmLogInfo");
  if (!record) {
    std::cout << "login record: none\n";
    return;
  }
  com::Args byNo{com::Variant(login.usrNo)};
  records::RecordPtr user = records::recordArg(um->invoke("getUsr", com::MemberKind::Method, byNo), "cUmUsr");
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
      std::cout << "loginByPwd:   " << login.code << " (" << meaning(login.code) << ")\n";
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
