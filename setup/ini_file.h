// Where the installation helper reads and writes INI files, and what it
// refuses to write there.
#pragma once

#include <string>

namespace tivel::setup {

// The INI file `name` of the helper: <helper's directory>/../ini/<name>; ""
// for a name that would leave that directory (an absolute path, or a ".."
// part with either slash) and for the files the gateway reads for its own
// access (serve.tokens, serve.token, console.key, in any letter case).
std::string iniFilePath(const std::string& name);

// Whether the helper refuses to set `key` of `section` to `value` in any of
// its files, since every later connection of the root would then load code
// or open a file a caller chose: the section [DataAccess] (the driver files
// the data-access layer may load), a DRIVER or PROVIDER naming a file, and
// a [DBCONN_mdb_drive] Database that leaves the db directory.
bool refusedIniWrite(const std::string& section, const std::string& key, const std::string& value);

}  // namespace tivel::setup
