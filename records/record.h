// Record objects: property bags that carry rows of the management database
// between callers and the management component. Every property holds one
// Variant; a new record has every property Empty.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/packed_row.h"
#include "platform/com/object.h"

namespace tivel::records {

// One record class: its name and its properties in interface order.
struct RecordClass {
  std::string name;
  std::vector<std::string> properties;
  com::ClassInfo info;  // ProgID "TivelPublicDB." + name, a write then a read accessor per property
  // Position of a property (any case) or -1.
  int indexOf(std::string_view property) const;
};

// How the records made from the rows of one result take their values: the
// rows' column names, and per property of the class the column it holds
// (-1: none, the property stays Empty). Shared by every record of a list.
struct RowShape {
  std::vector<std::string> columns;
  std::vector<int> columnOf;
  uint64_t held = 0;  // bit i set: property i has a column
};

class Record : public com::Object {
 public:
  explicit Record(const RecordClass& cls);
  // A record read from a row (the columns and values the shape names): it
  // shares the row's bytes with the result and the other records of a list,
  // and makes a property's own value only when that property is first read
  // or changed. It remembers the row, so that an update of that same row
  // can write only what the caller changed since.
  Record(const RecordClass& cls, std::shared_ptr<const RowShape> shape, ado::PackedRow row);
  const com::ClassInfo& classInfo() const override { return cls_.info; }
  const RecordClass& recordClass() const { return cls_; }

  // The value of a property (name in any letter case); fails with
  // kUnknownName for a name the class does not have.
  const com::Variant& get(std::string_view name) const;
  const com::Variant& operator[](std::string_view name) const { return get(name); }
  // A copy of the value, taken straight from the row when the record has not
  // made the property's own value yet; fails as get() does.
  com::Variant value(std::string_view name) const;
  // The same for the property at position i (as indexOf gives it, in range).
  com::Variant valueAt(size_t i) const;
  // The text the property at i (in range) holds while it is still only in
  // the row, without making its value; nullopt otherwise. Valid while the
  // record is not changed.
  std::optional<std::string_view> rowText(size_t i) const;
  // Stores a copy of the value, replacing the previous one.
  void set(std::string_view name, com::Variant value);
  // The same for the property at position i (as indexOf gives it, in range).
  void setAt(size_t i, com::Variant value);
  // Position of a property (any case) or -1.
  int indexOf(std::string_view name) const { return cls_.indexOf(name); }
  // Empties every property that holds an object or an array.
  void dropReferences() override;

  // The value a property (any case) held when the record was read, or
  // nullptr when it was never read (valid until the record next changes);
  // fails as get() does for an unknown name.
  const com::Variant* readValue(std::string_view name) const;
  // True when the record was read from a row whose column `column` (any
  // case) held exactly the text `value`.
  bool wasReadFrom(std::string_view column, std::string_view value) const;
  // After a write of a read record: its row now holds the property's value
  // in `column`, so that value counts as read.
  void markWritten(std::string_view property, std::string_view column);

 private:
  // The property at i, made from the row when it is still only there.
  const com::Variant& at(size_t i) const;
  // Before the property at i is replaced: moves its value as read aside, the first time.
  void keepReadValue(size_t i);
  int checkedIndex(std::string_view name) const;

  const RecordClass& cls_;
  // Per property; a read record makes them at the first read or change.
  mutable std::vector<com::Variant> values_;
  mutable uint64_t inRow_ = 0;                 // per property: its value is still only in readRow_
  uint64_t changed_ = 0;                       // per property: changed since the read, as read in readValues_
  std::vector<com::Variant> readValues_;       // per property, as read, for the changed ones
  std::shared_ptr<const RowShape> readShape_;  // the row read (null: never read)
  ado::PackedRow readRow_;                     // and its values
};
using RecordPtr = std::shared_ptr<Record>;

// The 29 record classes in library order.
const std::vector<RecordClass>& recordClasses();
// The class of that name (exact spelling), or nullptr.
const RecordClass* findRecordClass(std::string_view name);
// A new record of the named class; fails with kInvalidClassString for an unknown name.
RecordPtr newRecord(std::string_view className);
// The record a Variant holds: nullptr for Nothing/Empty; fails with
// kTypeMismatchArg when it holds anything else or a record of another class
// (className empty: any record class).
RecordPtr recordArg(const com::Variant& v, std::string_view className = {});

}  // namespace tivel::records
