// The method pattern of the management classes. Every add, update, delete and
// read operation follows one of these shapes; an operation declares only what
// is its own (table, statement, fields, defaults, codes) and calls the shape.
//
// Values are never spliced raw: every value placed between quotes goes
// through QuoteSql (keys included), and a value placed without quotes must be
// a number, or the operation ends in its failure value. So no caller input
// can change the shape of a statement.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mgt/common/collection.h"
#include "mgt/common/helpers.h"
#include "mgt/common/trace.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "records/record.h"

namespace tivel::mgt {

using records::Record;
using records::RecordPtr;

// The number a read that fails its call reports (see failingCall).
inline constexpr int32_t kReadFailed = -1;

// ---- Traps: run the body, turn any failure into the failure value of the kind
// (traced to the daily log when tracing is on).

// Notes the failure being trapped (the current exception) for lastTrappedError.
void noteTrappedError();
// The number of the call error that the last failure trapped by trapCode on
// this thread carried (0 for a failure that was no call error), so that a
// caller can tell a conflict from a time-out behind one failure code.
int32_t lastTrappedError();

template <class F>
std::string trapCode(const char* failureCode, F&& body, const char* site = __builtin_FUNCTION()) {
  try {
    return body();
  } catch (...) {
    noteTrappedError();
    traceTrapped(failureCode, site);
    return failureCode;
  }
}

template <class F>
com::Variant trapObject(F&& body, const char* site = __builtin_FUNCTION()) {
  try {
    return body();
  } catch (...) {
    traceTrapped("Nothing", site);
    return com::Variant::nothing();
  }
}

template <class F>
std::string trapText(F&& body, const char* site = __builtin_FUNCTION()) {
  try {
    return body();
  } catch (...) {
    traceTrapped("", site);
    return "";
  }
}

template <class F>
bool trapBool(F&& body, const char* site = __builtin_FUNCTION()) {
  try {
    return body();
  } catch (...) {
    traceTrapped("False", site);
    return false;
  }
}

// Runs body; any failure inside it fails the call with kReadFailed under
// `source` and the failure's own description (the failure value is dropped).
template <class F>
auto failingCall(const char* source, F&& body) -> decltype(body()) {
  std::string description;
  try {
    return body();
  } catch (const com::ComError& e) {
    description = e.description();
  } catch (const std::exception& e) {
    description = e.what();
  } catch (...) {
    description = "Unknown error";
  }
  com::raise(kReadFailed, source, description);
}

// How a read ends when it fails: with its empty answer (Nothing, "" or false,
// the failure traced as the traps trace theirs), or, given a source, by
// failing the call as failingCall does.
struct OnFailure {
  const char* failCallSource = nullptr;
};
// Fail the call under `source` rather than answer the read's empty value.
inline OnFailure failCall(const char* source) { return OnFailure{source}; }

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
// The decimal text of v, which must read as a whole number within 32 bits
// ("03" and "3.0" give "3"; fails otherwise). Bit nodes and subject types are
// compared as numbers, some without quotes: this keeps them from changing a
// statement's shape or being read differently by different engines.
std::string wholeNumber(const com::Variant& v);
// True when the value is empty in the system's sense (length 0; Null is not empty).
inline bool blank(const com::Variant& v) { return v.isBlank(); }

// ---- Conditions: (column, value, kind) items, each placed when the statement runs.

// How a value is placed: quoted, a number, a whole number, a whole number between quotes.
enum class Place { Text, Number, Whole, WholeText };
// The value placed by kind: quoted(v), numeric(v), wholeNumber(v) or "'" + wholeNumber(v) + "'".
std::string placed(const com::Variant& v, Place kind);

// One item: the column text as the statement spells it (operator included,
// e.g. "res_no=" or "bit_nod ="), the value and how it is placed.
struct Term {
  // A text or a value of any kind, placed by kind.
  Term(std::string c, const std::string& v, Place k = Place::Text) : column(std::move(c)), value(v), kind(k) {}
  Term(std::string c, const com::Variant& v, Place k = Place::Text) : column(std::move(c)), value(v), kind(k) {}
  std::string column;
  com::Variant value;
  Place kind;
};
using Terms = std::vector<Term>;

// Every term, as column + placed value, joined by " and ". Fails when a value cannot be placed.
std::string condition(const Terms& terms);
// The terms whose value is not empty, joined likewise; "" when none is.
std::string givenCondition(const Terms& terms);

// A statement: fixed text, or head + condition(terms) + tail, built (and its
// values checked) only when it runs, so a bad value ends in the failure value
// of the operation that runs it.
class Statement {
 public:
  // Fixed text, run as it stands.
  Statement(std::string text) : head_(std::move(text)) {}
  Statement(const char* text) : head_(text) {}
  // head + condition(terms) + tail.
  Statement(std::string head, Terms terms, std::string tail = "")
      : head_(std::move(head)), terms_(std::move(terms)), tail_(std::move(tail)), conditioned_(true) {}
  // The statement's text; fails when a value cannot be placed.
  std::string sql() const { return conditioned_ ? head_ + condition(terms_) + tail_ : head_; }
  // The condition's terms (none for a plain text).
  const Terms& terms() const { return terms_; }

 private:
  std::string head_;
  Terms terms_;
  std::string tail_;
  bool conditioned_ = false;
};

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
  // v placed by kind (see placed).
  Insert& value(const com::Variant& v, Place kind);
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

// A new record of the class made from the current row's fields, which
// remembers the row as read (see updateRow).
RecordPtr fillRecord(const ado::Recordset& rs, const char* recordClass, const Fields& fields);

// fillRecord for every row of one recordset: the class, the fields' columns
// and the column names are looked up once, not once per row, and the records
// share the result's values (a record makes its own when first read or changed).
class RecordFiller {
 public:
  RecordFiller(const ado::Recordset& rs, const char* recordClass, const Fields& fields);
  // The record of the recordset's current row, as fillRecord makes it.
  RecordPtr fill() const;
  // The same, taking the row's values out of `rs` (the recordset it was
  // made from) instead of sharing them: for a list that walks the rows once.
  RecordPtr fillTaking(ado::Recordset& rs) const;

 private:
  const ado::Recordset& rs_;
  const char* className_;
  const records::RecordClass* cls_;
  std::shared_ptr<const records::RowShape> shape_;
  const Field* missing_ = nullptr;  // the first field without a column or a property, which fails fill()
};

// ---- Adds.

// A check run before the key is chosen; the first that fails decides the code.
struct Check {
  enum Kind { Required, Present, Unique, UniqueWhere } kind;
  std::string property;       // the record's value tested
  std::string table, column;  // for Unique: RowExists(table, column, value)
  const char* code;
  // For UniqueWhere: a count statement made from the record.
  std::function<Statement(const Record& rec)> count = {};
};
// The record's property must not be empty.
Check required(const char* property, const char* code);
// The record's property must hold a value (not Null; an empty one passes).
Check present(const char* property, const char* code);
// RowExists(table, column, value) must not report the value present.
Check unique(const char* table, const char* column, const char* property, const char* code);
// RowExists over several columns: the first field of the count statement made
// from the record must not be 1 (its values placed as its terms say).
Check uniqueWhere(std::function<Statement(const Record& rec)> count, const char* code);

struct KeyRule {
  std::string property;       // the record's key property; a generated key when empty or null
  std::string prefix;         // NewNumber prefix
  std::string table, column;  // key test
  const char* usedCode;       // code when a supplied key is used
  // The column is the table's primary key, so the insert itself refuses a
  // used key: a generated key skips the test outside a transaction.
  bool insertRefusesUsed = false;
};

using Composer = std::function<std::string(const Record& rec, const std::string& key)>;

// The add pattern: checks, key, key test, insert, key handed back, "0"; any
// failure gives trapCodeValue. A generated key found used (by the key test or
// by the insert, when another writer took it meanwhile) is drawn again, from
// the wider random parts for the rest of that second (NoteKeyTaken); an
// insert refused because another writer added a unique value meanwhile
// answers that check's code.
std::string addRow(const RecordPtr& rec, com::Variant& keyOut, const std::vector<Check>& checks, const KeyRule& key,
                   const char* trapCodeValue, const Composer& compose);

// A statement made from the record.
using RecordText = std::function<std::string(const Record& rec)>;

// The pair add, for rows keyed by two or three columns together: checks; the
// row the test selects must not exist (else existsCode); the insert; idOut
// gets id(record), the composite identifier; "0". Any failure gives trapCodeValue.
struct PairAdd {
  std::vector<Check> checks;
  RecordText test;
  const char* existsCode;
  RecordText insert;
  RecordText id;
  const char* trapCodeValue;
};
std::string addPair(const RecordPtr& rec, com::Variant& idOut, const PairAdd& shape);

// The add without a key: checks, then the insert; "0". No key is chosen and
// nothing is tested, so the same values added twice are two rows. Any failure gives trapCodeValue.
std::string addUnkeyed(const RecordPtr& rec, const std::vector<Check>& checks, const char* trapCodeValue,
                       const RecordText& insert);

// ---- Updates, deletes, reads by key. `select` is the fixed text ending in
// "='"; the key (through QuoteSql) and "'" follow.

struct UpdateCodes {
  const char* keyEmpty;
  const char* noRow;
  const char* trap;
};
// The update pattern: assigns the listed fields from the record, in order, and writes the row.
// With asRead (the record as the caller read it), only the fields the caller
// changed are written, and only while the row still holds what was read in
// them; a row changed meanwhile fails (the trap code), so no change is undone.
// A record filled by a read of this same row does the same by itself (the
// updateWhere shapes too); a record the caller built writes every field.
std::string updateRow(const RecordPtr& rec, const std::string& key, const std::string& select, const Fields& fields,
                      const UpdateCodes& codes, const Record* asRead = nullptr);
// The update pattern on the row the statement selects (no key test): no row
// gives noRowCode; the listed fields are assigned and written; any failure gives trapCodeValue.
std::string updateWhere(const RecordPtr& rec, const Statement& select, const Fields& fields, const char* noRowCode,
                        const char* trapCodeValue);
// The same, the select made from the record (read first: Nothing fails).
using RecordStatement = std::function<Statement(const Record& rec)>;
std::string updateWhere(const RecordPtr& rec, const RecordStatement& select, const Fields& fields,
                        const char* noRowCode, const char* trapCodeValue);
// The same after the record's checks, for a row named by values of the record (the first that fails decides the code).
std::string updateWhere(const RecordPtr& rec, const std::vector<Check>& checks, const RecordStatement& select,
                        const Fields& fields, const char* noRowCode, const char* trapCodeValue);

// The delete pattern: "0" whether or not a row matched.
std::string deleteRow(const std::string& key, const std::string& deletePrefix, const char* keyEmptyCode,
                      const char* trapCodeValue);
// The delete of the rows the statement selects: "0" whether or not a row matched;
// any failure (a value that cannot be placed included) gives trapCodeValue.
std::string deleteWhere(const Statement& statement, const char* trapCodeValue);
// The delete by whichever keys are given: head + lead + givenCondition(terms);
// no key given gives noKeyCode and deletes nothing.
std::string deleteGiven(const std::string& head, const std::string& lead, const Terms& terms, const char* noKeyCode,
                        const char* trapCodeValue);

// Read one by key: Nothing for an empty key, no row or any failure.
com::Variant readByKey(const std::string& key, const std::string& select, const char* recordClass,
                       const Fields& fields);
// Read one by a statement: the first row's record or Nothing (on failure too, unless failCall).
com::Variant readFirst(const Statement& sql, const char* recordClass, const Fields& fields, OnFailure onFailure = {});
// Read a name: the first row's field as text; "" for an empty key, no row or any failure.
std::string readName(const std::string& key, const std::string& select, const char* field);
// Read a text: the first row's field as text; "" for no row (on failure too, unless failCall).
std::string readText(const Statement& sql, const char* field, OnFailure onFailure = {});
// The two-step parent read: the first row of `sql` names its parent in
// parentField; the parent is the first row of parentSelect + the parent's key
// (through QuoteSql) + "'". Nothing when the first read has no row (on failure too, unless failCall).
com::Variant readParent(const Statement& sql, const char* parentField, const std::string& parentSelect,
                        const char* recordClass, const Fields& fields, OnFailure onFailure = {});

// Read a list: a record per row, added under keyPrefix + the row's keyProperty.
// Any failure (a repeated key among them) gives Nothing. With emptyIsNothing
// a list without rows gives Nothing too, else an empty collection.
enum class EmptyList { Collection, Nothing };
com::Variant readList(const Statement& sql, const char* recordClass, const Fields& fields, const std::string& keyPrefix,
                      const char* keyProperty, EmptyList empty = EmptyList::Collection);

// The collection key of one listed record, for lists keyed by more than one property.
using ListKey = std::function<std::string(const Record& rec)>;
// Read a list as readList does, each record added under keyOf(record); any
// failure (a repeated key among them) gives Nothing, unless failCall.
com::Variant readKeyedList(const Statement& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                           EmptyList empty = EmptyList::Collection, OnFailure onFailure = {});

// Runs body (true to keep its writes) in one transaction on the shared
// connection: committed when it answers true, rolled back when it answers
// false or fails. Any failure gives false. Inside a transaction already open
// on the connection, a savepoint takes the transaction's place.
bool inTransaction(const std::function<bool()>& body);

}  // namespace tivel::mgt
