#include "mgt/init/root.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/init/role_check.h"
#include "mgt/init/root_access.h"
#include "mgt/init/schema.h"
#include "platform/ado/data_files.h"
#include "platform/com/error.h"
#include "platform/files/private_files.h"

namespace tivel::mgt {

namespace fs = std::filesystem;

std::string defaultSysTivelIni() {
  return ado::defaultConnectionIni(
             "1 = ODBC data source, 2 = ODBC driver and server, 3 = provider and database file in ../db/", "tivel.db") +
         "\r\n"
         "[product_name]\r\n"
         "name=Tivel\r\n"
         "version=1.0\r\n"
         "\r\n"
         "[setting]\r\n"
         "AppPath=\r\n"
         "WebPath=\r\n";
}

InitReport initRoot(const InitOptions& options) {
  InitReport report;
  fs::path root = fs::absolute(options.root).lexically_normal();
  const bool newRoot = !fs::exists(root);
  for (const char* dir : {"bin", "ini", "log", "db"}) {
    const bool made = !fs::exists(root / dir);
    if (!files::makePrivateDirectories((root / dir).string()))
      com::raise(com::kInvalidArgument, "tivel init",
                 "cannot create " + (root / dir).string() + ": " + std::strerror(errno));
    // The group is given the directories the data lives in, and those made now.
    if (!options.group.empty() && (made || std::string_view(dir) != "bin"))
      if (std::string change = shareDirectory((root / dir).string(), options.group); !change.empty())
        report.accessChanges.push_back(change);
  }
  if (newRoot && !options.group.empty()) shareDirectory(root.string(), options.group);
  for (std::string& change : secureRootData(root.string(), !options.group.empty(), options.ownerOnly))
    report.accessChanges.push_back(std::move(change));
  ::setenv("TIVEL_HOME", root.c_str(), 1);
  resetThreadState();

  fs::path ini = root / "ini" / "SysTivel.ini";
  report.iniPath = ini.string();
  const ado::PreparedFiles made = ado::prepareDataFiles(ini.string(), defaultSysTivelIni(), (root / "db").string());
  report.wroteIni = made.wroteIni;
  report.createdDatabaseFile = made.createdDatabaseFile;

  report.connectionString = GetConnectionString();
  auto conn = std::make_shared<ado::Connection>();
  conn->commandTimeout = 30;
  conn->open(ado::withConnectTimeout(report.connectionString, report.iniPath));
  applySchema(*conn, "mgt");
  if (options.seed) seedManagementData(*conn);
  report.roleWarnings = roleWarnings(*conn);
  conn->close();
  return report;
}

}  // namespace tivel::mgt
