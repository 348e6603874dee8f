// The method pattern of the management classes. Every add, update, delete and
// read operation follows one of these shapes; an operation declares only what
// is its own (table, statement, fields, defaults, codes) and calls the shape.
//
// Values are never spliced raw: every value placed between quotes goes
// through QuoteSql (keys included), and a value placed without quotes must be
// a number, or the operation ends in its failure value. So no caller input
// can change the shape of a statement.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mgt/common/collection.h"
#include "mgt/common/helpers.h"
#include "platform/ado/recordset.h"
#include "records/record.h"

namespace tivel::mgt {

using records::Record;
using records::RecordPtr;

// ---- Traps: run the body, turn any failure into the failure value of the kind.

template <class F>
std::string trapCode(const char* failureCode, F&& body) {
  try {
    return body();
  } catch (...) {
    return failureCode;
  }
}

template <class F>
com::Variant trapObject(F&& body) {
  try {
    return body();
  } catch (...) {
    return com::Variant::nothing();
  }
}

template <class F>
std::string trapText(F&& body) {
  try {
    return body();
  } catch (...) {
    return "";
  }
}

template <class F>
bool trapBool(F&& body) {
  try {
    return body();
  } catch (...) {
    return false;
  }
}

// ---- Statements on the thread's shared connection.

// Opens a read-only recordset (keyset cursor).
ado::RecordsetPtr openRead(const std::string& sql);
// Opens an updatable recordset (static cursor, pessimistic locking).
ado::RecordsetPtr openEdit(const std::string& sql);
// Runs a statement without result rows.
void execute(const std::string& sql);

// "'" + QuoteSql(text of v) + "'": a value between quotes (Null fails).
std::string quoted(const com::Variant& v);
// The text of v, which must read wholly as a number (fails otherwise).
std::string numeric(const com::Variant& v);
// True when the value is empty in the system's sense (length 0; Null is not empty).
inline bool blank(const com::Variant& v) { return v.isBlank(); }

// ---- Insert statements: the fixed head, then one item per column.
class Insert {
 public:
  explicit Insert(std::string head) : sql_(std::move(head)) {}
  // 'v' through QuoteSql.
  Insert& text(const com::Variant& v);
  // Empty v gives the literal, else 'v'.
  Insert& text(const com::Variant& v, const char* emptyLiteral);
  // Null v gives the literal, else 'v' (an empty value is written as '').
  Insert& textUnlessNull(const com::Variant& v, const char* nullLiteral);
  // v without quotes; must be a number.
  Insert& number(const com::Variant& v);
  // Empty v gives the literal, else v without quotes (a number).
  Insert& number(const com::Variant& v, const char* emptyLiteral);
  // Null v gives the literal, else v without quotes (a number).
  Insert& numberUnlessNull(const com::Variant& v, const char* nullLiteral);
  // A fixed literal as the item.
  Insert& literal(const std::string& s);
  // The statement: items separated by "," and a closing ")".
  std::string sql() const { return sql_ + ")"; }

 private:
  Insert& item(const std::string& s);
  std::string sql_;
  bool first_ = true;
};

// ---- Field lists: a field of the recordset and the record property it maps to.
struct Field {
  Field(const char* both) : column(both), property(both) {}
  Field(const char* c, const char* p) : column(c), property(p) {}
  std::string column, property;
};
using Fields = std::vector<Field>;

// The record behind a record argument; Nothing fails ("Object variable not set").
const Record& deref(const RecordPtr& rec);

// Copies the current row's fields into a new record of the class.
RecordPtr fillRecord(const ado::Recordset& rs, const char* recordClass, const Fields& fields);

// ---- Adds.

// A check run before the key is chosen; the first that fails decides the code.
struct Check {
  enum Kind { Required, Unique } kind;
  std::string property;       // the record's value tested
  std::string table, column;  // for Unique: RowExists(table, column, value)
  const char* code;
};
// The record's property must not be empty.
Check required(const char* property, const char* code);
// RowExists(table, column, value) must not report the value present.
Check unique(const char* table, const char* column, const char* property, const char* code);

struct KeyRule {
  std::string property;       // the record's key property; a generated key when empty or null
  std::string prefix;         // NewNumber prefix
  std::string table, column;  // key test
  const char* usedCode;       // code when a supplied key is used
};

using Composer = std::function<std::string(const Record& rec, const std::string& key)>;

// The add pattern: checks, key, key test, insert, key handed back, "0"; any
// failure gives trapCodeValue. A generated key found used (by the key test or
// by the insert, when another writer took it meanwhile) is drawn again; an
// insert refused because another writer added a unique value meanwhile
// answers that check's code.
std::string addRow(const RecordPtr& rec, com::Variant& keyOut, const std::vector<Check>& checks, const KeyRule& key,
                   const char* trapCodeValue, const Composer& compose);

// ---- Updates, deletes, reads by key. `select` is the fixed text ending in
// "='"; the key (through QuoteSql) and "'" follow.

struct UpdateCodes {
  const char* keyEmpty;
  const char* noRow;
  const char* trap;
};
// The update pattern: assigns the listed fields from the record, in order, and writes the row.
std::string updateRow(const RecordPtr& rec, const std::string& key, const std::string& select, const Fields& fields,
                      const UpdateCodes& codes);

// The delete pattern: "0" whether or not a row matched.
std::string deleteRow(const std::string& key, const std::string& deletePrefix, const char* keyEmptyCode,
                      const char* trapCodeValue);

// Read one by key: Nothing for an empty key, no row or any failure.
com::Variant readByKey(const std::string& key, const std::string& select, const char* recordClass, const Fields& fields);
// Read one by a complete statement: the first row's record or Nothing.
com::Variant readFirst(const std::string& sql, const char* recordClass, const Fields& fields);
// Read a name: the first row's field as text; "" for an empty key, no row or any failure.
std::string readName(const std::string& key, const std::string& select, const char* field);

// Read a list: a record per row, added under keyPrefix + the row's keyProperty.
// Any failure (a repeated key among them) gives Nothing. With emptyIsNothing
// a list without rows gives Nothing too, else an empty collection.
enum class EmptyList { Collection, Nothing };
com::Variant readList(const std::string& sql, const char* recordClass, const Fields& fields, const std::string& keyPrefix,
                      const char* keyProperty, EmptyList empty = EmptyList::Collection);

// The collection key of one listed record, for lists keyed by more than one property.
using ListKey = std::function<std::string(const Record& rec)>;
// Read a list as readList does, each record added under keyOf(record); any failure gives Nothing.
com::Variant readKeyedList(const std::string& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                           EmptyList empty = EmptyList::Collection);
// The same list with every failure (a repeated key among them) left to the
// caller, for reads that fail their call rather than answer Nothing.
com::Variant collectList(const std::string& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                         EmptyList empty = EmptyList::Collection);
// Read one by a complete statement: the first row's record or Nothing; failures reach the caller.
com::Variant firstRecord(const std::string& sql, const char* recordClass, const Fields& fields);

}  // namespace tivel::mgt
