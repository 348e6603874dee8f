#include "platform/ado/data_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/ado/connection_string.h"
#include "platform/com/error.h"
#include "platform/com/variant.h"
#include "platform/files/private_files.h"
#include "platform/profile/profile.h"

namespace tivel::ado {

namespace fs = std::filesystem;

std::string defaultConnectionIni(const std::string& modesComment, const std::string& databaseFile) {
  return "[DB]\r\n; " + modesComment +
         "\r\n"
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
         "Database=" +
         databaseFile + "\r\n";
}

PreparedFiles prepareDataFiles(const std::string& iniPath, const std::string& defaultText, const std::string& dbDir) {
  PreparedFiles made;
  auto fail = [](const std::string& what, const std::string& path) {
    com::raise(com::kInvalidArgument, "tivel init", what + " " + path + ": " + std::strerror(errno));
  };
  if (!fs::exists(iniPath)) {
    if (!files::writeNewPrivateFile(iniPath, defaultText)) fail("cannot write", iniPath);
    made.wroteIni = true;
  }
  if (profile::readIniValue(iniPath, "DB", "mode") != "3") return made;
  const std::string file = profile::readIniValue(iniPath, "DBCONN_mdb_drive", "Database");
  if (file.empty()) com::raise(com::kInvalidArgument, "tivel init", "DBCONN_mdb_drive/Database is empty in " + iniPath);
  const std::string db = (fs::path(dbDir) / file).string();
  if (!fs::exists(db)) {
    if (!files::writeNewPrivateFile(db, "")) fail("cannot create", db);
    made.createdDatabaseFile = true;
  }
  return made;
}

int iniMode(const std::string& iniPath) {
  return com::Variant(profile::readIniValue(iniPath, "DB", "mode")).toInteger();
}

int iniConnectTimeout(const std::string& iniPath) {
  const char* section = iniMode(iniPath) == 1 ? "DBCONN_dsn" : "DBCONN_sql_drive";
  const std::string v = profile::readIniValue(iniPath, section, "ConnectTimeout");
  if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos)
    return kDefaultConnectTimeout;
  return std::stoi(v);
}

std::string withConnectTimeout(const std::string& connectionString, const std::string& iniPath) {
  if (connectionString.empty() || iniMode(iniPath) == 3 ||
      ConnectionString::parse(connectionString).has("Connect Timeout"))
    return connectionString;
  std::string out = connectionString;
  if (out.back() != ';') out += ';';
  return out + "Connect Timeout=" + std::to_string(iniConnectTimeout(iniPath)) + ";";
}

std::string dsnConnectionString(const std::string& iniPath) {
  auto v = [&](const char* key) { return profile::readIniValue(iniPath, "DBCONN_dsn", key); };
  return "dsn=" + v("DSN") + ";uid=" + v("uid") + ";pwd=" + v("pwd") + ";";
}

}  // namespace tivel::ado
