// tivel log prune: keeps the system log (SysLog) and the daily log files of
// a root from growing for ever.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/init/log_retention.h"
#include "platform/ado/connection.h"
#include "platform/com/error.h"
#include "platform/profile/daily_log.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

namespace fs = std::filesystem;

const CommandRegistrar reg([](CLI::App& app) {
  auto* log = app.add_subcommand("log", "The root's system log and daily log files");
  log->require_subcommand(1);
  auto* prune = log->add_subcommand(
      "prune", "Delete system-log entries before a date (in batches) and daily log files beyond [Log] keep_days");
  auto root = std::make_shared<std::string>();
  auto before = std::make_shared<std::string>();
  auto batch = std::make_shared<int>(1000);
  auto files = std::make_shared<bool>(false);
  auto keepDays = std::make_shared<int>(-1);
  prune->add_option("--root", *root, "Portal root R (default: the installation's own)");
  prune->add_option("--before", *before, "Delete SysLog entries written before this date (YYYY-MM-DD[ HH:MM:SS])");
  prune->add_option("--batch", *batch, "Entries deleted per transaction (default 1000)")->check(CLI::PositiveNumber);
  auto* filesFlag = prune->add_flag("--files", *files,
                                    "Delete daily files (log/logYYYYMMDD.txt, log/logScrivaneYYYYMMDD.txt) older "
                                    "than [Log] keep_days of SysTivel.ini");
  prune->add_option("--keep-days", *keepDays, "With --files: days of files to keep instead of [Log] keep_days")
      ->check(CLI::PositiveNumber)
      ->needs(filesFlag);
  prune->callback([=] {
    if (before->empty() && !*files)
      throw CLI::ValidationError("tivel log prune", "give --before DATE, --files, or both");
    const std::string r = fs::absolute(root->empty() ? defaultRoot() : *root).lexically_normal().string();
    try {
      if (!before->empty()) {
        com::DateTime until;
        if (!com::DateTime::parse(*before, &until))
          throw CLI::ValidationError("--before", "'" + *before + "' is not a date (YYYY-MM-DD[ HH:MM:SS])");
        ::setenv("TIVEL_HOME", r.c_str(), 1);
        mgt::resetThreadState();
        ado::Connection conn;
        conn.open(mgt::GetConnectionString());
        const bool tty = ::isatty(2);
        long n = mgt::pruneSystemLog(conn, until, *batch, [tty](long total) {
          if (tty) std::cerr << "\r\033[K" << total << " entries deleted" << std::flush;
        });
        if (tty) std::cerr << "\r\033[K";
        conn.close();
        std::cout << "system log: " << n << " entries before " << until.text() << " deleted\n";
      }
      if (*files) {
        const std::string dir = r + "/log";
        const int keep = *keepDays > 0 ? *keepDays : profile::dailyLogKeepDays(dir);
        if (keep <= 0) {
          std::cout << "log files:  kept (no [Log] keep_days in " << r << "/ini/SysTivel.ini, and no --keep-days)\n";
        } else {
          const com::DateTime now = com::DateTime::now();
          int n = 0;
          for (const char* prefix : {"log", "logScrivane"}) n += profile::pruneDailyLogs(dir, prefix, now, keep);
          std::cout << "log files:  " << n << " deleted, the last " << keep << " days kept\n";
        }
      }
    } catch (const com::ComError& e) {
      std::cerr << "tivel log prune: " << com::describe(e) << " (" << e.source() << ", " << e.number() << ")\n";
      throw CLI::RuntimeError(1);
    }
  });
});

}  // namespace
}  // namespace tivel::tool
