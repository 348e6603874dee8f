#include "testing/engines.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <sqlite3.h>

namespace tivel::testing {

namespace fs = std::filesystem;

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
  throw std::runtime_error("engine not available in this build of the test support: " + engine);
}

ScratchDatabase::~ScratchDatabase() {
  if (engine_ == "sqlite") {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(location_ + suffix, ec);
  }
}

}  // namespace tivel::testing
