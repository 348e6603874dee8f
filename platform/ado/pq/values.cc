#include "platform/ado/pq/values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado::pq {
namespace {

constexpr const char* kSource = "PostgreSQL";

// Type numbers of the catalogue (pg_type.oid), fixed for every server.
enum : Oid {
  kBool = 16,
  kBytea = 17,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kOidType = 26,
  kFloat4 = 700,
  kFloat8 = 701,
  kDate = 1082,
  kTime = 1083,
  kTimestamp = 1114,
  kTimestampTz = 1184,
  kTimeTz = 1266,
  kNumeric = 1700,
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The hex form of bytea ("\x0a1b..."), the server's output since 9.0.
com::Variant bytesFromHex(std::string_view text) {
  com::Variant::Bytes out;
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x')
    com::raise(kProviderError, kSource, "A bytea value came in a form other than hex.");
  out.reserve((text.size() - 2) / 2);
  for (size_t i = 2; i + 1 < text.size(); i += 2) {
    int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) com::raise(kProviderError, kSource, "A bytea value holds a character that is not hex.");
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return com::Variant(std::move(out));
}

// "YYYY-MM-DD[ HH:MM:SS[.ffffff][+zz]]" as the server writes it in the ISO
// date style; a text it cannot read (infinity, a date BC) stays text.
com::Variant dateFromText(std::string_view text) {
  std::string s(text);
  com::DateTime d;
  int n = std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &d.year, &d.month, &d.day, &d.hour, &d.minute, &d.second);
  if (n != 3 && n != 6) return com::Variant(std::move(s));
  if (n == 3) d.hour = d.minute = d.second = 0;
  if (s.find(" BC") != std::string::npos) return com::Variant(std::move(s));
  return com::Variant(d);
}

com::Variant timeFromText(std::string_view text) {
  std::string s(text);
  com::DateTime d;  // a time of day stands on the zero date, as a date value holds it
  if (std::sscanf(s.c_str(), "%d:%d:%d", &d.hour, &d.minute, &d.second) != 3) return com::Variant(std::move(s));
  return com::Variant(d);
}

}  // namespace

Kind kindOf(Oid type) {
  switch (type) {
    case kBool: return Kind::Bool;
    case kInt2:
    case kInt4:
    case kInt8:
    case kOidType: return Kind::Integer;
    case kNumeric:
    case kFloat4:
    case kFloat8: return Kind::Real;
    case kDate:
    case kTimestamp:
    case kTimestampTz: return Kind::Date;
    case kTime:
    case kTimeTz: return Kind::Time;
    case kBytea: return Kind::Binary;
    default: return Kind::Text;
  }
}

com::Variant readValue(Kind kind, std::string_view text) {
  switch (kind) {
    case Kind::Bool: return com::Variant(!text.empty() && text[0] == 't');
    case Kind::Integer: {
      std::string s(text);
      char* end = nullptr;
      long long n = std::strtoll(s.c_str(), &end, 10);
      if (end == s.c_str() || *end != '\0') return com::Variant(std::move(s));
      return com::Variant::fromInt64(n);
    }
    case Kind::Real: {
      std::string s(text);
      return com::Variant(std::strtod(s.c_str(), nullptr));
    }
    case Kind::Date: return dateFromText(text);
    case Kind::Time: return timeFromText(text);
    case Kind::Binary: return bytesFromHex(text);
    case Kind::Text: break;
  }
  return com::Variant(std::string(text));
}

Parameter toParameter(const com::Variant& v) {
  Parameter p;
  switch (v.type()) {
    case com::VarType::Empty:
    case com::VarType::Null:
    case com::VarType::Missing: p.null = true; break;
    case com::VarType::Boolean: p.data = *v.get<bool>() ? "1" : "0"; break;
    case com::VarType::Integer:
    case com::VarType::Long:
      p.type = kInt4;
      p.data = std::to_string(v.type() == com::VarType::Integer ? *v.get<int16_t>() : *v.get<int32_t>());
      break;
    case com::VarType::Double: {
      const double d = *v.get<double>();
      p.type = kFloat8;
      if (std::isnan(d)) {
        p.data = "NaN";
      } else if (std::isinf(d)) {
        p.data = d > 0 ? "Infinity" : "-Infinity";
      } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", d);
        p.data = buf;
      }
      break;
    }
    case com::VarType::Date:
      p.type = kTimestamp;
      p.data = v.get<com::DateTime>()->text();
      break;
    case com::VarType::String: p.data = *v.get<std::string>(); break;
    case com::VarType::Bytes: {
      const com::Variant::Bytes& b = v.bytes();
      p.type = kBytea;
      p.binary = true;
      p.data.assign(b.begin(), b.end());
      break;
    }
    default:
      com::raise(com::kTypeMismatch, kSource,
                 std::string("Type mismatch: a value of kind ") + com::typeName(v.type()) + " cannot be stored.");
  }
  return p;
}

}  // namespace tivel::ado::pq
