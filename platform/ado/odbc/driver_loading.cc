#include "platform/ado/odbc/driver_loading.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/ado/connection_string.h"
#include "platform/ado/constants.h"
#include "platform/com/error.h"
#include "platform/com/module_path.h"
#include "platform/profile/profile.h"

namespace tivel::ado::odbc {
namespace {

constexpr const char* kSource = "ODBC";

// Keys that load code or name a file to read or write, in lower case:
// unixODBC's file data sources and saved connections, the MariaDB and MySQL
// client plugins, psqlODBC's options for libpq (sslkey may name an engine
// to load, passfile and service name files), FreeTDS's protocol dump.
const char* const kRefusedKeys[] = {"filedsn", "savefile", "plugin_dir", "default_auth", "pqopt", "dumpfile"};

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// How often `key` (lower case) stands in the text as a key: a whole word,
// followed by blanks and "=". Counted in the raw text rather than in parsed
// pairs, so a key inside a braced value that some driver parses differently
// still counts.
int keyCount(const std::string& lowered, const std::string& key) {
  int n = 0;
  for (size_t at = lowered.find(key); at != std::string::npos; at = lowered.find(key, at + 1)) {
    if (at > 0 && isWordChar(lowered[at - 1])) continue;
    size_t after = at + key.size();
    while (after < lowered.size() && std::isspace(static_cast<unsigned char>(lowered[after]))) ++after;
    if (after < lowered.size() && lowered[after] == '=') ++n;
  }
  return n;
}

bool namesFile(const std::string& driver) { return driver.find_first_of("/\\") != std::string::npos; }

bool sameFile(const std::string& a, const std::string& b) {
  if (!namesFile(a) || !namesFile(b)) return a == b;
  std::error_code ea, eb;
  auto ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

}  // namespace

void refuseLoadingCode(const std::string& connectString, const DriverLookup& isInstalledDriver,
                       const DriverFiles& driverFiles) {
  std::string lowered = connectString;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* key : kRefusedKeys)
    if (keyCount(lowered, key) > 0)
      com::raise(kOpenFailed, kSource,
                 std::string("A connection string may not use the key ") + key +
                     ": it makes the driver manager or a driver load code or reach a file the string names.");

  int drivers = 0;
  const ConnectionString parsed = ConnectionString::parse(connectString);
  for (const auto& [key, value] : parsed.pairs()) {
    if (strcasecmp(key.c_str(), "DRIVER") != 0) continue;
    ++drivers;
    std::string driver = unbraced(value);
    if (!namesFile(driver) && isInstalledDriver(driver)) continue;
    std::vector<std::string> allowed = driverFiles();
    if (std::any_of(allowed.begin(), allowed.end(), [&](const std::string& f) { return sameFile(driver, f); }))
      continue;
    com::raise(kOpenFailed, kSource,
               "The driver \"" + driver +
                   "\" is not the name of an installed ODBC driver (odbcinst -q -d lists them). A connection string "
                   "names a driver by its installed name; a driver file is loaded only when the root's "
                   "administrator lists it in [DataAccess] DriverFiles of ini/SysTivel.ini.");
  }
  if (keyCount(lowered, "driver") != drivers)
    com::raise(kOpenFailed, kSource, "A connection string may name a driver only as a key of its own.");
}

std::vector<std::string> allowedDriverFiles() {
  static const char anchor = 0;
  std::string ini = com::componentDirectory(&anchor) + "/../ini/SysTivel.ini";
  std::string list;
  profile::getPrivateProfileString("DataAccess", "DriverFiles", "", &list, 65536, ini);
  std::vector<std::string> files;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string file = list.substr(start, end - start);
    file.erase(0, file.find_first_not_of(" \t"));
    file.erase(file.find_last_not_of(" \t") + 1);
    if (!file.empty()) files.push_back(file);
    start = end + 1;
  }
  return files;
}

}  // namespace tivel::ado::odbc
