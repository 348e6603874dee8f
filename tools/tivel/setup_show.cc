// tivel setup show: what the installation helper's stand-ins hold for a root
// (virtual directories, the FTP root, accounts and groups, packages and their
// components), so an operator can see what a setup program did. Passwords are
// kept only as hashes and shown only as set or not.
#include <iostream>
#include <memory>
#include <string>

#include "platform/com/error.h"
#include "setup/computer_name.h"
#include "setup/store.h"
#include "tools/tivel/command.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/rpc/root.h"

namespace tivel::tool {
namespace {

const char* yesNo(bool b) { return b ? "yes" : "no"; }
const char* passwordState(const std::string& hash) { return hash.empty() ? "not set" : "set (salted hash)"; }

void showText(const setup::Store& store, const setup::ServiceState& s) {
  std::cout << "store: " << store.path() << "\ncomputer: " << setup::localComputerName()
            << "\n\nweb virtual directories:";
  if (s.virtualDirectories.empty()) std::cout << " none";
  std::cout << "\n";
  for (const auto& d : s.virtualDirectories)
    std::cout << "  " << d.name << "  path " << d.path << "  application "
              << (d.application.empty() ? "none" : d.application) << "  read " << yesNo(d.accessRead) << "  write "
              << yesNo(d.accessWrite) << "  execute " << yesNo(d.accessExecute) << "\n";
  std::cout << "\nftp root: path " << (s.ftp.path.empty() ? "(not set)" : s.ftp.path) << "  read "
            << yesNo(s.ftp.accessRead) << "  write " << yesNo(s.ftp.accessWrite) << "\n\naccounts:";
  if (s.accounts.empty()) std::cout << " none";
  std::cout << "\n";
  for (const auto& a : s.accounts)
    std::cout << "  " << a.name << "  full name " << a.fullName << "  description " << a.description << "  password "
              << passwordState(a.passwordHash) << "\n";
  std::cout << "\ngroups:\n";
  for (const auto& g : s.groups) {
    std::cout << "  " << g.name << ":";
    if (g.members.empty()) std::cout << " no members";
    for (const auto& m : g.members) std::cout << " " << m;
    std::cout << "\n";
  }
  std::cout << "\npackages:";
  if (s.packages.empty()) std::cout << " none";
  std::cout << "\n";
  for (const auto& p : s.packages) {
    std::cout << "  " << p.name << "  key " << p.key << "  identity " << p.identity << "  password "
              << passwordState(p.passwordHash) << "\n";
    for (const auto& c : p.components) std::cout << "    " << c.progId << "  " << c.file << "\n";
  }
}

// The store's document with each password hash replaced by whether one is set.
void showJson(const setup::ServiceState& s) {
  nlohmann::json doc = setup::toJson(s);
  for (const char* list : {"accounts", "packages"})
    for (auto& item : doc[list]) {
      item["passwordSet"] = !item["passwordHash"].get<std::string>().empty();
      item.erase("passwordHash");
    }
  std::cout << doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* setupCmd = app.add_subcommand("setup", "What the installation helper (Tivel.RegClass) set up for a root");
  setupCmd->require_subcommand(1);
  auto* show = setupCmd->add_subcommand(
      "show", "Show the virtual directories, FTP root, accounts, groups, packages and components of the root");
  auto root = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  show->add_option("--root", *root, "Root directory R (sets TIVEL_HOME)");
  show->add_flag("--json", *json, "Print the store as one JSON document");
  show->callback([root, json] {
    if (!root->empty()) useRoot(*root);
    try {
      setup::Store store;
      setup::ServiceState state = store.read();
      if (*json)
        showJson(state);
      else
        showText(store, state);
    } catch (const com::ComError& e) {
      std::cerr << "tivel setup show: " << com::describe(e) << "\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
