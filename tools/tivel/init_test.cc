// `tivel init`, run in this process: who may read what a root holds, and
// the lockout that --policy seeds.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
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

// Writes into the root as the components do (the database, leaving its
// write-ahead log and shared memory while `db` is open; the daily logs of
// TivelMgt and TivelGF; the installation helper's store), then expects every
// entry of ini/, log/ and db/ to have the access the root gives: its
// owner's alone, or shared with `group` (but for the gateway's tokens and the
// console's key).
void expectAccess(const std::string& root, std::optional<gid_t> group) {
  ado::Connection db;
  db.open("PROVIDER=SQLite;Data Source=" + root + "/db/tivel.db;");
  db.execute("update umGrp set disc='试' where Grp_no='1'");
  mgt::WriteFileLog("probe");
  gf::WriteFileLog("probe");
  setup::Store().update([](setup::ServiceState& s) { s.ftp.path = "/srv/ftp"; });
  size_t seen = 0;
  for (const char* dir : {"ini", "log", "db"}) {
    std::vector<fs::path> paths{fs::path(root) / dir};
    for (const auto& entry : fs::recursive_directory_iterator(paths[0])) paths.push_back(entry.path());
    for (const fs::path& path : paths) {
      struct stat st {};
      ASSERT_EQ(::lstat(path.c_str(), &st), 0);
      const bool secret =
          path.filename() == "serve.token" || path.filename() == "serve.tokens" || path.filename() == "console.key";
      const mode_t want = S_ISDIR(st.st_mode) ? (group ? 02750 : 0700) : group && !secret ? 0640 : 0600;
      EXPECT_EQ(st.st_mode & 07777, want) << path;
      EXPECT_EQ(st.st_gid, group.value_or(st.st_gid)) << path;
      ++seen;
    }
  }
  // Three directories; two INI files, the gateway's token and tokens, the
  // console's key; two logs; both databases, the WAL and shared memory, the
  // store and its lock: nothing else (no temporary left).
  EXPECT_EQ(seen, 16u);
  db.close();
}

TEST(RootAccessTest, ARootIsItsOwnersOrSharedWithOneGroupWhateverTheUmask) {
  const mode_t umask = ::umask(0);
  testing::TempDir dir;
  const std::string r = dir.path() + "/r";
  init({"--root", r});
  expectAccess(r, std::nullopt);

  // An older root's looser modes are narrowed, each change named.
  ASSERT_EQ(::chmod((r + "/db").c_str(), 0755), 0);
  ASSERT_EQ(::chmod((r + "/db/tivel.db").c_str(), 0644), 0);
  ASSERT_EQ(::chmod((r + "/ini/SysTivel.ini").c_str(), 0666), 0);
  std::string out = init({"--root", r});
  EXPECT_NE(out.find("access:     " + r + "/db 0755 -> 0700\n"), std::string::npos) << out;
  EXPECT_NE(out.find("access:     " + r + "/db/tivel.db 0644 -> 0600\n"), std::string::npos) << out;
  EXPECT_NE(out.find("access:     " + r + "/ini/SysTivel.ini 0666 -> 0600\n"), std::string::npos) << out;
  expectAccess(r, std::nullopt);
  EXPECT_EQ(init({"--root", r}).find("access:"), std::string::npos);

  // Shared with a group of this user's (a supplementary one when there is
  // one): what the root holds, and the logs the components make afresh.
  gid_t groups[64];
  gid_t gid = ::getgid();
  for (int i = 0, n = ::getgroups(64, groups); i < n; ++i)
    if (groups[i] != gid) gid = groups[i];
  const std::string name = ::getgrgid(gid)->gr_name;
  out = init({"--root", r, "--group", name});
  EXPECT_NE(out.find("access:     " + r + "/db 0700 -> 2750, group " + name + "\n"), std::string::npos) << out;
  for (const auto& log : fs::directory_iterator(r + "/log")) fs::remove(log.path());
  expectAccess(r, gid);

  ::umask(umask);
  mgt::resetThreadState();
  ::unsetenv("TIVEL_HOME");
}

class LockoutTest : public mgt::testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  std::string login(const char* pwd) { return admin_->call("loginByPwd", {"guard", pwd, ""}).toString(); }
  com::ObjectPtr admin_;
};

TEST_P(LockoutTest, PolicySeedsALockAfterFiveWrongPasswordsForFifteenMinutes) {
  const std::string ini = portal().root() + "/ini/SysTivel.ini";
  portal().useOwnerAccount();
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

// Settings tivel serve would refuse stop tivel init too, naming the key.
TEST_P(LockoutTest, InitRefusesWhatServeRefuses) {
  const std::string ini = portal().root() + "/ini/SysTivel.ini";
  portal().useOwnerAccount();
  const auto refused = [&](const char* section, const char* key, const char* value) {
    EXPECT_TRUE(profile::writePrivateProfileString(section, key, value, ini));
    CLI::App app{"tivel"};
    for (const auto& setup : commands()) setup(app);
    std::vector<const char*> argv{"tivel", "init", "--root", portal().root().c_str()};
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int code = 0;
    try {
      app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::RuntimeError& e) {
      code = e.get_exit_code();
    }
    ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(profile::writePrivateProfileString(section, key, "", ini));
    return code == 1 ? err : "exit " + std::to_string(code) + ": " + err;
  };
  EXPECT_NE(refused("Console", "idle_minutes", "soon")
                .find("tivel init: in " + ini + ": [Console] idle_minutes must be a positive number, got \"soon\"\n"),
            std::string::npos);
  EXPECT_NE(refused("Console", "recheck_seconds", "301").find("[Console] recheck_seconds must be a whole number"),
            std::string::npos);
  EXPECT_NE(refused("Policy", "history", "lots").find("[Policy] history=lots is not understood; allowed: "),
            std::string::npos);
  EXPECT_NE(refused("Audit", "failures", "on").find("[Audit] failures=on is not understood"), std::string::npos);
  EXPECT_EQ(init({"--root", portal().root()}).find("refused"), std::string::npos) << "fixed, it runs";
}

INSTANTIATE_TEST_SUITE_P(Engines, LockoutTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::tool
