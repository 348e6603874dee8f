#include "platform/com/error.h"

namespace tivel::com {

void raise(int32_t number, std::string source, std::string description) {
  throw ComError(number, std::move(source), std::move(description));
}

}  // namespace tivel::com
