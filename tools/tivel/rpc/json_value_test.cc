// The JSON value encoding at its edges: byte arrays, forms that are no
// value, numbers JSON cannot carry. (Round trips of every kind run through
// the host in rpc_test.cc.)
#include "tools/tivel/rpc/json_value.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/com/error.h"

namespace tivel::tool {
namespace {

using com::Variant;
using com::VarType;

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

}  // namespace
}  // namespace tivel::tool
