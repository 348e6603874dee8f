// tivel user: an administrator's work on accounts from the shell, through
// UmMgt and AdminMgt, so the account policy, password hashing and the
// system log apply as they do for the console.
#include <exception>
#include <functional>
#include <iostream>
#include <map>

#include "mgt/app/app_mgt.h"
#include "mgt/common/module.h"
#include "platform/codes/result_codes.h"
#include "mgt/common/pattern.h"
#include "mgt/common/security_options.h"
#include "platform/com/registry.h"
#include "tools/tivel/admin_command.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

// Runs the work in one transaction of the components' connection: a
// refusal or failure inside it undoes all of it and is reported as raised.
void whole(const std::string& command, const std::function<void()>& work) {
  std::exception_ptr raised;
  const bool done = mgt::inTransaction([&] {
    try {
      work();
      return true;
    } catch (...) {
      raised = std::current_exception();
      return false;
    }
  });
  if (raised) std::rethrow_exception(raised);
  if (!done) admin::fail(command, "the change could not be committed; nothing was changed");
}

using admin::Common;
using admin::Components;
using com::Variant;

// The fields shown for a user: never the password.
const std::vector<std::string> kShownFields = {"Usr_No",     "Account",     "Name",        "NetName", "Address",
                                               "Phone",      "Mobile",      "Email",       "EmailOA", "State",
                                               "Login_Mode", "Login_Count", "Account_Time"};

// The text of a user's State as the console names them.
std::string stateName(const std::string& s) {
  if (s == "0") return "normal";
  if (s == "1") return "stopped";
  if (s == "2") return "frozen";
  if (s == "3") return "cancelled";
  return s;
}

// The profile fields `user add` and `user set` take, by option.
struct Profile {
  std::map<std::string, std::string> values;  // field -> value given
  void options(CLI::App* cmd) {
    static const std::pair<const char*, const char*> kOptions[] = {
        {"--name", "Name"},     {"--net-name", "NetName"}, {"--address", "Address"},  {"--phone", "Phone"},
        {"--mobile", "Mobile"}, {"--email", "Email"},      {"--email-oa", "EmailOA"}, {"--login-mode", "Login_Mode"}};
    for (const auto& [option, field] : kOptions)
      cmd->add_option_function<std::string>(
          option, [this, f = std::string(field)](const std::string& v) { values[f] = v; },
          std::string("The user's ") + field);
  }
};

// Joins a user to an organisation (its main one when it has none yet) or a group.
void joinOrg(Components& c, const std::string& command, const std::string& orgNo, const std::string& usrNo) {
  if (c.um->getOrg(orgNo).isNothing()) admin::refuse(command, codes::kUpdateOrgNotFound);
  auto m = records::newRecord("cUmOrg2usr");
  m->set("Org_No", Variant(orgNo));
  m->set("Usr_No", Variant(usrNo));
  m->set("IsMain", Variant(admin::recordsOf(c.um->getOrgOfUsr(usrNo)).empty() ? "1" : "0"));
  Variant id("");
  const std::string code = c.um->addOrg2Usr(m, id);
  if (code != codes::kAddOrg2UsrExists) admin::check(command, code);  // named twice: a member once
}

void joinGrp(Components& c, const std::string& command, const std::string& grpNo, const std::string& usrNo) {
  if (c.um->getGrp(grpNo).isNothing()) admin::refuse(command, codes::kUpdateGrpNotFound);
  auto m = records::newRecord("cUmGrp2usr");
  m->set("Grp_no", Variant(grpNo));
  m->set("Usr_No", Variant(usrNo));
  Variant id("");
  const std::string code = c.um->addGrp2Usr(m, id);
  if (code != codes::kAddGrp2UsrExists) admin::check(command, code);  // named twice: a member once
}

// What a user's lock state is: the login-error count, the threshold and
// whether the policy's check refuses the account now (the check the login
// makes, so a lock whose time is over reads as open).
nlohmann::json lockState(Components& c, const std::string& usrNo) {
  nlohmann::json s;
  // An attribute without a value counts as 0: no errors yet, no lockout.
  auto count = [&](const char* attribute) {
    std::string v = c.um->getUsrSecValue(attribute, usrNo);
    return v.empty() ? std::string("0") : v;
  };
  s["LogErrNum"] = count("LogErrNum");
  s["LogErrLockNum"] = count("LogErrLockNum");
  s["locked"] = !c.admin->usrLogErrLimit(usrNo);
  return s;
}

void addUser(CLI::App& user) {
  auto* cmd = user.add_subcommand("add",
                                  "Register a user (in group 3 like the login component's users), its "
                                  "password from a prompt or --password-stdin");
  auto common = std::make_shared<Common>();
  auto account = std::make_shared<std::string>();
  auto profile = std::make_shared<Profile>();
  auto orgs = std::make_shared<std::vector<std::string>>();
  auto groups = std::make_shared<std::vector<std::string>>();
  auto fromStdin = std::make_shared<bool>(false);
  cmd->add_option("ACCOUNT", *account, "The new account")->required();
  profile->options(cmd);
  cmd->add_option("--org", *orgs, "Also a member of this organisation (its number; the first is the main one)");
  cmd->add_option("--group", *groups, "Also a member of this group (its number)");
  cmd->add_flag("--password-stdin", *fromStdin, "Read the password from the first line of standard input");
  admin::addCommon(cmd, *common);
  cmd->callback([=] {
    admin::run("user add", *common, [&](Components& c) {
      if (account->empty()) admin::refuse("user add", codes::kAddUsrAccountEmpty);
      if (!c.um->getUsrByAccount(*account).isNothing()) admin::refuse("user add", codes::kAddUsrAccountTaken);
      auto field = [&](const char* f, const std::string& fallback = "") {
        auto it = profile->values.find(f);
        return it == profile->values.end() ? fallback : it->second;
      };
      const std::string name = field("Name", *account);
      if (name.empty()) admin::refuse("user add", codes::kAddUsrNameEmpty);
      for (const auto& o : *orgs)
        if (c.um->getOrg(o).isNothing()) admin::refuse("user add", codes::kUpdateOrgNotFound);
      for (const auto& g : *groups)
        if (c.um->getGrp(g).isNothing()) admin::refuse("user add", codes::kUpdateGrpNotFound);
      const std::string pwd = admin::newPassword("user add", *account, *fromStdin);
      std::string usrNo;
      // The user and its memberships together: a refused join adds no user.
      whole("user add", [&] {
        if (!c.admin->addUsr(*account, pwd, name, field("NetName"), field("Phone"), field("Mobile"), field("Email"),
                             field("Login_Mode")))
          admin::refuse("user add", codes::kAddUsrFailed);
        auto rec = admin::userOf(c, "user add", *account);
        usrNo = admin::text(*rec, "Usr_No");
        if (profile->values.count("Address") || profile->values.count("EmailOA")) {
          for (const char* f : {"Address", "EmailOA"}) rec->set(f, Variant(field(f)));
          admin::check("user add", c.um->updateUsr(rec, usrNo));
        }
        for (const auto& o : *orgs) joinOrg(c, "user add", o, usrNo);
        for (const auto& g : *groups) joinGrp(c, "user add", g, usrNo);
        admin::logChange(c, "添加用户 " + *account);
      });
      if (common->json)
        admin::printJson({{"account", *account}, {"usr_no", usrNo}});
      else
        std::cout << "user " << *account << " added (" << usrNo << ")\n";
    });
  });
}

void listUsers(CLI::App& user) {
  auto* cmd = user.add_subcommand("list", "Every user: number, account, name, state and login count");
  auto common = std::make_shared<Common>();
  admin::addCommon(cmd, *common);
  cmd->callback([=] {
    admin::run("user list", *common, [&](Components& c) {
      auto users = admin::recordsOf(c.um->getAllUsr());
      if (common->json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& u : users)
          list.push_back(admin::toJson(*u, {"Usr_No", "Account", "Name", "State", "Login_Count", "Login_Mode"}));
        admin::printJson(list);
        return;
      }
      std::vector<std::vector<std::string>> rows;
      for (const auto& u : users)
        rows.push_back({admin::text(*u, "Usr_No"), admin::text(*u, "Account"), admin::text(*u, "Name"),
                        stateName(admin::text(*u, "State")), admin::text(*u, "Login_Count")});
      admin::printTable({"NUMBER", "ACCOUNT", "NAME", "STATE", "LOGINS"}, rows);
    });
  });
}

void showUser(CLI::App& user) {
  auto* cmd = user.add_subcommand("show", "A user's fields, organisations, groups and lock state");
  auto common = std::make_shared<Common>();
  auto account = std::make_shared<std::string>();
  cmd->add_option("ACCOUNT", *account, "The account")->required();
  admin::addCommon(cmd, *common);
  cmd->callback([=] {
    admin::run("user show", *common, [&](Components& c) {
      auto rec = admin::userOf(c, "user show", *account);
      const std::string usrNo = admin::text(*rec, "Usr_No");
      nlohmann::json doc = admin::toJson(*rec, kShownFields);
      doc["orgs"] = nlohmann::json::array();
      for (const auto& o : admin::recordsOf(c.um->getOrgOfUsr(usrNo)))
        doc["orgs"].push_back(admin::toJson(*o, {"Org_No", "Name"}));
      doc["groups"] = nlohmann::json::array();
      for (const auto& g : admin::recordsOf(c.um->getGrpOfUsr(usrNo)))
        doc["groups"].push_back(admin::toJson(*g, {"Grp_no", "Name"}));
      doc["lock"] = lockState(c, usrNo);
      if (common->json) return admin::printJson(doc);
      for (const std::string& f : kShownFields)
        std::cout << f << ":" << std::string(14 - f.size(), ' ')
                  << (f == "State" ? stateName(doc[f].get<std::string>()) : doc[f].get<std::string>()) << "\n";
      auto names = [](const nlohmann::json& list, const char* key) {
        std::string s;
        for (const auto& e : list)
          s += (s.empty() ? "" : ", ") + e["Name"].get<std::string>() + " (" + e[key].get<std::string>() + ")";
        return s.empty() ? std::string("-") : s;
      };
      std::cout << "Orgs:          " << names(doc["orgs"], "Org_No") << "\n"
                << "Groups:        " << names(doc["groups"], "Grp_no") << "\n"
                << "Login errors:  " << doc["lock"]["LogErrNum"].get<std::string>() << " (locks at "
                << doc["lock"]["LogErrLockNum"].get<std::string>() << ")"
                << (doc["lock"]["locked"].get<bool>() ? ", locked" : "") << "\n";
    });
  });
}

void setUser(CLI::App& user) {
  auto* cmd = user.add_subcommand("set", "Change a user's profile fields or state");
  auto common = std::make_shared<Common>();
  auto account = std::make_shared<std::string>();
  auto profile = std::make_shared<Profile>();
  auto state = std::make_shared<int>(-1);
  cmd->add_option("ACCOUNT", *account, "The account")->required();
  profile->options(cmd);
  cmd->add_option("--state", *state, "0 normal, 1 stopped, 2 frozen, 3 cancelled")->check(CLI::Range(0, 3));
  admin::addCommon(cmd, *common);
  cmd->callback([=] {
    if (profile->values.empty() && *state < 0)
      throw CLI::ValidationError("tivel user set", "nothing to change: give a field option or --state");
    admin::run("user set", *common, [&](Components& c) {
      auto rec = admin::userOf(c, "user set", *account);
      for (const auto& [field, value] : profile->values) rec->set(field, Variant(value));
      if (*state >= 0) rec->set("State", Variant(int32_t{*state}));
      if (profile->values.count("Name") && profile->values.at("Name").empty())
        admin::refuse("user set", codes::kAddUsrNameEmpty);
      admin::check("user set", c.um->updateUsr(rec, admin::text(*rec, "Usr_No")));
      admin::logChange(c, "修改用户 " + *account);
      if (common->json)
        admin::printJson({{"account", *account}, {"changed", true}});
      else
        std::cout << "user " << *account << " changed\n";
    });
  });
}

void passwdUser(CLI::App& user) {
  auto* cmd = user.add_subcommand("passwd", "Set a user's password (from a prompt or --password-stdin)");
  auto common = std::make_shared<Common>();
  auto account = std::make_shared<std::string>();
  auto fromStdin = std::make_shared<bool>(false);
  cmd->add_option("ACCOUNT", *account, "The account")->required();
  cmd->add_flag("--password-stdin", *fromStdin, "Read the password from the first line of standard input");
  admin::addCommon(cmd, *common);
  cmd->callback([=] {
    admin::run("user passwd", *common, [&](Components& c) {
      auto rec = admin::userOf(c, "user passwd", *account);
      const std::string pwd = admin::newPassword("user passwd", *account, *fromStdin);
      if (!c.um->changePwd(admin::text(*rec, "Usr_No"), pwd)) admin::refuse("user passwd", codes::kUpdateUsrFailed);
      admin::logChange(c, "重置密码 " + *account);
      if (common->json)
        admin::printJson({{"account", *account}, {"password", "set"}});
      else
        std::cout << "password of " << *account << " set\n";
    });
  });
}

void lockUser(CLI::App& user, bool lock) {
  auto* cmd = user.add_subcommand(
      lock ? "lock" : "unlock",
      lock ? "Lock an account as too many wrong passwords do, until unlocked (needs [Policy] enforce=1 and a "
             "LogErrLockNum above 0)"
           : "Unlock an account: its login-error count back to 0, as the console's Unlock");
  auto common = std::make_shared<Common>();
  auto account = std::make_shared<std::string>();
  cmd->add_option("ACCOUNT", *account, "The account")->required();
  admin::addCommon(cmd, *common);
  const std::string name = lock ? "user lock" : "user unlock";
  cmd->callback([=] {
    admin::run(name, *common, [&](Components& c) {
      auto rec = admin::userOf(c, name, *account);
      const std::string usrNo = admin::text(*rec, "Usr_No");
      if (lock) {
        if (!mgt::securityOptions().enforcePolicy)
          admin::fail(name, "the account policy is not enforced ([Policy] enforce=1): a lock would not hold");
        if (!c.admin->lockUsr(usrNo))
          admin::fail(
              name, "no lockout threshold (LogErrLockNum above 0) applies to " + *account + ": a lock would not hold");
      } else {
        if (!c.um->cleanUsrLogErrNum(usrNo)) admin::refuse(name, codes::kUpdateUsrFailed);
        admin::logChange(c, "解锁帐号 " + *account);
      }
      if (common->json)
        admin::printJson({{"account", *account}, {"lock", lockState(c, usrNo)}});
      else
        std::cout << "user " << *account << (lock ? " locked\n" : " unlocked\n");
    });
  });
}

void deleteUser(CLI::App& user) {
  auto* cmd =
      user.add_subcommand("delete", "Delete a user and what belongs to it: memberships, roles, attribute values");
  auto common = std::make_shared<Common>();
  auto account = std::make_shared<std::string>();
  cmd->add_option("ACCOUNT", *account, "The account")->required();
  admin::addCommon(cmd, *common);
  cmd->callback([=] {
    admin::run("user delete", *common, [&](Components& c) {
      auto rec = admin::userOf(c, "user delete", *account);
      const std::string usrNo = admin::text(*rec, "Usr_No");
      auto app = std::dynamic_pointer_cast<mgt::AppMgt>(com::CreateObject("TivelMgt.AppMgt"));
      // All of it or nothing, as the console's deletion.
      whole("user delete", [&] {
        admin::check("user delete", c.um->delOrg2Usr("", usrNo));
        admin::check("user delete", c.um->delGrp2Usr("", usrNo));
        admin::check("user delete", app->delRol2Usr("", usrNo));
        admin::check("user delete", c.um->delUsi("", usrNo));
        admin::check("user delete", c.um->delUai("", usrNo));
        admin::check("user delete", c.um->delUsr(usrNo));
        admin::logChange(c, "删除用户 " + *account);
      });
      if (common->json)
        admin::printJson({{"account", *account}, {"deleted", true}});
      else
        std::cout << "user " << *account << " deleted\n";
    });
  });
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* user = app.add_subcommand("user", "Users: add, list, show, set, passwd, lock, unlock, delete");
  user->require_subcommand(1);
  addUser(*user);
  listUsers(*user);
  showUser(*user);
  setUser(*user);
  passwdUser(*user);
  lockUser(*user, true);
  lockUser(*user, false);
  deleteUser(*user);
});

}  // namespace
}  // namespace tivel::tool
