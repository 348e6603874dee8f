// Reads of AppMgt that do not only answer their failure value but also fail
// the call, so the caller can tell a broken read from an absent row.
#pragma once

#include <exception>
#include <string>

#include "platform/com/error.h"

namespace tivel::mgt::app {

// The number every failing AppMgt read reports to its caller.
inline constexpr int32_t kReadFailed = -1;

// Runs body; any failure inside it becomes ComError(-1, source, the
// failure's own description). The failure value of the read is dropped
// together with the call.
template <class F>
auto failingCall(const char* source, F&& body) -> decltype(body()) {
  std::string description;
  try {
    return body();
  } catch (const com::ComError& e) {
    description = e.description();
  } catch (const std::exception& e) {
    description = e.what();
  } catch (...) {
    description = "Unknown error";
  }
  com::raise(kReadFailed, source, description);
}

}  // namespace tivel::mgt::app
