#include "setup/computer_name.h"

#include <unistd.h>

#include <climits>
#include <cstring>

#include "platform/com/error.h"
#include "setup/service_errors.h"

namespace tivel::setup {

bool GetComputerNameA(char* buffer, uint32_t* size) {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return false;
  size_t length = std::strlen(name);
  if (length + 1 > *size) return false;
  std::memcpy(buffer, name, length + 1);
  *size = static_cast<uint32_t>(length);
  return true;
}

std::string localComputerName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  uint32_t size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) com::raise(kFail, "computer name", "The computer name cannot be read");
  return buffer;
}

}  // namespace tivel::setup
