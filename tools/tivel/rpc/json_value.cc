#include "tools/tivel/rpc/json_value.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/com/object.h"
#include "tools/tivel/rpc/error.h"

namespace tivel::tool {
namespace {

using com::Variant;
using com::VarType;

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const Variant::Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kBase64Alphabet[(n >> shift) & 63]);
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = uint32_t{bytes[i]} << 16;
    if (rest == 2) n |= uint32_t{bytes[i + 1]} << 8;
    out.push_back(kBase64Alphabet[(n >> 18) & 63]);
    out.push_back(kBase64Alphabet[(n >> 12) & 63]);
    out.push_back(rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict decoding: padded to a multiple of four, nothing but the alphabet,
// so that a damaged text is refused rather than read as other bytes.
bool base64Decode(std::string_view text, Variant::Bytes* out) {
  if (text.size() % 4 != 0) return false;
  out->clear();
  out->reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    uint32_t n = 0;
    for (size_t k = 0; k < 4; ++k) {
      int d = k >= 4 - static_cast<size_t>(pad) ? 0 : base64Digit(text[i + k]);
      if (d < 0) return false;
      n = (n << 6) | static_cast<uint32_t>(d);
    }
    out->push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out->push_back(static_cast<uint8_t>((n >> 8) & 0xFF));
    if (pad < 1) out->push_back(static_cast<uint8_t>(n & 0xFF));
  }
  return true;
}

// The one member of a tagged object, or nullptr when it has another shape.
const Json* tagged(const Json& json, std::string_view tag) {
  if (!json.is_object()) return nullptr;
  auto it = json.find(std::string(tag));
  return it == json.end() ? nullptr : &*it;
}

[[noreturn]] void notAValue(const Json& json) {
  badRequest("Not a value: " + json.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Variant numberFromJson(const Json& json) {
  if (json.is_number_integer() && !json.is_number_unsigned()) return Variant::fromInt64(json.get<int64_t>());
  if (json.is_number_unsigned()) {
    uint64_t u = json.get<uint64_t>();
    if (u <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return Variant(static_cast<int32_t>(u));
    return Variant(static_cast<double>(u));
  }
  return Variant(json.get<double>());
}

Variant taggedFromJson(const Json& json, const HandleTable& handles) {
  if (json.size() == 1) {
    if (const Json* e = tagged(json, "empty")) {
      if (*e != true) notAValue(json);
      return Variant();
    }
    if (const Json* d = tagged(json, "date")) {
      com::DateTime t;
      if (!d->is_string() || !com::DateTime::parse(d->get<std::string>(), &t))
        badRequest("Not a date (YYYY-MM-DD HH:MM:SS): " + d->dump(-1, ' ', false, Json::error_handler_t::replace));
      return Variant(t);
    }
    if (const Json* b = tagged(json, "bytes")) {
      Variant::Bytes bytes;
      if (!b->is_string() || !base64Decode(b->get<std::string>(), &bytes))
        badRequest("Not base64 text: " + b->dump(-1, ' ', false, Json::error_handler_t::replace));
      return Variant(std::move(bytes));
    }
  }
  // {"from":ID}: what the earlier request ID answered, object or value.
  if (const Json* f = tagged(json, "from"); f && json.size() == 1)
    return handles.answered(f->dump(-1, ' ', false, Json::error_handler_t::replace));
  // {"object":H}, optionally with the "class" an answer gave it.
  if (const Json* o = tagged(json, "object"); o && (json.size() == 1 || (json.size() == 2 && json.contains("class")))) {
    if (o->is_null()) return Variant::nothing();
    return Variant(handles.find(handleFromJson(*o, handles)));
  }
  notAValue(json);
}

}  // namespace

int jsonNesting(std::string_view text) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"')
      inString = true;
    else if (c == '[' || c == '{')
      deepest = std::max(deepest, ++depth);
    else if (c == ']' || c == '}')
      --depth;
  }
  return deepest;
}

int64_t handleFromJson(const Json& json, const HandleTable& handles) {
  if (json.is_number_integer()) return json.get<int64_t>();
  if (json.is_object() && json.size() == 1 && json.contains("from"))
    return handles.named(json["from"].dump(-1, ' ', false, Json::error_handler_t::replace));
  badRequest("Not an object handle (H or {\"from\":ID}): " + json.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Json toJson(const Variant& value, HandleTable& handles) {
  switch (value.type()) {
    case VarType::Empty: return Json{{"empty", true}};
    case VarType::Null: return nullptr;
    case VarType::Boolean: return *value.get<bool>();
    case VarType::Integer: return *value.get<int16_t>();
    case VarType::Long: return *value.get<int32_t>();
    case VarType::Double: {
      double d = *value.get<double>();
      if (!std::isfinite(d)) badRequest("A Double that is not a finite number has no JSON form");
      return d;
    }
    case VarType::Date: return Json{{"date", value.get<com::DateTime>()->text()}};
    case VarType::String: return *value.get<std::string>();
    case VarType::Object: {
      const com::ObjectPtr& obj = *value.get<com::ObjectPtr>();
      if (!obj) return Json{{"object", nullptr}};
      std::string cls = obj->classInfo().className();
      return Json{{"object", handles.add(obj)}, {"class", std::move(cls)}};
    }
    case VarType::Array: {
      Json out = Json::array();
      for (const Variant& item : value.array()) out.push_back(toJson(item, handles));
      return out;
    }
    case VarType::Bytes: return Json{{"bytes", base64Encode(value.bytes())}};
    case VarType::Missing: return Json{{"missing", true}};
  }
  return nullptr;  // not reached: every kind is handled above
}

Variant fromJson(const Json& json, const HandleTable& handles) {
  switch (json.type()) {
    case Json::value_t::null: return Variant::null();
    case Json::value_t::boolean: return Variant(json.get<bool>());
    case Json::value_t::string: return Variant(json.get<std::string>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: return numberFromJson(json);
    case Json::value_t::array: {
      Variant::Array items;
      items.reserve(json.size());
      for (const Json& item : json) items.push_back(fromJson(item, handles));
      return Variant(std::move(items));
    }
    case Json::value_t::object: return taggedFromJson(json, handles);
    default: notAValue(json);
  }
}

Variant argumentFromJson(const Json& json, const HandleTable& handles, bool* byRef) {
  *byRef = false;
  if (json.is_object() && json.size() == 1) {
    if (const Json* r = tagged(json, "ref")) {
      *byRef = true;
      return fromJson(*r, handles);
    }
    if (const Json* m = tagged(json, "missing")) {
      if (*m != true) notAValue(json);
      return Variant::missing();
    }
  }
  return fromJson(json, handles);
}

}  // namespace tivel::tool
