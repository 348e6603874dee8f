// The management component's answer to "is the database there?", for the
// gateway's /health.
#pragma once

namespace tivel::mgt {

// Starts this thread's component if needed and runs one trivial statement
// on its connection; raises the connection's or the statement's error.
void checkDatabase();

}  // namespace tivel::mgt
