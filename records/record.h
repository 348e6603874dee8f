// Record objects: property bags that carry rows of the management database
// between callers and the management component. Every property holds one
// Variant; a new record has every property Empty.
#pragma once

#include <memory>
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
};

class Record : public com::Object {
 public:
  explicit Record(const RecordClass& cls);
  const com::ClassInfo& classInfo() const override { return cls_.info; }
  const RecordClass& recordClass() const { return cls_; }

  // The value of a property (name in any letter case); fails with
  // kUnknownName for a name the class does not have.
  const com::Variant& get(std::string_view name) const;
  const com::Variant& operator[](std::string_view name) const { return get(name); }
  // Stores a copy of the value, replacing the previous one.
  void set(std::string_view name, com::Variant value);
  // The same for the property at position i (as indexOf gives it, in range).
  void setAt(size_t i, com::Variant value);
  // Position of a property (any case) or -1.
  int indexOf(std::string_view name) const;
  // Empties every property that holds an object or an array.
  void dropReferences() override;

  // Remembers the current values as the ones read from a row whose columns
  // `columns` held `row` (a value per column), so that an update of that same
  // row can write only what the caller changed since. The names are shared by
  // the records read from one result. A record never read has no such memory.
  void rememberRead(std::shared_ptr<const std::vector<std::string>> columns, ado::PackedRow row);
  // The value a property (any case) held when the record was last read, or
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
  // Before a property changes: keeps the values as read, when they are still the current ones.
  void keepReadValues();

  const RecordClass& cls_;
  std::vector<com::Variant> values_;
  bool read_ = false;
  std::vector<com::Variant> readValues_;                         // per property, as read; empty while they are values_
  std::shared_ptr<const std::vector<std::string>> readColumns_;  // the columns of the row read
  ado::PackedRow readRow_;                                       // and their values
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
