// Telling whoever runs a tivel process what befalls its database
// connections: lost, cannot be opened again, opened again.
#pragma once

namespace tivel::tool {

// From now on, writes one line on standard error, "PROGRAM: ...", for each
// such event of any thread's connection (reconnecting_backend.h).
void tellConnectionEvents(const char* program);

}  // namespace tivel::tool
