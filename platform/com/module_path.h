// Where a component lives: the directory of its library file, or R/bin when
// TIVEL_HOME names a root R.
#pragma once

#include <string>

namespace tivel::com {

// The component directory of the library that holds `anchor` (any address in
// it), without a trailing separator.
std::string componentDirectory(const void* anchor);

}  // namespace tivel::com
