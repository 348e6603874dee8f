#include "mgt/common/helpers.h"

#include <cstdio>
#include <filesystem>

#include "mgt/common/module.h"
#include "mgt/common/trace.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "platform/files/private_files.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {

std::string GetConnectionString() {
  const std::string& ini = configPath();
  int mode = com::Variant(ReadIniString(ini, "DB", "mode")).toInteger();
  auto v = [&](const char* section, const char* key) { return ReadIniString(ini, section, key); };
  switch (mode) {
    case 1:
      return "dsn=" + v("DBCONN_dsn", "DSN") + ";uid=" + v("DBCONN_dsn", "uid") + ";pwd=" + v("DBCONN_dsn", "pwd") +
             ";";
    case 2:
      return "DRIVER=" + v("DBCONN_sql_drive", "DRIVER") + "; server=" + v("DBCONN_sql_drive", "SERVER") +
             ";uid=" + v("DBCONN_sql_drive", "uid") + ";PASSWORD=" + v("DBCONN_sql_drive", "pwd") +
             ";DATABASE=" + v("DBCONN_sql_drive", "Database");
    case 3:
      return "PROVIDER=" + v("DBCONN_mdb_drive", "PROVIDER") + "; Data Source=" + componentDir() + "/../db/" +
             v("DBCONN_mdb_drive", "Database") + ";";
    default: return "";
  }
}

bool OpenDatabase(std::string* why) {
  auto failed = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  try {
    auto conn = std::make_shared<ado::Connection>();
    setSharedConnection(conn);
    std::string cs = GetConnectionString();
    conn->cursorLocation = ado::adUseClient;
    conn->commandTimeout = 10;
    conn->connectionString = cs;
    conn->open(cs, "", "", -1);
    return true;
  } catch (const com::ComError& e) {
    traceTrapped("False", __func__);
    return failed(e.source() + ": " + e.description());
  } catch (const std::exception& e) {
    traceTrapped("False", __func__);
    return failed(e.what());
  } catch (...) {
    traceTrapped("False", __func__);
    return failed("unknown failure");
  }
}

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key) {
  std::string value = profile::readProfileString(path, section, key);
  value = TrimAtNull(value);
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

std::string TrimAtNull(std::string_view s) {
  auto p = s.find('\0');
  return std::string(p == std::string_view::npos ? s : s.substr(0, p));
}

std::string QuoteSql(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

bool RowExists(const std::string& table, const std::string& column, const std::string& value) {
  auto rs = sharedConnection()->execute("Select Count(*) from " + table + " where " + column + "='" + value + "' ");
  bool one = !rs->eof() && rs->value(0).looseEquals(com::Variant(int32_t{1}));
  rs->close();
  return one;
}

void WriteFileLog(const std::string& message) {
  namespace fs = std::filesystem;
  com::DateTime now = com::DateTime::now();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d", now.year, now.month, now.day);
  fs::path dir = (fs::path(componentDir()) / ".." / "log").lexically_normal();
  files::makePrivateDirectories(dir.string());
  fs::path file = dir / (std::string("log") + stamp + ".txt");
  switch (files::appendToPrivateFile(file.string(), message + "   SysTivel" + now.text() + "\r\n")) {
    case files::Append::NotOpened: com::raise(com::kFileNotFound, "TivelMgt", "File not found: " + file.string());
    case files::Append::NotWritten:
      com::raise(static_cast<int32_t>(0x800A0039), "TivelMgt", "Device I/O error: " + file.string());
    case files::Append::Done: break;
  }
}

}  // namespace tivel::mgt
