#include "platform/ado/odbc/odbc_connection_string.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado::odbc {
namespace {

constexpr const char* kSource = "ODBC";

bool same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool startsWith(const std::string& s, const char* prefix) {
  return strncasecmp(s.c_str(), prefix, strlen(prefix)) == 0;
}

bool containsNoCase(const std::string& s, const char* word) {
  std::string a, b = word;
  for (char c : s) a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a.find(b) != std::string::npos;
}

// OLE DB provider names that stand for the server database.
bool isServerProviderName(const std::string& name) {
  return same(name, "SQLOLEDB") || startsWith(name, "SQLOLEDB.") || startsWith(name, "SQLNCLI") ||
         startsWith(name, "MSOLEDBSQL") || startsWith(name, "MSDASQL");
}

// The ODBC keyword a key of the system's strings stands for ("" to leave
// the pair out), or the key itself, trimmed, when it is the driver's own.
std::string keywordFor(const std::string& key) {
  if (same(key, "dsn")) return "DSN";
  if (same(key, "driver")) return "DRIVER";
  if (same(key, "uid") || same(key, "User ID") || same(key, "user")) return "UID";
  if (same(key, "pwd") || same(key, "password")) return "PWD";
  if (same(key, "server") || same(key, "Data Source")) return "SERVER";
  if (same(key, "database") || same(key, "Initial Catalog")) return "DATABASE";
  if (same(key, "port")) return "PORT";
  if (same(key, "Provider") || same(key, "Persist Security Info") || same(key, "Connect Timeout")) return "";
  return key;
}

bool allDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

// A value braced by the parser keeps its braces; the name inside is what a
// driver lookup compares.
std::string unbraced(const std::string& v) {
  if (v.size() >= 2 && v.front() == '{' && v.back() == '}') {
    std::string inner;
    for (size_t i = 1; i + 1 < v.size(); ++i) {
      inner += v[i];
      if (v[i] == '}' && i + 2 < v.size() && v[i + 1] == '}') ++i;
    }
    return inner;
  }
  return v;
}

std::string serverDriver() {
  const char* env = std::getenv("TIVEL_ODBC_DRIVER");
  return env && *env ? std::string(env) : std::string("PostgreSQL Unicode");
}

std::string connectPair(const std::string& key, const std::string& value) {
  bool braced = value.size() >= 2 && value.front() == '{' && value.back() == '}';
  bool needs = !braced && (value.find_first_of(";{}") != std::string::npos ||
                           (!value.empty() && (value.front() == ' ' || value.back() == ' ')));
  if (!needs) return key + "=" + value + ";";
  std::string out = key + "={";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "};";
}

std::vector<std::pair<std::string, std::string>> driverDefaults(const std::string& driverName) {
  // Bound values are placed into the statement by the driver, quoted as
  // literals, instead of a server-side prepare: psqlODBC leaks memory on
  // every prepared statement the server refuses.
  if (containsNoCase(driverName, "postgres")) return {{"BoolsAsChar", "0"}, {"UseServerSidePrepare", "0"}};
  // MariaDB Connector/ODBC: option 2 (FOUND_ROWS) counts the rows an update
  // matched, not only those whose values it changed, so that writing a row
  // back unchanged is not taken for a row that someone else changed; and
  // text in utf8mb4, every character of Unicode.
  if (containsNoCase(driverName, "mariadb")) return {{"OPTION", "2"}, {"CHARSET", "utf8mb4"}};
  return {};
}

OdbcTarget toOdbc(const ConnectionString& cs, const DriverLookup& isInstalledDriver) {
  OdbcTarget target;
  std::vector<std::pair<std::string, std::string>> pairs;
  bool hasPort = false;
  for (const auto& [key, value] : cs.pairs()) {
    std::string kw = keywordFor(key);
    if (kw.empty() || value.empty()) continue;
    bool seen = false;  // the first of a key counts, as ConnectionString::get reads it
    for (const auto& p : pairs) seen = seen || same(p.first, kw.c_str());
    if (seen) continue;
    if (kw == "PORT") hasPort = true;
    pairs.emplace_back(kw, value);
  }

  std::string provider = unbraced(cs.get("Provider"));
  if (!provider.empty()) {
    std::string driver;
    bool odbcItself = startsWith(provider, "MSDASQL");
    if (isInstalledDriver(provider))
      driver = provider;
    else if (isServerProviderName(provider))
      driver = serverDriver();
    else
      com::raise(kOpenFailed, kSource,
                 "The provider \"" + provider +
                     "\" is neither an installed ODBC driver nor a server-database provider name "
                     "(SQLOLEDB, SQLNCLI, MSOLEDBSQL, MSDASQL).");
    // The ODBC provider carries ODBC pairs: a data source or driver it names wins.
    bool named = false;
    for (const auto& p : pairs) named = named || p.first == "DSN" || p.first == "DRIVER";
    if (!(odbcItself && named)) {
      for (auto it = pairs.begin(); it != pairs.end();)
        it = (it->first == "DSN" || it->first == "DRIVER") ? pairs.erase(it) : it + 1;
      pairs.insert(pairs.begin(), {"DRIVER", driver});
    }
  }

  // Of DSN and DRIVER the first one counts, as in the driver manager.
  std::string out;
  for (auto& [kw, value] : pairs) {
    bool first = target.dsn.empty() && target.driver.empty();
    if (kw == "DSN" && first) target.dsn = unbraced(value);
    if (kw == "DRIVER") {
      if (first) target.driver = unbraced(value);
      out += connectPair(kw, "{" + unbraced(value) + "}");
      continue;
    }
    if (kw == "SERVER" && !hasPort) {
      size_t comma = value.rfind(',');
      if (comma != std::string::npos && allDigits(value.substr(comma + 1))) {
        out += connectPair("SERVER", value.substr(0, comma));
        out += connectPair("PORT", value.substr(comma + 1));
        continue;
      }
    }
    out += connectPair(kw, value);
  }
  if (target.dsn.empty() && target.driver.empty())
    com::raise(kOpenFailed, kSource, "The connection string names no data source (dsn=) or driver (DRIVER=).");
  target.connectString = out;
  return target;
}

}  // namespace tivel::ado::odbc
