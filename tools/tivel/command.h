// Subcommands of the tivel command register themselves here; main() adds
// every registered one to the command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace tivel::tool {

// Adds one subcommand (with its options and callback) to the application.
using CommandSetup = std::function<void(CLI::App& app)>;

// The registered subcommands, in registration order.
std::vector<CommandSetup>& commands();

// static CommandRegistrar r([](CLI::App& app) { ... app.add_subcommand(...) ... });
struct CommandRegistrar {
  explicit CommandRegistrar(CommandSetup setup) { commands().push_back(std::move(setup)); }
};

// The root a subcommand uses without --root: TIVEL_HOME when set, else the
// installation's own (the build directory, an install prefix P, or
// /var/lib/tivel for a system package).
std::string defaultRoot();

}  // namespace tivel::tool
