#include "platform/ado/odbc/connect_keys.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/ado/constants.h"
#include "platform/ado/odbc/odbc_connection_string.h"
#include "platform/com/error.h"
#include "platform/com/module_path.h"
#include "platform/profile/profile.h"

namespace tivel::ado::odbc {
namespace {

constexpr const char* kSource = "ODBC";

// Keys no connection string may give, whatever the administrator lists:
// they switch on LOAD DATA LOCAL (a statement could read any file of this
// process), read client option files other than this layer's, write logs
// (psqlODBC's CommLog writes the password in clear; B2, B3 and the CX flags
// are its abbreviations for Debug and CommLog), or load code (kept off for
// every string; a data source of odbc.ini may still set them).
const char* const kNeverKeys[] = {"enable_local_infile",
                                  "local_infile",
                                  "use_mycnf",
                                  "read_default_file",
                                  "read_default_group",
                                  "trace",
                                  "tracefile",
                                  "debug",
                                  "commlog",
                                  "b2",
                                  "b3",
                                  "cx",
                                  "logdir",
                                  "plugin_dir",
                                  "default_auth",
                                  "filedsn",
                                  "savefile",
                                  "pqopt",
                                  "dumpfile"};

// Keys that run statements as the driver connects or name a file this
// machine reads (keys, certificates, a server's public key, a socket): the
// administrator may allow each with one value. A6 is psqlODBC's
// abbreviation of ConnSettings; its D abbreviations name newer options
// (libpq's among them) and are treated alike.
const char* const kGuardedKeys[] = {
    "initstmt", "connsettings", "a6",        "sslkey",   "sslcert",   "sslca",         "sslcapath",
    "sslcrl",   "sslcrlpath",   "sslfplist", "sslfp",    "serverkey", "tlspeerfplist", "tlskeypwd",
    "socket",   "sslrootcert",  "sslcrldir", "passfile", "service"};

// MariaDB Connector/ODBC's OPTION flags that write files: its trace (4)
// and the query log (524288).
constexpr unsigned long kWritingOptionFlags = 4UL | 524288UL;

bool listed(const std::string& key, const char* const* begin, const char* const* end) {
  return std::any_of(begin, end, [&](const char* k) { return key == k; });
}

bool isNever(const std::string& key) { return listed(key, std::begin(kNeverKeys), std::end(kNeverKeys)); }

bool isGuarded(const std::string& key) {
  if (key.size() == 2 && key[0] == 'd' && std::isdigit(static_cast<unsigned char>(key[1]))) return true;
  return listed(key, std::begin(kGuardedKeys), std::end(kGuardedKeys));
}

bool containsNoCase(const std::string& s, const char* word) {
  std::string a;
  for (char c : s) a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a.find(word) != std::string::npos;
}

[[noreturn]] void refuse(const std::string& key, const std::string& why) {
  com::raise(kOpenFailed, kSource, "A connection string may not use the key " + key + ": " + why);
}

void checkOption(const std::string& value) {
  const std::string v = unbraced(value);
  char* end = nullptr;
  unsigned long flags = std::strtoul(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || v[0] == '-') refuse("OPTION", "its value is not a number of flags.");
  if (flags & kWritingOptionFlags) refuse("OPTION", "its trace and query-log flags (4, 524288) write files.");
}

// Sets MARIADB_HOME to the directory of the client option file shipped
// beside this library, as the library loads (before any thread runs).
[[maybe_unused]] const bool kMariadbHomeSet = [] {
  if (std::getenv("MARIADB_HOME") || std::getenv("MYSQL_HOME")) return false;
  const std::string dir = mariadbOptionDirectory();
  return !dir.empty() && ::setenv("MARIADB_HOME", dir.c_str(), 0) == 0;
}();

}  // namespace

std::string normalKey(const std::string& key) {
  std::string out;
  for (char c : key)
    if (c != '{' && c != '}' && !std::isspace(static_cast<unsigned char>(c)))
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Whether `key` (lower case) stands in the text as a key: a whole word,
// followed by blanks or braces and "=". Looked for in the raw text as well
// as in the parsed pairs, so a key inside a braced value that some driver
// reads differently still counts.
bool standsAsKey(const std::string& lowered, const std::string& key) {
  auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t at = lowered.find(key); at != std::string::npos; at = lowered.find(key, at + 1)) {
    if (at > 0 && word(lowered[at - 1])) continue;
    size_t after = at + key.size();
    while (after < lowered.size() &&
           (lowered[after] == '}' || std::isspace(static_cast<unsigned char>(lowered[after]))))
      ++after;
    if (after < lowered.size() && lowered[after] == '=') return true;
  }
  return false;
}

std::string guardConnectKeys(const std::string& connectString, const std::string& driverName,
                             const AllowedKeys& allowed) {
  std::string lowered = connectString;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* key : kNeverKeys)
    if (standsAsKey(lowered, key))
      refuse(key, "it makes the driver write logs, read option or local files, or load code.");
  const ConnectionString cs = ConnectionString::parse(connectString);
  std::map<std::string, int> seen;
  bool allowedRead = false;
  ConnectionString allowList;
  for (const auto& [key, value] : cs.pairs()) {
    const std::string k = normalKey(key);
    if (++seen[k] > 1) refuse(key, "it is given twice (a driver may take either value).");
    if (isNever(k)) refuse(key, "it makes the driver write logs, read option or local files, or load code.");
    if (k == "option" || k == "options") checkOption(value);
    if (!isGuarded(k)) continue;
    if (!allowedRead) {
      allowList = allowed();
      allowedRead = true;
    }
    bool ok = false;
    for (const auto& [ak, av] : allowList.pairs()) ok = ok || (normalKey(ak) == k && unbraced(av) == unbraced(value));
    if (!ok)
      refuse(key,
             "it runs statements as the driver connects or names a file on this machine; the root's "
             "administrator may allow it with one value in [DataAccess] ConnectKeys of ini/SysTivel.ini.");
  }

  std::string out = connectString;
  if (!out.empty() && out.back() != ';') out += ';';
  // Appended last, where both drivers take a key's last value.
  if (containsNoCase(driverName, "postgres")) out += "Debug=0;CommLog=0;";
  if (containsNoCase(driverName, "mariadb") || containsNoCase(driverName, "mysql")) out += "USE_MYCNF=1;";
  return out;
}

ConnectionString allowedConnectKeys() {
  static const char anchor = 0;
  std::string ini = com::componentDirectory(&anchor) + "/../ini/SysTivel.ini";
  std::string list;
  profile::getPrivateProfileString("DataAccess", "ConnectKeys", "", &list, 65536, ini);
  return ConnectionString::parse(list);
}

std::vector<std::string> loggingDriverEntries() {
  std::vector<std::string> found;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return found;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[512], attributes[4096];
  SQLSMALLINT nameLen = 0, attributesLen = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST; SQL_SUCCEEDED(
           SQLDrivers(env, direction, name, sizeof name, &nameLen, attributes, sizeof attributes, &attributesLen));
       direction = SQL_FETCH_NEXT) {
    // The attributes are "KEY=VALUE" texts, each ended by a NUL.
    const char* at = reinterpret_cast<const char*>(attributes);
    const char* end =
        at + std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(attributesLen, 0)), sizeof attributes);
    for (; at < end && *at; at += std::strlen(at) + 1) {
      const std::string pair = at;
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = normalKey(pair.substr(0, eq));
      std::string value = pair.substr(eq + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      value.erase(value.find_last_not_of(" \t") + 1);
      if ((key == "commlog" || key == "debug") && !value.empty() && value != "0")
        found.push_back("the ODBC driver entry \"" + std::string(reinterpret_cast<const char*>(name)) + "\" sets " +
                        pair.substr(0, eq) + "=" + value);
    }
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return found;
}

std::string mariadbOptionDirectory() {
  static const char anchor = 0;
  Dl_info info{};
  if (!dladdr(&anchor, &info) || !info.dli_fname) return "";
  std::string lib = info.dli_fname;
  std::string dir = lib.substr(0, lib.find_last_of('/') == std::string::npos ? 0 : lib.find_last_of('/'));
  if (dir.empty()) dir = ".";
  dir += "/mariadb";
  struct stat st {};
  if (::stat((dir + "/my.cnf").c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  return dir;
}

}  // namespace tivel::ado::odbc
