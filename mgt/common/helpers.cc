#include "mgt/common/helpers.h"

#include <cstdio>
#include <filesystem>

#include "mgt/common/module.h"
#include "mgt/common/trace.h"
#include "platform/ado/data_files.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "platform/com/text.h"
#include "platform/files/private_files.h"
#include "platform/profile/daily_log.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {

std::string GetConnectionString() {
  const std::string& ini = configPath();
  auto v = [&](const char* section, const char* key) { return ReadIniString(ini, section, key); };
  switch (ado::iniMode(ini)) {
    case 1: return ado::dsnConnectionString(ini);
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
    std::string cs = ado::withConnectTimeout(GetConnectionString(), configPath());
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
  return profile::readIniValue(path, section, key);
}

std::string TrimAtNull(std::string_view s) { return profile::textBeforeNul(s); }

std::string QuoteSql(std::string_view s) { return com::doubleSingleQuotes(s); }

bool RowExists(const std::string& table, const std::string& column, const std::string& value) {
  auto rs = sharedConnection()->execute("Select Count(*) from " + table + " where " + column + "='" + value + "' ");
  bool one = !rs->eof() && rs->value(0).looseEquals(com::Variant(int32_t{1}));
  rs->close();
  return one;
}

void WriteFileLog(const std::string& message) {
  const com::DateTime now = com::DateTime::now();
  profile::appendDailyLog(componentDir() + "/../log", "log", now, message + "   SysTivel" + now.text() + "\r\n",
                          "TivelMgt");
}

}  // namespace tivel::mgt
