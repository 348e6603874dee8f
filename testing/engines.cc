#include "testing/engines.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include <sqlite3.h>

#include "platform/ado/backend.h"
#include "platform/ado/odbc/odbc_connection_string.h"

namespace tivel::testing {

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The test server in the mode-2 form the management component builds: the
// driver, "; server=" with the port written "host,port", user and password.
std::string serverConnectionString(const std::string& database) {
  std::string server = env("TIVEL_TEST_PG_HOST");
  if (!env("TIVEL_TEST_PG_PORT").empty()) server += "," + env("TIVEL_TEST_PG_PORT");
  return "DRIVER=" + ado::odbc::serverDriver() + "; server=" + server + ";uid=" + env("TIVEL_TEST_PG_USER") +
         ";PASSWORD=" + env("TIVEL_TEST_PG_PASSWORD") + ";DATABASE=" + database;
}

// A database name no other test, process or earlier run uses.
std::string uniqueDatabaseName() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  return "tivel_t" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" + std::to_string(rd() % 1000000);
}

std::string randomPassword() {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device rd;
  std::string out;
  for (int i = 0; i < 24; ++i) out += letters[rd() % (sizeof letters - 1)];
  return out;
}

}  // namespace

std::vector<std::string> engines() {
  std::vector<std::string> out{"sqlite"};
  const char* host = std::getenv("TIVEL_TEST_PG_HOST");
  if (host && *host) out.push_back("postgresql");
  return out;
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "tivel-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ScratchDatabase::ScratchDatabase(const std::string& engine) : engine_(engine) {
  if (engine == "sqlite") {
    std::string tmpl = (fs::temp_directory_path() / "tivel-db-XXXXXX").string();
    int fd = mkstemp(tmpl.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    // An empty file is a valid empty SQLite database.
    location_ = tmpl;
    connectionString_ = "Provider=SQLite;Data Source=" + location_ + ";";
    return;
  }
  if (engine == "postgresql") {
    if (env("TIVEL_TEST_PG_HOST").empty()) throw std::runtime_error("TIVEL_TEST_PG_HOST names no test server");
    location_ = uniqueDatabaseName();
    auto admin = ado::openBackend(serverConnectionString("postgres"), 60);
    admin->execute("CREATE DATABASE " + location_ + " ENCODING 'UTF8' TEMPLATE template0");
    connectionString_ = serverConnectionString(location_);
    return;
  }
  throw std::runtime_error("engine not available in this build of the test support: " + engine);
}

const ScratchDatabase::Role& ScratchDatabase::portalRole() {
  if (engine_ != "postgresql") throw std::runtime_error("a portal role is made on postgresql only");
  if (!portalRole_.name.empty()) return portalRole_;
  // Known before it is made, so the destructor drops it whatever happens.
  portalRole_ = {location_ + "_portal", randomPassword()};
  const Role& role = portalRole_;
  auto owner = ado::openBackend(connectionString_, 60);
  for (const std::string& sql :
       {"CREATE ROLE " + role.name + " LOGIN PASSWORD '" + role.password + "'",
        "GRANT CONNECT ON DATABASE " + location_ + " TO " + role.name, "GRANT USAGE ON SCHEMA public TO " + role.name,
        "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO " + role.name,
        "GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO " + role.name,
        "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO " + role.name,
        "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT USAGE ON SEQUENCES TO " + role.name})
    owner->execute(sql);
  return portalRole_;
}

ScratchDatabase::~ScratchDatabase() {
  if (engine_ == "sqlite") {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(location_ + suffix, ec);
  } else if (engine_ == "postgresql") {
    // FORCE ends sessions a test left open; a failure here only leaves a
    // database behind in a throwaway cluster.
    try {
      auto admin = ado::openBackend(serverConnectionString("postgres"), 60);
      admin->execute("DROP DATABASE IF EXISTS " + location_ + " WITH (FORCE)");
      // Its grants went with the database.
      if (!portalRole_.name.empty()) admin->execute("DROP ROLE IF EXISTS " + portalRole_.name);
    } catch (const std::exception&) {
    }
  }
}

}  // namespace tivel::testing
