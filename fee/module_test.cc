// The fee component's connection strings, and its start-up through `tivel
// rpc` on a configuration that cannot connect: the first creation fails,
// later calls retry, and the daily log records the failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fee/module.h"
#include "fee/testing/rpc_session.h"

namespace tivel::gf::testing {
namespace {

void writeIni(const std::string& root, const std::string& text) {
  std::ofstream(std::filesystem::path(root) / "ini" / "Scrivane.ini", std::ios::binary) << text;
}

TEST(FeeModuleTest, ConnectionStringOfEachMode) {
  tivel::testing::TempDir dir;
  for (const char* sub : {"/bin", "/ini"}) std::filesystem::create_directories(dir.path() + sub);
  ::setenv("TIVEL_HOME", dir.path().c_str(), 1);
  auto with = [&](const std::string& ini) {
    writeIni(dir.path(), ini);
    resetThreadState();
    return GetConnectionString();
  };
  EXPECT_EQ(with("[DB]\nmode=1\n[DBCONN_dsn]\nDSN=fee\nuid=u\n"), "dsn=fee;uid=u;pwd=;");
  EXPECT_EQ(
      with("[DB]\nmode=2\n[DBCONN_sql_drive]\nDRIVER=SQLOLEDB\nSERVER=db,1433\nuid=sa\npwd=p\nDatabase=gf\n"),
      "Provider=SQLOLEDB;Password=p;Persist Security Info=True;User ID=sa;Initial Catalog=gf;Data Source=db,1433");
  EXPECT_EQ(with("[DB]\nmode=3\n[DBCONN_mdb_drive]\nPROVIDER=SQLite\nDatabase=scrivane.db\n"),
            "PROVIDER=SQLite;Data Source=" + dir.path() + "/bin/../db/scrivane.db;");
  EXPECT_EQ(with("[DB]\nmode=4\n"), "");
  EXPECT_THROW(with("[DB]\nmode=three\n"), com::ComError);
  EXPECT_THROW(with("[DBCONN_dsn]\nDSN=fee\n"), com::ComError);
  resetThreadState();
  ::unsetenv("TIVEL_HOME");
}

TEST(FeeModuleTest, StartUpFailsOnceAndMethodsRetryTheConnection) {
  FeeRoot root("sqlite");
  std::string good;
  {
    std::ifstream in(root.path() + "/ini/Scrivane.ini", std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(root.initOutput().find("fee schema: ready"), std::string::npos) << root.initOutput();
  EXPECT_NE(good.find("Database=scrivane.db"), std::string::npos);
  writeIni(root.path(), "[DB]\nmode=4\n");
  std::filesystem::remove_all(root.path() + "/log");

  RpcSession s(root.path());
  Json a = s.ask({{"new", "TivelGF.interface"}});
  EXPECT_EQ(a["error"]["number"], -2147221503) << a.dump();
  EXPECT_EQ(a["error"]["description"], "连接数据库出错！") << a.dump();
  EXPECT_FALSE(a["error"].value("detail", "").empty()) << a.dump();
  int64_t gf = s.create("TivelGF.interface");  // the start-up ran once
  a = s.call(gf, "f_GetRecordset", {byRef(""), "", "SELECT * FROM XT_CS_CD"});
  EXPECT_EQ(handleOf(a), 0);
  EXPECT_EQ(a["refs"]["0"], "连接数据库出错！") << a.dump();
  a = s.ask({{"object", gf}, {"call", "GetUserMenu"}, {"args", {"op1", "01", byRef("")}}});
  EXPECT_EQ(a["error"]["number"], -2147221503) << a.dump();
  EXPECT_NE(root.logText().find("！连接数据库出错,请检查配置文件是否正确！   "), std::string::npos);

  writeIni(root.path(), good);
  a = s.call(gf, "f_GetRecordset", {byRef(""), "", "SELECT * FROM XT_CS_CD"});
  EXPECT_NE(handleOf(a), 0) << a.dump();
}

}  // namespace
}  // namespace tivel::gf::testing
