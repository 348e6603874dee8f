// tivel group: the groups of the portal and their members, through UmMgt.
#include <iostream>

#include "platform/codes/result_codes.h"
#include "tools/tivel/admin_command.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

using admin::Common;
using admin::Components;
using com::Variant;

// The group's number as given, or refused when no group has it.
std::string groupOf(Components& c, const std::string& command, const std::string& grpNo) {
  if (grpNo.empty() || c.um->getGrp(grpNo).isNothing()) admin::refuse(command, codes::kUpdateGrpNotFound);
  return grpNo;
}

bool isMember(Components& c, const std::string& grpNo, const std::string& usrNo) {
  for (const auto& g : admin::recordsOf(c.um->getGrpOfUsr(usrNo)))
    if (admin::text(*g, "Grp_no") == grpNo) return true;
  return false;
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* group = app.add_subcommand("group", "Groups: list, add, members, join, leave");
  group->require_subcommand(1);

  auto* list = group->add_subcommand("list", "Every group: number, name, description");
  auto listOpts = std::make_shared<Common>();
  admin::addCommon(list, *listOpts);
  list->callback([=] {
    admin::run("group list", *listOpts, [&](Components& c) {
      auto groups = admin::recordsOf(c.um->getAllGrp());
      if (listOpts->json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& g : groups) out.push_back(admin::toJson(*g, {"Grp_no", "Name", "Disc"}));
        return admin::printJson(out);
      }
      std::vector<std::vector<std::string>> rows;
      for (const auto& g : groups)
        rows.push_back({admin::text(*g, "Grp_no"), admin::text(*g, "Name"), admin::text(*g, "Disc")});
      admin::printTable({"NUMBER", "NAME", "DESCRIPTION"}, rows);
    });
  });

  auto* add = group->add_subcommand("add", "Add a group");
  auto addOpts = std::make_shared<Common>();
  auto name = std::make_shared<std::string>();
  auto disc = std::make_shared<std::string>();
  auto number = std::make_shared<std::string>();
  add->add_option("NAME", *name, "The group's name")->required();
  add->add_option("--description", *disc, "What the group is for");
  add->add_option("--number", *number, "The group's number (default: a new one)");
  admin::addCommon(add, *addOpts);
  add->callback([=] {
    admin::run("group add", *addOpts, [&](Components& c) {
      auto rec = records::newRecord("cUmGrp");
      rec->set("Grp_no", Variant(*number));
      rec->set("Name", Variant(*name));
      rec->set("Disc", Variant(*disc));
      Variant key("");
      admin::check("group add", c.um->addGrp(rec, key));
      admin::logChange(c, "添加组 " + *name);
      if (addOpts->json) return admin::printJson({{"Grp_no", key.toString()}, {"Name", *name}});
      std::cout << "group " << *name << " added (" << key.toString() << ")\n";
    });
  });

  auto* members = group->add_subcommand("members", "The users of a group");
  auto memOpts = std::make_shared<Common>();
  auto memGrp = std::make_shared<std::string>();
  members->add_option("GROUP", *memGrp, "The group's number")->required();
  admin::addCommon(members, *memOpts);
  members->callback([=] {
    admin::run("group members", *memOpts, [&](Components& c) {
      auto users = admin::recordsOf(c.um->getUsrOfGrp(groupOf(c, "group members", *memGrp)));
      if (memOpts->json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& u : users) out.push_back(admin::toJson(*u, {"Usr_No", "Account", "Name"}));
        return admin::printJson(out);
      }
      std::vector<std::vector<std::string>> rows;
      for (const auto& u : users)
        rows.push_back({admin::text(*u, "Usr_No"), admin::text(*u, "Account"), admin::text(*u, "Name")});
      admin::printTable({"NUMBER", "ACCOUNT", "NAME"}, rows);
    });
  });

  for (bool join : {true, false}) {
    const std::string cmdName = join ? "group join" : "group leave";
    auto* cmd = group->add_subcommand(join ? "join" : "leave",
                                      join ? "Make a user a member of a group" : "Take a user out of a group");
    auto opts = std::make_shared<Common>();
    auto grp = std::make_shared<std::string>();
    auto account = std::make_shared<std::string>();
    cmd->add_option("GROUP", *grp, "The group's number")->required();
    cmd->add_option("ACCOUNT", *account, "The user's account")->required();
    admin::addCommon(cmd, *opts);
    cmd->callback([=] {
      admin::run(cmdName, *opts, [&](Components& c) {
        const std::string grpNo = groupOf(c, cmdName, *grp);
        const std::string usrNo = admin::text(*admin::userOf(c, cmdName, *account), "Usr_No");
        if (join) {
          auto m = records::newRecord("cUmGrp2usr");
          m->set("Grp_no", Variant(grpNo));
          m->set("Usr_No", Variant(usrNo));
          Variant id("");
          admin::check(cmdName, c.um->addGrp2Usr(m, id));
          admin::logChange(c, "加入组 " + *account + " → " + grpNo);
        } else {
          if (!isMember(c, grpNo, usrNo)) admin::fail(cmdName, *account + " is not a member of group " + grpNo);
          admin::check(cmdName, c.um->delGrp2Usr(grpNo, usrNo));
          admin::logChange(c, "移出组 " + *account + " ← " + grpNo);
        }
        if (opts->json) return admin::printJson({{"Grp_no", grpNo}, {"account", *account}, {"member", join}});
        std::cout << *account << (join ? " joined group " : " left group ") << grpNo << "\n";
      });
    });
  }
});

}  // namespace
}  // namespace tivel::tool
