#include "mgt/common/pattern.h"

#include <cmath>

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/common/new_number.h"
#include "platform/ado/constants.h"
#include "platform/ado/row_writer.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

// Attempts at a fresh generated key before the add gives up.
constexpr int kKeyDraws = 20;

[[noreturn]] void notANumber(const com::Variant& v) {
  com::raise(com::kTypeMismatch, "TivelMgt", "Type mismatch: a number is required, got '" + v.toString() + "'");
}

// body() under the read's failure rule: `empty` on failure (traced as
// `emptyText`, with the shape as the site), or a failed call.
template <class T, class F>
T guarded(const OnFailure& onFailure, T empty, const char* emptyText, F&& body,
          const char* site = __builtin_FUNCTION()) {
  if (onFailure.failCallSource) return failingCall(onFailure.failCallSource, body);
  try {
    return body();
  } catch (...) {
    traceTrapped(emptyText, site);
    return empty;
  }
}

com::Variant asVariant(const RecordPtr& rec) { return com::Variant(std::static_pointer_cast<com::Object>(rec)); }

// The first row's record or Nothing; failures reach the caller.
com::Variant firstRecord(const std::string& sql, const char* recordClass, const Fields& fields) {
  auto rs = openRead(sql);
  com::Variant result = com::Variant::nothing();
  if (rs->recordCount() > 0) result = asVariant(fillRecord(*rs, recordClass, fields));
  rs->close();
  return result;
}

// The list of readKeyedList; failures reach the caller.
com::Variant collectList(const std::string& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                         EmptyList empty) {
  // Only the columns the records are filled from are read: a list of a wide
  // table (every user) would otherwise read twice the values it keeps.
  std::vector<std::string> columns;
  columns.reserve(fields.size());
  for (const Field& f : fields) columns.push_back(f.column);
  auto rs = std::make_shared<ado::Recordset>();
  rs->openReading(sql, sharedConnection(), columns);
  if (empty == EmptyList::Nothing && rs->eof()) {
    rs->close();
    return com::Variant::nothing();
  }
  CollectionPtr list = newCollection();
  list->reserve(static_cast<size_t>(rs->recordCount()));
  const RecordFiller filler(*rs, recordClass, fields);
  while (!rs->eof()) {
    RecordPtr rec = filler.fillTaking(*rs);
    std::string key = keyOf(*rec);
    list->Add(com::Variant(std::static_pointer_cast<com::Object>(std::move(rec))), std::move(key));
    rs->moveNext();
  }
  rs->close();
  return com::Variant(std::static_pointer_cast<com::Object>(list));
}

// True when the count statement's first field is 1, as RowExists tests one column.
bool countsOne(const Statement& count) {
  auto rs = openRead(count.sql());
  const bool one = !rs->eof() && rs->value(0).looseEquals(com::Variant(int32_t{1}));
  rs->close();
  return one;
}

// The code of the first check the record fails, or nullptr.
const char* failedCheck(const Record& r, const std::vector<Check>& checks) {
  for (const Check& c : checks) {
    if (c.kind == Check::UniqueWhere) {
      if (countsOne(c.count(r))) return c.code;
      continue;
    }
    const com::Variant& v = r.get(c.property);
    if (c.kind == Check::Required && blank(v)) return c.code;
    if (c.kind == Check::Present && v.isNull()) return c.code;
    if (c.kind == Check::Unique && RowExists(c.table, c.column, QuoteSql(v.toString()))) return c.code;
  }
  return nullptr;
}

thread_local int32_t trappedError = 0;

// The (column, value) pairs that name the row an update selects; empty when
// the statement does not name it by equalities alone.
using RowIdentity = std::vector<std::pair<std::string, std::string>>;

// The column of an equality term ("res_no=", "a.bit_nod ="), or "" for a term of another kind.
std::string equalityColumn(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.back() != '=') return "";
  text.remove_suffix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.find_first_of("<>!= ") != std::string_view::npos) return "";
  size_t dot = text.rfind('.');
  return std::string(dot == std::string_view::npos ? text : text.substr(dot + 1));
}

RowIdentity identityOf(const Terms& terms) {
  RowIdentity row;
  for (const Term& t : terms) {
    std::string column = equalityColumn(t.column);
    if (column.empty() || t.value.isNull()) return {};
    row.emplace_back(std::move(column), t.value.toString());
  }
  return row;
}

// The key column of a select that ends in "where column='" (the key follows).
RowIdentity identityOf(const std::string& select, const std::string& key) {
  size_t end = select.rfind("='");
  if (end == std::string::npos) return {};
  size_t start = select.rfind(' ', end);
  start = start == std::string::npos ? 0 : start + 1;
  std::string column = equalityColumn(select.substr(start, end + 1 - start));
  if (column.empty()) return {};
  return {{column, key}};
}

// True when the record was filled by a read of the row the identity names.
bool readFromRow(const Record& r, const RowIdentity& row) {
  if (row.empty()) return false;
  for (const auto& [column, value] : row)
    if (!r.wasReadFrom(column, value)) return false;
  return true;
}

// The update pattern's body on the selected row: no row gives noRowCode; the
// record (read only once the row is known) gives the fields and the row is
// written. With asRead, or when the record itself was read from this row,
// only the fields changed since the read are written, refusing a row changed
// meanwhile in one of them; a record the caller built, or one read from
// another row, writes every field.
std::string writeRow(ado::Recordset& rs, const RecordPtr& rec, const Fields& fields, const char* noRowCode,
                     const Record* asRead, const RowIdentity& row) {
  if (rs.recordCount() < 1 || rs.eof()) {
    rs.close();
    return noRowCode;
  }
  const Record& r = deref(rec);
  const bool ownRead = !asRead && readFromRow(r, row);
  std::vector<const Field*> written;
  for (const Field& f : fields) {
    const com::Variant& value = r.get(f.property);
    const com::Variant* read = asRead ? &asRead->get(f.property) : ownRead ? r.readValue(f.property) : nullptr;
    if (read) {
      if (ado::sameStoredValue(*read, value)) continue;
      if (!ado::sameStoredValue(*read, rs.value(f.column))) {
        rs.close();
        com::raise(ado::kRowNotLocated, "TivelMgt", ado::kRowNotLocatedText);
      }
    }
    rs.setValue(f.column, value);
    written.push_back(&f);
  }
  rs.update();
  rs.close();
  // What was written now counts as read, so the record can be changed and written again.
  if (ownRead)
    for (const Field* f : written) rec->markWritten(f->property, f->column);
  return "0";
}

}  // namespace

const Record& deref(const RecordPtr& rec) {
  if (!rec) com::raise(com::kObjectNotSet, "TivelMgt", com::kObjectNotSetText);
  return *rec;
}

ado::RecordsetPtr openRead(const std::string& sql) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->open(sql, sharedConnection(), ado::adOpenKeyset, ado::adLockReadOnly);
  return rs;
}

ado::RecordsetPtr openEdit(const std::string& sql) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->open(sql, sharedConnection(), ado::adOpenStatic, ado::adLockPessimistic);
  return rs;
}

void execute(const std::string& sql) { sharedConnection()->execute(sql); }

std::string quoted(const com::Variant& v) { return "'" + QuoteSql(v.toString()) + "'"; }

std::string numeric(const com::Variant& v) {
  if (v.type() == com::VarType::Boolean) return v.toBool() ? "-1" : "0";
  if (!v.looksNumeric()) notANumber(v);
  return v.toString();
}

std::string wholeNumber(const com::Variant& v) {
  // The usual value, a short run of digits, reads as its digits without leading zeros.
  if (const std::string* s = v.get<std::string>();
      s && !s->empty() && s->size() <= 9 && s->find_first_not_of("0123456789") == std::string::npos) {
    const size_t first = s->find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : s->substr(first);
  }
  if (v.looksNumeric()) {
    const double d = v.toDouble();
    if (std::isfinite(d) && d == std::floor(d) && d >= -2147483648.0 && d <= 2147483647.0)
      return std::to_string(static_cast<long long>(d));
  }
  com::raise(
      com::kTypeMismatch, "TivelMgt",
      "Type mismatch: a whole number is required, got '" + (v.isNull() ? std::string("Null") : v.toString()) + "'");
}

std::string placed(const com::Variant& v, Place kind) {
  switch (kind) {
    case Place::Text: return quoted(v);
    case Place::Number: return numeric(v);
    case Place::Whole: return wholeNumber(v);
    case Place::WholeText: return "'" + wholeNumber(v) + "'";
  }
  return quoted(v);
}

std::string condition(const Terms& terms) {
  std::string sql;
  for (const Term& t : terms) {
    if (!sql.empty()) sql += " and ";
    sql += t.column + placed(t.value, t.kind);
  }
  return sql;
}

std::string givenCondition(const Terms& terms) {
  Terms given;
  for (const Term& t : terms)
    if (!blank(t.value)) given.push_back(t);
  return condition(given);
}

Insert& Insert::item(const std::string& s) {
  if (!first_) sql_ += ",";
  sql_ += s;
  first_ = false;
  return *this;
}

Insert& Insert::text(const com::Variant& v) { return item(quoted(v)); }
Insert& Insert::text(const com::Variant& v, const char* emptyLiteral) {
  return item(blank(v) ? std::string(emptyLiteral) : quoted(v));
}
Insert& Insert::textUnlessNull(const com::Variant& v, const char* nullLiteral) {
  return item(v.isNull() ? std::string(nullLiteral) : quoted(v));
}
Insert& Insert::number(const com::Variant& v) { return item(numeric(v)); }
Insert& Insert::number(const com::Variant& v, const char* emptyLiteral) {
  return item(blank(v) ? std::string(emptyLiteral) : numeric(v));
}
Insert& Insert::numberUnlessNull(const com::Variant& v, const char* nullLiteral) {
  return item(v.isNull() ? std::string(nullLiteral) : numeric(v));
}
Insert& Insert::value(const com::Variant& v, Place kind) { return item(placed(v, kind)); }
Insert& Insert::literal(const std::string& s) { return item(s); }

RecordFiller::RecordFiller(const ado::Recordset& rs, const char* recordClass, const Fields& fields)
    : rs_(rs), className_(recordClass), cls_(records::findRecordClass(recordClass)) {
  if (!cls_) return;  // fill() fails as newRecord does
  auto shape = std::make_shared<records::RowShape>();
  const int32_t columns = rs.fieldCount();
  shape->columns.reserve(static_cast<size_t>(columns));
  for (int32_t i = 0; i < columns; ++i) shape->columns.push_back(rs.fieldName(i));
  shape->columnOf.assign(cls_->properties.size(), -1);
  // In field order, so that a property two fields name holds the later one.
  for (const Field& f : fields) {
    const int32_t column = rs.fieldIndex(f.column);
    const int property = cls_->indexOf(f.property);
    if (column < 0 || property < 0) {
      missing_ = &f;
      break;
    }
    shape->columnOf[static_cast<size_t>(property)] = column;
    shape->held |= uint64_t{1} << property;
  }
  shape_ = std::move(shape);
}

RecordPtr RecordFiller::fill() const {
  // An unknown class, column or property fails here, as the by-name calls do.
  if (!cls_) return records::newRecord(className_);
  if (missing_) {
    rs_.value(missing_->column);
    records::newRecord(className_)->get(missing_->property);
  }
  return std::make_shared<Record>(*cls_, shape_, rs_.packedRow());
}

RecordPtr RecordFiller::fillTaking(ado::Recordset& rs) const {
  if (!cls_ || missing_) return fill();
  return std::make_shared<Record>(*cls_, shape_, rs.takePackedRow());
}

RecordPtr fillRecord(const ado::Recordset& rs, const char* recordClass, const Fields& fields) {
  return RecordFiller(rs, recordClass, fields).fill();
}

void noteTrappedError() {
  try {
    throw;
  } catch (const com::ComError& e) {
    trappedError = e.number();
  } catch (...) {
    trappedError = 0;
  }
}

int32_t lastTrappedError() { return trappedError; }

Check required(const char* property, const char* code) { return Check{Check::Required, property, "", "", code}; }

Check present(const char* property, const char* code) { return Check{Check::Present, property, "", "", code}; }

Check unique(const char* table, const char* column, const char* property, const char* code) {
  return Check{Check::Unique, property, table, column, code};
}

Check uniqueWhere(std::function<Statement(const Record& rec)> count, const char* code) {
  return Check{Check::UniqueWhere, "", "", "", code, std::move(count)};
}

std::string addRow(const RecordPtr& rec, com::Variant& keyOut, const std::vector<Check>& checks, const KeyRule& rule,
                   const char* trapCodeValue, const Composer& compose) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    const Record& r = deref(rec);
    if (const char* code = failedCheck(r, checks)) return code;
    const com::Variant& supplied = r.get(rule.property);
    const bool generated = supplied.isNull() || blank(supplied);
    std::string key = generated ? NewNumber(rule.prefix) : supplied.toString();
    // A fresh key is rarely used, and where the table's key refuses a used
    // one the failed insert below draws again; inside a transaction the test
    // stays, as some engines end the transaction at a refused statement.
    const bool test = !generated || !rule.insertRefusesUsed || sharedConnection()->transactionOpen();
    for (int draw = 1;; ++draw) {
      if (test && RowExists(rule.table, rule.column, QuoteSql(key))) {
        if (!generated) return rule.usedCode;
        NoteKeyTaken(key);
        if (draw >= kKeyDraws) return trapCodeValue;
        key = NewNumber(rule.prefix);
        continue;
      }
      try {
        execute(compose(r, key));
        break;
      } catch (...) {
        // Another writer may have added the same unique value between the
        // test and the insert (the database refuses the second row): answer
        // as the test would have answered after it.
        for (const Check& c : checks)
          if (c.kind == Check::Unique && RowExists(c.table, c.column, QuoteSql(r.get(c.property).toString()))) {
            traceTrapped(c.code, __func__);
            return c.code;
          }
        // Another writer may have taken the generated key between the test
        // and the insert: draw again rather than fail.
        if (!generated || draw >= kKeyDraws || !RowExists(rule.table, rule.column, QuoteSql(key))) throw;
        NoteKeyTaken(key);
        key = NewNumber(rule.prefix);
      }
    }
    keyOut = com::Variant(key);
    return "0";
  });
}

std::string addPair(const RecordPtr& rec, com::Variant& idOut, const PairAdd& shape) {
  return trapCode(shape.trapCodeValue, [&]() -> std::string {
    const Record& r = deref(rec);
    if (const char* code = failedCheck(r, shape.checks)) return code;
    auto rs = openRead(shape.test(r));
    const bool exists = rs->recordCount() > 0;
    rs->close();
    if (exists) return shape.existsCode;
    execute(shape.insert(r));
    idOut = com::Variant(shape.id(r));
    return "0";
  });
}

std::string addUnkeyed(const RecordPtr& rec, const std::vector<Check>& checks, const char* trapCodeValue,
                       const RecordText& insert) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    const Record& r = deref(rec);
    if (const char* code = failedCheck(r, checks)) return code;
    execute(insert(r));
    return "0";
  });
}

std::string updateRow(const RecordPtr& rec, const std::string& key, const std::string& select, const Fields& fields,
                      const UpdateCodes& codes, const Record* asRead) {
  if (key.empty()) return codes.keyEmpty;
  return trapCode(codes.trap, [&]() -> std::string {
    return writeRow(*openEdit(select + QuoteSql(key) + "'"), rec, fields, codes.noRow, asRead, identityOf(select, key));
  });
}

std::string updateWhere(const RecordPtr& rec, const Statement& select, const Fields& fields, const char* noRowCode,
                        const char* trapCodeValue) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    return writeRow(*openEdit(select.sql()), rec, fields, noRowCode, nullptr, identityOf(select.terms()));
  });
}

std::string updateWhere(const RecordPtr& rec, const RecordStatement& select, const Fields& fields,
                        const char* noRowCode, const char* trapCodeValue) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    const Statement statement = select(deref(rec));
    return writeRow(*openEdit(statement.sql()), rec, fields, noRowCode, nullptr, identityOf(statement.terms()));
  });
}

std::string deleteRow(const std::string& key, const std::string& deletePrefix, const char* keyEmptyCode,
                      const char* trapCodeValue) {
  if (key.empty()) return keyEmptyCode;
  return deleteWhere(deletePrefix + QuoteSql(key) + "'", trapCodeValue);
}

std::string updateWhere(const RecordPtr& rec, const std::vector<Check>& checks, const RecordStatement& select,
                        const Fields& fields, const char* noRowCode, const char* trapCodeValue) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    const Record& r = deref(rec);
    if (const char* code = failedCheck(r, checks)) return code;
    const Statement statement = select(r);
    return writeRow(*openEdit(statement.sql()), rec, fields, noRowCode, nullptr, identityOf(statement.terms()));
  });
}

std::string deleteWhere(const Statement& statement, const char* trapCodeValue) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    execute(statement.sql());
    return "0";
  });
}

std::string deleteGiven(const std::string& head, const std::string& lead, const Terms& terms, const char* noKeyCode,
                        const char* trapCodeValue) {
  bool given = false;
  for (const Term& t : terms) given = given || !blank(t.value);
  if (!given) return noKeyCode;
  return trapCode(trapCodeValue, [&]() -> std::string {
    execute(head + lead + givenCondition(terms));
    return "0";
  });
}

com::Variant readFirst(const Statement& sql, const char* recordClass, const Fields& fields, OnFailure onFailure) {
  return guarded(onFailure, com::Variant::nothing(), "Nothing",
                 [&] { return firstRecord(sql.sql(), recordClass, fields); });
}

com::Variant readByKey(const std::string& key, const std::string& select, const char* recordClass,
                       const Fields& fields) {
  if (key.empty()) return com::Variant::nothing();
  return readFirst(select + QuoteSql(key) + "'", recordClass, fields);
}

std::string readText(const Statement& sql, const char* field, OnFailure onFailure) {
  return guarded(onFailure, std::string(), "", [&]() -> std::string {
    auto rs = openRead(sql.sql());
    std::string text = rs->recordCount() > 0 ? rs->value(field).toString() : "";
    rs->close();
    return text;
  });
}

std::string readName(const std::string& key, const std::string& select, const char* field) {
  if (key.empty()) return "";
  return readText(select + QuoteSql(key) + "'", field);
}

com::Variant readParent(const Statement& sql, const char* parentField, const std::string& parentSelect,
                        const char* recordClass, const Fields& fields, OnFailure onFailure) {
  return guarded(onFailure, com::Variant::nothing(), "Nothing", [&]() -> com::Variant {
    auto rs = openRead(sql.sql());
    if (rs->recordCount() < 1 || rs->eof()) {
      rs->close();
      return com::Variant::nothing();
    }
    const std::string parent = rs->value(parentField).toString();
    rs->close();
    return firstRecord(parentSelect + QuoteSql(parent) + "'", recordClass, fields);
  });
}

com::Variant readKeyedList(const Statement& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                           EmptyList empty, OnFailure onFailure) {
  return guarded(onFailure, com::Variant::nothing(), "Nothing",
                 [&] { return collectList(sql.sql(), recordClass, fields, keyOf, empty); });
}

com::Variant readList(const Statement& sql, const char* recordClass, const Fields& fields, const std::string& keyPrefix,
                      const char* keyProperty, EmptyList empty) {
  const records::RecordClass* cls = records::findRecordClass(recordClass);
  const int key = cls ? cls->indexOf(keyProperty) : -1;
  return readKeyedList(
      sql, recordClass, fields,
      [&](const Record& rec) {
        // Straight from the row's bytes where the key is text there (a
        // list's every record comes this way).
        if (const auto text = key < 0 ? std::nullopt : rec.rowText(static_cast<size_t>(key))) {
          std::string k;
          k.reserve(keyPrefix.size() + text->size());
          k.append(keyPrefix).append(*text);
          return k;
        }
        const com::Variant v = key < 0 ? rec.value(keyProperty) : rec.valueAt(static_cast<size_t>(key));
        const std::string* text = v.get<std::string>();
        return text ? keyPrefix + *text : keyPrefix + v.toString();
      },
      empty);
}

bool inTransaction(const std::function<bool()>& body) {
  return trapBool([&] {
    const ado::ConnectionPtr& db = sharedConnection();
    // Inside a transaction its caller holds (the console's change), a
    // savepoint undoes this body alone and the caller's end decides the rest.
    if (db->transactionOpen()) {
      const auto undo = [&db] {
        db->execute("ROLLBACK TO SAVEPOINT tivel_nested");
        db->execute("RELEASE SAVEPOINT tivel_nested");
      };
      db->execute("SAVEPOINT tivel_nested");
      bool keep = false;
      try {
        keep = body();
      } catch (...) {
        undo();
        throw;
      }
      if (keep)
        db->execute("RELEASE SAVEPOINT tivel_nested");
      else
        undo();
      return keep;
    }
    db->beginTrans();
    try {
      const bool keep = body();
      if (keep)
        db->commitTrans();
      else
        db->rollbackTrans();
      return keep;
    } catch (...) {
      db->rollbackTrans();
      throw;
    }
  });
}

}  // namespace tivel::mgt
