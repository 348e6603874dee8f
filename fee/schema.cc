#include "fee/schema.h"

#include <cstdlib>
#include <filesystem>

#include "fee/fee_scripts.h"
#include "fee/module.h"
#include "platform/ado/data_files.h"
#include "platform/ado/recordset.h"
#include "platform/ado/script.h"
#include "platform/com/error.h"

namespace tivel::gf {

namespace fs = std::filesystem;

std::string defaultScrivaneIni() {
  return ado::defaultConnectionIni(
      "1 = ODBC data source, 2 = provider with server and catalogue, 3 = provider and database file in ../db/",
      "scrivane.db");
}

namespace {

// Whether every table the script creates is there already.
bool tablesPresent(ado::Connection& conn, const std::vector<std::string>& statements) {
  static const std::string kCreate = "CREATE TABLE IF NOT EXISTS ";
  for (const std::string& stmt : statements) {
    const size_t at = stmt.find(kCreate);
    if (at == std::string::npos) continue;
    const size_t from = at + kCreate.size();
    const std::string table = stmt.substr(from, stmt.find_first_of(" (\t\r\n", from) - from);
    try {
      conn.execute("select * from " + table + " where 1 = 0")->close();
    } catch (const com::ComError&) {
      return false;
    }
  }
  return true;
}

}  // namespace

void applyFeeSchema(ado::Connection& conn) {
  std::string dialect = conn.backend().dialect();
  for (const detail::FeeScript& s : detail::feeScripts()) {
    if (dialect != s.dialect) continue;
    const std::vector<std::string> statements = ado::scriptStatements(s.text);
    // The portal's own role, which may not create anything, fails the
    // script; with every table there, its database works as it is.
    try {
      for (const std::string& stmt : statements) conn.execute(stmt);
    } catch (const com::ComError&) {
      if (!tablesPresent(conn, statements)) throw;
    }
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
