#include "mgt/common/module.h"

#include "mgt/common/helpers.h"
#include "mgt/common/result_codes.h"
#include "platform/ado/without_passwords.h"
#include "platform/com/error.h"
#include "platform/com/module_path.h"

namespace tivel::mgt {
namespace {

// The component is apartment-threaded: every thread has its own copy.
struct ModuleState {
  bool started = false;
  std::string configPath;
  ado::ConnectionPtr connection;
};

ModuleState& state() {
  thread_local ModuleState s;
  return s;
}

// The original text stays the description callers compare; the reason,
// passwords removed, travels beside it for the operator.
[[noreturn]] void raiseConnectError(const std::string& reason) {
  com::raise(codes::kConnectError, "TivelMgt", codes::kConnectErrorText,
             reason.empty() ? reason : ado::withoutPasswords(reason));
}

}  // namespace

std::string componentDir() { return com::componentDirectory(reinterpret_cast<const void*>(&componentDir)); }

const std::string& configPath() {
  ModuleState& s = state();
  if (s.configPath.empty()) s.configPath = componentDir() + "/../ini/SysTivel.ini";
  return s.configPath;
}

void startUp() {
  ModuleState& s = state();
  if (s.started) return;
  s.configPath = componentDir() + "/../ini/SysTivel.ini";
  std::string why;
  if (!OpenDatabase(&why)) {
    s.connection.reset();
    // A log that cannot be written must not hide the connection failure
    // from the creator. The second entry names the cause.
    try {
      WriteFileLog("！连接数据库出错,请检查配置文件是否正确！");
      WriteFileLog(why);
    } catch (...) {
    }
    raiseConnectError(why);
  }
  s.started = true;
}

const ado::ConnectionPtr& sharedConnection() {
  ModuleState& s = state();
  if (!s.connection || !s.connection->isOpen()) com::raise(codes::kConnectError, "TivelMgt", codes::kConnectErrorText);
  return s.connection;
}

void resetThreadState() { state() = ModuleState{}; }

void setSharedConnection(ado::ConnectionPtr c) { state().connection = std::move(c); }

}  // namespace tivel::mgt
