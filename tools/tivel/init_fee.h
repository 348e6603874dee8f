// The fee part of `tivel init`: the fee configuration and database of a root.
#pragma once

#include <functional>
#include <string>

namespace tivel::tool {

// Writes R/ini/Scrivane.ini when missing, creates the fee schema in the
// database it names and prints what it did, the connection string through
// `hide` (which masks its password), and warnings when the database role
// reaches the database host. Fails with a call error.
void initFeeRoot(const std::string& root, const std::function<std::string(const std::string&)>& hide);

}  // namespace tivel::tool
