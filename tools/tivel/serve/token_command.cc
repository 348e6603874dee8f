// tivel token add|list|revoke: the gateway's named tokens (tokens.h).
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/tivel/command.h"
#include "tools/tivel/rpc/root.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/tokens.h"

namespace tivel::tool {
namespace {

std::string rootOf(const std::string& given) {
  if (!given.empty()) useRoot(given);
  const char* home = std::getenv("TIVEL_HOME");
  if (!home) throw std::runtime_error("tivel token needs --root (or TIVEL_HOME)");
  return home;
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("token", "The gateway's named tokens and their scopes (R/ini/serve.tokens)");
  cmd->require_subcommand(1);
  auto root = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  auto scope = std::make_shared<std::string>();
  auto* add = cmd->add_subcommand("add", "Make a token; it is printed once, only its hash is kept");
  add->add_option("NAME", *name, "The token's name (letters, digits, _ - .)")->required();
  add->add_option("--scope", *scope,
                  "What it may use: presets pages, setup, console; classes (TivelMgt.*, Tivel.RegClass); "
                  "members (TivelMgt.AdminMgt:getRecordset); -ITEM excludes; connect=own|any")
      ->required();
  add->add_option("--root", *root, "Root directory R");
  add->callback([=] {
    std::cout << addToken(rootOf(*root), *name, *scope) << std::endl;
    std::cerr << "token " << *name << " added; keep it now, it is not shown again\n";
  });
  auto* list = cmd->add_subcommand("list", "The tokens' names and scopes");
  list->add_option("--root", *root, "Root directory R");
  list->callback([=] {
    const std::string r = rootOf(*root);
    for (const TokenLine& l : readTokenLines(r)) std::cout << l.name << ' ' << l.scope << '\n';
  });
  auto* revoke = cmd->add_subcommand("revoke", "Remove a token (\"pages\": also R/ini/serve.token)");
  revoke->add_option("NAME", *name, "The token's name")->required();
  revoke->add_option("--root", *root, "Root directory R");
  revoke->callback([=] {
    revokeToken(rootOf(*root), *name);
    std::cout << "token " << *name << " revoked\n";
  });
});

}  // namespace
}  // namespace tivel::tool
