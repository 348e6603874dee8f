// The per-thread plumbing every component stands on: where its root is, its
// INI file, its daily log, the connection string its INI file describes and
// the thread's connection. A component names itself once (an Identity) and
// its module routines are thin calls of these.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ado/connection.h"

namespace tivel::component {

// Which connection string an INI file's modes 2 (server) and 3 (embedded file) make.
enum class ConnectionForm {
  Driver,    // "DRIVER=..; server=..;uid=..;PASSWORD=..;DATABASE=.." and "PROVIDER=..; Data Source=..;"
  Provider,  // "Provider=..;Password=..;Persist Security Info=True;User ID=..;.." and "PROVIDER=..;Data Source=..;"
};

// What tells one component's plumbing from another's.
struct Identity {
  const char* source;        // the source of its errors ("TivelMgt")
  const char* iniName;       // its INI file in R/ini ("SysTivel.ini")
  const char* logPrefix;     // its daily log R/log/<prefix>YYYYMMDD.txt ("log")
  const char* logSeparator;  // what stands between a log line's text and its time ("   SysTivel")
  ConnectionForm form;       // the connection string its INI file's modes make
  int32_t commandTimeout;    // seconds, of the thread's connection
  bool logsFailureReason;    // a failed connect also logs why, in a second line
  bool prunesLog;            // its log's first line of a day removes the days past [Log] keep_days
  const void* anchor;        // any address inside the component's library
};

// One thread's state of one component: shared by all its objects on that thread.
struct ThreadState {
  bool started = false;    // the thread's start-up ran
  bool connected = false;  // the last connect of the thread succeeded
  std::string iniPath;     // set by the first connect, or by iniPath()
  ado::ConnectionPtr connection;
};

// The directory of the component's library (or R/bin under TIVEL_HOME=R).
std::string directory(const Identity& id);

// This thread's state of the component.
ThreadState& threadState(const Identity& id);

// The thread's INI path: directory() + "/../ini/" + iniName.
const std::string& iniPath(const Identity& id);

// The connection string the INI file describes: mode 1 a DSN, modes 2 and 3
// in the component's form, any other mode "". A mode that is missing or not
// a number fails "Type mismatch".
std::string connectionString(const Identity& id);

// Makes and opens a new connection for the thread, installed as its
// connection before it opens (a failed one stays, closed). Sets `connected`;
// false on any failure, whose description then goes to *why when given.
bool connect(const Identity& id, std::string* why = nullptr);

// Logs "！连接数据库出错,请检查配置文件是否正确！" (and the reason, when the
// component logs it; a log that cannot be written is passed over) and raises
// 0x80040001 "连接数据库出错！" from the component, the reason beside it with
// its passwords removed.
[[noreturn]] void failConnect(const Identity& id, const std::string& why);

// Appends "text<separator><date time>\r\n" to the component's daily log
// R/log/<prefix>YYYYMMDD.txt beside its directory: writeLogIn(directory(id) + "/../log", ...).
void writeLog(const Identity& id, const std::string& text);

// Appends "text<separator><date time>\r\n" to logDir/<prefix>YYYYMMDD.txt,
// creating the directory when missing (and pruning old days when the
// component prunes). Throws 53 or 57 from the component when it cannot be written.
void writeLogIn(const std::string& logDir, const Identity& id, const std::string& text);

// Drops this thread's state of the component (tests and tools that switch roots).
void resetThreadState(const Identity& id);

}  // namespace tivel::component
