#include "mgt/common/module.h"

#include "mgt/common/helpers.h"
#include "platform/codes/result_codes.h"
#include "platform/com/error.h"

namespace tivel::mgt {

const component::Identity& identity() {
  static const component::Identity id{.source = "TivelMgt",
                                      .iniName = "SysTivel.ini",
                                      .logPrefix = "log",
                                      .logSeparator = "   SysTivel",
                                      .form = component::ConnectionForm::Driver,
                                      .commandTimeout = 10,
                                      .logsFailureReason = true,
                                      .prunesLog = true,
                                      .anchor = reinterpret_cast<const void*>(&componentDir)};
  return id;
}

std::string componentDir() { return component::directory(identity()); }

const std::string& configPath() { return component::iniPath(identity()); }

// A failed start-up leaves the thread unstarted: the next object it creates tries again.
void startUp() {
  component::ThreadState& s = component::threadState(identity());
  if (s.started) return;
  std::string why;
  if (!OpenDatabase(&why)) {
    s.connection.reset();
    component::failConnect(identity(), why);
  }
  s.started = true;
}

const ado::ConnectionPtr& sharedConnection() {
  const ado::ConnectionPtr& c = component::threadState(identity()).connection;
  if (!c || !c->isOpen()) com::raise(codes::kConnectError, "TivelMgt", codes::kConnectErrorText);
  return c;
}

void resetThreadState() { component::resetThreadState(identity()); }

void setSharedConnection(ado::ConnectionPtr c) { component::threadState(identity()).connection = std::move(c); }

}  // namespace tivel::mgt
