// Writing one changed row of a recordset back to its base table, under the
// update criteria of a client cursor engine: an update sets only the fields
// whose value changed and finds the row by its key plus the original values
// of those fields; a delete finds it by its key; an insert names only the
// fields that were given a value. Values always travel as bound parameters,
// and no statement ever changes more than the one row meant.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/backend.h"

namespace tivel::ado {

// Where a recordset's fields live: one table, each field's column in it.
struct BaseTable {
  std::string name;
  std::vector<std::string> columnOf;  // per field: its column in the table, "" when not from it
  std::vector<size_t> key;            // field positions of the table's key; empty when none is usable
};

// The base table of a result, from its column metadata and the table's key.
// Fails (kProviderError) unless the fields come from exactly one table.
BaseTable resolveBaseTable(Backend& backend, const std::vector<ColumnInfo>& columns);

// True when storing `now` where `original` was read would store the same
// value again (so the field counts as unchanged).
bool sameStoredValue(const com::Variant& original, const com::Variant& now);

// Inserts a new row with the assigned fields (all of them when none was assigned: the defaults).
void writeInsert(Backend& backend, const BaseTable& table, const Row& values, const std::vector<bool>& assigned);
// Updates the row read as `original` to `current`; a row without changed fields writes nothing.
// Fails with kRowNotLocated when the row is gone or its changed fields were changed meanwhile.
void writeUpdate(Backend& backend, const BaseTable& table, const Row& original, const Row& current);
// Deletes the row read as `original`; fails with kRowNotLocated when it is gone.
void writeDelete(Backend& backend, const BaseTable& table, const Row& original);

}  // namespace tivel::ado
