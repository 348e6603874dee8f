#include "fee/module.h"

#include "platform/com/error.h"
#include "platform/profile/profile.h"

namespace tivel::gf {

const component::Identity& identity() {
  static const component::Identity id{.source = "TivelGF",
                                      .iniName = "Scrivane.ini",
                                      .logPrefix = "logScrivane",
                                      .logSeparator = "   ",
                                      .form = component::ConnectionForm::Provider,
                                      .commandTimeout = 600,
                                      .logsFailureReason = false,
                                      .prunesLog = true,
                                      .anchor = reinterpret_cast<const void*>(&componentDir)};
  return id;
}

std::string componentDir() { return component::directory(identity()); }

const std::string& iniPath() { return component::iniPath(identity()); }

void startUp() {
  component::ThreadState& s = component::threadState(identity());
  if (s.started) return;
  // Once per thread, failed or not: later calls of the methods retry while
  // the thread is not connected.
  s.started = true;
  OpenDatabase();
}

void OpenDatabase() {
  std::string why;
  if (!component::connect(identity(), &why)) component::failConnect(identity(), why);
}

bool connected() { return component::threadState(identity()).connected; }

void ensureConnected() {
  if (!connected()) OpenDatabase();
}

std::string GetConnectionString() { return component::connectionString(identity()); }

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key) {
  return profile::readIniValue(file, section, key);
}

std::string TrimAtNull(std::string_view s) { return profile::textBeforeNul(s); }

void WriteFileLog(const std::string& text) { component::writeLog(identity(), text); }

ado::Connection& connection() { return *connectionPtr(); }

ado::ConnectionPtr connectionPtr() {
  const ado::ConnectionPtr& c = component::threadState(identity()).connection;
  if (!c) com::raise(com::kObjectNotSet, "TivelGF", com::kObjectNotSetText);
  return c;
}

void resetThreadState() { component::resetThreadState(identity()); }

}  // namespace tivel::gf
