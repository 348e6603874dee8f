// Pointing the components at a root: with TIVEL_HOME=R every component takes
// R/bin as its directory and so R/ini, R/log and R/db as its own.
#pragma once

#include <string>

namespace tivel::tool {

// Sets TIVEL_HOME to the absolute form of `root` for this process. Must run
// before the first object is made; components read it when they start.
void useRoot(const std::string& root);

}  // namespace tivel::tool
