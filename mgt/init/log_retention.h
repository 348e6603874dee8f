// Keeping the system log (table SysLog) from growing for ever.
#pragma once

#include <functional>
#include <string>

#include "platform/ado/connection.h"
#include "platform/com/variant.h"

namespace tivel::mgt {

// Deletes the system-log entries written before `before` (WDateTime earlier
// than its "YYYY-MM-DD HH:MM:SS"; entries without a time stay), `batch` at a
// time, each batch its own short transaction, so writers of the log wait
// at most for one batch. `progress` is told the running total after each
// batch. Returns how many were deleted. Fails with a call error.
long pruneSystemLog(ado::Connection& conn, const com::DateTime& before, int batch = 1000,
                    const std::function<void(long deleted)>& progress = {});

}  // namespace tivel::mgt
