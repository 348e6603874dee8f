// Variant conversions and comparisons on values built from arbitrary bytes:
// every conversion either answers or fails with a call error, and loose
// equality answers the same whichever side asks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/error.h"
#include "platform/com/variant.h"

namespace {

using tivel::com::Variant;
using tivel::com::VarType;

// Reads one value: a kind byte, then its payload from the bytes that follow.
Variant take(const uint8_t*& p, const uint8_t* end) {
  auto left = [&] { return static_cast<size_t>(end - p); };
  if (left() == 0) return Variant();
  uint8_t kind = *p++ % 9;
  auto bytes = [&](void* out, size_t n) {
    std::memset(out, 0, n);
    size_t k = n < left() ? n : left();
    std::memcpy(out, p, k);
    p += k;
  };
  switch (kind) {
    case 0: return Variant();
    case 1: return Variant::null();
    case 2: return Variant(left() > 0 && (*p++ & 1));
    case 3: {
      int16_t i;
      bytes(&i, sizeof i);
      return Variant(i);
    }
    case 4: {
      int32_t l;
      bytes(&l, sizeof l);
      return Variant(l);
    }
    case 5: {
      double d;
      bytes(&d, sizeof d);
      return Variant(d);
    }
    case 6: {
      size_t n = left() > 0 ? *p++ % 24 : 0;
      n = n < left() ? n : left();
      std::string s(reinterpret_cast<const char*>(p), n);
      p += n;
      tivel::com::DateTime dt;
      if (tivel::com::DateTime::parse(s, &dt)) return Variant(dt);
      return Variant(s);
    }
    default: {
      size_t n = left() > 0 ? *p++ % 40 : 0;
      n = n < left() ? n : left();
      std::string s(reinterpret_cast<const char*>(p), n);
      p += n;
      return Variant(s);
    }
  }
}

template <class F>
void tryIt(F&& f) {
  try {
    f();
  } catch (const tivel::com::ComError&) {
  }
}

void exercise(const Variant& v) {
  tryIt([&] { v.toString(); });
  tryIt([&] { v.toDouble(); });
  tryIt([&] { v.toLong(); });
  tryIt([&] { v.toInteger(); });
  tryIt([&] { v.toBool(); });
  tryIt([&] { v.toDate(); });
  v.length();
  v.isBlank();
  v.looksNumeric();
  for (VarType t : {VarType::Empty, VarType::Boolean, VarType::Integer, VarType::Long, VarType::Double, VarType::Date,
                    VarType::String})
    tryIt([&] { v.coerce(t); });
  if (v.isString()) {
    tivel::com::Val(v.toString());
  } else if (v.type() == VarType::Double) {
    tivel::com::formatNumber(v.toDouble());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  Variant a = take(p, end);
  Variant b = take(p, end);
  exercise(a);
  exercise(b);
  bool ab = false, ba = false, abFailed = false, baFailed = false;
  try {
    ab = a.looseEquals(b);
  } catch (const tivel::com::ComError&) {
    abFailed = true;
  }
  try {
    ba = b.looseEquals(a);
  } catch (const tivel::com::ComError&) {
    baFailed = true;
  }
  if (abFailed != baFailed || ab != ba) {
    std::fprintf(stderr, "invariant broken: loose equality is not symmetric\n");
    std::abort();
  }
  return 0;
}
