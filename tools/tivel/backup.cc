// tivel backup: a consistent copy of a root's databases, taken while the
// portal runs, in the portable archive that tivel restore reads on any engine.
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <iostream>

#include "mgt/init/backup.h"
#include "platform/com/error.h"
#include "tools/tivel/command.h"
#include "tools/tivel/root_databases.h"

namespace tivel::tool {
namespace {

std::string defaultOutput() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char name[64];
  std::strftime(name, sizeof name, "tivel-%Y%m%d-%H%M%S.backup", &tm);
  return name;
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "backup", "Copy a root's databases (management and fee) into one archive, consistently, while the portal runs");
  auto root = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  auto withIni = std::make_shared<bool>(false);
  auto withPasswords = std::make_shared<bool>(false);
  cmd->add_option("--root", *root, "Portal root R (default: the installation's own)");
  cmd->add_option("--output,-o", *output, "The archive to write (default: tivel-YYYYMMDD-HHMMSS.backup here)");
  auto* ini = cmd->add_flag("--with-ini", *withIni, "Also carry the root's INI files, their passwords left empty");
  cmd->add_flag("--with-passwords", *withPasswords, "With --with-ini: keep the INI files' passwords")->needs(ini);
  cmd->callback([=] {
    const std::string r = root->empty() ? defaultRoot() : *root;
    const std::string out = output->empty() ? defaultOutput() : *output;
    const bool tty = ::isatty(2);
    try {
      if (!std::filesystem::is_directory(std::filesystem::path(r) / "ini"))
        com::raise(com::kInvalidArgument, "tivel backup", r + " is not a portal root (no ini/)");
      auto dbs = rootDatabases(r);
      auto files = *withIni ? rootIniFiles(r, *withPasswords) : std::vector<mgt::ArchivedFile>{};
      mgt::ArchiveFigures f =
          mgt::writeBackup(dbs, files, out, [tty](const std::string& db, const std::string& t, long n) {
            if (tty) std::cerr << "\r\033[K" << db << "." << t << ": " << n << " rows" << std::flush;
          });
      if (tty) std::cerr << "\r\033[K";
      std::cout << "archive:    " << out << "\n"
                << "tables:     " << f.tables << ", rows " << f.rows << ", values " << f.values << "\n"
                << "files:      " << files.size() << "\n"
                << "time:       " << f.seconds << " s\n";
    } catch (const com::ComError& e) {
      if (tty) std::cerr << "\r\033[K";
      std::cerr << "tivel backup: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
