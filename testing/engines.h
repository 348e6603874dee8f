// Test support: the database engines a test run covers and throwaway
// databases on them. Every data-access and management suite is instantiated
// once per engine returned by engines().
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tivel::testing {

// "sqlite" always; "postgresql" and "mariadb" when the environment names a
// test server of theirs (TIVEL_TEST_PG_HOST, _PORT, _USER, _PASSWORD;
// TIVEL_TEST_MARIADB_HOST, _PORT, _USER, _PASSWORD). With
// TIVEL_TEST_PG_NATIVE=1 "postgresql" is reached through the native backend
// (platform/ado/pq) rather than its ODBC driver.
std::vector<std::string> engines();

// A fresh, empty database on one engine, dropped when the object goes.
class ScratchDatabase {
 public:
  explicit ScratchDatabase(const std::string& engine);
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  const std::string& engine() const { return engine_; }
  // A connection string the data-access layer opens.
  const std::string& connectionString() const { return connectionString_; }
  // For sqlite: the database file. For a server engine: the database name.
  const std::string& location() const { return location_; }
  // For a server engine: the lines of an INI's [DBCONN_sql_drive] section
  // (DRIVER, SERVER as host,port, uid, pwd, Database) that name the database.
  const std::string& driveSection() const { return driveSection_; }

  // For a server engine: a login role holding only what the portal's role
  // needs on this database. postgresql: CONNECT, USAGE on the schema public,
  // SELECT, INSERT, UPDATE and DELETE on its tables and USAGE on their
  // sequences (those there now, and those the owner makes later). mariadb:
  // SELECT, INSERT, UPDATE and DELETE on the database. Made at the first
  // call, dropped with the database.
  struct Role {
    std::string name, password;
  };
  const Role& portalRole();
  // For a server engine: the test server's account, which owns this database.
  Role owner() const;

 private:
  std::string engine_, connectionString_, location_, driveSection_;
  Role portalRole_;
};

// The value of the environment variable `name`, or "" when it is not set.
std::string env(const char* name);

// Runs fn with the environment variable `name` set to `value`, and puts the
// variable back as it was afterwards, however fn ends.
void withEnvironment(const std::string& name, const std::string& value, const std::function<void()>& fn);

// A new empty directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Test-name suffix for an engine parameter ("sqlite", "postgresql", "mariadb").
struct EngineName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return info.param;
  }
};

}  // namespace tivel::testing
