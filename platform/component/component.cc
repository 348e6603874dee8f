#include "platform/component/component.h"

#include <map>

#include "platform/ado/data_files.h"
#include "platform/ado/without_passwords.h"
#include "platform/com/error.h"
#include "platform/com/module_path.h"
#include "platform/profile/daily_log.h"
#include "platform/profile/profile.h"

namespace tivel::component {
namespace {

constexpr int32_t kConnectError = static_cast<int32_t>(0x80040001);

}  // namespace

std::string directory(const Identity& id) { return com::componentDirectory(id.anchor); }

// The components are apartment-threaded: every thread has its own copy of
// each component's state.
ThreadState& threadState(const Identity& id) {
  thread_local std::map<const Identity*, ThreadState> states;
  return states[&id];
}

const std::string& iniPath(const Identity& id) {
  ThreadState& s = threadState(id);
  if (s.iniPath.empty()) s.iniPath = directory(id) + "/../ini/" + id.iniName;
  return s.iniPath;
}

std::string connectionString(const Identity& id) {
  const std::string& ini = iniPath(id);
  auto v = [&](const char* section, const char* key) { return profile::readIniValue(ini, section, key); };
  const bool driver = id.form == ConnectionForm::Driver;
  switch (ado::iniMode(ini)) {
    case 1: return ado::dsnConnectionString(ini);
    case 2:
      if (driver)
        return "DRIVER=" + v("DBCONN_sql_drive", "DRIVER") + "; server=" + v("DBCONN_sql_drive", "SERVER") +
               ";uid=" + v("DBCONN_sql_drive", "uid") + ";PASSWORD=" + v("DBCONN_sql_drive", "pwd") +
               ";DATABASE=" + v("DBCONN_sql_drive", "Database");
      return "Provider=" + v("DBCONN_sql_drive", "DRIVER") + ";Password=" + v("DBCONN_sql_drive", "pwd") +
             ";Persist Security Info=True;User ID=" + v("DBCONN_sql_drive", "uid") +
             ";Initial Catalog=" + v("DBCONN_sql_drive", "Database") +
             ";Data Source=" + v("DBCONN_sql_drive", "SERVER");
    case 3:
      return "PROVIDER=" + v("DBCONN_mdb_drive", "PROVIDER") + (driver ? "; Data Source=" : ";Data Source=") +
             directory(id) + "/../db/" + v("DBCONN_mdb_drive", "Database") + ";";
    default: return "";
  }
}

bool connect(const Identity& id, std::string* why) {
  ThreadState& s = threadState(id);
  s.iniPath = directory(id) + "/../ini/" + id.iniName;
  s.connected = false;
  try {
    s.connection = std::make_shared<ado::Connection>();
    const std::string cs = ado::withConnectTimeout(connectionString(id), s.iniPath);
    s.connection->cursorLocation = ado::adUseClient;
    s.connection->commandTimeout = id.commandTimeout;
    s.connection->connectionString = cs;
    s.connection->open();
    s.connected = true;
  } catch (const com::ComError& e) {
    if (why) *why = e.source() + ": " + e.description();
  } catch (const std::exception& e) {
    if (why) *why = e.what();
  } catch (...) {
    if (why) *why = "unknown failure";
  }
  return s.connected;
}

void failConnect(const Identity& id, const std::string& why) {
  // A log that cannot be written must not hide the connection failure from
  // the creator.
  try {
    writeLog(id, "！连接数据库出错,请检查配置文件是否正确！");
    if (id.logsFailureReason) writeLog(id, why);
  } catch (...) {
  }
  // The original text stays the description callers compare; the reason,
  // passwords removed, travels beside it for the operator.
  com::raise(kConnectError, id.source, "连接数据库出错！", why.empty() ? why : ado::withoutPasswords(why));
}

void writeLog(const Identity& id, const std::string& text) { writeLogIn(directory(id) + "/../log", id, text); }

// The path comes from the component directory; the process's current
// directory is never changed (other threads and components rely on it).
void writeLogIn(const std::string& logDir, const Identity& id, const std::string& text) {
  const com::DateTime now = com::DateTime::now();
  profile::appendDailyLog(logDir, id.logPrefix, now, text + id.logSeparator + now.text() + "\r\n", id.source,
                          id.prunesLog);
}

void resetThreadState(const Identity& id) { threadState(id) = ThreadState{}; }

}  // namespace tivel::component
