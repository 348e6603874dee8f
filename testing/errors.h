// Test support: the call error an action fails with.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/error.h"

namespace tivel::testing {

// The number of the call error f fails with, or 0 when it does not fail; the
// error's description goes to *description when asked for.
template <class F>
int32_t errorOf(F&& f, std::string* description = nullptr) {
  try {
    f();
  } catch (const com::ComError& e) {
    if (description) *description = e.description();
    return e.number();
  }
  return 0;
}

}  // namespace tivel::testing
