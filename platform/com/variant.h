// Variant: one value of the kinds the system passes around, with the
// conversions of the classic late-bound scripting rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tivel::com {

class Object;
using ObjectPtr = std::shared_ptr<Object>;

// A calendar date and time of day, no time zone (the system's "Now").
struct DateTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
  auto operator<=>(const DateTime&) const = default;
  // "YYYY-MM-DD HH:MM:SS".
  std::string text() const;
  // Parses "YYYY-MM-DD[ HH:MM[:SS]]" (also with '/' or 'T'); false when it is not one.
  static bool parse(std::string_view s, DateTime* out);
  // The current local date and time.
  static DateTime now();
};

enum class VarType { Empty, Null, Boolean, Integer, Long, Double, Date, String, Object, Array, Bytes, Missing };

// Returns the type name used in messages ("Empty", "Long", ...).
const char* typeName(VarType t);

class Variant {
 public:
  using Array = std::vector<Variant>;
  using Bytes = std::vector<uint8_t>;

  Variant() = default;  // Empty
  Variant(const Variant&) = default;
  Variant(Variant&&) noexcept = default;
  Variant& operator=(const Variant&) = default;
  Variant& operator=(Variant&&) noexcept = default;
  // Lets go of the object or array it holds. Values held inside what goes
  // (a chain of objects, each holding the previous one, or arrays in arrays)
  // are let go one after another, not by recursion, so no length of chain
  // can exhaust the stack.
  ~Variant();
  Variant(bool b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t l) : v_(l) {}
  Variant(double d) : v_(d) {}
  Variant(DateTime d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ObjectPtr o) : v_(std::move(o)) {}
  Variant(Array a) : v_(std::move(a)) {}
  Variant(Bytes b) : v_(std::move(b)) {}
  // Integers that fit 32 bits become Long, others Double.
  static Variant fromInt64(int64_t n);

  static Variant null();
  static Variant missing();
  static Variant nothing() { return Variant(ObjectPtr()); }

  VarType type() const;
  bool isEmpty() const { return type() == VarType::Empty; }
  bool isNull() const { return type() == VarType::Null; }
  bool isMissing() const { return type() == VarType::Missing; }
  bool isObject() const { return type() == VarType::Object; }
  bool isString() const { return type() == VarType::String; }
  bool isNumeric() const;  // Boolean, Integer, Long, Double
  // True for Object holding no object.
  bool isNothing() const;

  // Text conversion: Empty is ""; Null fails "Invalid use of Null"; numbers in
  // their shortest decimal form; Boolean "True"/"False"; Date its text form.
  std::string toString() const;
  // Numeric conversions: Empty is 0; numeric text is parsed; Null fails
  // "Invalid use of Null"; other text fails "Type mismatch"; out of range "Overflow".
  double toDouble() const;
  int32_t toLong() const;  // rounds half to even, as CLng does
  int16_t toInteger() const;
  bool toBool() const;  // numbers: non-zero; text "True"/"False" or a number
  DateTime toDate() const;
  // The object held, or nullptr for Nothing; any other kind fails "Object required"
  // (Empty reads as Nothing).
  ObjectPtr toObject() const;
  const Array& array() const;  // fails "Type mismatch" when not an Array
  const Bytes& bytes() const;

  // Text length as Len sees it (Null gives -1: no length).
  long length() const;
  // True when the value is "empty" in the system's sense: Empty, or a text of length 0.
  bool isBlank() const;
  // True when the value is numeric or a text that reads wholly as a number.
  bool looksNumeric() const;

  // Converts to the given kind (Variant/Empty leaves it as is). Fails as the
  // matching conversion fails.
  Variant coerce(VarType t) const;

  // Loose equality of the scripting rules: a number and a numeric text
  // compare as numbers; Null equals nothing; Empty equals "" and 0.
  bool looseEquals(const Variant& other) const;
  // Exact equality of kind and value (objects by identity).
  bool operator==(const Variant& other) const;

  template <class T>
  const T* get() const {
    return std::get_if<T>(&v_);
  }

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct MissingTag {
    bool operator==(const MissingTag&) const = default;
  };
  std::variant<std::monostate, NullTag, bool, int16_t, int32_t, double, DateTime, std::string, ObjectPtr, Array, Bytes,
               MissingTag>
      v_;
};

// Val: the number at the start of a text ("12abc" is 12, "abc" is 0);
// blanks are skipped, "&H" and "&O" prefixes read hex and octal.
double Val(std::string_view s);

// Formats a double the way the scripting rules print numbers (up to 15 significant digits).
std::string formatNumber(double d);

}  // namespace tivel::com
