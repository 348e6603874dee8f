// The components' own log files: one a day in the root's log directory.
#pragma once

#include <string>

#include "platform/com/variant.h"

namespace tivel::profile {

// Appends line to logDir/<prefix>YYYYMMDD.txt of the day of `now`, creating
// the directory and the file owner-only. Fails with the runtime's errors 53
// (the file could not be opened) or 57 (not written) from `source`.
void appendDailyLog(const std::string& logDir, const std::string& prefix, const com::DateTime& now,
                    const std::string& line, const char* source);

}  // namespace tivel::profile
