// tivel init: creates a portal root with its configuration and database.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <unistd.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "records/record.h"
#include "tools/tivel/command.h"
#include "tools/tivel/init_fee.h"
#include "tools/tivel/password.h"
#include "tools/tivel/serve/console_key.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/tokens.h"

namespace tivel::tool {
namespace {

// The connection string with the values of password keys replaced, for
// printing: pwd= (mode 1) and PASSWORD= (mode 2) in any letter case.
std::string withoutPassword(const std::string& cs) {
  std::string out;
  size_t start = 0;
  while (start <= cs.size()) {
    size_t end = cs.find(';', start);
    std::string pair = cs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t eq = pair.find('=');
    std::string key = eq == std::string::npos ? "" : pair.substr(0, eq);
    key.erase(0, key.find_first_not_of(' '));
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((key == "pwd" || key == "password") && eq + 1 < pair.size()) pair = pair.substr(0, eq + 1) + "***";
    out += pair;
    if (end == std::string::npos) break;
    out += ';';
    start = end + 1;
  }
  return out;
}

// The default root is the build's (or installation's) own: the parent of
// the directory holding this executable.
std::string defaultRoot() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().parent_path().string();
}

// Registers the administrator: a user made the way the login component
// registers users, then a member of the system (1) and security (2)
// administrator groups. An account that exists already is left as it is.
void addAdministrator(const std::string& account, const std::string& pwd) {
  mgt::resetThreadState();
  auto admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  auto um = com::CreateObject("TivelMgt.UmMgt");
  com::Args byAccount{com::Variant(account)};
  if (!um->invoke("getUsrByAccount", com::MemberKind::Method, byAccount).isNothing()) {
    std::cout << "admin:      " << account << " (exists, kept)\n";
    return;
  }
  if (!admin->addUsr(account, pwd, "系统管理员", "", "", "", "", ""))
    com::raise(com::kInvalidArgument, "tivel init", "the administrator account could not be added");
  auto user = records::recordArg(um->invoke("getUsrByAccount", com::MemberKind::Method, byAccount), "cUmUsr");
  for (const char* group : {"1", "2"}) {
    auto member = records::newRecord("cUmGrp2usr");
    member->set("Grp_no", com::Variant(group));
    member->set("Usr_No", user->get("Usr_No"));
    member->set("Priority", com::Variant("1"));
    com::Args join{com::Variant(std::static_pointer_cast<com::Object>(member)), com::Variant("")};
    std::string code = um->invoke("addGrp2Usr", com::MemberKind::Method, join).toString();
    if (code != "0" && code != "10025003")
      com::raise(com::kInvalidArgument, "tivel init", "administrator group " + std::string(group) + ": " + code);
  }
  std::cout << "admin:      " << account << " (added to groups 1 and 2)\n";
}

// Turns the opt-in account security on in the configuration, before any
// password is written.
void writeSecuritySettings(const std::string& ini, bool policy, bool hashing) {
  auto put = [&ini](const char* section, const char* key, const char* value) {
    if (!profile::writePrivateProfileString(section, key, value, ini))
      com::raise(com::kInvalidArgument, "tivel init", "cannot write " + ini);
  };
  if (policy) {
    put("Policy", "enforce", "1");
    std::cout << "policy:     enforced ([Policy] enforce=1)\n";
  }
  if (hashing) {
    put("Security", "password_hash", "argon2id");
    std::cout << "passwords:  stored as Argon2id hashes ([Security] password_hash=argon2id)\n";
  }
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd =
      app.add_subcommand("init", "Create a portal root: ini/, log/, db/, the configuration, schema and seed data");
  auto root = std::make_shared<std::string>();
  auto noSeed = std::make_shared<bool>(false);
  cmd->add_option("--root", *root, "Root directory R (default: the build's own)");
  cmd->add_flag("--no-seed", *noSeed, "Create the schemas only, without the groups and security attributes");
  auto admin = std::make_shared<std::string>();
  auto pwdStdin = std::make_shared<bool>(false);
  cmd->add_option("--admin", *admin, "Also register this administrator account (password from a prompt or stdin)");
  cmd->add_flag("--password-stdin", *pwdStdin, "Read the administrator's password from standard input");
  auto policy = std::make_shared<bool>(false);
  auto hashing = std::make_shared<bool>(false);
  cmd->add_flag("--policy", *policy, "Enforce the account policy: [Policy] enforce=1 in SysTivel.ini");
  cmd->add_flag("--hash-passwords", *hashing, "Store passwords as Argon2id hashes: [Security] password_hash=argon2id");
  cmd->callback([root, noSeed, admin, pwdStdin, policy, hashing] {
    mgt::InitOptions opt;
    opt.root = root->empty() ? defaultRoot() : *root;
    opt.seed = !*noSeed;
    try {
      mgt::InitReport r = mgt::initRoot(opt);
      std::cout << "root:       " << std::filesystem::absolute(opt.root).lexically_normal().string() << "\n"
                << "config:     " << r.iniPath << (r.wroteIni ? " (written)" : " (kept)") << "\n"
                << "database:   " << withoutPassword(r.connectionString) << (r.createdDatabaseFile ? " (created)" : "")
                << "\n"
                << "schema:     ready" << (opt.seed ? ", seeded" : "") << "\n";
      initFeeRoot(opt.root, withoutPassword);
      writeSecuritySettings(r.iniPath, *policy, *hashing);
      std::cout << "serve token: " << serveTokenPath(opt.root)
                << (ensureServeToken(opt.root) ? " (written)" : " (kept)") << "\n";
      std::cout << "tokens:     " << tokensPath(opt.root)
                << (registerPagesToken(opt.root) ? " (pages' token registered)" : " (kept)") << "\n";
      std::cout << "console key: " << consoleKeyPath(opt.root)
                << (ensureConsoleKey(opt.root) ? " (written)" : " (kept)") << "\n";
      if (!admin->empty()) {
        if (!opt.seed) com::raise(com::kInvalidArgument, "tivel init", "--admin needs the seed data (groups 1 to 3)");
        addAdministrator(*admin, readPassword("Password for " + *admin + ": ", *pwdStdin));
      }
    } catch (const com::ComError& e) {
      std::cerr << "tivel init: " << e.description() << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
