// One row's values packed into a single buffer: a kind byte per value, then
// its bytes (a text's length and characters, a number's bytes). A recordset
// keeps the rows it read this way, so a large result holds little more than
// its values: a Variant is 40 bytes however small its value, plus a buffer of
// its own for a longer text. The engines' backends deliver the rows they
// fetch this way too, so a text goes from the engine's buffer into the row
// without a value of its own in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/com/variant.h"

namespace tivel::ado {

using Row = std::vector<com::Variant>;

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
  com::Variant operator[](size_t i) const { return at(i); }
  // Every value, in order.
  Row unpack() const;
  // The same, but a value not wanted (wanted[i] false, or i past its end)
  // stays Empty without being made.
  Row unpack(const std::vector<bool>& wanted) const;

 private:
  friend class PackedRowBuilder;
  std::unique_ptr<uint8_t[]> data_;  // byte length (4 bytes), value count (4 bytes), then the values
};

// Packs rows value by value, keeping its buffer from one row to the next.
class PackedRowBuilder {
 public:
  // Appends a value, as PackedRow(row) packs it (other kinds fail the same way).
  void add(const com::Variant& v);
  // Appends a String value with these characters, without making one.
  void addText(std::string_view text);
  // The row of the values appended since the last take, in a buffer of its
  // exact size.
  PackedRow take();

 private:
  std::vector<uint8_t> bytes_;
  uint32_t count_ = 0;
};

}  // namespace tivel::ado
