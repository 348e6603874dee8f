#include "tools/tivel/rpc/connection_messages.h"

#include <iostream>
#include <mutex>
#include <string>

#include "platform/ado/reconnecting_backend.h"

namespace tivel::tool {

void tellConnectionEvents(const char* program) {
  ado::setConnectionObserver([program](ado::ConnectionEvent event, const std::string& reason) {
    static std::mutex lineMutex;  // one whole line at a time from any thread
    std::lock_guard lock(lineMutex);
    switch (event) {
      case ado::ConnectionEvent::Lost:
        std::cerr << program << ": the database connection was lost: " << reason << std::endl;
        break;
      case ado::ConnectionEvent::ReopenFailed:
        std::cerr << program << ": the database cannot be reached: " << reason << std::endl;
        break;
      case ado::ConnectionEvent::Reopened: std::cerr << program << ": connected to the database again" << std::endl;
    }
  });
}

}  // namespace tivel::tool
