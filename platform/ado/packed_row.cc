#include "platform/ado/packed_row.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/com/error.h"

namespace tivel::ado {
namespace {

enum Kind : uint8_t { kEmpty, kNull, kFalse, kTrue, kInteger, kLong, kDouble, kDate, kString, kBytes, kMissing };
static_assert(kString == 8, "PackedRowBuilder::addText writes this kind byte");
static_assert(kEmpty == 0, "PackedRowBuilder::addEmpty writes this kind byte");
constexpr size_t kHeader = 8;

uint32_t read32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The bytes a value takes after its kind byte.
size_t payload(const com::Variant& v) {
  switch (v.type()) {
    case com::VarType::Integer: return 2;
    case com::VarType::Long: return 4;
    case com::VarType::Double: return 8;
    case com::VarType::Date: return 6 * 4;
    case com::VarType::String: return 4 + v.get<std::string>()->size();
    case com::VarType::Bytes: return 4 + v.bytes().size();
    case com::VarType::Empty:
    case com::VarType::Null:
    case com::VarType::Boolean:
    case com::VarType::Missing: return 0;
    default:
      com::raise(
          com::kTypeMismatch, "ADODB.Recordset",
          std::string("Type mismatch: a value of kind ") + com::typeName(v.type()) + " cannot be a field value.");
  }
}

uint8_t* put(uint8_t* p, const void* src, size_t n) {
  if (n) std::memcpy(p, src, n);
  return p + n;
}

uint8_t* pack(uint8_t* p, const com::Variant& v) {
  switch (v.type()) {
    case com::VarType::Empty: *p++ = kEmpty; return p;
    case com::VarType::Null: *p++ = kNull; return p;
    case com::VarType::Missing: *p++ = kMissing; return p;
    case com::VarType::Boolean: *p++ = *v.get<bool>() ? kTrue : kFalse; return p;
    case com::VarType::Integer: *p++ = kInteger; return put(p, v.get<int16_t>(), 2);
    case com::VarType::Long: *p++ = kLong; return put(p, v.get<int32_t>(), 4);
    case com::VarType::Double: *p++ = kDouble; return put(p, v.get<double>(), 8);
    case com::VarType::Date: {
      const com::DateTime& d = *v.get<com::DateTime>();
      const int32_t parts[6] = {d.year, d.month, d.day, d.hour, d.minute, d.second};
      *p++ = kDate;
      return put(p, parts, sizeof parts);
    }
    case com::VarType::String: {
      const std::string& s = *v.get<std::string>();
      const uint32_t n = static_cast<uint32_t>(s.size());
      *p++ = kString;
      return put(put(p, &n, 4), s.data(), n);
    }
    default: {  // Bytes (payload() refused the rest)
      const auto& b = v.bytes();
      const uint32_t n = static_cast<uint32_t>(b.size());
      *p++ = kBytes;
      return put(put(p, &n, 4), b.data(), n);
    }
  }
}

// The value at p; *next is where the following one starts.
com::Variant unpackAt(const uint8_t* p, const uint8_t** next) {
  const uint8_t kind = *p++;
  switch (kind) {
    case kEmpty: *next = p; return {};
    case kNull: *next = p; return com::Variant::null();
    case kMissing: *next = p; return com::Variant::missing();
    case kFalse:
    case kTrue: *next = p; return com::Variant(kind == kTrue);
    case kInteger: {
      int16_t v;
      std::memcpy(&v, p, 2);
      *next = p + 2;
      return com::Variant(v);
    }
    case kLong: {
      int32_t v;
      std::memcpy(&v, p, 4);
      *next = p + 4;
      return com::Variant(v);
    }
    case kDouble: {
      double v;
      std::memcpy(&v, p, 8);
      *next = p + 8;
      return com::Variant(v);
    }
    case kDate: {
      int32_t parts[6];
      std::memcpy(parts, p, sizeof parts);
      *next = p + sizeof parts;
      return com::Variant(com::DateTime{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]});
    }
    case kString: {
      const uint32_t n = read32(p);
      *next = p + 4 + n;
      return com::Variant(std::string(reinterpret_cast<const char*>(p + 4), n));
    }
    default: {  // kBytes
      const uint32_t n = read32(p);
      *next = p + 4 + n;
      return com::Variant(com::Variant::Bytes(p + 4, p + 4 + n));
    }
  }
}

// Where the value after the one at p starts, without making it.
const uint8_t* skip(const uint8_t* p) {
  switch (*p) {
    case kInteger: return p + 1 + 2;
    case kLong: return p + 1 + 4;
    case kDouble: return p + 1 + 8;
    case kDate: return p + 1 + 6 * 4;
    case kString:
    case kBytes: return p + 1 + 4 + read32(p + 1);
    default: return p + 1;
  }
}

}  // namespace

// The rows of one fetch, side by side, each whole in one area: first a small
// area inside the block itself (a result of a row or two costs one
// allocation), then areas that double in size up to a largest one, so a
// large result costs an allocation per many rows and wastes at most the end
// of its last area.
struct RowBlock {
  static constexpr size_t kFirstArea = 256, kLargestArea = 256 * 1024;
  RowBlock() {}  // leaves the first area unwritten

  // Room for n bytes: in the current area, or in a new one.
  uint8_t* place(size_t n) {
    if (n > left) {
      const size_t size = std::max(n, nextArea);
      nextArea = std::min(nextArea * 2, kLargestArea);
      areas.push_back(std::make_unique_for_overwrite<uint8_t[]>(size));
      free = areas.back().get();
      left = size;
    }
    uint8_t* at = free;
    free += n;
    left -= n;
    return at;
  }

  uint8_t first[kFirstArea];
  std::vector<std::unique_ptr<uint8_t[]>> areas;
  uint8_t* free = first;
  size_t left = kFirstArea;
  size_t nextArea = 4096;
};

PackedRow::PackedRow(const Row& row) {
  size_t bytes = kHeader;
  for (const com::Variant& v : row) bytes += 1 + payload(v);
  std::shared_ptr<uint8_t[]> buffer = std::make_shared_for_overwrite<uint8_t[]>(bytes);
  const uint32_t length = static_cast<uint32_t>(bytes), count = static_cast<uint32_t>(row.size());
  uint8_t* p = put(put(buffer.get(), &length, 4), &count, 4);
  for (const com::Variant& v : row) p = pack(p, v);
  const uint8_t* start = buffer.get();
  data_ = std::shared_ptr<const uint8_t>(std::move(buffer), start);
}

size_t PackedRow::size() const { return data_ ? read32(data_.get() + 4) : 0; }

com::Variant PackedRow::at(size_t i) const {
  if (!data_) return {};  // a row whose values were moved out
  const uint8_t* p = data_.get() + kHeader;
  for (; i > 0; --i) p = skip(p);
  const uint8_t* next = nullptr;
  return unpackAt(p, &next);
}

std::optional<std::string_view> PackedRow::textAt(size_t i) const {
  if (!data_) return std::nullopt;
  const uint8_t* p = data_.get() + kHeader;
  for (; i > 0; --i) p = skip(p);
  if (*p != kString) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(p + 5), read32(p + 1));
}

Row PackedRow::unpack() const {
  Row row;
  const size_t n = size();
  row.reserve(n);
  const uint8_t* p = data_ ? data_.get() + kHeader : nullptr;
  for (size_t i = 0; i < n; ++i) row.push_back(unpackAt(p, &p));
  return row;
}

Row PackedRow::unpack(const std::vector<bool>& wanted) const {
  const size_t n = size();
  Row row(n);
  const uint8_t* p = data_ ? data_.get() + kHeader : nullptr;
  for (size_t i = 0; i < n; ++i) {
    if (i < wanted.size() && wanted[i])
      row[i] = unpackAt(p, &p);
    else
      p = skip(p);
  }
  return row;
}

void PackedRowBuilder::grow(size_t n) {
  const size_t capacity = std::max(used_ + n, 2 * capacity_ + 256);
  auto bigger = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  put(bigger.get(), bytes_.get(), used_);
  bytes_ = std::move(bigger);
  capacity_ = capacity;
}

void PackedRowBuilder::add(const com::Variant& v) {
  pack(room(1 + payload(v)), v);
  ++count_;
}

PackedRow PackedRowBuilder::take() {
  if (!block_) block_ = std::make_shared<RowBlock>();
  const uint32_t length = static_cast<uint32_t>(kHeader + used_);
  uint8_t* at = block_->place(length);
  put(put(put(at, &length, 4), &count_, 4), bytes_.get(), used_);
  used_ = 0;
  count_ = 0;
  PackedRow row;
  row.data_ = std::shared_ptr<const uint8_t>(block_, at);
  return row;
}

void PackedRowBuilder::endBlock() { block_.reset(); }

}  // namespace tivel::ado
