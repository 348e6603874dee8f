#include "platform/ado/sqlite/keyword_columns.h"

#include <gtest/gtest.h>

namespace tivel::ado::sqlite {
namespace {

TEST(KeywordColumns, QuotesBareIsNullOnly) {
  EXPECT_EQ(quoteKeywordColumns("insert into t(a,isNull,b) values(1,2,3)"),
            "insert into t(a,\"isNull\",b) values(1,2,3)");
  EXPECT_EQ(quoteKeywordColumns("select ISNULL from t where t.isnull=1"),
            "select \"ISNULL\" from t where t.\"isnull\"=1");
  // Literals, quoted names, comments and longer words stay as written.
  EXPECT_EQ(quoteKeywordColumns("select 'isNull', \"isNull\", isNullable, x_isNull -- isNull\n"),
            "select 'isNull', \"isNull\", isNullable, x_isNull -- isNull\n");
  EXPECT_EQ(quoteKeywordColumns("select 'it''s isNull' /* isNull */ from t"),
            "select 'it''s isNull' /* isNull */ from t");
  EXPECT_EQ(quoteKeywordColumns("select '未结束 isNull"), "select '未结束 isNull");
}

}  // namespace
}  // namespace tivel::ado::sqlite
