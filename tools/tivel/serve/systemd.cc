#include "tools/tivel/serve/systemd.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace tivel::tool {

void notifyServiceManager(const std::string& state) { sd_notify(0, state.c_str()); }

std::chrono::microseconds serviceWatchdogInterval() {
  uint64_t usec = 0;
  return sd_watchdog_enabled(0, &usec) > 0 ? std::chrono::microseconds(usec) : std::chrono::microseconds(0);
}

}  // namespace tivel::tool
