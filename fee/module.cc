#include "fee/module.h"

#include <cstdio>
#include <filesystem>

#include "mgt/common/result_codes.h"
#include "platform/ado/data_files.h"
#include "platform/ado/without_passwords.h"
#include "platform/com/error.h"
#include "platform/com/module_path.h"
#include "platform/files/private_files.h"
#include "platform/profile/daily_log.h"
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
  std::string why;
  try {
    s.connection = std::make_shared<ado::Connection>();
    std::string cs = ado::withConnectTimeout(GetConnectionString(), s.iniPath);
    s.connection->cursorLocation = ado::adUseClient;
    s.connection->commandTimeout = 600;
    s.connection->connectionString = cs;
    s.connection->open();
    s.connected = true;
  } catch (const com::ComError& e) {
    s.connected = false;
    why = e.source() + ": " + e.description();
  } catch (const std::exception& e) {
    s.connected = false;
    why = e.what();
  } catch (...) {
    s.connected = false;
  }
  if (s.connected) return;
  // A log that cannot be written must not hide the connection failure.
  try {
    WriteFileLog("！连接数据库出错,请检查配置文件是否正确！");
  } catch (...) {
  }
  // The original text stays the description callers compare; the reason,
  // passwords removed, travels beside it for the operator.
  com::raise(codes::kConnectError, "TivelGF", codes::kConnectErrorText, why.empty() ? why : ado::withoutPasswords(why));
}

bool connected() { return state().connected; }

void ensureConnected() {
  if (!state().connected) OpenDatabase();
}

std::string GetConnectionString() {
  const std::string& ini = iniPath();
  auto v = [&](const char* section, const char* key) { return ReadIniString(ini, section, key); };
  switch (ado::iniMode(ini)) {
    case 1: return ado::dsnConnectionString(ini);
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
  return profile::readIniValue(file, section, key);
}

std::string TrimAtNull(std::string_view s) { return profile::textBeforeNul(s); }

// The path comes from the component directory; the process's current
// directory is never changed (other threads and components rely on it).
void WriteFileLog(const std::string& text) {
  const com::DateTime now = com::DateTime::now();
  profile::appendDailyLog(componentDir() + "/../log", "logScrivane", now, text + "   " + now.text() + "\r\n",
                          "TivelGF");
}

ado::Connection& connection() { return *connectionPtr(); }

ado::ConnectionPtr connectionPtr() {
  const ado::ConnectionPtr& c = state().connection;
  if (!c) com::raise(com::kObjectNotSet, "TivelGF", com::kObjectNotSetText);
  return c;
}

void resetThreadState() { state() = ThreadState{}; }

}  // namespace tivel::gf
