// One row's values packed into a single buffer: a kind byte per value, then
// its bytes (a text's length and characters, a number's bytes). A recordset
// keeps the rows it read this way, so a large result holds little more than
// its values: a Variant is 40 bytes however small its value, plus a buffer of
// its own for a longer text. The engines' backends deliver the rows they
// fetch this way too, so a text goes from the engine's buffer into the row
// without a value of its own in between.
//
// A packed row never changes: a copy shares its bytes. The rows one fetch
// delivers lie side by side in one block of the result, which lives as long
// as any of them, so the records a list makes of them share the block
// instead of each holding a copy of its row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/com/variant.h"

namespace tivel::ado {

using Row = std::vector<com::Variant>;

struct RowBlock;

class PackedRow {
 public:
  PackedRow() = default;
  // Packs the values into a buffer of their own: Empty, Null, Boolean,
  // Integer, Long, Double, Date, String, Bytes and Missing; any other kind
  // fails (kTypeMismatch).
  explicit PackedRow(const Row& row);

  // The number of values.
  size_t size() const;
  // The value at position i (< size()), of the kind it was packed as.
  com::Variant at(size_t i) const;
  com::Variant operator[](size_t i) const { return at(i); }
  // The characters of the String value at position i (< size()), without
  // making a value; nullopt for a value of another kind. Valid while the row lives.
  std::optional<std::string_view> textAt(size_t i) const;
  // Every value, in order.
  Row unpack() const;
  // The same, but a value not wanted (wanted[i] false, or i past its end)
  // stays Empty without being made.
  Row unpack(const std::vector<bool>& wanted) const;

 private:
  friend class PackedRowBuilder;
  // Byte length (4 bytes), value count (4 bytes), then the values; owned
  // with the block the bytes lie in.
  std::shared_ptr<const uint8_t> data_;
};

// Packs rows value by value, keeping its buffer from one row to the next.
// The rows taken between two ends of a block lie in one block.
class PackedRowBuilder {
 public:
  // Appends a value, as PackedRow(row) packs it (other kinds fail the same way).
  void add(const com::Variant& v);
  // Appends a String value with these characters, without making one
  // (inline: a backend calls it for most values it reads).
  void addText(std::string_view text) {
    const uint32_t n = static_cast<uint32_t>(text.size());
    uint8_t* p = room(1 + 4 + n);
    p[0] = kTextKind;
    std::memcpy(p + 1, &n, 4);
    if (n) std::memcpy(p + 5, text.data(), n);
    ++count_;
  }
  // Appends an Empty value, as add(com::Variant()) does (inline: a backend
  // calls it for every column a reader left out).
  void addEmpty() {
    *room(1) = kEmptyKind;
    ++count_;
  }
  // The row of the values appended since the last take, placed in the
  // current block (a new one after endBlock).
  PackedRow take();
  // Ends the current block: it holds the rows taken so far and lives as
  // long as any of them; the next row starts another.
  void endBlock();

 private:
  static constexpr uint8_t kEmptyKind = 0;  // an Empty's kind byte
  static constexpr uint8_t kTextKind = 8;   // a String's kind byte

  // Room for n more bytes of the row being built.
  uint8_t* room(size_t n) {
    if (capacity_ - used_ < n) grow(n);
    uint8_t* at = bytes_.get() + used_;
    used_ += n;
    return at;
  }
  // Makes the buffer large enough for n more bytes.
  void grow(size_t n);

  std::unique_ptr<uint8_t[]> bytes_;  // the row being built, not yet set apart
  size_t used_ = 0, capacity_ = 0;
  uint32_t count_ = 0;
  std::shared_ptr<RowBlock> block_;
};

}  // namespace tivel::ado
