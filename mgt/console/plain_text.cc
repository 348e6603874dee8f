#include "mgt/console/plain_text.h"

#include <stdexcept>

namespace tivel::mgt {

const std::string& plainText(const std::string& s, const char* what) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      throw std::invalid_argument(std::string(what) + " holds a control character");
  return s;
}

}  // namespace tivel::mgt
