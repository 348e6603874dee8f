// The console's statements quote every value they take; none has a use for
// control characters, and a NUL would reach the database driver.
#pragma once

#include <string>

namespace tivel::mgt {

// Returns s; fails (std::invalid_argument, "<what> holds a control character") when it holds one.
const std::string& plainText(const std::string& s, const char* what = "a text");

}  // namespace tivel::mgt
