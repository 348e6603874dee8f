// `tivel init`, run in this process: who may read what a root holds, and
// the lockout that --policy seeds.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <vector>

#include "fee/module.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/testing/portal.h"
#include "platform/ado/connection.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "setup/store.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

namespace fs = std::filesystem;

// Runs `tivel init ARGS` and returns what it printed.
std::string init(std::vector<std::string> args) {
  CLI::App app{"tivel"};
  app.require_subcommand(1);
  for (const auto& setup : commands()) setup(app);
  std::vector<const char*> argv{"tivel", "init"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  ::testing::internal::CaptureStdout();
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (...) {
    ADD_FAILURE() << "tivel init failed: " << ::testing::internal::GetCapturedStdout();
    throw;
  }
  return ::testing::internal::GetCapturedStdout();
}

struct Entry {
  mode_t mode;
  gid_t group;
  bool directory;
};

// Everything in the root's data directories, by path below the root.
std::map<std::string, Entry> entries(const std::string& root) {
  std::map<std::string, Entry> all;
  auto note = [&](const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
      all[fs::relative(path, root).string()] = {st.st_mode & 07777, st.st_gid, S_ISDIR(st.st_mode)};
  };
  for (const char* dir : {"ini", "log", "db"}) {
    note(fs::path(root) / dir);
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(root) / dir)) note(entry.path());
  }
  return all;
}

// What the components write into a root besides `tivel init`: the database
// with its write-ahead log and shared memory (kept while `db` is open), the
// daily logs of TivelMgt and TivelGF, and the installation helper's store.
void useRoot(const std::string& root, ado::Connection& db) {
  db.open("PROVIDER=SQLite;Data Source=" + root + "/db/tivel.db;");
  db.execute("insert into umGrp(Grp_no,name) values('9','试')");
  mgt::WriteFileLog("probe");
  gf::WriteFileLog("probe");
  setup::Store().update([](setup::ServiceState& s) { s.ftp.path = "/srv/ftp"; });
}

class RootAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { umask_ = ::umask(0); }  // the root's modes must not depend on it
  void TearDown() override {
    ::umask(umask_);
    mgt::resetThreadState();
    ::unsetenv("TIVEL_HOME");
  }
  std::string root(const char* name) const { return dir_.path() + "/" + name; }

  testing::TempDir dir_;
  mode_t umask_ = 0;
};

TEST_F(RootAccessTest, ARootIsItsOwnersWhateverTheUmaskAndInitTightensLooserModes) {
  const std::string r = root("r");
  init({"--root", r});
  ado::Connection db;
  useRoot(r, db);
  std::map<std::string, Entry> made = entries(r);
  db.close();
  for (const char* file : {"ini/SysTivel.ini", "ini/Scrivane.ini", "ini/serve.token", "db/tivel.db", "db/tivel.db-wal",
                           "db/tivel.db-shm", "db/scrivane.db", "db/setup.json", "db/setup.json.lock"})
    EXPECT_EQ(made.count(file), 1u) << file;
  auto ownersAlone = [](const std::map<std::string, Entry>& all) {
    for (const auto& [path, e] : all) EXPECT_EQ(e.mode, e.directory ? 0700u : 0600u) << path;
  };
  ownersAlone(made);
  EXPECT_EQ(made.size(), 14u);  // the files above, two logs and the three directories

  // An older root's looser modes are narrowed, each change named.
  ASSERT_EQ(::chmod((r + "/db").c_str(), 0755), 0);
  ASSERT_EQ(::chmod((r + "/db/tivel.db").c_str(), 0644), 0);
  ASSERT_EQ(::chmod((r + "/ini/SysTivel.ini").c_str(), 0666), 0);
  const std::string out = init({"--root", r});
  EXPECT_NE(out.find("access:     " + r + "/db 0755 -> 0700\n"), std::string::npos) << out;
  EXPECT_NE(out.find("access:     " + r + "/db/tivel.db 0644 -> 0600\n"), std::string::npos) << out;
  EXPECT_NE(out.find("access:     " + r + "/ini/SysTivel.ini 0666 -> 0600\n"), std::string::npos) << out;
  ownersAlone(entries(r));
  EXPECT_EQ(init({"--root", r}).find("access:"), std::string::npos);
}

TEST_F(RootAccessTest, AGroupSharesTheRootForReadingAndTheComponentsKeepSharingWithIt) {
  // A group of this user's: a supplementary one when there is one.
  gid_t groups[64];
  int n = ::getgroups(64, groups);
  gid_t gid = ::getgid();
  for (int i = 0; i < n; ++i)
    if (groups[i] != gid) gid = groups[i];
  const std::string name = ::getgrgid(gid)->gr_name;

  const std::string r = root("shared");
  init({"--root", r, "--group", name});
  ado::Connection db;
  useRoot(r, db);
  std::map<std::string, Entry> made = entries(r);
  db.close();
  EXPECT_EQ(made.count("db/tivel.db-shm"), 1u);
  for (const auto& [path, e] : made) {
    EXPECT_EQ(e.mode, e.directory ? 02750u : path == "ini/serve.token" ? 0600u : 0640u) << path;
    EXPECT_EQ(e.group, gid) << path;
  }

  // A root of the owner's alone is shared when asked; the gateway's token stays its owner's.
  const std::string own = root("own");
  init({"--root", own});
  const std::string out = init({"--root", own, "--group", name});
  EXPECT_NE(out.find("access:     " + own + "/db 0700 -> 2750, group " + name + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("access:     " + own + "/db/tivel.db 0600 -> 0640"), std::string::npos) << out;
  std::map<std::string, Entry> shared = entries(own);
  EXPECT_EQ(shared["ini/serve.token"].mode, 0600u);
  EXPECT_EQ(shared["ini/SysTivel.ini"].mode, 0640u);
  EXPECT_EQ(shared["ini/SysTivel.ini"].group, gid);
}

class LockoutTest : public mgt::testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  std::string login(const char* pwd) { return admin_->call("loginByPwd", {"guard", pwd, ""}).toString(); }
  com::ObjectPtr admin_;
};

TEST_P(LockoutTest, PolicySeedsALockAfterFiveWrongPasswordsForFifteenMinutes) {
  const std::string ini = portal().root() + "/ini/SysTivel.ini";
  std::string out = init({"--root", portal().root(), "--policy"});
  EXPECT_NE(out.find("lockout:    after 5 wrong passwords in a row (LogErrLockNum)\n"), std::string::npos) << out;
  EXPECT_EQ(profile::readProfileString(ini, "Policy", "lock_minutes"), "15");

  admin_ = com::CreateObject("TivelMgt.AdminMgt");
  ASSERT_TRUE(admin_->call("addUsr", {"guard", "right", "门卫", "", "", "", "", ""}).toBool());
  std::vector<std::string> answers;
  for (int i = 0; i < 60; ++i) answers.push_back(login("wrong"));
  std::vector<std::string> expected(5, "10003");
  expected.resize(60, "10012");
  EXPECT_EQ(answers, expected);
  EXPECT_EQ(login("right"), "10012");

  // Run again, what the root has is kept; the options set other values.
  out = init({"--root", portal().root(), "--policy"});
  EXPECT_NE(out.find("after 5 wrong passwords in a row (LogErrLockNum, kept)"), std::string::npos) << out;
  init({"--root", portal().root(), "--policy", "--lock-after", "3", "--lock-minutes", "30"});
  EXPECT_EQ(portal().scalar("select default_value from umUsrSecAttr where usa_no='4'").toString(), "3");
  EXPECT_EQ(profile::readProfileString(ini, "Policy", "lock_minutes"), "30");
}

INSTANTIATE_TEST_SUITE_P(Engines, LockoutTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::tool
