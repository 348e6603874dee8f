#include "testing/engines.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>

#include <sqlite3.h>

#include "platform/ado/backend.h"
#include "platform/ado/odbc/odbc_connection_string.h"

namespace tivel::testing {

namespace fs = std::filesystem;

namespace {

// A server engine of the test run: the prefix of its TIVEL_TEST_* variables
// and its ODBC driver.
struct Server {
  const char* prefix;  // "TIVEL_TEST_PG", "TIVEL_TEST_MARIADB"
  std::string driver;
  std::string setting(const char* name) const { return env((std::string(prefix) + "_" + name).c_str()); }
};

Server serverFor(const std::string& engine) {
  // TIVEL_TEST_PG_NATIVE=1 reaches PostgreSQL through the native backend
  // ("PostgreSQL" as the driver) rather than its ODBC driver.
  if (engine == "postgresql")
    return {"TIVEL_TEST_PG",
            env("TIVEL_TEST_PG_NATIVE") == "1" ? std::string("PostgreSQL") : ado::odbc::serverDriver()};
  if (engine == "mariadb") return {"TIVEL_TEST_MARIADB", "MariaDB Unicode"};
  throw std::runtime_error("engine not available in this build of the test support: " + engine);
}

// The test server in the mode-2 form the management component builds: the
// driver, "; server=" with the port written "host,port", user and password.
// No database at all when `database` is empty.
std::string serverConnectionString(const Server& s, const std::string& database) {
  std::string server = s.setting("HOST");
  if (!s.setting("PORT").empty()) server += "," + s.setting("PORT");
  return "DRIVER=" + s.driver + "; server=" + server + ";uid=" + s.setting("USER") +
         ";PASSWORD=" + s.setting("PASSWORD") + (database.empty() ? "" : ";DATABASE=" + database);
}

// A connection to the server outside the scratch databases, for making and dropping them.
std::unique_ptr<ado::Backend> adminConnection(const std::string& engine) {
  const Server s = serverFor(engine);
  return ado::openBackend(serverConnectionString(s, engine == "postgresql" ? "postgres" : ""), 60);
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
  if (!env("TIVEL_TEST_PG_HOST").empty()) out.push_back("postgresql");
  if (!env("TIVEL_TEST_MARIADB_HOST").empty()) out.push_back("mariadb");
  return out;
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

void withEnvironment(const std::string& name, const std::string& value, const std::function<void()>& fn) {
  const char* was = std::getenv(name.c_str());
  const std::optional<std::string> old = was ? std::optional<std::string>(was) : std::nullopt;
  setenv(name.c_str(), value.c_str(), 1);
  auto restore = [&] { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); };
  try {
    fn();
  } catch (...) {
    restore();
    throw;
  }
  restore();
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
  const Server server = serverFor(engine);
  if (server.setting("HOST").empty())
    throw std::runtime_error(std::string(server.prefix) + "_HOST names no test server");
  location_ = uniqueDatabaseName();
  // The collation compares texts by their characters, as the other engines do.
  adminConnection(engine)->execute("CREATE DATABASE " + location_ +
                                   (engine == "postgresql" ? " ENCODING 'UTF8' TEMPLATE template0"
                                                           : " CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin"));
  connectionString_ = serverConnectionString(server, location_);
  driveSection_ = "DRIVER=" + server.driver + "\nSERVER=" + server.setting("HOST") + "," + server.setting("PORT") +
                  "\nuid=" + server.setting("USER") + "\npwd=" + server.setting("PASSWORD") +
                  "\nDatabase=" + location_ + "\n";
}

const ScratchDatabase::Role& ScratchDatabase::portalRole() {
  if (engine_ == "sqlite") throw std::runtime_error("a portal role is made on a server engine only");
  if (!portalRole_.name.empty()) return portalRole_;
  // Known before it is made, so the destructor drops it whatever happens.
  portalRole_ = {location_ + "_portal", randomPassword()};
  const Role& role = portalRole_;
  auto owner = ado::openBackend(connectionString_, 60);
  if (engine_ == "mariadb") {
    // The account reaches this database alone; FILE, PROCESS and the like stay out.
    const std::string account = "'" + role.name + "'@'%'";
    owner->execute("CREATE USER " + account + " IDENTIFIED BY '" + role.password + "'");
    owner->execute("GRANT SELECT, INSERT, UPDATE, DELETE ON " + location_ + ".* TO " + account);
    return portalRole_;
  }
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

ScratchDatabase::Role ScratchDatabase::owner() const {
  const Server server = serverFor(engine_);
  return {server.setting("USER"), server.setting("PASSWORD")};
}

ScratchDatabase::~ScratchDatabase() {
  if (engine_ == "sqlite") {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(location_ + suffix, ec);
    return;
  }
  // Sessions a test left open are ended first (FORCE on PostgreSQL); a
  // failure here only leaves a database behind on a throwaway server.
  try {
    auto admin = adminConnection(engine_);
    if (engine_ == "postgresql") {
      admin->execute("DROP DATABASE IF EXISTS " + location_ + " WITH (FORCE)");
      // Its grants went with the database.
      if (!portalRole_.name.empty()) admin->execute("DROP ROLE IF EXISTS " + portalRole_.name);
      return;
    }
    ado::StatementResult open = admin->execute("SELECT id FROM information_schema.processlist WHERE db = '" +
                                               location_ + "' AND id <> CONNECTION_ID()");
    for (const ado::PackedRow& row : open.rows) {
      try {
        admin->execute("KILL " + row[0].toString());
      } catch (const std::exception&) {
      }
    }
    admin->execute("DROP DATABASE IF EXISTS " + location_);
    if (!portalRole_.name.empty()) admin->execute("DROP USER IF EXISTS '" + portalRole_.name + "'@'%'");
  } catch (const std::exception&) {
  }
}

}  // namespace tivel::testing
