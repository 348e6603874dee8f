#include "fee/testing/rpc_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ado/recordset.h"
#include "platform/profile/profile.h"
#include "testing/engines.h"

namespace tivel::gf::testing {

namespace fs = std::filesystem;

namespace {

using ::tivel::testing::env;

// Runs a shell command and returns its standard output; fails the test when
// it exits non-zero.
std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("popen failed");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (status != 0) throw std::runtime_error(command + " failed:\n" + out);
  return out;
}

}  // namespace

std::string tivelCommand() {
  std::string bin = env("TIVEL_BIN");
  return (bin.empty() ? std::string("bin") : bin) + "/tivel";
}

FeeRoot::FeeRoot(const std::string& engine) : engine_(engine) {
  fs::create_directories(fs::path(path()) / "ini");
  if (engine != "sqlite") {
    server_ = std::make_unique<tivel::testing::ScratchDatabase>(engine);
    std::ofstream ini(fs::path(path()) / "ini" / "Scrivane.ini", std::ios::binary);
    ini << "[DB]\nmode=2\n[DBCONN_sql_drive]\n" << server_->driveSection();
  }
  initOutput_ = run(tivelCommand() + " init --no-seed --root '" + path() + "' 2>&1");
  // The owner made the schema; the component works as a role with only the
  // grants the portal needs.
  if (server_) {
    const auto& role = server_->portalRole();
    const std::string ini = (fs::path(path()) / "ini" / "Scrivane.ini").string();
    profile::writePrivateProfileString("DBCONN_sql_drive", "uid", role.name, ini);
    profile::writePrivateProfileString("DBCONN_sql_drive", "pwd", role.password, ini);
  }
  db_ = std::make_shared<ado::Connection>();
  db_->open(engine == "sqlite" ? "Provider=SQLite;Data Source=" + path() + "/db/scrivane.db;"
                               : server_->connectionString());
}

FeeRoot::~FeeRoot() {
  if (db_ && db_->isOpen()) db_->close();
}

com::Variant FeeRoot::scalar(const std::string& sql) {
  auto rs = db_->execute(sql);
  com::Variant v = rs->eof() ? com::Variant() : rs->value(0);
  rs->close();
  return v;
}

long FeeRoot::count(const std::string& table, const std::string& where) {
  return scalar("select count(*) from " + table + (where.empty() ? "" : " where " + where)).toLong();
}

void FeeRoot::exec(const std::string& sql) { db_->execute(sql); }

std::string FeeRoot::logText() const {
  com::DateTime now = com::DateTime::now();
  char name[32];
  std::snprintf(name, sizeof name, "logScrivane%04d%02d%02d.txt", now.year, now.month, now.day);
  std::ifstream in(fs::path(path()) / "log" / name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

RpcSession::RpcSession(const std::string& root) {
  // A session whose process was killed must not take the test down with it.
  signal(SIGPIPE, SIG_IGN);
  int toChild[2], fromChild[2];
  // Close-on-exec, so that sessions started at the same time from other
  // threads do not inherit each other's pipes (and never see their input end).
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    std::string cmd = tivelCommand();
    execl(cmd.c_str(), cmd.c_str(), "rpc", "--root", root.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in_ = fdopen(toChild[1], "w");
  out_ = fdopen(fromChild[0], "r");
}

RpcSession::~RpcSession() {
  if (in_) fclose(in_);
  if (out_) fclose(out_);
  int status = 0;
  // A session that ends by itself ends well; a killed one is left alone.
  if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "tivel rpc ended with a failure";
  }
}

void RpcSession::send(const Json& request) {
  std::string line = request.dump() + "\n";
  fwrite(line.data(), 1, line.size(), in_);
  fflush(in_);
}

Json RpcSession::receive() {
  std::string line;
  int c;
  while ((c = fgetc(out_)) != EOF && c != '\n') line += static_cast<char>(c);
  if (line.empty()) return Json();
  return Json::parse(line);
}

Json RpcSession::ask(const Json& request) {
  Json r = request;
  if (!r.contains("id")) r["id"] = next_++;
  send(r);
  return receive();
}

int64_t RpcSession::create(const std::string& progid) {
  Json a = ask({{"new", progid}});
  EXPECT_FALSE(a.contains("error")) << progid << ": " << a.dump();
  return handleOf(a);
}

Json RpcSession::call(int64_t object, const std::string& member, Json args) {
  Json a = ask({{"object", object}, {"call", member}, {"args", std::move(args)}});
  EXPECT_FALSE(a.contains("error")) << member << ": " << a.dump();
  return a;
}

void RpcSession::put(int64_t object, const std::string& property, Json value, Json args) {
  Json a = ask({{"object", object}, {"put", property}, {"value", std::move(value)}, {"args", std::move(args)}});
  EXPECT_FALSE(a.contains("error")) << property << ": " << a.dump();
}

Json RpcSession::dump(int64_t object) {
  Json a = ask({{"dump", object}});
  EXPECT_FALSE(a.contains("error")) << a.dump();
  return a["result"];
}

int64_t handleOf(const Json& answer) {
  if (!answer.contains("result") || !answer["result"].is_object() || !answer["result"].contains("object") ||
      answer["result"]["object"].is_null())
    return 0;
  return answer["result"]["object"].get<int64_t>();
}

}  // namespace tivel::gf::testing
