// tivel rpc: the late-bound host over JSON lines on standard input and output.
#include <iostream>
#include <memory>
#include <string>

#include "platform/codes/result_codes.h"
#include "tools/tivel/command.h"
#include "tools/tivel/rpc/connection_messages.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/rpc/root.h"

namespace tivel::tool {
namespace {

// The components' connection failure (codes::kConnectError) as an answer writes it.
const std::string kConnectErrorNumber = "\"number\":" + std::to_string(codes::kConnectError);

void tellConnectError(const std::string& reply) {
  try {
    const Json answer = Json::parse(reply);
    const Json& e = answer.at("error");
    std::cerr << "tivel rpc: " << e.at("description").get<std::string>()
              << (e.contains("detail") ? " " + e.at("detail").get<std::string>() : std::string()) << " (source "
              << e.at("source").get<std::string>() << ")" << std::endl;
  } catch (const std::exception&) {
  }
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("rpc",
                                 "Serve late-bound calls: one JSON request a line on standard input, "
                                 "one JSON answer a line on standard output");
  auto root = std::make_shared<std::string>();
  cmd->add_option("--root", *root, "Root directory R: components use R/ini, R/log and R/db (sets TIVEL_HOME)");
  cmd->callback([root] {
    if (!root->empty()) useRoot(*root);
    tellConnectionEvents("tivel rpc");
    RpcHost host;
    // Like RpcHost::serve, and a failed connection is also told on standard
    // error, with its reason, for whoever runs the process.
    std::string line;
    while (std::getline(std::cin, line)) {
      std::string reply = host.handle(line);
      if (reply.empty()) continue;
      std::cout << reply << '\n' << std::flush;
      if (reply.find(kConnectErrorNumber) != std::string::npos) tellConnectError(reply);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
