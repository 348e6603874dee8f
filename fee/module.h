// The fee component's per-thread module state (configuration path,
// connection, connected flag) and the module routines every method stands
// on: the connection, the configuration reader and the daily file log.
#pragma once

#include <string>
#include <string_view>

#include "platform/ado/connection.h"
#include "platform/component/component.h"

namespace tivel::gf {

// The component's name, INI file, log and connection form for the shared plumbing.
const component::Identity& identity();

// The directory of the TivelGF library (or R/bin under TIVEL_HOME=R).
std::string componentDir();

// The thread's start-up: runs OpenDatabase once per thread, when the thread
// creates its first object of the component; its failure reaches the creator.
void startUp();

// Sets the thread's configuration path and connects. On failure the thread
// stays unconnected, the log gets "！连接数据库出错,请检查配置文件是否正确！"
// and codes::kConnectError with its text is raised.
void OpenDatabase();
// True once this thread's connection opened.
bool connected();
// Runs OpenDatabase when this thread is not connected.
void ensureConnected();

// The connection string Scrivane.ini describes (modes 1 to 3, any other
// mode ""). A mode that is missing or not a number fails "Type mismatch".
std::string GetConnectionString();
// The thread's configuration path: componentDir() + "/../ini/Scrivane.ini".
const std::string& iniPath();
// An INI value: "" for a missing file, section or key; cut at the first NUL,
// trailing blanks removed, at most 254 characters.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key);
// The text up to (not including) its first NUL.
std::string TrimAtNull(std::string_view s);
// Appends "text   <date time>\r\n" to log/logScrivaneYYYYMMDD.txt beside the
// component directory, creating the log directory when missing. Throws when
// the file cannot be written.
void WriteFileLog(const std::string& text);

// The thread's connection; fails "Object variable not set" when the thread
// never created one (it may exist and be closed after a failed open).
ado::Connection& connection();
ado::ConnectionPtr connectionPtr();

// Drops this thread's module state (tests and tools that switch roots).
void resetThreadState();

}  // namespace tivel::gf
