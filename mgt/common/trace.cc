// Tracing is read at each trapped failure rather than once, so it can be
// switched on in a running portal by editing the INI file; successes never pay for it.
#include "mgt/common/trace.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "platform/com/call_scope.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

// One log line: line ends inside a driver's message become blanks.
std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

std::string describeCurrentFailure() {
  try {
    throw;
  } catch (const com::ComError& e) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(e.number()));
    return "error " + std::to_string(e.number()) + " (" + hex + "), source " + e.source() + ": " + e.description();
  } catch (const std::exception& e) {
    return std::string("failure (not a call error): ") + e.what();
  } catch (...) {
    return "failure of unknown kind";
  }
}

}  // namespace

bool tracing() {
  if (const char* env = std::getenv("TIVEL_TRACE")) return std::string_view(env) == "1";
  try {
    return ReadIniString(componentDir() + "/../ini/SysTivel.ini", "LOG", "trace") == "1";
  } catch (...) {
    return false;
  }
}

void traceTrapped(std::string_view result, const char* site) noexcept {
  try {
    if (!tracing()) return;
    std::string calls = com::runningCalls();
    std::string line = "TRACE " + (calls.empty() ? std::string("(direct call)") : calls) + " [" +
                       std::string(site ? site : "?") + "] -> \"" + std::string(result) +
                       "\": " + describeCurrentFailure();
    WriteFileLog(oneLine(std::move(line)));
  } catch (...) {
    // A trace that cannot be written never disturbs the operation.
  }
}

}  // namespace tivel::mgt
