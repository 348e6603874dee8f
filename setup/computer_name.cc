#include "setup/computer_name.h"

#include <unistd.h>

#include <climits>
#include <cstring>

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

}  // namespace tivel::setup
