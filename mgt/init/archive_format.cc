#include "mgt/init/archive_format.h"

#include <algorithm>
#include <cmath>

#include <sodium.h>
#include <nlohmann/json.hpp>

#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

using nlohmann::json;

[[noreturn]] void bad(const std::string& what) { com::raise(com::kInvalidArgument, "tivel backup", what); }

json encodeValue(const com::Variant& v) {
  switch (v.type()) {
    case com::VarType::Empty:
    case com::VarType::Null: return nullptr;
    case com::VarType::String: return *v.get<std::string>();
    case com::VarType::Boolean: return *v.get<bool>();
    case com::VarType::Integer:
    case com::VarType::Long: return v.toLong();
    case com::VarType::Double: {
      const double d = *v.get<double>();
      // A whole number is written as one whatever the engine read it as, so
      // the same value has the same line on every engine.
      if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9007199254740992.0) return static_cast<int64_t>(d);
      if (!std::isfinite(d)) bad("a number that is not finite cannot be archived");
      return d;
    }
    case com::VarType::Date: return json{{"date", v.get<com::DateTime>()->text()}};
    case com::VarType::Bytes: {
      const auto& b = v.bytes();
      std::string out(sodium_base64_ENCODED_LEN(b.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
      sodium_bin2base64(out.data(), out.size(), b.data(), b.size(), sodium_base64_VARIANT_ORIGINAL);
      out.resize(std::char_traits<char>::length(out.c_str()));
      return json{{"bytes", out}};
    }
    default: bad(std::string("a value of kind ") + com::typeName(v.type()) + " cannot be archived");
  }
}

com::Variant decodeValue(const json& j) {
  if (j.is_null()) return com::Variant::null();
  if (j.is_string()) return com::Variant(j.get<std::string>());
  if (j.is_boolean()) return com::Variant(j.get<bool>());
  if (j.is_number_integer()) {
    const int64_t n = j.get<int64_t>();
    return com::Variant::fromInt64(n);
  }
  if (j.is_number_float()) return com::Variant(j.get<double>());
  if (j.is_object() && j.size() == 1 && j.contains("date") && j["date"].is_string()) {
    com::DateTime d;
    if (!com::DateTime::parse(j["date"].get<std::string>(), &d)) bad("an invalid date in a row");
    return com::Variant(d);
  }
  if (j.is_object() && j.size() == 1 && j.contains("bytes") && j["bytes"].is_string()) {
    const std::string text = j["bytes"].get<std::string>();
    com::Variant::Bytes out(text.size() / 4 * 3 + 3);
    size_t len = 0;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &len, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
      bad("invalid base64 bytes in a row");
    out.resize(len);
    return com::Variant(std::move(out));
  }
  bad("a value of no known form in a row");
}

}  // namespace

std::string encodeRow(const std::vector<com::Variant>& values) {
  json row = json::array();
  for (const com::Variant& v : values) row.push_back(encodeValue(v));
  return row.dump(-1, ' ', false, json::error_handler_t::strict);
}

std::vector<com::Variant> decodeRow(const std::string& line) {
  json row = json::parse(line, nullptr, false);
  if (row.is_discarded() || !row.is_array()) bad("a row line that is not a JSON array");
  std::vector<com::Variant> values;
  values.reserve(row.size());
  for (const json& v : row) values.push_back(decodeValue(v));
  return values;
}

void TableDigest::add(const std::string& rowLine) {
  std::array<uint8_t, 32> d{};
  crypto_hash_sha256(d.data(), reinterpret_cast<const unsigned char*>(rowLine.data()), rowLine.size());
  digests_.push_back(d);
}

std::string TableDigest::hex() {
  std::sort(digests_.begin(), digests_.end());
  crypto_hash_sha256_state st;
  crypto_hash_sha256_init(&st);
  for (const auto& d : digests_) crypto_hash_sha256_update(&st, d.data(), d.size());
  unsigned char out[32];
  crypto_hash_sha256_final(&st, out);
  char text[65];
  sodium_bin2hex(text, sizeof text, out, sizeof out);
  return text;
}

}  // namespace tivel::mgt
