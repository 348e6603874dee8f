// tivel rpc: the late-bound host over JSON lines on standard input and output.
#include <iostream>
#include <memory>
#include <string>

#include "tools/tivel/command.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/rpc/root.h"

namespace tivel::tool {
namespace {

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("rpc",
                                 "Serve late-bound calls: one JSON request a line on standard input, "
                                 "one JSON answer a line on standard output");
  auto root = std::make_shared<std::string>();
  cmd->add_option("--root", *root, "Root directory R: components use R/ini, R/log and R/db (sets TIVEL_HOME)");
  cmd->callback([root] {
    if (!root->empty()) useRoot(*root);
    RpcHost host;
    host.serve(std::cin, std::cout);
  });
});

}  // namespace
}  // namespace tivel::tool
