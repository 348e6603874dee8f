#include "platform/profile/profile.h"
#include "platform/profile/daily_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/error.h"
#include "testing/engines.h"

namespace tivel::profile {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name = "a.ini") const { return dir_.path() + "/" + name; }
  void put(const std::string& text, const std::string& name = "a.ini") const {
    std::ofstream(file(name), std::ios::binary) << text;
  }
  std::string contents(const std::string& name = "a.ini") const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  testing::TempDir dir_;
};

TEST_F(ProfileTest, SectionsAndKeysMatchInAnyCaseAndWithoutBlanks) {
  put("; settings\r\n\r\n  [ Db ]  \r\nMode = 2\r\n Server\t=  db01  \r\n[Other]\r\nmode=9\r\n");
  EXPECT_EQ(readProfileString(file(), "DB", "mode"), "2");
  EXPECT_EQ(readProfileString(file(), "db", "SERVER"), "db01");
  EXPECT_EQ(readProfileString(file(), " db ", " Mode "), "2");
  EXPECT_EQ(readProfileString(file(), "other", "MODE"), "9");
}

TEST_F(ProfileTest, ValuesAreTrimmedAndEnclosingQuotesDropped) {
  put("[s]\nk1=   spaced value \t\nk2=\"quoted\"\nk3=a=b\nk4=\n"
      "q1= ' in side ' \nq2=\"mixed'\nq3=\"a\" and \"b\"\nq4=\"\nq5=''\n");
  EXPECT_EQ(readProfileString(file(), "s", "k1"), "spaced value");
  EXPECT_EQ(readProfileString(file(), "s", "k2"), "quoted");
  EXPECT_EQ(readProfileString(file(), "s", "q1"), " in side ");
  EXPECT_EQ(readProfileString(file(), "s", "q2"), "\"mixed'");
  EXPECT_EQ(readProfileString(file(), "s", "q3"), "a\" and \"b");
  EXPECT_EQ(readProfileString(file(), "s", "q4"), "\"");
  EXPECT_EQ(readProfileString(file(), "s", "q5"), "");
  EXPECT_EQ(readProfileString(file(), "s", "k3"), "a=b");
  std::string out = "x";
  EXPECT_EQ(getPrivateProfileString("s", "k4", "def", &out, 255, file()), 0);
  EXPECT_EQ(out, "");
}

TEST_F(ProfileTest, CommentsAndKeysOfOtherSectionsAreNotRead) {
  put("top=0\n[s]\n;hidden=1\n[t]\nonlyt=2\n");
  EXPECT_EQ(readProfileString(file(), "s", "hidden"), "");
  EXPECT_EQ(readProfileString(file(), "s", ";hidden"), "");
  EXPECT_EQ(readProfileString(file(), "s", "onlyt"), "");
  EXPECT_EQ(readProfileString(file(), "s", "top"), "");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGiveTheDefault) {
  put("[s]\nk=v\n");
  char buf[16] = "garbage";
  EXPECT_EQ(getPrivateProfileString("s", "k", "", buf, sizeof buf, file("none.ini")), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(getPrivateProfileString("nosection", "k", "", buf, sizeof buf, file()), 0);
  EXPECT_EQ(getPrivateProfileString("s", "nokey", "", buf, sizeof buf, file()), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(getPrivateProfileString("s", "nokey", "fallback", buf, sizeof buf, file()), 8);
  EXPECT_STREQ(buf, "fallback");
  EXPECT_EQ(readProfileString(file("none.ini"), "s", "k"), "");
}

TEST_F(ProfileTest, ABufferOfNHoldsAtMostNMinusOneBytes) {
  std::string longValue(300, 'x');
  longValue[253] = 'L';  // the last byte that fits
  put("[s]\nk=" + longValue + "\n");
  std::string v = readProfileString(file(), "s", "k");
  EXPECT_EQ(v.size(), 254u);
  EXPECT_EQ(v.back(), 'L');
  char small[4];
  EXPECT_EQ(getPrivateProfileString("s", "k", "", small, sizeof small, file()), 3);
  EXPECT_STREQ(small, "xxx");
  EXPECT_EQ(getPrivateProfileString("s", "k", "", small, 0, file()), 0);
}

TEST_F(ProfileTest, ChineseValuesPassThroughAndAreNotCutMidCharacter) {
  put("[产品]\n名称 = 后台门户系统\n");
  EXPECT_EQ(readProfileString(file(), "产品", "名称"), "后台门户系统");
  // Each of these characters is three bytes: a 5-byte room holds one of them.
  std::string out;
  EXPECT_EQ(getPrivateProfileString("产品", "名称", "", &out, 6, file()), 3);
  EXPECT_EQ(out, "后");
}

TEST_F(ProfileTest, WriteReplacesAKeyInPlace) {
  put("[a]\r\nx=1\r\nY = old\r\nz=3\r\n[b]\r\ny=keep\r\n");
  ASSERT_TRUE(writePrivateProfileString("A", "y", "new", file()));
  EXPECT_EQ(contents(), "[a]\r\nx=1\r\ny=new\r\nz=3\r\n[b]\r\ny=keep\r\n");
  EXPECT_EQ(readProfileString(file(), "a", "Y"), "new");
}

TEST_F(ProfileTest, WriteAddsAKeyAtTheEndOfItsSection) {
  put("[a]\nx=1\n\n[b]\ny=2\n");
  ASSERT_TRUE(writePrivateProfileString("a", "new", "v", file()));
  EXPECT_EQ(contents(), "[a]\nx=1\nnew=v\n\n[b]\ny=2\n");
}

TEST_F(ProfileTest, WriteAddsASectionAtTheEnd) {
  put("[a]\r\nx=1\r\n");
  ASSERT_TRUE(writePrivateProfileString("DB", "mode", "1", file()));
  EXPECT_EQ(contents(), "[a]\r\nx=1\r\n[DB]\r\nmode=1\r\n");
}

TEST_F(ProfileTest, LoneCarriageReturnsEndLinesAndAnUnendedLastLineIsEndedBeforeAnAddition) {
  put("[a]\rx=1\r[b]\ry=2");
  EXPECT_EQ(readProfileString(file(), "a", "x"), "1");
  EXPECT_EQ(readProfileString(file(), "b", "y"), "2");
  ASSERT_TRUE(writePrivateProfileString("b", "y", "3", file()));  // in place: nothing else moves
  EXPECT_EQ(contents(), "[a]\rx=1\r[b]\ry=3");
  ASSERT_TRUE(writePrivateProfileString("b", "z", "4", file()));
  EXPECT_EQ(contents(), "[a]\rx=1\r[b]\ry=3\nz=4\n");
  put("[a]\r\nx=1");
  ASSERT_TRUE(writePrivateProfileString("c", "k", "v", file()));
  EXPECT_EQ(contents(), "[a]\r\nx=1\r\n[c]\r\nk=v\r\n");
  EXPECT_EQ(readProfileString(file(), "a", "x"), "1");
}

TEST_F(ProfileTest, WriteCreatesAMissingFileButNotADirectory) {
  ASSERT_TRUE(writePrivateProfileString("s", "k", "中文值", file("new.ini")));
  EXPECT_EQ(contents("new.ini"), "[s]\nk=中文值\n");
  EXPECT_EQ(readProfileString(file("new.ini"), "S", "K"), "中文值");
  EXPECT_FALSE(writePrivateProfileString("s", "k", "v", file("nodir/new.ini")));
  EXPECT_FALSE(std::ifstream(file("nodir/new.ini")).good());
}

TEST_F(ProfileTest, WriteRefusesTextThatWouldChangeTheFileShape) {
  put("[s]\nk=v\n");
  EXPECT_FALSE(writePrivateProfileString("s", "k", "two\nlines", file()));
  EXPECT_FALSE(writePrivateProfileString("s", "a=b", "v", file()));
  EXPECT_FALSE(writePrivateProfileString("", "k", "v", file()));
  EXPECT_EQ(contents(), "[s]\nk=v\n");
}

TEST_F(ProfileTest, WriteKeepsTheFilePermissionsAndMakesNewFilesTheOwnersWhateverTheUmask) {
  auto mode = [this](const std::string& name) {
    struct stat st {};
    EXPECT_EQ(::stat(file(name).c_str(), &st), 0) << name;
    return st.st_mode & 07777;
  };
  const mode_t umask = ::umask(0);
  put("[s]\nk=v\n");
  ASSERT_EQ(::chmod(file().c_str(), 0600), 0);
  ASSERT_TRUE(writePrivateProfileString("s", "k", "w", file()));
  EXPECT_EQ(mode("a.ini"), 0600u);
  ASSERT_EQ(::chmod(file().c_str(), 0640), 0);
  ASSERT_TRUE(writePrivateProfileString("s", "k", "x", file()));
  EXPECT_EQ(mode("a.ini"), 0640u);
  ASSERT_TRUE(writePrivateProfileString("s", "k", "v", file("new.ini")));
  EXPECT_EQ(mode("new.ini"), 0600u);
  ::umask(umask);
  // Nothing but the two files: no temporary is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator()), 2);
}

TEST_F(ProfileTest, ConcurrentWritersDoNotLoseEachOthersKeys) {
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([this, t] {
      for (int i = 0; i < 10; ++i)
        writePrivateProfileString("s", "k" + std::to_string(t) + "_" + std::to_string(i), std::to_string(i), file());
    });
  for (auto& w : writers) w.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(readProfileString(file(), "s", "k" + std::to_string(t) + "_" + std::to_string(i)), std::to_string(i));
}

TEST_F(ProfileTest, OnlyRegularFilesAreReadOrReplaced) {
  // A FIFO without a writer would hold a reader for ever; a directory or a
  // device is no profile either. Each reads as a missing file and is never
  // replaced by a write.
  ASSERT_EQ(::mkfifo(file("fifo.ini").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(file("dir.ini").c_str(), 0700), 0);
  for (const std::string& path : {file("fifo.ini"), file("dir.ini"), std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    std::string out;
    EXPECT_EQ(getPrivateProfileString("DB", "mode", "d", &out, 255, path), 1);
    EXPECT_EQ(out, "d");
    EXPECT_FALSE(writePrivateProfileString("DB", "mode", "3", path));
  }
  struct stat st;
  ASSERT_EQ(::stat(file("fifo.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // A link to a regular file is read as the file.
  put("[DB]\nmode=3\n");
  ASSERT_EQ(::symlink(file().c_str(), file("link.ini").c_str()), 0);
  EXPECT_EQ(readProfileString(file("link.ini"), "DB", "mode"), "3");
}

// A link planted as the log directory or as the day's file is never
// followed: the line is refused (error 53) and what the link names stays
// as it was.
TEST(DailyLogTest, APlantedLinkIsNeverFollowed) {
  tivel::testing::TempDir root, elsewhere;
  const com::DateTime day = com::DateTime::now();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d", day.year, day.month, day.day);
  const std::string log = root.path() + "/log", name = std::string("log") + stamp + ".txt";
  auto numberOf = [&] {
    try {
      appendDailyLog(log, "log", day, "line\r\n", "test");
    } catch (const com::ComError& e) {
      return e.number();
    }
    return 0;
  };
  std::filesystem::create_directory_symlink(elsewhere.path(), log);
  EXPECT_EQ(numberOf(), com::kFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(elsewhere.path() + "/" + name));

  std::filesystem::remove(log);
  std::filesystem::create_directory(log);
  std::ofstream(elsewhere.path() + "/target") << "kept\n";
  std::filesystem::create_symlink(elsewhere.path() + "/target", log + "/" + name);
  EXPECT_EQ(numberOf(), com::kFileNotFound);
  std::ifstream in(elsewhere.path() + "/target");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");

  std::filesystem::remove(log + "/" + name);
  EXPECT_EQ(numberOf(), 0);
  EXPECT_EQ(numberOf(), 0);
  std::ifstream written(log + "/" + name);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "line\r\nline\r\n");
}

}  // namespace
}  // namespace tivel::profile
