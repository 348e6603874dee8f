#include "platform/ado/odbc/keyword_names.h"

#include <gtest/gtest.h>

namespace tivel::ado::odbc {
namespace {

TEST(KeywordNames, BareIsNullColumnsAreQuotedInAnyCase) {
  EXPECT_EQ(quoteKeywordNames("insert into umUsrSecAttr(Usa_no,isNull,isGobal) values('1',1,0)"),
            "insert into umUsrSecAttr(Usa_no,\"isnull\",isGobal) values('1',1,0)");
  EXPECT_EQ(quoteKeywordNames("select ISNULL from t where IsNull=1"), "select \"isnull\" from t where \"isnull\"=1");
}

TEST(KeywordNames, TextsNamesCommentsAndLongerWordsStayAsTheyAre) {
  std::string sql = "select isNullable, \"isNull\", 'isNull', 'it''s isnull' from t -- isnull\n/* isnull */";
  EXPECT_EQ(quoteKeywordNames(sql), sql);
}

TEST(KeywordNames, AFunctionCallIsNotAColumn) {
  EXPECT_EQ(quoteKeywordNames("select isnull (a, 0) from t"), "select isnull (a, 0) from t");
}

TEST(KeywordNames, UnterminatedQuoteIsCopiedNotOverrun) {
  EXPECT_EQ(quoteKeywordNames("select 'isnull"), "select 'isnull");
}

}  // namespace
}  // namespace tivel::ado::odbc
