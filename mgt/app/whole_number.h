// Bit nodes and subject types are numbers: statements compare them as
// numbers, some of them without quotes. Every such value must read as a
// whole number before it reaches a statement, so it can neither change the
// statement's shape nor be read differently by different database engines.
#pragma once

#include <cmath>
#include <string>

#include "platform/com/error.h"
#include "platform/com/variant.h"

namespace tivel::mgt::app {

// The decimal text of v, which must read as a whole number within 32 bits
// ("03" and "3.0" give "3"); anything else fails with a type mismatch.
inline std::string wholeNumber(const com::Variant& v) {
  if (v.looksNumeric()) {
    const double d = v.toDouble();
    if (std::isfinite(d) && d == std::floor(d) && d >= -2147483648.0 && d <= 2147483647.0)
      return std::to_string(static_cast<long long>(d));
  }
  com::raise(com::kTypeMismatch, "TivelMgt",
             "Type mismatch: a whole number is required, got '" + (v.isNull() ? std::string("Null") : v.toString()) + "'");
}

}  // namespace tivel::mgt::app
