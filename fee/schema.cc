#include "fee/schema.h"

#include <cstdlib>
#include <filesystem>

#include "fee/fee_scripts.h"
#include "fee/module.h"
#include "platform/ado/data_files.h"
#include "platform/ado/script.h"
#include "platform/com/error.h"

namespace tivel::gf {

namespace fs = std::filesystem;

std::string defaultScrivaneIni() {
  return ado::defaultConnectionIni(
      "1 = ODBC data source, 2 = provider with server and catalogue, 3 = provider and database file in ../db/",
      "scrivane.db");
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
  const ado::PreparedFiles made = ado::prepareDataFiles(ini.string(), defaultScrivaneIni(), (base / "db").string());
  report.wroteIni = made.wroteIni;
  report.createdDatabaseFile = made.createdDatabaseFile;

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
