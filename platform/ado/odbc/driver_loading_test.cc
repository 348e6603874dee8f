#include "platform/ado/odbc/driver_loading.h"

#include <strings.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/ado/connection.h"
#include "platform/ado/constants.h"
#include "testing/engines.h"
#include "testing/errors.h"

namespace tivel::ado::odbc {
namespace {

using tivel::testing::errorOf;

bool onlyPostgres(const std::string& name) { return strcasecmp(name.c_str(), "PostgreSQL Unicode") == 0; }

TEST(DriverLoadingTest, OnlyInstalledDriversAndListedFilesAndNoCodeKeys) {
  tivel::testing::TempDir dir;
  const std::string file = dir.path() + "/libdriver.so";
  std::ofstream(file).close();
  const DriverFiles none = [] { return std::vector<std::string>(); };
  const DriverFiles listed = [&] { return std::vector<std::string>{file}; };
  auto refused = [](const std::string& cs, const DriverFiles& files) {
    return errorOf([&] { refuseLoadingCode(cs, onlyPostgres, files); });
  };

  EXPECT_EQ(refused("DRIVER={PostgreSQL Unicode};SERVER=h;PWD={a;b};", none), 0);
  EXPECT_EQ(refused("DSN=portal;UID=u;", none), 0);
  // A path, or a name the driver manager would try as a library file; the
  // driver manager takes a DRIVER over a DSN given first.
  for (const std::string& cs :
       {"DRIVER={" + file + "};", std::string("DRIVER={libdriver.so};"), "DSN=portal;DRIVER={" + file + "};"})
    EXPECT_EQ(refused(cs, none), kOpenFailed) << cs;
  EXPECT_EQ(refused("DRIVER={" + dir.path() + "/./libdriver.so};", listed), 0);
  EXPECT_EQ(refused("DRIVER={" + dir.path() + "/other.so};", listed), kOpenFailed);

  // Keys that load code or reach a file, in any spelling, hidden in a braced
  // value that a driver may read differently, or a second driver so hidden.
  for (const char* cs : {"DSN=p;FILEDSN=/tmp/x.dsn;", "DSN=p; savefile =/tmp/out;", "DSN=p;PLUGIN_DIR=/tmp;",
                         "DSN=p;Default_Auth=dialog;", "DSN=p;pqopt={sslkey=engine:x:y};", "DSN=p;DumpFile=/tmp/d;",
                         "DSN=p;PWD={a}};plugin_dir=/tmp};", "DRIVER={PostgreSQL Unicode};PWD={x;DRIVER=/tmp/e.so};"})
    EXPECT_EQ(refused(cs, none), kOpenFailed) << cs;
  EXPECT_EQ(refused("DSN=p;PWD=my_pqopt_x;", none), 0) << "a word holding a key's name is no key";
}

// Through the data-access layer: a caller's driver path never reaches the
// driver manager; the same path listed by the root's administrator does.
TEST(DriverLoadingTest, ADriverFileReachesTheDriverManagerOnlyWhenTheAdministratorListsIt) {
  tivel::testing::TempDir root;
  for (const char* sub : {"/bin", "/ini"}) std::filesystem::create_directories(root.path() + sub);
  ::setenv("TIVEL_HOME", root.path().c_str(), 1);
  const std::string file = root.path() + "/libdriver.so";
  std::ofstream(file) << "not a library\n";
  auto open = [&](std::string* why) {
    return errorOf([&] { Connection().open("Driver=" + file + ";Server=h;UID=u"); }, why);
  };
  std::string why;
  EXPECT_EQ(open(&why), kOpenFailed);
  EXPECT_NE(why.find("not the name of an installed ODBC driver"), std::string::npos) << why;

  std::ofstream(root.path() + "/ini/SysTivel.ini") << "[DataAccess]\nDriverFiles=/nowhere.so; " << file << "\n";
  EXPECT_EQ(open(&why), kOpenFailed);
  EXPECT_EQ(why.find("not the name of an installed ODBC driver"), std::string::npos) << why;
  EXPECT_NE(why.find("SQLSTATE"), std::string::npos) << "the driver manager's own failure: " << why;
  ::unsetenv("TIVEL_HOME");
}

}  // namespace
}  // namespace tivel::ado::odbc
