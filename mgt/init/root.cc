#include "mgt/init/root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/init/role_check.h"
#include "mgt/init/schema.h"
#include "platform/com/error.h"

namespace tivel::mgt {

namespace fs = std::filesystem;

std::string defaultSysTivelIni() {
  return "[DB]\r\n"
         "; 1 = ODBC data source, 2 = ODBC driver and server, 3 = provider and database file in ../db/\r\n"
         "mode=3\r\n"
         "\r\n"
         "[DBCONN_dsn]\r\n"
         "DSN=\r\n"
         "uid=\r\n"
         "pwd=\r\n"
         "\r\n"
         "[DBCONN_sql_drive]\r\n"
         "DRIVER=\r\n"
         "SERVER=\r\n"
         "uid=\r\n"
         "pwd=\r\n"
         "Database=\r\n"
         "\r\n"
         "[DBCONN_mdb_drive]\r\n"
         "PROVIDER=SQLite\r\n"
         "Database=tivel.db\r\n"
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
  std::error_code ec;
  for (const char* dir : {"bin", "ini", "log", "db"}) {
    fs::create_directories(root / dir, ec);
    if (ec)
      com::raise(com::kInvalidArgument, "tivel init", "cannot create " + (root / dir).string() + ": " + ec.message());
  }
  ::setenv("TIVEL_HOME", root.c_str(), 1);
  resetThreadState();

  fs::path ini = root / "ini" / "SysTivel.ini";
  report.iniPath = ini.string();
  if (!fs::exists(ini)) {
    std::ofstream out(ini, std::ios::binary);
    out << defaultSysTivelIni();
    if (!out) com::raise(com::kInvalidArgument, "tivel init", "cannot write " + ini.string());
    report.wroteIni = true;
  }

  // The embedded engine opens only existing files; a new portal gets an
  // empty one.
  if (ReadIniString(ini.string(), "DB", "mode") == "3") {
    std::string file = ReadIniString(ini.string(), "DBCONN_mdb_drive", "Database");
    if (file.empty())
      com::raise(com::kInvalidArgument, "tivel init", "DBCONN_mdb_drive/Database is empty in " + ini.string());
    fs::path db = root / "db" / file;
    if (!fs::exists(db)) {
      std::ofstream touch(db, std::ios::binary);
      if (!touch) com::raise(com::kInvalidArgument, "tivel init", "cannot create " + db.string());
      report.createdDatabaseFile = true;
    }
  }

  report.connectionString = GetConnectionString();
  auto conn = std::make_shared<ado::Connection>();
  conn->commandTimeout = 30;
  conn->open(report.connectionString);
  applySchema(*conn, "mgt");
  if (options.seed) seedManagementData(*conn);
  report.roleWarnings = roleWarnings(*conn);
  conn->close();
  return report;
}

}  // namespace tivel::mgt
