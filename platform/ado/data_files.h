// The files a component's database set-up starts from: its INI file and,
// for the embedded engine, the database file it names.
#pragma once

#include <string>

namespace tivel::ado {

// The connection part of a component's default INI file: [DB] mode=3 with the
// given comment on the modes, the three connection sections empty but for
// the embedded engine and its database file.
std::string defaultConnectionIni(const std::string& modesComment, const std::string& databaseFile);

// What prepareDataFiles made.
struct PreparedFiles {
  bool wroteIni = false;
  bool createdDatabaseFile = false;
};

// Writes the INI file with defaultText when it is missing, owner-only; when
// it names the embedded engine ([DB] mode=3), creates the empty database file
// DBCONN_mdb_drive/Database in dbDir when missing, as the engine opens only
// existing files. Fails with a call error from "tivel init" naming the file.
PreparedFiles prepareDataFiles(const std::string& iniPath, const std::string& defaultText, const std::string& dbDir);

// The [DB] mode of a component's INI file, read as a number (1 an ODBC data
// source, 2 a server, 3 a database file).
int iniMode(const std::string& iniPath);

// How long a connection of the INI file's mode waits for the server, in
// seconds: ConnectTimeout of [DBCONN_dsn] (mode 1) or [DBCONN_sql_drive]
// (mode 2), kDefaultConnectTimeout when missing or not a whole number.
int iniConnectTimeout(const std::string& iniPath);
inline constexpr int kDefaultConnectTimeout = 5;

// The connection string with "Connect Timeout=" iniConnectTimeout(iniPath)
// added, which a server backend takes as its login time-out; an empty
// string, the embedded engine's (mode 3) or one that sets the key itself is
// returned as it is.
std::string withConnectTimeout(const std::string& connectionString, const std::string& iniPath);

// The connection string of mode 1: the data source, user and password of
// [DBCONN_dsn], as "dsn=...;uid=...;pwd=...;".
std::string dsnConnectionString(const std::string& iniPath);

}  // namespace tivel::ado
