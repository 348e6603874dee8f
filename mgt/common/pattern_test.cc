// Conditions of the method-pattern toolkit: how each kind of value is placed,
// which values are refused before a statement is built, and the terms a
// delete by whichever keys are given keeps.
#include <gtest/gtest.h>

#include "mgt/common/pattern.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

using com::Variant;

int32_t failureOf(const Statement& s) {
  try {
    s.sql();
  } catch (const com::ComError& e) {
    return e.number();
  }
  return 0;
}

TEST(Condition, PlacesEachKindAndRefusesValuesThatWouldChangeTheStatement) {
  EXPECT_EQ(Statement("select * from t where ",
                      {{"a=", std::string("x'y")},
                       {"b =", Variant("03"), Place::Whole},
                       {"c=", Variant("3.0"), Place::WholeText},
                       {"d=", Variant(int32_t{7}), Place::Number}},
                      " order by a")
                .sql(),
            "select * from t where a='x''y' and b =3 and c='3' and d=7 order by a");
  // A value that is not a (whole) number never reaches the statement.
  EXPECT_EQ(failureOf(Statement("", {{"b=", std::string("1 or 1=1"), Place::Whole}})), com::kTypeMismatch);
  EXPECT_EQ(failureOf(Statement("", {{"b=", std::string("2.5"), Place::WholeText}})), com::kTypeMismatch);
  EXPECT_EQ(failureOf(Statement("", {{"b=", std::string("1;drop table t"), Place::Number}})), com::kTypeMismatch);
  EXPECT_EQ(failureOf(Statement("", {{"b=", Variant("4294967296"), Place::Whole}})), com::kTypeMismatch);
  // Only the given keys make the condition of a delete by whichever keys are given.
  EXPECT_EQ(givenCondition({{"a=", std::string()}, {"b=", std::string("k")}}), "b='k'");
  EXPECT_EQ(givenCondition({{"a=", std::string("j")}, {"b=", std::string("k")}}), "a='j' and b='k'");
  EXPECT_EQ(givenCondition({{"a=", std::string()}, {"b=", std::string()}}), "");
}

}  // namespace
}  // namespace tivel::mgt
