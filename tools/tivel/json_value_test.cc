// The JSON value encoding both ways: which JSON form each kind of value
// takes, and that every form reads back as the value it was made from.
#include "tools/tivel/json_value.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/com/error.h"
#include "platform/com/object.h"

namespace tivel::tool {
namespace {

using com::DateTime;
using com::Variant;
using com::VarType;

class Plain : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override {
    static const com::ClassInfo info("TivelTest.Plain", "cPlain");
    return info;
  }
};

std::string text(const Variant& v, HandleTable& h) { return toJson(v, h).dump(); }

Variant parse(const std::string& json, const HandleTable& h) { return fromJson(Json::parse(json), h); }

int32_t failureNumber(const std::string& json, const HandleTable& h) {
  try {
    parse(json, h);
  } catch (const com::ComError& e) {
    EXPECT_EQ(e.source(), "tivel");
    return e.number();
  }
  ADD_FAILURE() << json << " was read as a value";
  return 0;
}

TEST(JsonValueTest, ScalarsTakeTheirForms) {
  HandleTable h;
  EXPECT_EQ(text(Variant(), h), R"({"empty":true})");
  EXPECT_EQ(text(Variant::null(), h), "null");
  EXPECT_EQ(text(Variant(true), h), "true");
  EXPECT_EQ(text(Variant(int16_t{-7}), h), "-7");
  EXPECT_EQ(text(Variant(int32_t{2147483647}), h), "2147483647");
  EXPECT_EQ(text(Variant(2.5), h), "2.5");
  // A whole Double keeps its fraction mark, so it reads back as a Double.
  EXPECT_EQ(text(Variant(3.0), h), "3.0");
  EXPECT_EQ(text(Variant(DateTime{2024, 2, 29, 23, 5, 9}), h), R"({"date":"2024-02-29 23:05:09"})");
  EXPECT_EQ(text(Variant("机构 \"A\""), h), R"("机构 \"A\"")");
  EXPECT_EQ(text(Variant::nothing(), h), R"({"object":null})");
  EXPECT_EQ(h.size(), 0u);
}

TEST(JsonValueTest, NumbersSplitIntoLongAndDouble) {
  HandleTable h;
  EXPECT_EQ(parse("0", h).type(), VarType::Long);
  EXPECT_EQ(parse("-2147483648", h).type(), VarType::Long);
  EXPECT_EQ(parse("2147483647", h).type(), VarType::Long);
  Variant big = parse("2147483648", h);
  EXPECT_EQ(big.type(), VarType::Double);
  EXPECT_EQ(big.toDouble(), 2147483648.0);
  EXPECT_EQ(parse("-2147483649", h).type(), VarType::Double);
  EXPECT_EQ(parse("18446744073709551615", h).type(), VarType::Double);
  EXPECT_EQ(parse("2.0", h).type(), VarType::Double);
  EXPECT_EQ(parse("1e3", h).type(), VarType::Double);
}

TEST(JsonValueTest, EveryKindRoundTrips) {
  HandleTable h;
  const Variant values[] = {Variant(), Variant::null(), Variant(false), Variant(int32_t{-42}), Variant(0.1),
                            Variant(1e300), Variant(DateTime{1999, 12, 31, 0, 0, 0}), Variant("用户 O'Brien"),
                            Variant(""), Variant::nothing(),
                            Variant(Variant::Array{Variant(int32_t{1}), Variant("a"),
                                                   Variant(Variant::Array{Variant::null(), Variant()})}),
                            Variant(Variant::Array{})};
  for (const Variant& v : values) {
    Variant back = fromJson(toJson(v, h), h);
    EXPECT_TRUE(back == v) << toJson(v, h).dump();
    EXPECT_EQ(back.type(), v.type());
  }
}

TEST(JsonValueTest, BytesTravelAsBase64) {
  HandleTable h;
  for (size_t n = 0; n <= 7; ++n) {
    Variant::Bytes bytes;
    for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(0xF0 + i * 37));
    Json j = toJson(Variant(bytes), h);
    Variant back = fromJson(j, h);
    ASSERT_EQ(back.type(), VarType::Bytes) << j.dump();
    EXPECT_EQ(back.bytes(), bytes) << j.dump();
  }
  EXPECT_EQ(text(Variant(Variant::Bytes{'M', 'a', 'n'}), h), R"({"bytes":"TWFu"})");
  EXPECT_EQ(text(Variant(Variant::Bytes{'M'}), h), R"({"bytes":"TQ=="})");
  EXPECT_EQ(parse(R"({"bytes":"TWE="})", h).bytes(), (Variant::Bytes{'M', 'a'}));
}

TEST(JsonValueTest, ObjectsGetANewHandleEachTime) {
  HandleTable h;
  auto obj = std::make_shared<Plain>();
  EXPECT_EQ(text(Variant(com::ObjectPtr(obj)), h), R"({"object":1,"class":"cPlain"})");
  EXPECT_EQ(text(Variant(com::ObjectPtr(obj)), h), R"({"object":2,"class":"cPlain"})");
  EXPECT_EQ(parse(R"({"object":2})", h).toObject(), obj);
  // What an answer gave can be passed back as it stands.
  EXPECT_EQ(parse(R"({"object":1,"class":"cPlain"})", h).toObject(), obj);
  Variant arr = parse(R"([{"object":1},{"object":null}])", h);
  EXPECT_EQ(arr.array()[0].toObject(), obj);
  EXPECT_TRUE(arr.array()[1].isNothing());
}

TEST(JsonValueTest, MalformedFormsAreRefused) {
  HandleTable h;
  const int32_t bad = com::kInvalidArgument;
  EXPECT_EQ(failureNumber(R"({"date":"2024-02-30 00:00:00"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"date":"yesterday"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"date":20240101})", h), bad);
  EXPECT_EQ(failureNumber(R"({"bytes":"TWF"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"bytes":"T=Fu"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"bytes":"TW*u"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"empty":false})", h), bad);
  EXPECT_EQ(failureNumber(R"({"empty":true,"date":"2024-01-01"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"object":7})", h), bad);
  EXPECT_EQ(failureNumber(R"({"object":"1"})", h), bad);
  EXPECT_EQ(failureNumber(R"({"name":"x"})", h), bad);
  EXPECT_EQ(failureNumber(R"({})", h), bad);
  // By-reference and omitted arguments are argument forms, not values.
  EXPECT_EQ(failureNumber(R"({"ref":1})", h), bad);
  EXPECT_EQ(failureNumber(R"({"missing":true})", h), bad);
  EXPECT_EQ(failureNumber(R"([1,{"ref":1}])", h), bad);
}

TEST(JsonValueTest, NonFiniteDoublesHaveNoForm) {
  HandleTable h;
  EXPECT_THROW(toJson(Variant(std::numeric_limits<double>::infinity()), h), com::ComError);
  EXPECT_THROW(toJson(Variant(Variant::Array{Variant(std::numeric_limits<double>::quiet_NaN())}), h), com::ComError);
}

TEST(JsonValueTest, ArgumentFormsMarkReferencesAndOmissions) {
  HandleTable h;
  bool byRef = true;
  EXPECT_EQ(argumentFromJson(Json::parse("5"), h, &byRef).toLong(), 5);
  EXPECT_FALSE(byRef);
  Variant r = argumentFromJson(Json::parse(R"({"ref":{"date":"2020-01-02 03:04:05"}})"), h, &byRef);
  EXPECT_TRUE(byRef);
  EXPECT_EQ(r.type(), VarType::Date);
  EXPECT_TRUE(argumentFromJson(Json::parse(R"({"missing":true})"), h, &byRef).isMissing());
  EXPECT_FALSE(byRef);
  EXPECT_THROW(argumentFromJson(Json::parse(R"({"missing":false})"), h, &byRef), com::ComError);
  EXPECT_THROW(argumentFromJson(Json::parse(R"({"ref":{"ref":1}})"), h, &byRef), com::ComError);
}

}  // namespace
}  // namespace tivel::tool
