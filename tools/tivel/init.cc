// tivel init: creates a portal root with its configuration and database.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <unistd.h>

#include "mgt/common/root.h"
#include "platform/com/error.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

// The default root is the build's (or installation's) own: the parent of
// the directory holding this executable.
std::string defaultRoot() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().parent_path().string();
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("init", "Create a portal root: ini/, log/, db/, the configuration, schema and seed data");
  auto root = std::make_shared<std::string>();
  auto noSeed = std::make_shared<bool>(false);
  cmd->add_option("--root", *root, "Root directory R (default: the build's own)");
  cmd->add_flag("--no-seed", *noSeed, "Create the schemas only, without the groups and security attributes");
  cmd->callback([root, noSeed] {
    mgt::InitOptions opt;
    opt.root = root->empty() ? defaultRoot() : *root;
    opt.seed = !*noSeed;
    try {
      mgt::InitReport r = mgt::initRoot(opt);
      std::cout << "root:       " << std::filesystem::absolute(opt.root).lexically_normal().string() << "\n"
                << "config:     " << r.iniPath << (r.wroteIni ? " (written)" : " (kept)") << "\n"
                << "database:   " << r.connectionString << (r.createdDatabaseFile ? " (created)" : "") << "\n"
                << "schema:     ready" << (opt.seed ? ", seeded" : "") << "\n";
    } catch (const com::ComError& e) {
      std::cerr << "tivel init: " << e.description() << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
