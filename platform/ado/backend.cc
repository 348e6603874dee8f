#include "platform/ado/backend.h"

#include <strings.h>

#include <exception>
#include <map>
#include <mutex>

#include "platform/ado/connection_guard.h"
#include "platform/ado/constants.h"
#include "platform/ado/key_cache.h"
#include "platform/ado/statement_hook.h"
#include "platform/com/error.h"

namespace tivel::ado {
namespace {

constexpr const char* kSource = "ADODB.Connection";

// Filled while the libraries load, read when connections open.
std::map<std::string, BackendFactory>& factories() {
  static std::map<std::string, BackendFactory> f;
  return f;
}

std::mutex& factoriesMutex() {
  static std::mutex m;
  return m;
}

// Which registered backend serves a connection string, or "" for none. The
// string itself never appears in a message: it may carry a password.
// "PostgreSQL" as the provider or driver is the native PostgreSQL backend;
// the ODBC drivers for it are installed under other names.
std::string backendFor(const ConnectionString& cs) {
  auto named = [&](const char* key, const char* name) {
    std::string v = cs.get(key);
    if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = v.substr(1, v.size() - 2);
    return strcasecmp(v.c_str(), name) == 0;
  };
  std::string provider = cs.get("Provider");
  if (!provider.empty()) {
    if (named("Provider", "SQLite")) return "sqlite";
    return named("Provider", "PostgreSQL") ? "pq" : "odbc";
  }
  if (cs.has("DRIVER") && !cs.has("dsn") && named("DRIVER", "PostgreSQL")) return "pq";
  if (cs.has("dsn") || cs.has("DRIVER")) return "odbc";
  return "";
}

// Rolls back to the savepoint and drops it. A failure here is not reported:
// the first failure is the one the caller sees.
void undoSavepoint(Backend& backend) {
  try {
    backend.execute("ROLLBACK TO SAVEPOINT tivel_at_most");
    backend.execute("RELEASE SAVEPOINT tivel_at_most");
  } catch (const com::ComError&) {
  }
}

}  // namespace

long Backend::executeInSavepoint(const std::string& sql, const std::vector<com::Variant>& params, long limit) {
  execute("SAVEPOINT tivel_at_most");
  long changed = 0;
  try {
    changed = executeBound(sql, params);
  } catch (...) {
    undoSavepoint(*this);
    throw;
  }
  if (changed > limit) {
    undoSavepoint(*this);
    return changed;
  }
  execute("RELEASE SAVEPOINT tivel_at_most");
  return changed;
}

std::vector<char> columnsNamed(const std::vector<ColumnInfo>& columns, const std::vector<std::string>& names) {
  std::vector<char> named;
  if (names.empty()) return named;
  named.reserve(columns.size());
  for (const ColumnInfo& c : columns) {
    bool found = false;
    for (const std::string& n : names) found = found || strcasecmp(n.c_str(), c.name.c_str()) == 0;
    named.push_back(found);
  }
  return named;
}

void registerBackend(const std::string& name, BackendFactory factory) {
  std::lock_guard lock(factoriesMutex());
  factories()[name] = std::move(factory);
}

std::unique_ptr<Backend> openBackend(const std::string& connectionString, int timeoutSeconds) {
  checkConnection(connectionString);
  ConnectionString cs = ConnectionString::parse(connectionString);
  if (cs.pairs().empty()) com::raise(kOpenFailed, kSource, "The connection string is empty.");
  std::string name = backendFor(cs);
  if (name.empty())
    com::raise(kOpenFailed, kSource,
               "The connection string names no provider, data source name (dsn=) or driver (DRIVER=).");
  BackendFactory factory;
  {
    std::lock_guard lock(factoriesMutex());
    auto it = factories().find(name);
    if (it != factories().end()) factory = it->second;
  }
  if (!factory) com::raise(kOpenFailed, kSource, "No data-access backend \"" + name + "\" is available.");
  std::unique_ptr<Backend> backend;
  try {
    backend = factory(cs, timeoutSeconds);
  } catch (const com::ComError&) {
    throw;
  } catch (const std::exception& e) {
    com::raise(kOpenFailed, kSource, e.what());
  }
  if (!backend)
    com::raise(kOpenFailed, kSource, "The data-access backend \"" + name + "\" does not serve this connection string.");
  return hookable(keepingKeys(std::move(backend)));
}

}  // namespace tivel::ado
