// One row's values packed into a single buffer: a kind byte per value, then
// its bytes (a text's length and characters, a number's bytes). A recordset
// keeps the rows it read this way, so a large result holds little more than
// its values: a Variant is 40 bytes however small its value, plus a buffer of
// its own for a longer text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/ado/backend.h"

namespace tivel::ado {

class PackedRow {
 public:
  PackedRow() = default;
  // Packs the values: Empty, Null, Boolean, Integer, Long, Double, Date,
  // String, Bytes and Missing; any other kind fails (kTypeMismatch).
  explicit PackedRow(const Row& row);
  PackedRow(const PackedRow& other);
  PackedRow& operator=(const PackedRow& other);
  PackedRow(PackedRow&&) noexcept = default;
  PackedRow& operator=(PackedRow&&) noexcept = default;

  // The number of values.
  size_t size() const;
  // The value at position i (< size()), of the kind it was packed as.
  com::Variant at(size_t i) const;
  // Every value, in order.
  Row unpack() const;

 private:
  std::unique_ptr<uint8_t[]> data_;  // byte length (4 bytes), value count (4 bytes), then the values
};

}  // namespace tivel::ado
