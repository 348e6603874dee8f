// The installation helper's daily log: R/log/logSetupYYYYMMDD.txt of the root
// whose store is at R/db/setup.json.
#pragma once

#include <string>

namespace tivel::setup {

// Appends one line (text and the time) to the log of the root that holds the
// store `storePath`. A log that cannot be written is dropped.
void writeSetupLog(const std::string& storePath, const std::string& text) noexcept;

}  // namespace tivel::setup
