#include "platform/ado/connection_guard.h"

namespace tivel::ado {
namespace {

thread_local ConnectionGuard currentGuard;

}  // namespace

ConnectionGuard setConnectionGuard(ConnectionGuard guard) {
  ConnectionGuard previous = std::move(currentGuard);
  currentGuard = std::move(guard);
  return previous;
}

void checkConnection(const std::string& connectionString) {
  if (currentGuard) currentGuard(connectionString);
}

}  // namespace tivel::ado
