#include "mgt/common/pattern.h"

#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

// Attempts at a fresh generated key before the add gives up.
constexpr int kKeyDraws = 20;

[[noreturn]] void notANumber(const com::Variant& v) {
  com::raise(com::kTypeMismatch, "TivelMgt", "Type mismatch: a number is required, got '" + v.toString() + "'");
}

}  // namespace

const Record& deref(const RecordPtr& rec) {
  if (!rec) com::raise(static_cast<int32_t>(0x800A005B), "TivelMgt", "Object variable or With block variable not set");
  return *rec;
}

ado::RecordsetPtr openRead(const std::string& sql) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->open(sql, sharedConnection(), ado::adOpenKeyset,
           ado::adLockReadOnly);
  return rs;
}

ado::RecordsetPtr openEdit(const std::string& sql) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->open(sql, sharedConnection(), ado::adOpenStatic,
           ado::adLockPessimistic);
  return rs;
}

void execute(const std::string& sql) { sharedConnection()->execute(sql); }

std::string quoted(const com::Variant& v) { return "'" + QuoteSql(v.toString()) + "'"; }

std::string numeric(const com::Variant& v) {
  if (v.type() == com::VarType::Boolean) return v.toBool() ? "-1" : "0";
  if (!v.looksNumeric()) notANumber(v);
  return v.toString();
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
Insert& Insert::literal(const std::string& s) { return item(s); }

RecordPtr fillRecord(const ado::Recordset& rs, const char* recordClass, const Fields& fields) {
  RecordPtr rec = records::newRecord(recordClass);
  for (const Field& f : fields) rec->set(f.property, rs.value(f.column));
  return rec;
}

Check required(const char* property, const char* code) { return Check{Check::Required, property, "", "", code}; }

Check unique(const char* table, const char* column, const char* property, const char* code) {
  return Check{Check::Unique, property, table, column, code};
}

std::string addRow(const RecordPtr& rec, com::Variant& keyOut, const std::vector<Check>& checks, const KeyRule& rule,
                   const char* trapCodeValue, const Composer& compose) {
  return trapCode(trapCodeValue, [&]() -> std::string {
    const Record& r = deref(rec);
    for (const Check& c : checks) {
      const com::Variant& v = r.get(c.property);
      if (c.kind == Check::Required && blank(v)) return c.code;
      if (c.kind == Check::Unique && RowExists(c.table, c.column, QuoteSql(v.toString()))) return c.code;
    }
    const com::Variant& supplied = r.get(rule.property);
    const bool generated = supplied.isNull() || blank(supplied);
    std::string key = generated ? NewNumber(rule.prefix) : supplied.toString();
    for (int draw = 1;; ++draw) {
      if (RowExists(rule.table, rule.column, QuoteSql(key))) {
        if (!generated) return rule.usedCode;
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
          if (c.kind == Check::Unique && RowExists(c.table, c.column, QuoteSql(r.get(c.property).toString())))
            return c.code;
        // Another writer may have taken the generated key between the test
        // and the insert: draw again rather than fail.
        if (!generated || draw >= kKeyDraws || !RowExists(rule.table, rule.column, QuoteSql(key))) throw;
        key = NewNumber(rule.prefix);
      }
    }
    keyOut = com::Variant(key);
    return "0";
  });
}

std::string updateRow(const RecordPtr& rec, const std::string& key, const std::string& select, const Fields& fields,
                      const UpdateCodes& codes) {
  if (key.empty()) return codes.keyEmpty;
  return trapCode(codes.trap, [&]() -> std::string {
    auto rs = openEdit(select + QuoteSql(key) + "'");
    if (rs->recordCount() < 1 || rs->eof()) {
      rs->close();
      return codes.noRow;
    }
    const Record& r = deref(rec);
    for (const Field& f : fields) rs->setValue(f.column, r.get(f.property));
    rs->update();
    rs->close();
    return "0";
  });
}

std::string deleteRow(const std::string& key, const std::string& deletePrefix, const char* keyEmptyCode,
                      const char* trapCodeValue) {
  if (key.empty()) return keyEmptyCode;
  return trapCode(trapCodeValue, [&]() -> std::string {
    execute(deletePrefix + QuoteSql(key) + "'");
    return "0";
  });
}

com::Variant firstRecord(const std::string& sql, const char* recordClass, const Fields& fields) {
  auto rs = openRead(sql);
  com::Variant result = com::Variant::nothing();
  if (rs->recordCount() > 0) result = com::Variant(std::static_pointer_cast<com::Object>(fillRecord(*rs, recordClass, fields)));
  rs->close();
  return result;
}

com::Variant readFirst(const std::string& sql, const char* recordClass, const Fields& fields) {
  return trapObject([&] { return firstRecord(sql, recordClass, fields); });
}

com::Variant readByKey(const std::string& key, const std::string& select, const char* recordClass, const Fields& fields) {
  if (key.empty()) return com::Variant::nothing();
  return readFirst(select + QuoteSql(key) + "'", recordClass, fields);
}

std::string readName(const std::string& key, const std::string& select, const char* field) {
  if (key.empty()) return "";
  return trapText([&]() -> std::string {
    auto rs = openRead(select + QuoteSql(key) + "'");
    std::string name = rs->recordCount() > 0 ? rs->value(field).toString() : "";
    rs->close();
    return name;
  });
}

com::Variant collectList(const std::string& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                         EmptyList empty) {
  auto rs = openRead(sql);
  if (empty == EmptyList::Nothing && rs->eof()) {
    rs->close();
    return com::Variant::nothing();
  }
  CollectionPtr list = newCollection();
  while (!rs->eof()) {
    RecordPtr rec = fillRecord(*rs, recordClass, fields);
    list->Add(com::Variant(std::static_pointer_cast<com::Object>(rec)), keyOf(*rec));
    rs->moveNext();
  }
  rs->close();
  return com::Variant(std::static_pointer_cast<com::Object>(list));
}

com::Variant readKeyedList(const std::string& sql, const char* recordClass, const Fields& fields, const ListKey& keyOf,
                           EmptyList empty) {
  return trapObject([&] { return collectList(sql, recordClass, fields, keyOf, empty); });
}

com::Variant readList(const std::string& sql, const char* recordClass, const Fields& fields, const std::string& keyPrefix,
                      const char* keyProperty, EmptyList empty) {
  return readKeyedList(
      sql, recordClass, fields, [&](const Record& rec) { return keyPrefix + rec.get(keyProperty).toString(); }, empty);
}

}  // namespace tivel::mgt
