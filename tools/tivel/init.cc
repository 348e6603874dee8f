// tivel init: creates a portal root with its configuration and database.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/password_rules.h"
#include "mgt/common/module.h"
#include "platform/codes/result_codes.h"
#include "mgt/common/security_options.h"
#include "mgt/init/root.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "records/record.h"
#include "tools/tivel/command.h"
#include "tools/tivel/init_fee.h"
#include "tools/tivel/password.h"
#include "tools/tivel/serve/console/key.h"
#include "tools/tivel/serve/console/session.h"
#include "tools/tivel/serve/login_audit.h"
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
  mgt::checkPasswordRules("", pwd);
  if (!admin->addUsr(account, pwd, "系统管理员", "", "", "", "", ""))
    com::raise(com::kInvalidArgument, "tivel init", "the administrator account could not be added");
  auto user = records::recordArg(um->invoke("getUsrByAccount", com::MemberKind::Method, byAccount), "cUmUsr");
  mgt::rememberPassword(user->get("Usr_No").toString(), pwd);
  for (const char* group : {"1", "2"}) {
    auto member = records::newRecord("cUmGrp2usr");
    member->set("Grp_no", com::Variant(group));
    member->set("Usr_No", user->get("Usr_No"));
    member->set("Priority", com::Variant("1"));
    com::Args join{com::Variant(std::static_pointer_cast<com::Object>(member)), com::Variant("")};
    std::string code = um->invoke("addGrp2Usr", com::MemberKind::Method, join).toString();
    if (code != "0" && code != codes::kAddGrp2UsrExists)
      com::raise(com::kInvalidArgument, "tivel init", "administrator group " + std::string(group) + ": " + code);
  }
  std::cout << "admin:      " << account << " (added to groups 1 and 2)\n";
}

// What `tivel init --policy` seeds unless told otherwise: a lock after 5
// wrong passwords in a row, lasting 15 minutes.
constexpr long kLockAfter = 5;
constexpr int kLockMinutes = 15;

// The lockout the enforced policy applies, set as an administrator sets it:
// the security attribute definition LogErrLockNum ("4") in force with the
// threshold as its default value (a user's own value still wins), and
// [Policy] lock_minutes. A threshold or lock time the root has already is
// kept unless the option gives one.
void seedLockout(const std::string& ini, std::optional<long> after, std::optional<int> minutes) {
  mgt::resetThreadState();
  auto um = com::CreateObject("TivelMgt.UmMgt");
  com::Args key{com::Variant("4")};
  auto definition = records::recordArg(um->invoke("getUsa", com::MemberKind::Method, key), "cUmUsrSecAttr");
  if (!definition) {
    if (after) com::raise(com::kInvalidArgument, "tivel init", "--lock-after needs the seed data (LogErrLockNum)");
    std::cout << "lockout:    not seeded (no LogErrLockNum definition: the root has no seed data)\n";
  } else {
    const com::Variant inForce = definition->get("IsAvail");
    const com::Variant current = definition->get("Default_Value");
    const bool set = inForce.looksNumeric() && inForce.toDouble() != 0 && !current.isNull() && !current.isBlank();
    if (after || !set) {
      definition->set("Default_Value", com::Variant(std::to_string(after.value_or(kLockAfter))));
      definition->set("IsAvail", com::Variant(int32_t{1}));
      com::Args update{com::Variant(std::static_pointer_cast<com::Object>(definition)), com::Variant("4")};
      std::string code = um->invoke("updateUsa", com::MemberKind::Method, update).toString();
      if (code != "0") com::raise(com::kInvalidArgument, "tivel init", "LogErrLockNum could not be set: " + code);
    }
    std::cout << "lockout:    after " << definition->get("Default_Value").toString()
              << " wrong passwords in a row (LogErrLockNum" << (after || !set ? "" : ", kept") << ")\n";
  }
  std::string kept = profile::readProfileString(ini, "Policy", "lock_minutes");
  if (minutes || kept.empty()) {
    kept = std::to_string(minutes.value_or(kLockMinutes));
    if (!profile::writePrivateProfileString("Policy", "lock_minutes", kept, ini))
      com::raise(com::kInvalidArgument, "tivel init", "cannot write " + ini);
    std::cout << "lock time:  " << kept << " minutes ([Policy] lock_minutes=" << kept << ")\n";
  } else {
    std::cout << "lock time:  [Policy] lock_minutes=" << kept << " (kept)\n";
  }
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
  auto* policyFlag = cmd->add_flag("--policy", *policy,
                                   "Enforce the account policy: [Policy] enforce=1 in SysTivel.ini, and a lockout");
  auto lockAfter = std::make_shared<long>(kLockAfter);
  auto lockMinutes = std::make_shared<int>(kLockMinutes);
  auto* lockAfterOption = cmd->add_option("--lock-after", *lockAfter,
                                          "With --policy: wrong passwords in a row that lock (default 5; 0: never)")
                              ->check(CLI::NonNegativeNumber)
                              ->needs(policyFlag);
  auto* lockMinutesOption = cmd->add_option("--lock-minutes", *lockMinutes,
                                            "With --policy: how long a lock lasts (default 15; 0: until reset)")
                                ->check(CLI::NonNegativeNumber)
                                ->needs(policyFlag);
  cmd->add_flag("--hash-passwords", *hashing, "Store passwords as Argon2id hashes: [Security] password_hash=argon2id");
  auto group = std::make_shared<std::string>();
  cmd->add_option("--group", *group,
                  "Share the root's data with this group for reading (directories 2750, files 0640)");
  cmd->callback([root, noSeed, admin, pwdStdin, policy, hashing, lockAfter, lockMinutes, lockAfterOption,
                 lockMinutesOption, group] {
    mgt::InitOptions opt;
    opt.root = root->empty() ? defaultRoot() : *root;
    opt.seed = !*noSeed;
    opt.group = *group;
    // The gateway reads its tokens and the console its key only while they
    // are their owner's alone.
    opt.ownerOnly = {serveTokenPath(opt.root), tokensPath(opt.root), consoleKeyPath(opt.root)};
    // The administrator's password, asked before anything is made: never
    // empty, and without a terminal only from --password-stdin (an empty
    // line there is what `echo "$UNSET"` sends).
    std::string adminPassword;
    if (!admin->empty()) {
      if (!*pwdStdin && !isatty(STDIN_FILENO)) {
        std::cerr << "tivel init: --admin without a terminal needs --password-stdin\n";
        throw CLI::RuntimeError(2);
      }
      adminPassword = readPassword("Password for " + *admin + ": ", *pwdStdin);
      if (adminPassword.empty()) {
        std::cerr << "tivel init: the administrator's password is empty; nothing was done\n";
        throw CLI::RuntimeError(2);
      }
    }
    try {
      mgt::InitReport r = mgt::initRoot(opt);
      std::cout << "root:       " << std::filesystem::absolute(opt.root).lexically_normal().string() << "\n";
      for (const std::string& change : r.accessChanges) std::cout << "access:     " << change << "\n";
      std::cout << "config:     " << r.iniPath << (r.wroteIni ? " (written)" : " (kept)") << "\n"
                << "database:   " << withoutPassword(r.connectionString) << (r.createdDatabaseFile ? " (created)" : "")
                << "\n"
                << "schema:     ready" << (opt.seed ? ", seeded" : "") << "\n";
      for (const std::string& w : r.roleWarnings) std::cerr << "tivel init: warning: " << w << "\n";
      initFeeRoot(opt.root, withoutPassword);
      writeSecuritySettings(r.iniPath, *policy, *hashing);
      for (const std::string& problem : audit::identitySettingProblems(r.iniPath)) {
        std::cerr << "tivel init: in " << r.iniPath << ": " << problem << "\n";
        throw CLI::RuntimeError(1);
      }
      // [Console] as tivel serve reads it: a value it would refuse stops init too.
      try {
        readConsoleSettings(r.iniPath);
      } catch (const std::runtime_error& e) {
        std::cerr << "tivel init: in " << r.iniPath << ": " << e.what() << "\n";
        throw CLI::RuntimeError(1);
      }
      if (*policy)
        seedLockout(r.iniPath, lockAfterOption->count() ? std::optional<long>(*lockAfter) : std::nullopt,
                    lockMinutesOption->count() ? std::optional<int>(*lockMinutes) : std::nullopt);
      std::cout << "serve token: " << serveTokenPath(opt.root)
                << (ensureServeToken(opt.root) ? " (written)" : " (kept)") << "\n";
      std::cout << "tokens:     " << tokensPath(opt.root)
                << (registerPagesToken(opt.root) ? " (pages' token registered)" : " (kept)") << "\n";
      std::cout << "console key: " << consoleKeyPath(opt.root)
                << (ensureConsoleKey(opt.root) ? " (written)" : " (kept)") << "\n";
      if (!admin->empty()) {
        if (!opt.seed) com::raise(com::kInvalidArgument, "tivel init", "--admin needs the seed data (groups 1 to 3)");
        addAdministrator(*admin, adminPassword);
      }
    } catch (const com::ComError& e) {
      std::cerr << "tivel init: " << e.description() << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
