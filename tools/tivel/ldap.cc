// tivel ldap test ACCOUNT: what the [LDAP] configuration does with an account
// (password on standard input). tivel ldap import --org ORG_NO [--filter F]:
// the directory's people into the portal, linking existing accounts only when
// told (--link, --link-all), or with --dry-run what it would do.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "mgt/admin/directory.h"
#include "mgt/admin/directory_import.h"
#include "mgt/common/module.h"
#include "mgt/common/security_options.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "platform/com/variant.h"
#include "records/record.h"
#include "tools/tivel/command.h"
#include "tools/tivel/password.h"

namespace tivel::tool {
namespace {

// Points the components at the root given (TIVEL_HOME), and starts this thread's module.
void start(const std::string& root) {
  if (!root.empty()) ::setenv("TIVEL_HOME", std::filesystem::absolute(root).c_str(), 1);
  mgt::resetThreadState();
  mgt::startUp();
}

const mgt::DirectoryOptions& configured(const char* command) {
  const mgt::DirectoryOptions& d = mgt::securityOptions().directory;
  if (!d.enabled()) {
    std::cerr << "tivel ldap " << command << ": no [LDAP] url in " << mgt::configPath() << "\n";
    throw CLI::RuntimeError(1);
  }
  return d;
}

const char* outcomeText(mgt::directory::Outcome o) {
  switch (o) {
    case mgt::directory::Outcome::Accepted: return "accepted";
    case mgt::directory::Outcome::Refused: return "refused";
    case mgt::directory::Outcome::Unavailable: return "unavailable";
  }
  return "";
}

// The directory account the login would use for a portal account, and why.
std::string directoryAccountOf(const std::string& account, const mgt::DirectoryOptions& d, std::string* how) {
  com::ObjectPtr um = com::CreateObject("TivelMgt.UmMgt");
  auto user = records::recordArg(um->call("getUsrByAccount", {com::Variant(account)}), "cUmUsr");
  if (!user) {
    *how = "no portal user has this account; tried as a directory account";
    return account;
  }
  std::string usrNo = user->get("Usr_No").toString();
  std::string mapped = um->call("getUsrSecValue", {com::Variant("LdapAcnt"), com::Variant(usrNo)}).toString();
  if (!mapped.empty()) {
    *how = "portal user " + usrNo + ", directory account from LdapAcnt";
    return mapped;
  }
  *how = d.allUsers
             ? "portal user " + usrNo + ", all_users=1"
             : "portal user " + usrNo + ", not covered (the stored password decides); tried as a directory account";
  return account;
}

void testCommand(CLI::App& ldap) {
  auto* cmd = ldap.add_subcommand("test", "Check an account's password against the directory (password on stdin)");
  auto account = std::make_shared<std::string>();
  auto root = std::make_shared<std::string>();
  cmd->add_option("ACCOUNT", *account, "The portal account (or a directory account)")->required();
  cmd->add_option("--root", *root, "Portal root R (default: the installation's own)");
  cmd->callback([=] {
    std::string pwd = readPassword("Directory password for " + *account + ": ", false);
    try {
      start(*root);
      const mgt::DirectoryOptions d = configured("test");
      std::string how;
      std::string mapped = directoryAccountOf(*account, d, &how);
      mgt::directory::Check c = mgt::directory::verify(d, mapped, pwd);
      std::cout << "directory:  " << d.url << (d.startTls ? " (StartTLS)" : "") << "\n"
                << "account:    " << mapped << " (" << how << ")\n"
                << "entry:      " << (c.entry.empty() ? "none found" : c.entry) << "\n"
                << "bind:       " << outcomeText(c.outcome) << (c.cause.empty() ? "" : ": " + c.cause) << "\n"
                << "time:       " << c.elapsedMs << " ms (limit " << d.timeoutMs << " ms)\n";
      mgt::resetThreadState();
      if (c.outcome != mgt::directory::Outcome::Accepted)
        throw CLI::RuntimeError(c.outcome == mgt::directory::Outcome::Refused ? 2 : 1);
    } catch (const com::ComError& e) {
      std::cerr << "tivel ldap test: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
}

// "N (a, b, c)": a count and the accounts.
std::string listed(const std::vector<std::string>& accounts) {
  std::string text;
  for (const auto& a : accounts) text += (text.empty() ? " (" : ", ") + a;
  return std::to_string(accounts.size()) + (text.empty() ? text : text + ")");
}

void importCommand(CLI::App& ldap) {
  auto* cmd = ldap.add_subcommand("import", "Add the directory's people to the portal, or update them; idempotent");
  auto request = std::make_shared<mgt::directory::ImportRequest>();
  auto links = std::make_shared<std::vector<std::string>>();
  auto root = std::make_shared<std::string>();
  cmd->add_option("--org", request->orgNo, "The organisation (Org_No) the people join")->required();
  cmd->add_option("--filter", request->filter,
                  "The search filter that selects the people (default: (objectClass=person))");
  cmd->add_option("--link", *links, "Link this existing portal account to its directory entry (repeatable)");
  cmd->add_flag("--link-all", request->linkAll,
                "Link every existing portal account the directory lists, administrators excepted");
  cmd->add_flag("--dry-run", request->dryRun, "Print what the import would do; write nothing");
  cmd->add_option("--page-size", request->pageSize,
                  "Entries per page of the directory search (default 500; 0: one unpaged search)")
      ->check(CLI::Range(0, 100000));
  cmd->add_option("--root", *root, "Portal root R (default: the installation's own)");
  cmd->callback([=] {
    try {
      start(*root);
      const mgt::DirectoryOptions d = configured("import");
      mgt::directory::ImportRequest r = *request;
      r.links.insert(links->begin(), links->end());
      // Progress only where someone watches: on a terminal, on standard error.
      const bool tty = ::isatty(STDERR_FILENO) == 1;
      if (tty) r.onPage = [](size_t n) { std::cerr << "\rsearching:  " << n << " entries" << std::flush; };
      mgt::directory::ImportReport out = mgt::directory::importPeople(d, r);
      if (tty) std::cerr << "\n";
      const char* would = r.dryRun ? " (dry run: nothing written)" : "";
      std::cout << "found:      " << out.found << " entries" << would << "\n"
                << (r.dryRun ? "would add:  " : "added:      ") << listed(out.added) << "\n"
                << (r.dryRun ? "would link: " : "linked:     ") << listed(out.linked) << "\n"
                << (r.dryRun ? "would update: " : "updated:    ") << listed(out.updated) << "\n"
                << "unchanged:  " << out.unchanged << "\n"
                << "conflicts:  " << listed(out.conflicts)
                << (out.conflicts.empty() ? ""
                                          : ": existing portal accounts left unlinked (--link ACCOUNT, --link-all)")
                << "\n";
      if (!out.administrators.empty())
        std::cout << "of them administrators: " << listed(out.administrators) << ": linked only by --link\n";
      mgt::resetThreadState();
    } catch (const com::ComError& e) {
      std::cerr << "tivel ldap import: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("ldap", "Directory login: try an account, import the directory's people");
  cmd->require_subcommand(1);
  testCommand(*cmd);
  importCommand(*cmd);
});

}  // namespace
}  // namespace tivel::tool
