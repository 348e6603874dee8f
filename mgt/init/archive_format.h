// The portable backup archive: one UTF-8 text file, one JSON value a line,
// the same for every engine. A header line, then per table a line naming its
// columns, one line per row (a JSON array of the values, columns in the order
// of their lower-case names) and a line with the table's row count and
// checksum, and an end line. docs/engines.md describes it in full.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/variant.h"

namespace tivel::mgt {

// The archive's own format number (the first line's "version").
inline constexpr int kArchiveVersion = 1;

// One row's values as its archive line: a JSON array where a text is a
// string, Null is null, a whole number (a Double with no fraction within
// 2^53 included) is an integer, any other number a JSON number that reads
// back to the same double, a Boolean true/false, a date {"date":"YYYY-MM-DD
// HH:MM:SS"} and bytes {"bytes":"<base64>"}. Empty is written as null; any
// other kind fails with a call error.
std::string encodeRow(const std::vector<com::Variant>& values);

// The values of a row line; fails with a call error naming what is wrong.
std::vector<com::Variant> decodeRow(const std::string& line);

// A table's checksum: SHA-256 of the SHA-256 digests of its row lines,
// sorted, so that it does not depend on the order an engine returns rows in.
class TableDigest {
 public:
  void add(const std::string& rowLine);
  long rows() const { return static_cast<long>(digests_.size()); }
  // The checksum in lower-case hexadecimal.
  std::string hex();

 private:
  std::vector<std::array<uint8_t, 32>> digests_;
};

}  // namespace tivel::mgt
