// Test support: running one piece of work in several processes at once, each
// with its own thread state and connection, as separate portal hosts would.
#pragma once

#include <functional>

namespace tivel::mgt::testing {

// Forks `processes` children that run body(index) at the same time; each
// child starts with fresh module state and exits with the number of failures
// body returns (an escaped exception counts as 100). Expects every child to
// exit 0.
void runInProcesses(int processes, const std::function<int(int index)>& body);

}  // namespace tivel::mgt::testing
