// Where the installation helper reads and writes INI files.
#pragma once

#include <string>

namespace tivel::setup {

// The INI file `name` of the helper: <helper's directory>/../ini/<name>; ""
// for a name that would leave that directory (an absolute path, or a ".."
// part with either slash).
std::string iniFilePath(const std::string& name);

}  // namespace tivel::setup
