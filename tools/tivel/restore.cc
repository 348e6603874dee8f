// tivel restore: a backup archive into a root's databases, on any engine.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "fee/schema.h"
#include "mgt/init/backup.h"
#include "mgt/init/root.h"
#include "platform/com/error.h"
#include "platform/files/private_files.h"
#include "tools/tivel/command.h"
#include "tools/tivel/root_databases.h"

namespace tivel::tool {
namespace {

namespace fs = std::filesystem;

// Writes the archive's INI files that the root does not have yet.
void restoreIniFiles(const std::string& root, const std::string& archive) {
  for (const mgt::ArchivedFile& f : mgt::archivedFiles(archive)) {
    const fs::path name = fs::path(f.path).filename();
    if (f.path != "ini/" + name.string() || name.extension() != ".ini")
      com::raise(com::kInvalidArgument, "tivel restore", "the archive names a file outside ini/: " + f.path);
    const fs::path target = fs::path(root) / "ini" / name;
    if (fs::exists(target)) {
      std::cout << "config:     " << target.string() << " (kept)\n";
      continue;
    }
    if (!files::makePrivateDirectories((fs::path(root) / "ini").string()) ||
        !files::writeNewPrivateFile(target.string(), f.text))
      com::raise(com::kInvalidArgument, "tivel restore", "cannot write " + target.string());
    std::cout << "config:     " << target.string() << " (from the archive)\n";
  }
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("restore",
                                 "Restore a backup archive into a root's databases (any engine), checking every table");
  auto root = std::make_shared<std::string>();
  auto archive = std::make_shared<std::string>();
  auto replace = std::make_shared<bool>(false);
  auto withIni = std::make_shared<bool>(false);
  auto verifyOnly = std::make_shared<bool>(false);
  cmd->add_option("ARCHIVE", *archive, "The archive tivel backup wrote")->required();
  cmd->add_option("--root", *root, "Portal root R (default: the installation's own)");
  cmd->add_flag("--replace", *replace, "Replace what the databases hold instead of refusing them");
  cmd->add_flag("--with-ini", *withIni, "First write the archive's INI files that the root does not have");
  cmd->add_flag("--verify", *verifyOnly, "Only check the archive (counts and checksums); write nothing");
  cmd->callback([=] {
    const std::string r = root->empty() ? defaultRoot() : *root;
    const bool tty = ::isatty(2);
    try {
      if (*verifyOnly) {
        mgt::ArchiveFigures f = mgt::verifyArchive(*archive);
        std::cout << "archive:    " << *archive << " (sound)\n"
                  << "tables:     " << f.tables << ", rows " << f.rows << ", values " << f.values << "\n";
        return;
      }
      mgt::verifyArchive(*archive);  // before anything of the root is made or changed
      if (*withIni) restoreIniFiles(r, *archive);
      // The root's directories, configuration, database files and tables, as
      // tivel init makes them, without seed rows.
      mgt::InitOptions init;
      init.root = r;
      init.seed = false;
      mgt::initRoot(init);
      gf::initFeeDatabase(fs::absolute(r).lexically_normal().string());
      mgt::RestoreOptions opt;
      opt.replace = *replace;
      opt.progress = [tty](const std::string& db, const std::string& t, long n) {
        if (tty) std::cerr << "\r\033[K" << db << "." << t << ": " << n << " rows" << std::flush;
      };
      mgt::ArchiveFigures f = mgt::restoreBackup(*archive, rootDatabases(r), opt);
      if (tty) std::cerr << "\r\033[K";
      std::cout << "restored:   " << *archive << " into " << fs::absolute(r).lexically_normal().string() << "\n"
                << "tables:     " << f.tables << ", rows " << f.rows << ", values " << f.values
                << " (counts and checksums read back)\n"
                << "time:       " << f.seconds << " s\n";
    } catch (const com::ComError& e) {
      if (tty) std::cerr << "\r\033[K";
      std::cerr << "tivel restore: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
