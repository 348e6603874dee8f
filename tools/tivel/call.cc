// tivel call: one late-bound call from the shell, answered as JSON.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/tivel/command.h"
#include "tools/tivel/rpc/connection_messages.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/rpc/root.h"

namespace tivel::tool {
namespace {

struct CallOptions {
  std::string root, progid, member;
  std::vector<std::string> args;
  bool get = false, put = false, dump = false;
};

// An argument that is valid JSON is read as a JSON value; any other text is
// passed as it stands, so that plain keys and names need no quoting.
Json argumentOf(const std::string& text) {
  if (jsonNesting(text) > kMaxJsonNesting) return Json(text);
  Json parsed = Json::parse(text, nullptr, false);
  return parsed.is_discarded() ? Json(text) : parsed;
}

// Prints an error answer on standard error and ends the command with status 1.
[[noreturn]] void fail(const Json& answer) {
  const Json& e = answer["error"];
  std::cerr << "tivel call: " << e["description"].get<std::string>()
            << (e.contains("detail") ? " " + e["detail"].get<std::string>() : std::string()) << " (source "
            << e["source"].get<std::string>() << ", number " << e["number"].get<int64_t>() << ")\n";
  throw CLI::RuntimeError(1);
}

Json checked(Json answer) {
  if (answer.contains("error")) fail(answer);
  return answer;
}

void run(const CallOptions& o) {
  if (!o.root.empty()) useRoot(o.root);
  tellConnectionEvents("tivel call");
  RpcHost host;
  Json created = checked(host.answer(Json{{"id", 1}, {"new", o.progid}}));
  Json request{{"id", 2}, {"object", created["result"]["object"]}};
  std::vector<std::string> args = o.args;
  if (o.put) {
    if (args.empty()) {
      std::cerr << "tivel call: --put needs the value to write as its last argument\n";
      throw CLI::RuntimeError(2);
    }
    request["put"] = o.member;
    request["value"] = argumentOf(args.back());
    args.pop_back();
  } else {
    request[o.get ? "get" : "call"] = o.member;
  }
  Json list = Json::array();
  for (const std::string& a : args) list.push_back(argumentOf(a));
  request["args"] = std::move(list);
  Json answer = checked(host.answer(request));
  answer.erase("id");
  if (o.dump && answer["result"].is_object() && answer["result"].contains("class")) {
    Json dumped = checked(host.answer(Json{{"id", 3}, {"dump", answer["result"]["object"]}}));
    answer["result"] = dumped["result"];
  }
  std::cout << answer.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd =
      app.add_subcommand("call", "Create an object by ProgID and make one late-bound call; prints the result as JSON");
  auto o = std::make_shared<CallOptions>();
  cmd->add_option("progid", o->progid, "ProgID of the class, e.g. TivelMgt.UmMgt")->required();
  cmd->add_option("member", o->member, "Member to call (method or property)")->required();
  cmd->add_option("args", o->args,
                  "Arguments: a valid JSON value is read as one ({\"ref\":V} by reference, "
                  "{\"missing\":true} omitted), anything else is a plain text");
  cmd->add_option("--root", o->root, "Root directory R: components use R/ini, R/log and R/db (sets TIVEL_HOME)");
  auto* get = cmd->add_flag("--get", o->get, "Read the property MEMBER (the arguments are its parameters)");
  auto* put = cmd->add_flag("--put", o->put, "Write the property MEMBER: the last argument is the value");
  get->excludes(put);
  cmd->add_flag("--dump", o->dump, "When the result is an object, print its state (record, collection, recordset)");
  cmd->callback([o] { run(*o); });
});

}  // namespace
}  // namespace tivel::tool
