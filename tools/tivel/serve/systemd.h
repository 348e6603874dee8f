// The service manager's notifications (sd_notify): ready, stopping, and the
// watchdog's keep-alive. Without NOTIFY_SOCKET in the environment each does nothing.
#pragma once

#include <chrono>
#include <string>

namespace tivel::tool {

// Sends one state line ("READY=1", "STOPPING=1", "WATCHDOG=1") to the service manager.
void notifyServiceManager(const std::string& state);

// How often the service manager wants the keep-alive (its WatchdogSec); zero when it wants none.
std::chrono::microseconds serviceWatchdogInterval();

}  // namespace tivel::tool
