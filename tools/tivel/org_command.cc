// tivel org: the organisation tree, through UmMgt.
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "platform/codes/result_codes.h"
#include "tools/tivel/admin_command.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

using admin::Common;
using admin::Components;
using com::Variant;

const std::vector<std::string> kOrgFields = {"Org_No", "Name", "Disc", "Top_Org_No", "Priority"};

const CommandRegistrar reg([](CLI::App& app) {
  auto* org = app.add_subcommand("org", "Organisations: tree, add");
  org->require_subcommand(1);

  auto* tree = org->add_subcommand("tree", "Every organisation, each below its parent");
  auto treeOpts = std::make_shared<Common>();
  admin::addCommon(tree, *treeOpts);
  tree->callback([=] {
    admin::run("org tree", *treeOpts, [&](Components& c) {
      // Every organisation at once (by priority), so one whose parent is gone
      // is shown at the top rather than lost.
      auto all = admin::recordsOf(c.um->getAllOrg());
      std::set<std::string> keys;
      for (const auto& o : all) keys.insert(admin::text(*o, "Org_No"));
      std::map<std::string, std::vector<records::RecordPtr>> children;
      std::vector<records::RecordPtr> roots;
      for (const auto& o : all) {
        const std::string parent = admin::text(*o, "Top_Org_No");
        if (parent != admin::text(*o, "Org_No") && keys.count(parent))
          children[parent].push_back(o);
        else
          roots.push_back(o);
      }
      std::set<std::string> shown;  // a cycle of parents is shown once
      std::function<nlohmann::json(const records::RecordPtr&)> node = [&](const records::RecordPtr& o) {
        nlohmann::json n = admin::toJson(*o, kOrgFields);
        n["children"] = nlohmann::json::array();
        const std::string key = admin::text(*o, "Org_No");
        if (shown.insert(key).second)
          for (const auto& child : children[key]) n["children"].push_back(node(child));
        return n;
      };
      nlohmann::json forest = nlohmann::json::array();
      for (const auto& r : roots) forest.push_back(node(r));
      for (const auto& o : all)  // members of a cycle only: no root leads to them
        if (!shown.count(admin::text(*o, "Org_No"))) forest.push_back(node(o));
      if (treeOpts->json) return admin::printJson(forest);
      std::function<void(const nlohmann::json&, int)> print = [&](const nlohmann::json& n, int depth) {
        std::cout << std::string(2 * depth, ' ') << n["Name"].get<std::string>() << " ("
                  << n["Org_No"].get<std::string>() << ")\n";
        for (const auto& child : n["children"]) print(child, depth + 1);
      };
      for (const auto& n : forest) print(n, 0);
    });
  });

  auto* add = org->add_subcommand("add", "Add an organisation, at the top or below a parent");
  auto addOpts = std::make_shared<Common>();
  auto name = std::make_shared<std::string>();
  auto parent = std::make_shared<std::string>("0");
  auto disc = std::make_shared<std::string>();
  auto priority = std::make_shared<std::string>();
  auto number = std::make_shared<std::string>();
  add->add_option("NAME", *name, "The organisation's name")->required();
  add->add_option("--parent", *parent, "The parent organisation's number (default 0: at the top)");
  add->add_option("--description", *disc, "What the organisation is");
  add->add_option("--priority", *priority, "Its place among its siblings (a whole number; default last)")
      ->check(CLI::NonNegativeNumber);
  add->add_option("--number", *number, "The organisation's number (default: a new one)");
  admin::addCommon(add, *addOpts);
  add->callback([=] {
    admin::run("org add", *addOpts, [&](Components& c) {
      if (*parent != "0" && c.um->getOrg(*parent).isNothing()) admin::refuse("org add", codes::kUpdateOrgNotFound);
      auto rec = records::newRecord("cUmOrg");
      rec->set("Org_No", Variant(*number));
      rec->set("Name", Variant(*name));
      rec->set("Disc", Variant(*disc));
      rec->set("Top_Org_No", Variant(*parent));
      rec->set("Priority", Variant(*priority));
      Variant key("");
      admin::check("org add", c.um->addOrg(rec, key));
      admin::logChange(c, "添加部门 " + *name);
      if (addOpts->json)
        return admin::printJson({{"Org_No", key.toString()}, {"Name", *name}, {"Top_Org_No", *parent}});
      std::cout << "organisation " << *name << " added (" << key.toString() << ")\n";
    });
  });
});

}  // namespace
}  // namespace tivel::tool
