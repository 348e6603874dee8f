// Start-up of a thread, the connection string and the file log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "platform/ado/recordset.h"
#include "platform/com/registry.h"
#include "testing/engines.h"

namespace tivel::mgt {
namespace {

namespace fs = std::filesystem;

// A root with only bin/ and ini/ (no log/, no db/ unless a test makes them).
class RootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(fs::path(dir.path()) / "bin");
    fs::create_directories(fs::path(dir.path()) / "ini");
    ::setenv("TIVEL_HOME", dir.path().c_str(), 1);
    resetThreadState();
  }
  void TearDown() override {
    resetThreadState();
    ::unsetenv("TIVEL_HOME");
  }
  void writeIni(const std::string& text) {
    std::ofstream(fs::path(dir.path()) / "ini" / "SysTivel.ini", std::ios::binary) << text;
  }
  std::string logText() {
    std::string all;
    for (const auto& e : fs::directory_iterator(fs::path(dir.path()) / "log")) {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      all += ss.str();
    }
    return all;
  }
  // The original text unchanged; the reason beside it, for the operator.
  void expectStartupFailure(const std::string& cause = "") {
    try {
      com::CreateObject("TivelMgt.UmMgt");
      FAIL() << "creation should fail";
    } catch (const com::ComError& e) {
      EXPECT_EQ(e.number(), -2147221503);
      EXPECT_EQ(e.description(), "连接数据库出错！");
      EXPECT_NE(e.detail().find(cause), std::string::npos) << e.detail();
    }
  }
  tivel::testing::TempDir dir;
};

TEST_F(RootTest, ConnectionStringsOfTheThreeModes) {
  writeIni("[DB]\nmode=1\n[DBCONN_dsn]\nDSN=portal\nuid=sa\npwd=\n");
  EXPECT_EQ(GetConnectionString(), "dsn=portal;uid=sa;pwd=;");
  writeIni("[DB]\nmode=1\n[DBCONN_dsn]\nuid=sa\npwd=x\n");
  EXPECT_EQ(GetConnectionString(), "dsn=;uid=sa;pwd=x;");
  writeIni("[db]\n MODE = 2 \n[DBCONN_sql_drive]\nDRIVER=SQL Server\nSERVER=db1\nuid=u\npwd=p\nDatabase=tivel\n");
  EXPECT_EQ(GetConnectionString(), "DRIVER=SQL Server; server=db1;uid=u;PASSWORD=p;DATABASE=tivel");
  writeIni("[DB]\nmode=3\n[DBCONN_mdb_drive]\nPROVIDER=SQLite\nDatabase=a.db\n");
  EXPECT_EQ(GetConnectionString(), "PROVIDER=SQLite; Data Source=" + dir.path() + "/bin/../db/a.db;");
  writeIni("[DB]\nmode=7\n");
  EXPECT_EQ(GetConnectionString(), "");
  writeIni("[DB]\nmode=abc\n");
  EXPECT_THROW(GetConnectionString(), com::ComError);
  writeIni("[DB]\n");
  EXPECT_THROW(GetConnectionString(), com::ComError) << "an empty mode is not a number";
}

TEST_F(RootTest, FailedStartUpRaisesAndLogsEvenWithoutALogDirectory) {
  // Each failure's cause follows the fixed entry as a second one.
  const std::pair<const char*, const char*> cases[] = {
      {"[DB]\nmode=4\n", "The connection string is empty."},
      {"[DB]\nmode=\n", "Type mismatch"},
      {"[DB]\nmode=3\n[DBCONN_mdb_drive]\nPROVIDER=SQLite\nDatabase=missing.db\n", "missing.db"}};
  for (const auto& [ini, cause] : cases) {
    SCOPED_TRACE(ini);
    fs::remove_all(fs::path(dir.path()) / "log");
    writeIni(ini);
    expectStartupFailure(cause);
    std::string log = logText();
    EXPECT_EQ(log.rfind("！连接数据库出错,请检查配置文件是否正确！   SysTivel", 0), 0u) << log;
    std::string second = log.substr(log.find("\r\n") + 2);
    EXPECT_LT(second.find(cause), second.find("   SysTivel")) << log;
    EXPECT_EQ(second.find("\r\n"), second.size() - 2) << "two entries: " << log;
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "db" / "missing.db")) << "a missing file is never created";
  }
}

TEST_F(RootTest, AConfigurationThatIsNoFileFailsTheStartUp) {
  // A FIFO would hold the start-up for ever waiting for a writer.
  fs::path ini = fs::path(dir.path()) / "ini" / "SysTivel.ini";
  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
  expectStartupFailure();
  fs::remove(ini);
  fs::create_directory(ini);
  expectStartupFailure();
}

TEST_F(RootTest, LaterCreationOnTheSameThreadTriesAgain) {
  writeIni("[DB]\nmode=4\n");
  expectStartupFailure();
  EXPECT_THROW(sharedConnection(), com::ComError) << "a failed start-up leaves no open connection";
  // Mend the configuration: the next creation on this thread starts it.
  writeIni(defaultSysTivelIni());
  fs::create_directories(fs::path(dir.path()) / "db");
  std::ofstream(fs::path(dir.path()) / "db" / "tivel.db");
  EXPECT_NO_THROW(com::CreateObject("TivelMgt.UmMgt"));
  EXPECT_TRUE(sharedConnection()->isOpen());
  // Once started, a broken file no longer matters to this thread.
  writeIni("[DB]\nmode=4\n");
  EXPECT_NO_THROW(com::CreateObject("TivelMgt.cCollection"));
}

TEST_F(RootTest, FileLogRecordAndWorkingDirectory) {
  auto cwd = fs::current_path();
  WriteFileLog("消息");
  WriteFileLog("second");
  EXPECT_EQ(fs::current_path(), cwd) << "logging never moves the process";
  com::DateTime now = com::DateTime::now();
  char name[32];
  std::snprintf(name, sizeof name, "log%04d%02d%02d.txt", now.year, now.month, now.day);
  ASSERT_TRUE(fs::exists(fs::path(dir.path()) / "log" / name));
  std::string log = logText();
  ASSERT_EQ(log.rfind("消息   SysTivel", 0), 0u) << log;
  // "message   SysTivel" + "YYYY-MM-DD HH:MM:SS" + CR LF, one record per call.
  size_t first = log.find("\r\n");
  EXPECT_EQ(first, std::string("消息   SysTivel").size() + 19);
  EXPECT_EQ(log.substr(first + 2, 17), "second   SysTivel");
}

TEST_F(RootTest, InitTwiceChangesNothingItMade) {
  InitReport first = initRoot({dir.path(), true});
  EXPECT_TRUE(first.wroteIni);
  EXPECT_TRUE(first.createdDatabaseFile);
  auto conn = std::make_shared<ado::Connection>();
  conn->open(first.connectionString);
  conn->execute("update umGrp set name='renamed' where Grp_no='1'");
  conn->close();
  InitReport second = initRoot({dir.path(), true});
  EXPECT_FALSE(second.wroteIni);
  EXPECT_FALSE(second.createdDatabaseFile);
  conn->open(second.connectionString);
  auto rs = conn->execute("select count(*) from umGrp");
  EXPECT_EQ(rs->value(0).toLong(), 3);
  rs = conn->execute("select name from umGrp where Grp_no='1'");
  EXPECT_EQ(rs->value(0).toString(), "renamed");
  rs = conn->execute("select count(*) from umUsrSecAttr where usr_no='0' and isAvail=0");
  EXPECT_EQ(rs->value(0).toLong(), 13);
  rs = conn->execute("select name from umUsrSecAttr where Usa_no='3'");
  EXPECT_EQ(rs->value(0).toString(), "LogErrNum");
  conn->close();
}

}  // namespace
}  // namespace tivel::mgt
