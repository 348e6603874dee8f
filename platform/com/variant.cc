#include "platform/com/variant.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include <strings.h>

#include "platform/com/error.h"
#include "platform/com/object.h"

namespace tivel::com {
namespace {

constexpr const char* kSource = "Variant";

// Values whose release a Variant put off because another release was already
// under way on this thread; the outermost release lets them go one by one.
using Deferred = std::vector<std::variant<ObjectPtr, Variant::Array>>;
thread_local Deferred* deferred = nullptr;

[[noreturn]] void nullUse() { raise(kInvalidUseOfNull, kSource, "Invalid use of Null"); }
[[noreturn]] void mismatch() { raise(kTypeMismatch, kSource, "Type mismatch"); }
[[noreturn]] void overflow() { raise(kOverflow, kSource, "Overflow"); }

bool isBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlankChar(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlankChar(s.back())) s.remove_suffix(1);
  return s;
}

// Parses a whole text as a decimal number (blanks around allowed).
bool parseNumber(std::string_view s, double* out) {
  s = trimmed(s);
  if (s.empty()) return false;
  std::string buf(s);
  size_t i = 0;
  if (buf[i] == '+' || buf[i] == '-') ++i;
  bool digits = false;
  while (i < buf.size() && std::isdigit(static_cast<unsigned char>(buf[i]))) ++i, digits = true;
  if (i < buf.size() && buf[i] == '.') {
    ++i;
    while (i < buf.size() && std::isdigit(static_cast<unsigned char>(buf[i]))) ++i, digits = true;
  }
  if (!digits) return false;
  if (i < buf.size() && (buf[i] == 'e' || buf[i] == 'E')) {
    size_t j = i + 1;
    if (j < buf.size() && (buf[j] == '+' || buf[j] == '-')) ++j;
    bool expDigits = false;
    while (j < buf.size() && std::isdigit(static_cast<unsigned char>(buf[j]))) ++j, expDigits = true;
    if (!expDigits) return false;
    i = j;
  }
  if (i != buf.size()) return false;
  errno = 0;
  *out = std::strtod(buf.c_str(), nullptr);
  return std::isfinite(*out);
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

const int64_t kOleEpochDays = daysFromCivil(1899, 12, 30);

double dateToDouble(const DateTime& t) {
  double days = static_cast<double>(daysFromCivil(t.year, t.month, t.day) - kOleEpochDays);
  double frac = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
  return days >= 0 ? days + frac : days - frac;
}

DateTime doubleToDate(double v) {
  // Dates run from 100-01-01 to 9999-12-31; beyond that the day count would
  // not fit the calendar arithmetic.
  if (!(v > -657435.0 && v < 2958466.0)) overflow();
  double days = std::trunc(v);
  double frac = std::fabs(v - days);
  int64_t secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    days += v >= 0 ? 1 : -1;
  }
  DateTime t;
  civilFromDays(static_cast<int64_t>(days) + kOleEpochDays, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  return t;
}

double roundHalfEven(double d) {
  double r = std::nearbyint(d);  // default rounding mode is to nearest, ties to even
  return r;
}

}  // namespace

Variant::~Variant() {
  auto* object = std::get_if<ObjectPtr>(&v_);
  auto* array = std::get_if<Array>(&v_);
  // Only the last reference to an object, or an array that holds anything,
  // can start a cascade of releases.
  if (!(object && *object && object->use_count() == 1) && !(array && !array->empty())) return;
  if (deferred) {
    if (object)
      deferred->emplace_back(std::move(*object));
    else
      deferred->emplace_back(std::move(*array));
    return;
  }
  Deferred queue;
  deferred = &queue;
  if (object)
    object->reset();
  else
    array->clear();
  while (!queue.empty()) {
    auto next = std::move(queue.back());  // as it goes, what it held joins the queue
    queue.pop_back();
  }
  deferred = nullptr;
}

std::string DateTime::text() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return buf;
}

bool DateTime::parse(std::string_view s, DateTime* out) {
  s = trimmed(s);
  DateTime t;
  t.hour = t.minute = t.second = 0;
  std::string buf(s);
  int n = 0;
  char sep1 = 0, sep2 = 0;
  int consumed = 0;
  if (std::sscanf(buf.c_str(), "%4d%c%2d%c%2d%n", &t.year, &sep1, &t.month, &sep2, &t.day, &consumed) != 5)
    return false;
  if (!((sep1 == '-' && sep2 == '-') || (sep1 == '/' && sep2 == '/'))) return false;
  std::string_view rest = std::string_view(buf).substr(static_cast<size_t>(consumed));
  if (!rest.empty()) {
    if (rest.front() != ' ' && rest.front() != 'T') return false;
    rest.remove_prefix(1);
    std::string r(trimmed(rest));
    int used = 0;
    n = std::sscanf(r.c_str(), "%2d:%2d%n", &t.hour, &t.minute, &used);
    if (n != 2) return false;
    std::string_view tail = std::string_view(r).substr(static_cast<size_t>(used));
    if (!tail.empty()) {
      int used2 = 0;
      std::string tl(tail);
      if (std::sscanf(tl.c_str(), ":%2d%n", &t.second, &used2) != 1 || static_cast<size_t>(used2) != tl.size())
        return false;
    }
  }
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.hour < 0 || t.minute < 0 || t.second < 0)
    return false;
  int cy, cm, cd;
  civilFromDays(daysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)), &cy, &cm, &cd);
  if (cd != t.day) return false;  // 31 April and the like
  *out = t;
  return true;
}

DateTime DateTime::now() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

const char* typeName(VarType t) {
  switch (t) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Boolean: return "Boolean";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Double: return "Double";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Object: return "Object";
    case VarType::Array: return "Array";
    case VarType::Bytes: return "Byte()";
    case VarType::Missing: return "Missing";
  }
  return "?";
}

Variant Variant::fromInt64(int64_t n) {
  if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
    return Variant(static_cast<int32_t>(n));
  return Variant(static_cast<double>(n));
}

Variant Variant::null() {
  Variant v;
  v.v_ = NullTag{};
  return v;
}

Variant Variant::missing() {
  Variant v;
  v.v_ = MissingTag{};
  return v;
}

VarType Variant::type() const {
  static constexpr VarType kinds[] = {VarType::Empty,  VarType::Null,   VarType::Boolean, VarType::Integer,
                                      VarType::Long,   VarType::Double, VarType::Date,    VarType::String,
                                      VarType::Object, VarType::Array,  VarType::Bytes,   VarType::Missing};
  return kinds[v_.index()];
}

bool Variant::isNumeric() const {
  auto t = type();
  return t == VarType::Boolean || t == VarType::Integer || t == VarType::Long || t == VarType::Double;
}

bool Variant::isNothing() const {
  auto* o = std::get_if<ObjectPtr>(&v_);
  return o && !*o;
}

std::string formatNumber(double d) {
  if (d == 0) return "0";
  if (d == std::trunc(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  std::string s = buf;
  auto e = s.find('E');
  std::string mant = e == std::string::npos ? s : s.substr(0, e);
  std::string exp = e == std::string::npos ? "" : s.substr(e);
  if (mant.find('.') != std::string::npos) {
    while (!mant.empty() && mant.back() == '0') mant.pop_back();
    if (!mant.empty() && mant.back() == '.') mant.pop_back();
  }
  if (!exp.empty()) {
    // E+05 -> E+5, as the scripting rules print exponents.
    std::string sign = exp.substr(1, 1);
    std::string digits = exp.substr(2);
    while (digits.size() > 1 && digits.front() == '0') digits.erase(0, 1);
    exp = "E" + sign + digits;
  }
  return mant + exp;
}

std::string Variant::toString() const {
  switch (type()) {
    case VarType::Empty: return "";
    case VarType::Null: nullUse();
    case VarType::Boolean: return std::get<bool>(v_) ? "True" : "False";
    case VarType::Integer: return std::to_string(std::get<int16_t>(v_));
    case VarType::Long: return std::to_string(std::get<int32_t>(v_));
    case VarType::Double: return formatNumber(std::get<double>(v_));
    case VarType::Date: return std::get<DateTime>(v_).text();
    case VarType::String: return std::get<std::string>(v_);
    case VarType::Bytes: {
      const auto& b = std::get<Bytes>(v_);
      return std::string(b.begin(), b.end());
    }
    default: mismatch();
  }
}

double Variant::toDouble() const {
  switch (type()) {
    case VarType::Empty: return 0;
    case VarType::Null: nullUse();
    case VarType::Boolean: return std::get<bool>(v_) ? -1 : 0;
    case VarType::Integer: return std::get<int16_t>(v_);
    case VarType::Long: return std::get<int32_t>(v_);
    case VarType::Double: return std::get<double>(v_);
    case VarType::Date: return dateToDouble(std::get<DateTime>(v_));
    case VarType::String: {
      double d;
      if (!parseNumber(std::get<std::string>(v_), &d)) mismatch();
      return d;
    }
    default: mismatch();
  }
}

int32_t Variant::toLong() const {
  if (auto* l = std::get_if<int32_t>(&v_)) return *l;
  double d = roundHalfEven(toDouble());
  // Written so that NaN, which compares false with everything, overflows too.
  if (!(d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max())) overflow();
  return static_cast<int32_t>(d);
}

int16_t Variant::toInteger() const {
  double d = roundHalfEven(toDouble());
  if (!(d >= std::numeric_limits<int16_t>::min() && d <= std::numeric_limits<int16_t>::max())) overflow();
  return static_cast<int16_t>(d);
}

bool Variant::toBool() const {
  if (auto* b = std::get_if<bool>(&v_)) return *b;
  if (auto* s = std::get_if<std::string>(&v_)) {
    std::string_view t = trimmed(*s);
    if (t.size() == 4 && strncasecmp(t.data(), "true", 4) == 0) return true;
    if (t.size() == 5 && strncasecmp(t.data(), "false", 5) == 0) return false;
  }
  return toDouble() != 0;
}

DateTime Variant::toDate() const {
  switch (type()) {
    case VarType::Null: nullUse();
    case VarType::Date: return std::get<DateTime>(v_);
    case VarType::String: {
      DateTime t;
      if (DateTime::parse(std::get<std::string>(v_), &t)) return t;
      double d;
      if (parseNumber(std::get<std::string>(v_), &d)) return doubleToDate(d);
      mismatch();
    }
    case VarType::Empty:
    case VarType::Boolean:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Double: return doubleToDate(toDouble());
    default: mismatch();
  }
}

ObjectPtr Variant::toObject() const {
  if (auto* o = std::get_if<ObjectPtr>(&v_)) return *o;
  if (isEmpty()) return nullptr;
  raise(kObjectRequired, kSource, "Object required");
}

const Variant::Array& Variant::array() const {
  if (auto* a = std::get_if<Array>(&v_)) return *a;
  mismatch();
}

const Variant::Bytes& Variant::bytes() const {
  if (auto* b = std::get_if<Bytes>(&v_)) return *b;
  mismatch();
}

long Variant::length() const {
  if (isNull()) return -1;
  if (auto* s = std::get_if<std::string>(&v_)) return static_cast<long>(s->size());
  if (isEmpty()) return 0;
  return static_cast<long>(toString().size());
}

bool Variant::isBlank() const {
  if (isEmpty()) return true;
  if (auto* s = std::get_if<std::string>(&v_)) return s->empty();
  return false;
}

bool Variant::looksNumeric() const {
  if (isNumeric()) return true;
  double d;
  if (auto* s = std::get_if<std::string>(&v_)) return parseNumber(*s, &d);
  return false;
}

Variant Variant::coerce(VarType t) const {
  if (t == kAny || t == type()) return *this;
  switch (t) {
    case VarType::Boolean: return Variant(toBool());
    case VarType::Integer: return Variant(toInteger());
    case VarType::Long: return Variant(toLong());
    case VarType::Double: return Variant(toDouble());
    case VarType::Date: return Variant(toDate());
    case VarType::String: return Variant(toString());
    case VarType::Object: return Variant(toObject());
    case VarType::Array: return Variant(array());
    default: mismatch();
  }
}

bool Variant::looseEquals(const Variant& o) const {
  if (isNull() || o.isNull() || isMissing() || o.isMissing()) return false;
  if (isObject() || o.isObject()) return isObject() && o.isObject() && toObject() == o.toObject();
  bool aText = isString(), bText = o.isString();
  if (aText && bText) return toString() == o.toString();
  if (isEmpty() && o.isEmpty()) return true;
  if (isEmpty()) return bText ? o.toString().empty() : o.toDouble() == 0;
  if (o.isEmpty()) return aText ? toString().empty() : toDouble() == 0;
  if (aText || bText) {
    const Variant& text = aText ? *this : o;
    const Variant& other = aText ? o : *this;
    double d;
    if (!parseNumber(text.toString(), &d)) return false;
    return d == other.toDouble();
  }
  return toDouble() == o.toDouble();
}

bool Variant::operator==(const Variant& other) const { return v_ == other.v_; }

double Val(std::string_view s) {
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && isBlankChar(s[i])) ++i;
  };
  skip();
  if (i + 1 < s.size() && s[i] == '&' && (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
    int base = (s[i + 1] == 'H' || s[i + 1] == 'h') ? 16 : 8;
    i += 2;
    int64_t n = 0;
    while (i < s.size()) {
      int digit = std::isdigit(static_cast<unsigned char>(s[i])) ? s[i] - '0'
                  : (base == 16 && std::isxdigit(static_cast<unsigned char>(s[i])))
                      ? std::tolower(static_cast<unsigned char>(s[i])) - 'a' + 10
                      : -1;
      if (digit < 0 || digit >= base) break;
      n = n * base + digit;
      if (n > 0xFFFFFFFFLL) break;
      ++i;
    }
    return static_cast<double>(n);
  }
  // Val skips blanks anywhere inside the number ("1 2" is 12).
  std::string num;
  bool seenDigit = false, seenDot = false, seenExp = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) num += s[i++];
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (isBlankChar(c)) continue;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      num += c;
      seenDigit = true;
    } else if (c == '.' && !seenDot && !seenExp) {
      num += c;
      seenDot = true;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && seenDigit && !seenExp) {
      size_t j = i + 1;
      while (j < s.size() && isBlankChar(s[j])) ++j;
      if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
      while (j < s.size() && isBlankChar(s[j])) ++j;
      if (j >= s.size() || !std::isdigit(static_cast<unsigned char>(s[j]))) break;
      num += 'e';
      seenExp = true;
      ++i;
      while (i < s.size() && isBlankChar(s[i])) ++i;
      if (s[i] == '+' || s[i] == '-')
        num += s[i];
      else
        --i;
    } else {
      break;
    }
  }
  if (!seenDigit) return 0;
  double d = std::strtod(num.c_str(), nullptr);
  return std::isfinite(d) ? d : 0;
}

}  // namespace tivel::com
