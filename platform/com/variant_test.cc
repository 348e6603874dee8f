#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "platform/com/error.h"

namespace tivel::com {
namespace {

// Runs f, expecting it to fail with that number and description.
void expectError(const std::function<void()>& f, int32_t number, const std::string& description) {
  try {
    f();
    ADD_FAILURE() << "expected error " << description;
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.description(), description);
  }
}

TEST(VariantNull, TextAndNumbersOfNullFail) {
  Variant n = Variant::null();
  expectError([&] { (void)n.toString(); }, kInvalidUseOfNull, "Invalid use of Null");
  expectError([&] { (void)n.toLong(); }, kInvalidUseOfNull, "Invalid use of Null");
  expectError([&] { (void)n.toDouble(); }, kInvalidUseOfNull, "Invalid use of Null");
  expectError([&] { (void)n.coerce(VarType::String); }, kInvalidUseOfNull, "Invalid use of Null");
  EXPECT_FALSE(n.isBlank());
  EXPECT_EQ(n.length(), -1);
  EXPECT_FALSE(n.looseEquals(Variant::null()));
  EXPECT_FALSE(n.looseEquals(Variant()));
}

TEST(VariantEmpty, ReadsAsBlankTextAndZero) {
  Variant e;
  EXPECT_TRUE(e.isEmpty());
  EXPECT_TRUE(e.isBlank());
  EXPECT_EQ(e.toString(), "");
  EXPECT_EQ(e.toLong(), 0);
  EXPECT_EQ(e.toDouble(), 0.0);
  EXPECT_EQ(e.length(), 0);
  EXPECT_TRUE(e.looseEquals(Variant("")));
  EXPECT_TRUE(e.looseEquals(Variant(int32_t{0})));
  EXPECT_FALSE(e.looseEquals(Variant("0x")));
  EXPECT_TRUE(Variant("").isBlank());
  EXPECT_FALSE(Variant(" ").isBlank());
  EXPECT_FALSE(Variant(int32_t{0}).isBlank());
}

TEST(VariantCompare, NumbersAndNumericTextCompareAsNumbers) {
  EXPECT_TRUE(Variant("1").looseEquals(Variant(int32_t{1})));
  EXPECT_TRUE(Variant(int32_t{1}).looseEquals(Variant("1")));
  EXPECT_TRUE(Variant(" 1.0 ").looseEquals(Variant(1.0)));
  EXPECT_TRUE(Variant(int16_t{3}).looseEquals(Variant(3.0)));
  EXPECT_FALSE(Variant("1").looseEquals(Variant(int32_t{2})));
  EXPECT_FALSE(Variant("abc").looseEquals(Variant(int32_t{0})));
  // Two texts compare as texts, not as numbers.
  EXPECT_FALSE(Variant("1").looseEquals(Variant("1.0")));
  EXPECT_TRUE(Variant("abc").looseEquals(Variant("abc")));
  // Exact equality distinguishes kinds.
  EXPECT_FALSE(Variant("1") == Variant(int32_t{1}));
  EXPECT_TRUE(Variant(int32_t{1}) == Variant(int32_t{1}));
}

TEST(VariantVal, ReadsTheLeadingNumber) {
  EXPECT_EQ(Val("12abc"), 12);
  EXPECT_EQ(Val("abc"), 0);
  EXPECT_EQ(Val(""), 0);
  EXPECT_EQ(Val("  1 2 3"), 123);
  EXPECT_EQ(Val("-3.5e2x"), -350);
  EXPECT_EQ(Val("1.2.3"), 1.2);
  EXPECT_EQ(Val("7e"), 7);
  EXPECT_EQ(Val("&H1F"), 31);
  EXPECT_EQ(Val("&o17"), 15);
  EXPECT_EQ(Val("1e999"), 0);  // beyond a double: no number
}

TEST(VariantNumbers, NumericTextConvertsAndOtherTextIsAMismatch) {
  EXPECT_EQ(Variant("42").coerce(VarType::Long), Variant(int32_t{42}));
  EXPECT_EQ(Variant(" -7 ").toLong(), -7);
  EXPECT_EQ(Variant("1.5e1").toDouble(), 15.0);
  EXPECT_EQ(Variant(true).toLong(), -1);
  EXPECT_TRUE(Variant("12abc").looksNumeric() == false);
  EXPECT_TRUE(Variant("12").looksNumeric());
  expectError([] { (void)Variant("12abc").toLong(); }, kTypeMismatch, "Type mismatch");
  expectError([] { (void)Variant("").toDouble(); }, kTypeMismatch, "Type mismatch");
  expectError([] { (void)Variant("abc").toBool(); }, kTypeMismatch, "Type mismatch");
  expectError([] { (void)Variant(Variant::Array{}).toString(); }, kTypeMismatch, "Type mismatch");
  EXPECT_TRUE(Variant(" TRUE ").toBool());
  EXPECT_FALSE(Variant("0").toBool());
}

TEST(VariantNumbers, LongRoundsHalfToEvenAndChecksRange) {
  EXPECT_EQ(Variant(2.5).toLong(), 2);
  EXPECT_EQ(Variant(3.5).toLong(), 4);
  EXPECT_EQ(Variant(-2.5).toLong(), -2);
  EXPECT_EQ(Variant(0.5).toLong(), 0);
  EXPECT_EQ(Variant(2.6).toLong(), 3);
  EXPECT_EQ(Variant("1.5").toLong(), 2);
  EXPECT_EQ(Variant(2147483647.0).toLong(), 2147483647);
  expectError([] { (void)Variant(2147483648.0).toLong(); }, kOverflow, "Overflow");
  expectError([] { (void)Variant(int32_t{32768}).toInteger(); }, kOverflow, "Overflow");
  // A NaN (a database may hold one) is no number in range: found by fuzzing.
  expectError([] { (void)Variant(std::nan("")).toLong(); }, kOverflow, "Overflow");
  expectError([] { (void)Variant(std::nan("")).toInteger(); }, kOverflow, "Overflow");
  EXPECT_EQ(Variant(int32_t{-32768}).toInteger(), -32768);
  EXPECT_EQ(Variant::fromInt64(5000000000LL).type(), VarType::Double);
  EXPECT_EQ(Variant::fromInt64(-5).type(), VarType::Long);
}

TEST(VariantText, NumbersAndBooleansPrintTheirScriptingForm) {
  EXPECT_EQ(Variant(true).toString(), "True");
  EXPECT_EQ(Variant(false).toString(), "False");
  EXPECT_EQ(Variant(int16_t{-12}).toString(), "-12");
  EXPECT_EQ(formatNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(formatNumber(1.5), "1.5");
  EXPECT_EQ(formatNumber(-2.25), "-2.25");
  EXPECT_EQ(formatNumber(100), "100");
  EXPECT_EQ(formatNumber(-0.0), "0");
  EXPECT_EQ(formatNumber(123456789012345.0), "123456789012345");
  EXPECT_EQ(formatNumber(1e20), "1E+20");
  EXPECT_EQ(formatNumber(123456789012345678.0), "1.23456789012346E+17");
  EXPECT_EQ(Variant(2.0 / 3.0).toString(), "0.666666666666667");
}

TEST(VariantDate, TextFormAndParsing) {
  DateTime t{2024, 3, 5, 7, 8, 9};
  EXPECT_EQ(t.text(), "2024-03-05 07:08:09");
  EXPECT_EQ(Variant(t).toString(), "2024-03-05 07:08:09");
  EXPECT_EQ(Variant("2024-03-05 07:08:09").toDate(), t);

  DateTime d;
  ASSERT_TRUE(DateTime::parse("2024/3/5 7:08", &d));
  EXPECT_EQ(d, (DateTime{2024, 3, 5, 7, 8, 0}));
  ASSERT_TRUE(DateTime::parse("2024-03-05", &d));
  EXPECT_EQ(d.text(), "2024-03-05 00:00:00");
  EXPECT_FALSE(DateTime::parse("2024-02-30", &d));
  EXPECT_FALSE(DateTime::parse("2024-03-05 25:00", &d));
  EXPECT_FALSE(DateTime::parse("2024-03-05x", &d));
  EXPECT_FALSE(DateTime::parse("yesterday", &d));
  expectError([] { (void)Variant("yesterday").toDate(); }, kTypeMismatch, "Type mismatch");
}

TEST(VariantDate, DayNumbersCountFromTheEpochOf1899) {
  EXPECT_EQ(Variant(DateTime{2000, 1, 1}).toDouble(), 36526.0);
  EXPECT_EQ(Variant(DateTime{1899, 12, 30, 12, 0, 0}).toDouble(), 0.5);
  EXPECT_EQ(Variant(-1.25).toDate(), (DateTime{1899, 12, 29, 6, 0, 0}));
  DateTime t{2031, 12, 31, 23, 59, 59};
  EXPECT_EQ(Variant(Variant(t).toDouble()).toDate(), t);
  EXPECT_EQ(Variant(2958465.0).toDate(), (DateTime{9999, 12, 31}));
  expectError([] { (void)Variant(1e300).toDate(); }, kOverflow, "Overflow");
  expectError([] { (void)Variant("-1e12").toDate(); }, kOverflow, "Overflow");
}

TEST(VariantObject, NothingAndObjectRequired) {
  EXPECT_TRUE(Variant::nothing().isNothing());
  EXPECT_EQ(Variant().toObject(), nullptr);
  expectError([] { (void)Variant("x").toObject(); }, kObjectRequired, "Object required");
}

}  // namespace
}  // namespace tivel::com
