// tivel passwords hash: replaces the passwords a root still stores as text
// with their Argon2id hashes. Safe to run again: hashes are left alone.
#include <filesystem>
#include <iostream>
#include <memory>

#include "mgt/common/module.h"
#include "mgt/common/password_migration.h"
#include "mgt/common/security_options.h"
#include "platform/com/error.h"
#include "tools/tivel/command.h"
#include "tools/tivel/rpc/root.h"

namespace tivel::tool {
namespace {

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("passwords", "Stored passwords of a root");
  cmd->require_subcommand(1);
  auto* hash =
      cmd->add_subcommand("hash", "Hash every password still stored as text (Argon2id); run again, it changes nothing");
  auto root = std::make_shared<std::string>();
  hash->add_option("--root", *root, "Root directory R (default: the build's own)");
  hash->callback([root] {
    useRoot(root->empty() ? defaultRoot() : *root);
    try {
      mgt::resetThreadState();
      mgt::startUp();
      mgt::PasswordMigration r = mgt::hashStoredPasswords();
      std::cout << "hashed:            " << r.hashed << "\n"
                << "already hashed:    " << r.alreadyHashed << "\n"
                << "without password:  " << r.withoutPassword << "\n";
      if (r.changedMeanwhile)
        std::cout << "changed meanwhile: " << r.changedMeanwhile << " (left as they are; run again)\n";
      if (!mgt::securityOptions().hashPasswords)
        std::cout << "note: [Security] password_hash=argon2id is not set in " << mgt::configPath()
                  << ": passwords written from now on are stored as text\n";
      mgt::resetThreadState();
    } catch (const com::ComError& e) {
      std::cerr << "tivel passwords hash: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
