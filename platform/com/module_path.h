// Where a component lives: the directory of its library file, or R/bin when
// TIVEL_HOME names a root R. A component finds its root's ini/, log/ and db/
// beside that directory.
#pragma once

#include <string>

namespace tivel::com {

// The root that an installed package uses when TIVEL_HOME is unset.
inline constexpr const char* kSystemRoot = "/var/lib/tivel";

// The component directory of the library that holds `anchor` (any address in
// it), without a trailing separator. A library in P/lib/tivel (an installed
// layout) belongs to the root P, so its directory reads as P/bin; the system
// prefix /usr is the exception, whose root is kSystemRoot.
std::string componentDirectory(const void* anchor);

// The directory a library file at `libraryPath` stands for, by the rule
// above; TIVEL_HOME is not consulted.
std::string componentDirectoryOf(const std::string& libraryPath);

}  // namespace tivel::com
