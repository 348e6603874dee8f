// The components' own log files: one a day in the root's log directory.
#pragma once

#include <string>

#include "platform/com/variant.h"

namespace tivel::profile {

// Appends line to logDir/<prefix>YYYYMMDD.txt of the day of `now`, creating
// the directory and the file owner-only. The first line of a day also
// removes that prefix's files older than the root's [Log] keep_days (read
// from logDir/../ini/SysTivel.ini; missing or 0 keeps them all). Fails with
// the runtime's errors 53 (the file could not be opened) or 57 (not written)
// from `source`. With prune false, no file is ever removed.
void appendDailyLog(const std::string& logDir, const std::string& prefix, const com::DateTime& now,
                    const std::string& line, const char* source, bool prune = true);

// The [Log] keep_days of the root whose log directory is logDir: how many
// days of daily files to keep, today's included; 0 when not set (keep all).
int dailyLogKeepDays(const std::string& logDir);

// Removes logDir/<prefix>YYYYMMDD.txt of the days before the last keepDays
// days up to `now` (keepDays 1 keeps today's alone); keepDays 0 removes
// nothing. Other files are left alone. Returns how many were removed.
int pruneDailyLogs(const std::string& logDir, const std::string& prefix, const com::DateTime& now, int keepDays);

}  // namespace tivel::profile
