#include "mgt/testing/portal.h"

#include <filesystem>
#include <fstream>

#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/ado/recordset.h"
#include "platform/profile/profile.h"

namespace tivel::mgt::testing {

namespace fs = std::filesystem;

void writeConfig(const std::string& root, const std::string& engine, tivel::testing::ScratchDatabase* server) {
  fs::create_directories(fs::path(root) / "ini");
  fs::create_directories(fs::path(root) / "db");
  std::ofstream ini(fs::path(root) / "ini" / "SysTivel.ini", std::ios::binary);
  if (engine == "sqlite") {
    ini << defaultSysTivelIni();
    std::ofstream(fs::path(root) / "db" / "tivel.db", std::ios::binary);
    return;
  }
  ini << "[DB]\nmode=2\n[DBCONN_sql_drive]\n" << server->driveSection();
}

Portal::Portal(const std::string& engine, bool seed) : engine_(engine) {
  if (engine != "sqlite") server_ = std::make_unique<tivel::testing::ScratchDatabase>(engine);
  writeConfig(dir_.path(), engine, server_.get());
  InitReport report = initRoot({dir_.path(), seed});
  // The owner made the schema; the components work as a role with only the
  // grants the portal needs, as a deployment should have it.
  if (server_) {
    const auto& role = server_->portalRole();
    const std::string ini = (fs::path(dir_.path()) / "ini" / "SysTivel.ini").string();
    profile::writePrivateProfileString("DBCONN_sql_drive", "uid", role.name, ini);
    profile::writePrivateProfileString("DBCONN_sql_drive", "pwd", role.password, ini);
  }
  resetThreadState();
  db_ = std::make_shared<ado::Connection>();
  db_->open(report.connectionString);
}

void Portal::useOwnerAccount() {
  if (!server_) return;
  const auto owner = server_->owner();
  const std::string ini = (fs::path(dir_.path()) / "ini" / "SysTivel.ini").string();
  profile::writePrivateProfileString("DBCONN_sql_drive", "uid", owner.name, ini);
  profile::writePrivateProfileString("DBCONN_sql_drive", "pwd", owner.password, ini);
  resetThreadState();
}

Portal::~Portal() {
  resetThreadState();
  if (db_ && db_->isOpen()) db_->close();
  db_.reset();
  ::unsetenv("TIVEL_HOME");
}

ado::Connection& Portal::db() { return *db_; }

com::Variant Portal::scalar(const std::string& sql) {
  auto rs = db_->execute(sql);
  com::Variant v = rs->eof() ? com::Variant() : rs->value(0);
  rs->close();
  return v;
}

long Portal::count(const std::string& table, const std::string& where) {
  return scalar("select count(*) from " + table + (where.empty() ? "" : " where " + where)).toLong();
}

void Portal::exec(const std::string& sql) { db_->execute(sql); }

}  // namespace tivel::mgt::testing
