#include "setup/reg_class.h"

#include <dlfcn.h>
#include <sodium.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/com/registry.h"
#include "setup/computer_name.h"
#include "setup/password_hash.h"
#include "setup/service_errors.h"
#include "setup/store.h"
#include "testing/engines.h"
#include "testing/errors.h"

namespace tivel::setup {
namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `body` in a child process and returns its exit status.
int inChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Every test works on a root of its own: R/bin, R/ini, R/db with TIVEL_HOME=R.
class RegClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"bin", "ini", "db"}) fs::create_directories(root() + "/" + d);
    const char* old = std::getenv("TIVEL_HOME");
    oldHome_ = old ? old : "";
    hadHome_ = old != nullptr;
    setenv("TIVEL_HOME", root().c_str(), 1);
  }
  void TearDown() override {
    if (hadHome_)
      setenv("TIVEL_HOME", oldHome_.c_str(), 1);
    else
      unsetenv("TIVEL_HOME");
  }
  const std::string& root() const { return dir_.path(); }
  ServiceState state() const { return Store().read(); }
  // A late-bound call, as a setup program makes it.
  com::Variant call(const char* member, com::Args args) { return reg_->call(member, std::move(args)); }

  testing::TempDir dir_;
  std::string oldHome_;
  bool hadHome_ = false;
  com::ObjectPtr reg_ = com::CreateObject("Tivel.RegClass");
};

TEST_F(RegClassTest, MembersInOrderAnswerSixteenBitResults) {
  std::vector<std::string> want{"ShowIsRun",  "regWWW",    "regFTP",       "regAddUser",
                                "regComPack", "regComDLL", "writeIniFile", "ReadIniFile"};
  EXPECT_EQ(reg_->classInfo().memberNames(), want);
  EXPECT_TRUE(call("ShowIsRun", {}).isEmpty());
  EXPECT_EQ(call("regFTP", {"", "/srv/ftp"}), com::Variant(int16_t{0}));
  EXPECT_EQ(call("regComDLL", {"nothing", "/nowhere.so"}), com::Variant(int16_t{-1}));
}

TEST_F(RegClassTest, WebDirectoryIsReplacedAndAnUnreachableSiteFailsTheCall) {
  auto& reg = static_cast<RegClass&>(*reg_);
  EXPECT_EQ(reg.regWWW("Portal", "/srv/portal/old"), 0);
  EXPECT_EQ(reg.regWWW("portal", "/srv/portal/new"), 0);  // names match in any case
  EXPECT_EQ(reg.regWWW("Docs", "/srv/docs"), 0);
  EXPECT_EQ(reg.regWWW("a/b", "/srv/x"), -1);
  ServiceState s = state();
  ASSERT_EQ(s.virtualDirectories.size(), 2u);
  const VirtualDirectory& d = s.virtualDirectories[0];
  EXPECT_EQ(d.name, "portal");
  EXPECT_EQ(d.path, "/srv/portal/new");
  EXPECT_EQ(d.application, "in-process");
  EXPECT_TRUE(d.accessExecute);
  EXPECT_EQ(s.virtualDirectories[1].path, "/srv/docs");

  // A store that cannot be read is a web site that cannot be reached: the
  // first bind fails the call, the trapped tasks answer -1, nothing is written.
  const std::string damaged = "{\"web\": [";
  std::ofstream(Store().path(), std::ios::trunc) << damaged;
  try {
    reg.regWWW("Portal", "/srv/portal");
    FAIL() << "an unreachable web site answered a result";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), kInvalidData);
    EXPECT_NE(e.description().find("damaged"), std::string::npos);
  }
  EXPECT_EQ(reg.regFTP("", "/srv/ftp"), -1);
  EXPECT_EQ(reg.regAddUser("webrunner", "pw"), -1);
  EXPECT_EQ(reg.regComPack("tivel", "webrunner", "pw"), -1);
  EXPECT_EQ(slurp(Store().path()), damaged);
}

TEST_F(RegClassTest, FtpRootTakesThePathWithReadAndWriteWhateverTheName) {
  auto& reg = static_cast<RegClass&>(*reg_);
  EXPECT_EQ(state().ftp.accessWrite, false);
  EXPECT_EQ(reg.regFTP("ignored", "/srv/ftp/一"), 0);
  EXPECT_EQ(reg.regFTP("other", "/srv/ftp/二"), 0);
  FtpRoot f = state().ftp;
  EXPECT_EQ(f.path, "/srv/ftp/二");
  EXPECT_TRUE(f.accessRead);
  EXPECT_TRUE(f.accessWrite);
}

TEST_F(RegClassTest, AccountJoinsAdministratorsAndNoPasswordIsKeptAsText) {
  auto& reg = static_cast<RegClass&>(*reg_);
  const std::string password = "S3cret-口令";
  EXPECT_EQ(reg.regAddUser("webrunner", password), 0);
  EXPECT_EQ(reg.regAddUser("WEBRUNNER", "other"), -1);  // exists (names in any case)
  EXPECT_EQ(reg.regAddUser("bad/name", "x"), -1);
  EXPECT_EQ(reg.regComPack("tivel", "webrunner", password), 0);

  ServiceState s = state();
  ASSERT_EQ(s.accounts.size(), 1u);
  EXPECT_EQ(s.accounts[0].fullName, "信息发布用户");
  EXPECT_EQ(s.accounts[0].description, "VERDAL 应用程序添加");
  EXPECT_TRUE(passwordMatches(s.accounts[0].passwordHash, password));
  EXPECT_FALSE(passwordMatches(s.accounts[0].passwordHash, "other"));
  EXPECT_TRUE(passwordMatches(s.packages.at(0).passwordHash, password));
  ASSERT_EQ(s.groups.size(), 1u);
  EXPECT_EQ(s.groups[0].members, std::vector<std::string>{"webrunner"});

  // Nothing under the root holds the password, and the store is its owner's only.
  for (const auto& f : fs::recursive_directory_iterator(root())) {
    if (f.is_regular_file()) {
      EXPECT_EQ(slurp(f.path()).find(password), std::string::npos) << f.path();
    }
  }
  struct stat st {};
  ASSERT_EQ(stat(Store().path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The computer's name is the host name.
  char host[256] = {}, name[256] = {};
  uint32_t size = sizeof name;
  gethostname(host, sizeof host - 1);
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(std::string(name), std::string(host));
  EXPECT_EQ(size, std::string(host).size());
  size = 1;
  EXPECT_FALSE(GetComputerNameA(name, &size));
}

TEST_F(RegClassTest, PackagesOfTheNameAreReplacedWhateverTheCaseOnEitherSide) {
  auto& reg = static_cast<RegClass&>(*reg_);
  Store().update([](ServiceState& s) {
    for (const char* n : {"Tivel", " tivel ", "other"}) s.packages.push_back(Package{newKey(), n, "", "", {}});
  });
  EXPECT_EQ(reg.regComPack("tivel", "runner", "pw"), 0);
  ServiceState s = state();
  ASSERT_EQ(s.packages.size(), 2u);
  EXPECT_EQ(s.packages[0].name, "other");
  EXPECT_EQ(s.packages[1].name, "tivel");
  EXPECT_EQ(s.packages[1].identity, "runner");
  std::string firstKey = s.packages[1].key;

  EXPECT_EQ(reg.regComPack("TIVEL", "runner", "pw"), 0);  // mixed case finds it too
  s = state();
  ASSERT_EQ(s.packages.size(), 2u);
  EXPECT_EQ(s.packages[1].name, "TIVEL");
  EXPECT_NE(s.packages[1].key, firstKey);
}

TEST_F(RegClassTest, ComponentLibrariesInstallIntoPackagesAndLoadByProgIdInAProcessThatDidNotLinkThem) {
  auto& reg = static_cast<RegClass&>(*reg_);
  const char* bin = std::getenv("TIVEL_BIN");
  ASSERT_NE(bin, nullptr) << "TIVEL_BIN names the build's bin directory";
  const std::string library = std::string(bin) + "/libTivelPublicDB.so";
  ASSERT_TRUE(fs::exists(library));
  // This suite does not link the record classes: nothing registers them yet.
  try {
    com::CreateObject("TivelPublicDB.cUmOrg");
    FAIL() << "the record classes were there before being installed";
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.number(), com::kInvalidClassString);
  }

  EXPECT_EQ(reg.regComDLL("tivel", library), -1);  // no package yet
  ASSERT_EQ(reg.regComPack("tivel", "runner", "pw"), 0);
  ASSERT_EQ(reg.regComPack("spare", "runner", "pw"), 0);
  const std::string text = root() + "/ini/notes.txt";
  std::ofstream(text) << "not a library\n";
  Dl_info sodium{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&sodium_init), &sodium), 0);
  EXPECT_EQ(reg.regComDLL("tivel", root() + "/missing.so"), -1);
  EXPECT_EQ(reg.regComDLL("tivel", text), -1);
  EXPECT_EQ(reg.regComDLL("tivel", sodium.dli_fname), -1);  // a library outside the root and the system's
  const std::string noClasses = root() + "/bin/libsodium.so";
  fs::copy_file(sodium.dli_fname, noClasses);
  EXPECT_EQ(inChild([&] { return RegClass().regComDLL("tivel", noClasses) == -1 ? 0 : 1; }), 0)
      << "a library that registers no class";
  for (const Package& p : state().packages) EXPECT_TRUE(p.components.empty()) << p.name;

  // Installed by another process, so this one has still never loaded it.
  EXPECT_EQ(inChild([&] { return RegClass().regComDLL("Tivel", library) == 0 ? 0 : 1; }), 0);
  EXPECT_EQ(reg.regComDLL("spare", library), -1);  // a class lives in one package
  ServiceState s = state();
  const Package& tivel = s.packages.at(0);
  ASSERT_EQ(tivel.name, "tivel");
  ASSERT_EQ(tivel.components.size(), 29u);
  EXPECT_TRUE(s.packages.at(1).components.empty());
  bool listed = false;
  for (const Component& c : tivel.components) {
    listed = listed || c.progId == "TivelPublicDB.cUmOrg";
    EXPECT_EQ(c.file, fs::canonical(library).string());
  }
  EXPECT_TRUE(listed);

  com::ObjectPtr org = com::CreateObject("TivelPublicDB.cumorg");
  ASSERT_NE(org, nullptr);
  EXPECT_EQ(org->classInfo().className(), "cUmOrg");
  org->putProperty("Name", "总部");
  EXPECT_EQ(org->getProperty("Name"), com::Variant("总部"));
}

TEST_F(RegClassTest, IniValuesStayInsideTheIniDirectory) {
  auto& reg = static_cast<RegClass&>(*reg_);
  EXPECT_NE(reg.writeIniFile("setup.ini", "db", "server", "主机1  "), 0);
  EXPECT_NE(reg.writeIniFile("setup.ini", "db", "name", "tivel"), 0);
  EXPECT_EQ(reg.ReadIniFile("setup.ini", "DB", "server"), "主机1");
  EXPECT_EQ(reg.ReadIniFile("setup.ini", "db", "missing"), "");
  EXPECT_EQ(reg.ReadIniFile("absent.ini", "db", "server"), "");
  EXPECT_NE(slurp(root() + "/ini/setup.ini").find("name=tivel"), std::string::npos);
  EXPECT_EQ(reg.writeIniFile("nodir/x.ini", "a", "b", "c"), 0);  // the profile layer makes no directory

  for (const std::string name : {"../escape.ini", "/tmp/escape.ini", "sub/../../escape.ini", "..\\escape.ini"})
    EXPECT_EQ(reg.writeIniFile(name, "a", "b", "c"), 0) << name;
  EXPECT_FALSE(fs::exists(root() + "/escape.ini"));
  EXPECT_EQ(reg.ReadIniFile("../ini/setup.ini", "db", "server"), "");
  EXPECT_EQ(reg.ReadIniFile(root() + "/ini/setup.ini", "db", "server"), "");
}

// A library runs code as it loads, so only one the root's administrator put
// in place is loaded: under the root's bin or the system's library directory,
// owned by root or the root's owner, writable by no one else.
TEST_F(RegClassTest, OnlyLibrariesTheAdministratorPutInPlaceAreLoaded) {
  const char* bin = std::getenv("TIVEL_BIN");
  ASSERT_NE(bin, nullptr);
  tivel::testing::TempDir elsewhere;
  const std::string outside = elsewhere.path() + "/libTivelPublicDB.so", inside = root() + "/bin/libTivelPublicDB.so",
                    linked = root() + "/bin/liblinked.so";
  fs::copy_file(std::string(bin) + "/libTivelPublicDB.so", outside);
  fs::copy_file(outside, inside);
  fs::create_symlink(outside, linked);
  ASSERT_EQ(RegClass().regComPack("tivel", "runner", "pw"), 0);
  // In a child, so each attempt starts in a process that never loaded the
  // file: 1 when installed, +2 when the file (this copy) got loaded.
  auto attempt = [](const std::string& file, const std::string& real) {
    return inChild([&] {
      int installed = RegClass().regComDLL("tivel", file) == 0 ? 1 : 0;
      return installed + (dlopen(real.c_str(), RTLD_NOW | RTLD_NOLOAD) ? 2 : 0);
    });
  };
  EXPECT_EQ(attempt(outside, outside), 0);
  EXPECT_EQ(attempt(linked, outside), 0);
  fs::permissions(inside, fs::perms::group_write, fs::perm_options::add);
  EXPECT_EQ(attempt(inside, inside), 0);
  fs::permissions(inside, fs::perms::group_write, fs::perm_options::remove);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(inside.c_str(), 65534, 65534), 0);
    EXPECT_EQ(attempt(inside, inside), 0);
    ASSERT_EQ(chown(inside.c_str(), 0, 0), 0);
  }
  // A store that names a file elsewhere (edited by hand, or older than this
  // rule) does not make CreateObject load it either.
  Store().update([&](ServiceState& st) {
    st.packages.at(0).components = {Component{"TivelPublicDB.cUmOrg", outside}};
  });
  EXPECT_EQ(inChild([&] {
              int32_t number = tivel::testing::errorOf([] { com::CreateObject("TivelPublicDB.cUmOrg"); });
              return number == com::kAccessDenied && !dlopen(outside.c_str(), RTLD_NOW | RTLD_NOLOAD) ? 0 : 1;
            }),
            0);
  EXPECT_EQ(attempt(inside, inside), 3);
}

// A caller of writeIniFile cannot make every later connection of the root
// load a driver file, allow driver files, or open a database file elsewhere;
// what an installer writes still goes in.
TEST_F(RegClassTest, IniWritesThatWouldMakeTheRootLoadCodeOrOpenOtherFilesAreRefused) {
  auto& reg = static_cast<RegClass&>(*reg_);
  const std::string ini = root() + "/ini/SysTivel.ini";
  std::ofstream(ini) << "[DB]\nmode=2\n[DBCONN_sql_drive]\nDRIVER=PostgreSQL Unicode\n";
  const std::string before = slurp(ini);
  const struct {
    const char *section, *key, *value;
  } refused[] = {
      {"DataAccess", "DriverFiles", "/tmp/evil.so"},       {" dataaccess ", "anything", "x"},
      {"DBCONN_sql_drive", "DRIVER", "/tmp/evil.so"},      {"DBCONN_sql_drive", " driver", "{..\\evil.so}"},
      {"DBCONN_mdb_drive", "PROVIDER", "./evil.so"},       {"DBCONN_mdb_drive", "Database", "../../other.db"},
      {"DBCONN_mdb_drive", "database", " \"/etc/x.db\" "}, {"setting", "[DataAccess]", ""}};
  for (const auto& w : refused)
    EXPECT_EQ(reg.writeIniFile("SysTivel.ini", w.section, w.key, w.value), 0) << w.section << "/" << w.key;
  EXPECT_EQ(reg.writeIniFile("./Scrivane.ini", "DBCONN_sql_drive", "DRIVER", "/tmp/evil.so"), 0);
  EXPECT_EQ(slurp(ini), before);
  EXPECT_FALSE(fs::exists(root() + "/ini/Scrivane.ini"));
  // The gateway's own access files: a token line or key written there would
  // grant any scope, or stop the next start.
  std::ofstream(root() + "/ini/serve.tokens") << "pages 00 pages\n";
  for (const char* name : {"serve.tokens", "./serve.tokens", "Serve.Tokens", "serve.token", "console.key"}) {
    EXPECT_EQ(reg.writeIniFile(name, "x", "admin 11 *,setup", "x"), 0) << name;
    EXPECT_EQ(reg.ReadIniFile(name, "x", "pages"), "") << name;
  }
  EXPECT_EQ(slurp(root() + "/ini/serve.tokens"), "pages 00 pages\n");
  EXPECT_FALSE(fs::exists(root() + "/ini/console.key") || fs::exists(root() + "/ini/serve.token"));

  EXPECT_NE(reg.writeIniFile("SysTivel.ini", "DBCONN_sql_drive", "DRIVER", "PostgreSQL Unicode"), 0);
  EXPECT_NE(reg.writeIniFile("SysTivel.ini", "DBCONN_sql_drive", "SERVER", "db.example,5432"), 0);
  EXPECT_NE(reg.writeIniFile("Scrivane.ini", "DBCONN_mdb_drive", "Database", "fee/scrivane.db"), 0);
  EXPECT_EQ(reg.ReadIniFile("SysTivel.ini", "DBCONN_sql_drive", "SERVER"), "db.example,5432");
}

TEST_F(RegClassTest, APlantedLinkIsRefusedAndWhatItLeadsToIsUntouched) {
  auto& reg = static_cast<RegClass&>(*reg_);
  ASSERT_EQ(reg.regFTP("", "/srv/ftp"), 0);
  const std::string store = slurp(Store().path());
  const std::string victim = root() + "/victim.txt";
  std::ofstream(victim) << "not the store's";
  ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
  auto logged = [this] {
    std::string all;
    if (fs::exists(root() + "/log"))
      for (const auto& f : fs::directory_iterator(root() + "/log")) all += slurp(f.path());
    return all;
  };

  // The temporary file a link: the task fails and nothing is written through it.
  fs::create_symlink(victim, Store().path() + ".tmp");
  EXPECT_EQ(reg.regFTP("", "/srv/other"), -1);
  struct stat st {};
  ASSERT_EQ(::stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(slurp(victim), "not the store's");
  EXPECT_EQ(slurp(Store().path()), store);
  EXPECT_NE(logged().find(Store().path() + ".tmp is a symbolic link; refused"), std::string::npos) << logged();
  fs::remove(Store().path() + ".tmp");

  // The lock file a link to a name elsewhere: nothing is created there.
  fs::remove(Store().path() + ".lock");
  fs::create_symlink(root() + "/elsewhere.lock", Store().path() + ".lock");
  EXPECT_EQ(reg.regFTP("", "/srv/other"), -1);
  EXPECT_FALSE(fs::exists(root() + "/elsewhere.lock"));
  EXPECT_NE(logged().find(Store().path() + ".lock is a symbolic link; refused"), std::string::npos) << logged();
  fs::remove(Store().path() + ".lock");

  // A temporary file a writer that died left behind is no obstacle.
  std::ofstream(Store().path() + ".tmp") << "{";
  EXPECT_EQ(reg.regFTP("", "/srv/other"), 0);
  EXPECT_EQ(state().ftp.path, "/srv/other");
}

TEST_F(RegClassTest, ChangesFromSeveralProcessesAreAllKept) {
  constexpr int kProcesses = 4, kEach = 5;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      RegClass reg;
      int failures = 0;
      for (int i = 0; i < kEach; ++i)
        failures += reg.regWWW("dir" + std::to_string(p) + "_" + std::to_string(i), "/srv") != 0;
      _exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(state().virtualDirectories.size(), static_cast<size_t>(kProcesses * kEach));
  EXPECT_FALSE(fs::exists(Store().path() + ".tmp"));
}

}  // namespace
}  // namespace tivel::setup
