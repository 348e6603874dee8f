// The bytes one statement's rows may hold as a backend reads them. A
// statement can make large values out of nothing (randomblob, zeroblob,
// repeated text) row after row; the result is refused as it grows past the
// budget, not after every row has been built, so one statement never takes
// the process's memory.
#pragma once

#include <cstddef>

#include "platform/com/variant.h"

namespace tivel::ado {

// 256 MiB: four times what a gateway batch may answer, twice the largest
// single value the embedded engine makes.
inline constexpr size_t kMaxResultBytes = size_t(256) << 20;

class RowBudget {
 public:
  // `source` names the backend in the error.
  explicit RowBudget(const char* source) : source_(source) {}
  // Counts the bytes of values read; fails (ComError kProviderError) once
  // the values read hold more than kMaxResultBytes.
  void count(size_t bytes);
  // The same for one value: a text's or a byte string's length, 9 bytes
  // for any other kind.
  void count(const com::Variant& value);

 private:
  const char* source_;
  size_t used_ = 0;
};

}  // namespace tivel::ado
