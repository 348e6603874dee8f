#include "fee/schema.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "fee/fee_scripts.h"
#include "fee/module.h"
#include "platform/ado/script.h"
#include "platform/com/error.h"
#include "platform/files/private_files.h"

namespace tivel::gf {

namespace fs = std::filesystem;

std::string defaultScrivaneIni() {
  return "[DB]\r\n"
         "; 1 = ODBC data source, 2 = provider with server and catalogue, 3 = provider and database file in ../db/\r\n"
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
         "Database=scrivane.db\r\n";
}

void applyFeeSchema(ado::Connection& conn) {
  std::string dialect = conn.backend().dialect();
  for (const detail::FeeScript& s : detail::feeScripts()) {
    if (dialect != s.dialect) continue;
    for (const std::string& stmt : ado::scriptStatements(s.text)) conn.execute(stmt);
    return;
  }
  com::raise(com::kInvalidArgument, "TivelGF", "No fee schema for the database dialect " + dialect);
}

FeeInitReport initFeeDatabase(const std::string& root) {
  FeeInitReport report;
  fs::path base = fs::absolute(root).lexically_normal();
  ::setenv("TIVEL_HOME", base.c_str(), 1);
  resetThreadState();

  fs::path ini = base / "ini" / "Scrivane.ini";
  report.iniPath = ini.string();
  if (!fs::exists(ini)) {
    if (!files::writeNewPrivateFile(ini.string(), defaultScrivaneIni()))
      com::raise(com::kInvalidArgument, "tivel init", "cannot write " + ini.string() + ": " + std::strerror(errno));
    report.wroteIni = true;
  }

  // The embedded engine opens only existing files; a new root gets an empty one.
  if (ReadIniString(ini.string(), "DB", "mode") == "3") {
    std::string file = ReadIniString(ini.string(), "DBCONN_mdb_drive", "Database");
    if (file.empty())
      com::raise(com::kInvalidArgument, "tivel init", "DBCONN_mdb_drive/Database is empty in " + ini.string());
    fs::path db = base / "db" / file;
    if (!fs::exists(db)) {
      if (!files::writeNewPrivateFile(db.string(), ""))
        com::raise(com::kInvalidArgument, "tivel init", "cannot create " + db.string() + ": " + std::strerror(errno));
      report.createdDatabaseFile = true;
    }
  }

  report.connectionString = GetConnectionString();
  ado::Connection conn;
  conn.commandTimeout = 30;
  conn.open(report.connectionString);
  applyFeeSchema(conn);
  conn.close();
  resetThreadState();
  return report;
}

}  // namespace tivel::gf
