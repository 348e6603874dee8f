#include "fee/module.h"

#include <cstdio>
#include <filesystem>

#include "platform/com/error.h"
#include "platform/com/module_path.h"
#include "platform/files/private_files.h"
#include "platform/profile/profile.h"

namespace tivel::gf {
namespace {

// The component is apartment-threaded: every thread has its own copy,
// shared by all objects of the component on that thread.
struct ThreadState {
  bool started = false;
  std::string iniPath;
  ado::ConnectionPtr connection;
  bool connected = false;
};

ThreadState& state() {
  thread_local ThreadState s;
  return s;
}

constexpr int32_t kConnectError = static_cast<int32_t>(0x80040001);
constexpr int32_t kObjectNotSet = static_cast<int32_t>(0x800A005B);  // 91
constexpr int32_t kFileNotFound = static_cast<int32_t>(0x800A0035);  // 53
constexpr int32_t kDeviceIo = static_cast<int32_t>(0x800A0039);      // 57

}  // namespace

std::string componentDir() { return com::componentDirectory(reinterpret_cast<const void*>(&componentDir)); }

const std::string& iniPath() {
  ThreadState& s = state();
  if (s.iniPath.empty()) s.iniPath = componentDir() + "/../ini/Scrivane.ini";
  return s.iniPath;
}

void startUp() {
  ThreadState& s = state();
  if (s.started) return;
  // Once per thread, failed or not: later calls of the methods retry while
  // the thread is not connected.
  s.started = true;
  OpenDatabase();
}

void OpenDatabase() {
  ThreadState& s = state();
  s.iniPath = componentDir() + "/../ini/Scrivane.ini";
  try {
    s.connection = std::make_shared<ado::Connection>();
    std::string cs = GetConnectionString();
    s.connection->cursorLocation = ado::adUseClient;
    s.connection->commandTimeout = 600;
    s.connection->connectionString = cs;
    s.connection->open();
    s.connected = true;
  } catch (...) {
    s.connected = false;
  }
  if (s.connected) return;
  // A log that cannot be written must not hide the connection failure.
  try {
    WriteFileLog("！连接数据库出错,请检查配置文件是否正确！");
  } catch (...) {
  }
  com::raise(kConnectError, "TivelGF", "连接数据库出错！");
}

bool connected() { return state().connected; }

void ensureConnected() {
  if (!state().connected) OpenDatabase();
}

std::string GetConnectionString() {
  const std::string& ini = iniPath();
  int mode = com::Variant(ReadIniString(ini, "DB", "mode")).toInteger();
  auto v = [&](const char* section, const char* key) { return ReadIniString(ini, section, key); };
  switch (mode) {
    case 1:
      return "dsn=" + v("DBCONN_dsn", "DSN") + ";uid=" + v("DBCONN_dsn", "uid") + ";pwd=" + v("DBCONN_dsn", "pwd") +
             ";";
    case 2:
      return "Provider=" + v("DBCONN_sql_drive", "DRIVER") + ";Password=" + v("DBCONN_sql_drive", "pwd") +
             ";Persist Security Info=True;User ID=" + v("DBCONN_sql_drive", "uid") +
             ";Initial Catalog=" + v("DBCONN_sql_drive", "Database") +
             ";Data Source=" + v("DBCONN_sql_drive", "SERVER");
    case 3:
      return "PROVIDER=" + v("DBCONN_mdb_drive", "PROVIDER") + ";Data Source=" + componentDir() + "/../db/" +
             v("DBCONN_mdb_drive", "Database") + ";";
    default: return "";
  }
}

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key) {
  std::string value = TrimAtNull(profile::readProfileString(file, section, key));
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

std::string TrimAtNull(std::string_view s) {
  auto p = s.find('\0');
  return std::string(p == std::string_view::npos ? s : s.substr(0, p));
}

// The path comes from the component directory; the process's current
// directory is never changed (other threads and components rely on it).
void WriteFileLog(const std::string& text) {
  namespace fs = std::filesystem;
  com::DateTime now = com::DateTime::now();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d", now.year, now.month, now.day);
  fs::path dir = (fs::path(componentDir()) / ".." / "log").lexically_normal();
  files::makePrivateDirectories(dir.string());
  fs::path file = dir / (std::string("logScrivane") + stamp + ".txt");
  switch (files::appendToPrivateFile(file.string(), text + "   " + now.text() + "\r\n")) {
    case files::Append::NotOpened: com::raise(kFileNotFound, "TivelGF", "File not found: " + file.string());
    case files::Append::NotWritten: com::raise(kDeviceIo, "TivelGF", "Device I/O error: " + file.string());
    case files::Append::Done: break;
  }
}

ado::Connection& connection() { return *connectionPtr(); }

ado::ConnectionPtr connectionPtr() {
  const ado::ConnectionPtr& c = state().connection;
  if (!c) com::raise(kObjectNotSet, "TivelGF", "Object variable or With block variable not set");
  return c;
}

void resetThreadState() { state() = ThreadState{}; }

}  // namespace tivel::gf
