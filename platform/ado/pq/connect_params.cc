#include "platform/ado/pq/connect_params.h"

#include <strings.h>

#include "platform/ado/odbc/odbc_connection_string.h"

namespace tivel::ado::pq {
namespace {

constexpr const char* kDefaultConnectTimeout = "15";

// The value of the first of the keys the string has, braces taken off.
std::string first(const ConnectionString& cs, std::initializer_list<const char*> keys) {
  for (const char* key : keys)
    if (cs.has(key)) return odbc::unbraced(cs.get(key));
  return "";
}

}  // namespace

bool servesConnectionString(const ConnectionString& cs) {
  const std::string provider = odbc::unbraced(cs.get("Provider"));
  if (!provider.empty()) return strcasecmp(provider.c_str(), "PostgreSQL") == 0;
  return !cs.has("dsn") && strcasecmp(odbc::unbraced(cs.get("DRIVER")).c_str(), "PostgreSQL") == 0;
}

std::vector<std::pair<std::string, std::string>> connectParams(const ConnectionString& cs) {
  std::string host = first(cs, {"Host", "Server", "Data Source"});
  std::string port = first(cs, {"Port"});
  // The server-database spelling "host,port".
  if (size_t comma = host.find(','); comma != std::string::npos) {
    if (port.empty()) port = host.substr(comma + 1);
    host.erase(comma);
  }
  std::string timeout = first(cs, {"Connect Timeout"});
  if (timeout.empty() || timeout.size() > 6 || timeout.find_first_not_of("0123456789") != std::string::npos)
    timeout = kDefaultConnectTimeout;
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](const char* key, const std::string& value) {
    if (!value.empty()) out.emplace_back(key, value);
  };
  add("host", host);
  add("port", port);
  add("dbname", first(cs, {"Database", "Initial Catalog", "dbname"}));
  add("user", first(cs, {"User", "User ID", "uid", "UserName"}));
  add("password", first(cs, {"Password", "pwd"}));
  add("connect_timeout", timeout);
  add("client_encoding", "UTF8");
  add("application_name", "tivel");
  return out;
}

}  // namespace tivel::ado::pq
