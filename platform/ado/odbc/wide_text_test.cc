#include "platform/ado/odbc/wide_text.h"

#include <gtest/gtest.h>

namespace tivel::ado::odbc {
namespace {

TEST(WideText, ChineseAndAsciiRoundTrip) {
  std::string s = "连接数据库出错！ abc";
  std::u16string w = toUtf16(s);
  EXPECT_EQ(w, u"连接数据库出错！ abc");
  EXPECT_EQ(toUtf8(w), s);
}

TEST(WideText, CharactersBeyondTheBasicPlaneUseSurrogatePairs) {
  std::string s = "\xF0\x9F\x98\x80";  // U+1F600
  std::u16string w = toUtf16(s);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], 0xD83D);
  EXPECT_EQ(w[1], 0xDE00);
  EXPECT_EQ(toUtf8(w), s);
}

TEST(WideText, MalformedInputBecomesReplacementCharactersNotACrash) {
  EXPECT_EQ(toUtf16("a\xFF"
                    "b"),
            u"a\uFFFDb");
  EXPECT_EQ(toUtf16("\xE4\xB8"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(toUtf16("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
  EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(WideText, EmbeddedNulSurvives) {
  std::string s("a\0b", 3);
  EXPECT_EQ(toUtf8(toUtf16(s)), s);
}

}  // namespace
}  // namespace tivel::ado::odbc
