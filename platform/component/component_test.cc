// The shared plumbing keeps each component's thread state, INI file and log
// apart, and prunes a log only for a component that prunes.
#include "platform/component/component.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/com/error.h"
#include "testing/engines.h"

namespace tivel::component {
namespace {

namespace fs = std::filesystem;

Identity named(const char* source, const char* ini, const char* prefix, bool prunes) {
  return Identity{.source = source,
                  .iniName = ini,
                  .logPrefix = prefix,
                  .logSeparator = " | ",
                  .form = ConnectionForm::Driver,
                  .commandTimeout = 5,
                  .logsFailureReason = true,
                  .prunesLog = prunes,
                  .anchor = reinterpret_cast<const void*>(&directory)};
}

TEST(ComponentPlumbingTest, ComponentsOnOneThreadStayApart) {
  tivel::testing::TempDir root;
  for (const char* sub : {"/bin", "/ini", "/db", "/log"}) fs::create_directories(root.path() + sub);
  std::ofstream(root.path() + "/ini/good.ini") << "[DB]\nmode=3\n[DBCONN_mdb_drive]\nPROVIDER=SQLite\nDatabase=a.db\n";
  std::ofstream(root.path() + "/db/a.db");  // an empty file is an empty database
  std::ofstream(root.path() + "/ini/Bad.ini") << "[DB]\nmode=4\n";
  std::ofstream(root.path() + "/ini/SysTivel.ini") << "[Log]\nkeep_days=1\n";
  std::ofstream(root.path() + "/log/keptlog20000101.txt") << "old\n";
  std::ofstream(root.path() + "/log/prunedlog20000101.txt") << "old\n";
  static const Identity good = named("Good", "good.ini", "keptlog", false);
  static const Identity bad = named("Bad", "Bad.ini", "prunedlog", true);

  tivel::testing::withEnvironment("TIVEL_HOME", root.path(), [&] {
    resetThreadState(good);
    resetThreadState(bad);
    std::string why;
    EXPECT_TRUE(connect(good, &why)) << why;
    EXPECT_FALSE(connect(bad, &why));
    EXPECT_TRUE(threadState(good).connected);
    EXPECT_TRUE(threadState(good).connection->isOpen());
    EXPECT_FALSE(threadState(bad).connected);
    EXPECT_EQ(iniPath(bad), root.path() + "/bin/../ini/Bad.ini");

    // The failure names its component, is logged in that component's file
    // (with the reason), and leaves the other component connected.
    try {
      failConnect(bad, "why: no mode");
      ADD_FAILURE() << "failConnect returned";
    } catch (const com::ComError& e) {
      EXPECT_EQ(e.source(), "Bad");
      EXPECT_EQ(e.description(), "连接数据库出错！");
    }
    EXPECT_TRUE(threadState(good).connection->isOpen());
    resetThreadState(bad);
    EXPECT_TRUE(threadState(good).connected);

    writeLog(good, "kept");
    int files = 0;
    for (const auto& f : fs::directory_iterator(root.path() + "/log")) {
      const std::string name = f.path().filename().string();
      std::ifstream in(f.path());
      const std::string text((std::istreambuf_iterator<char>(in)), {});
      if (name.rfind("prunedlog", 0) == 0) {
        EXPECT_NE(name, "prunedlog20000101.txt") << "a pruning component keeps a day past keep_days";
        EXPECT_NE(text.find("！连接数据库出错,请检查配置文件是否正确！ | "), std::string::npos) << text;
        EXPECT_NE(text.find("why: no mode | "), std::string::npos) << text;
      }
      if (name.rfind("keptlog", 0) == 0 && name != "keptlog20000101.txt") {
        EXPECT_EQ(text.rfind("kept | ", 0), 0u) << text;
      }
      ++files;
    }
    EXPECT_EQ(files, 3) << "today's two files and the old day of the component that never prunes";
    resetThreadState(good);
  });
}

}  // namespace
}  // namespace tivel::component
