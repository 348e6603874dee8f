#include "platform/ado/packed_row.h"

#include <cstring>
#include <string>

#include "platform/com/error.h"

namespace tivel::ado {
namespace {

enum Kind : uint8_t { kEmpty, kNull, kFalse, kTrue, kInteger, kLong, kDouble, kDate, kString, kBytes, kMissing };
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

PackedRow::PackedRow(const Row& row) {
  size_t bytes = kHeader;
  for (const com::Variant& v : row) bytes += 1 + payload(v);
  data_ = std::make_unique_for_overwrite<uint8_t[]>(bytes);
  const uint32_t length = static_cast<uint32_t>(bytes), count = static_cast<uint32_t>(row.size());
  uint8_t* p = put(put(data_.get(), &length, 4), &count, 4);
  for (const com::Variant& v : row) p = pack(p, v);
}

PackedRow::PackedRow(const PackedRow& other) { *this = other; }

PackedRow& PackedRow::operator=(const PackedRow& other) {
  if (this == &other) return *this;
  if (!other.data_) {
    data_.reset();
    return *this;
  }
  const uint32_t bytes = read32(other.data_.get());
  auto copy = std::make_unique_for_overwrite<uint8_t[]>(bytes);
  std::memcpy(copy.get(), other.data_.get(), bytes);
  data_ = std::move(copy);
  return *this;
}

size_t PackedRow::size() const { return data_ ? read32(data_.get() + 4) : 0; }

com::Variant PackedRow::at(size_t i) const {
  const uint8_t* p = data_.get() + kHeader;
  for (; i > 0; --i) p = skip(p);
  const uint8_t* next = nullptr;
  return unpackAt(p, &next);
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

void PackedRowBuilder::add(const com::Variant& v) {
  const size_t at = bytes_.size();
  bytes_.resize(at + 1 + payload(v));
  pack(bytes_.data() + at, v);
  ++count_;
}

void PackedRowBuilder::addText(std::string_view text) {
  const size_t at = bytes_.size();
  const uint32_t n = static_cast<uint32_t>(text.size());
  bytes_.resize(at + 1 + 4 + n);
  uint8_t* p = bytes_.data() + at;
  *p++ = kString;
  put(put(p, &n, 4), text.data(), n);
  ++count_;
}

PackedRow PackedRowBuilder::take() {
  PackedRow row;
  const uint32_t length = static_cast<uint32_t>(kHeader + bytes_.size());
  row.data_ = std::make_unique_for_overwrite<uint8_t[]>(length);
  put(put(put(row.data_.get(), &length, 4), &count_, 4), bytes_.data(), bytes_.size());
  bytes_.clear();
  count_ = 0;
  return row;
}

}  // namespace tivel::ado
