#include "platform/ado/row_writer.h"

#include <strings.h>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado {
namespace {

constexpr const char* kSource = "ADODB.Recordset";
constexpr const char* kTooManyRows =
    "Insufficient key column information for updating or refreshing: more than one row matches.";

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool isNullish(const com::Variant& v) { return v.isNull() || v.isEmpty() || v.isMissing(); }

// Booleans are stored as 1 and 0.
double numberOf(const com::Variant& v) {
  if (const bool* b = v.get<bool>()) return *b ? 1 : 0;
  return v.toDouble();
}

// The text a number, a date or a Boolean is stored as in a text column.
std::string textOf(const com::Variant& v) {
  if (const bool* b = v.get<bool>()) return *b ? "1" : "0";
  if (const com::DateTime* d = v.get<com::DateTime>()) return d->text();
  return v.toString();
}

// The fields that locate a row: the key, or every field of the table when
// there is no usable key, plus the extra fields given.
std::vector<size_t> locator(const BaseTable& t, const std::vector<size_t>& extra) {
  std::vector<size_t> out;
  if (t.key.empty()) {
    for (size_t i = 0; i < t.columnOf.size(); ++i)
      if (!t.columnOf[i].empty()) out.push_back(i);
    return out;
  }
  out = t.key;
  for (size_t e : extra) {
    bool seen = false;
    for (size_t k : out) seen = seen || k == e;
    if (!seen) out.push_back(e);
  }
  return out;
}

std::string whereClause(Backend& b, const BaseTable& t, const std::vector<size_t>& fields, const Row& original,
                        std::vector<com::Variant>* params) {
  std::string sql = " WHERE ";
  for (size_t n = 0; n < fields.size(); ++n) {
    size_t i = fields[n];
    if (n) sql += " AND ";
    sql += b.quoteIdentifier(t.columnOf[i]);
    if (isNullish(original[i])) {
      sql += " IS NULL";
    } else {
      sql += " = ?";
      params->push_back(original[i]);
    }
  }
  return sql;
}

// Checks that a statement meant for exactly one row changed one.
void expectOne(long n) {
  if (n == 0) com::raise(kRowNotLocated, kSource, kRowNotLocatedText);
  if (n > 1) com::raise(kProviderError, kSource, kTooManyRows);
}

// Runs an update or delete meant for exactly one row; one that would change
// more is undone before it is reported.
void writeOne(Backend& b, const std::string& sql, const std::vector<com::Variant>& params) {
  expectOne(b.executeBoundAtMost(sql, params, 1));
}

}  // namespace

BaseTable resolveBaseTable(Backend& backend, const std::vector<ColumnInfo>& columns) {
  BaseTable t;
  for (const auto& c : columns) {
    if (c.baseTable.empty()) continue;
    if (t.name.empty())
      t.name = c.baseTable;
    else if (!sameName(t.name, c.baseTable))
      com::raise(
          kProviderError, kSource,
          "Insufficient base table information for updating or refreshing: the fields come from more than one table.");
  }
  if (t.name.empty())
    com::raise(kProviderError, kSource,
               "Insufficient base table information for updating or refreshing: no field comes from a table.");
  for (const auto& c : columns)
    t.columnOf.push_back(c.baseTable.empty() ? "" : (c.baseColumn.empty() ? c.name : c.baseColumn));
  for (const std::string& k : backend.primaryKey(t.name)) {
    size_t found = t.columnOf.size();
    for (size_t i = 0; i < t.columnOf.size() && found == t.columnOf.size(); ++i)
      if (sameName(t.columnOf[i], k)) found = i;
    if (found == t.columnOf.size()) {  // a key column the recordset lacks: the key cannot locate rows
      t.key.clear();
      break;
    }
    t.key.push_back(found);
  }
  return t;
}

bool sameStoredValue(const com::Variant& original, const com::Variant& now) {
  if (isNullish(original) || isNullish(now)) return isNullish(original) && isNullish(now);
  if (now.isObject() || now.type() == com::VarType::Array) return false;
  if (const auto* b = original.get<com::Variant::Bytes>()) {
    const auto* nb = now.get<com::Variant::Bytes>();
    return nb && *nb == *b;
  }
  if (now.get<com::Variant::Bytes>()) return false;
  if (original.isNumeric()) {
    if (now.isNumeric()) return numberOf(original) == numberOf(now);
    // A numeric column converts a numeric text to the number it reads as.
    return now.isString() && now.looksNumeric() && numberOf(original) == now.toDouble();
  }
  if (const com::DateTime* d = original.get<com::DateTime>()) {
    if (const com::DateTime* nd = now.get<com::DateTime>()) return *nd == *d;
    com::DateTime parsed;
    return now.isString() && com::DateTime::parse(*now.get<std::string>(), &parsed) && parsed == *d;
  }
  // A text column stores what the value reads as in text.
  return original.toString() == textOf(now);
}

void writeInsert(Backend& b, const BaseTable& t, const Row& values, const std::vector<bool>& assigned) {
  std::string cols, marks;
  std::vector<com::Variant> params;
  for (size_t i = 0; i < values.size(); ++i) {
    if (t.columnOf[i].empty() || i >= assigned.size() || !assigned[i]) continue;
    if (!cols.empty()) cols += ", ", marks += ", ";
    cols += b.quoteIdentifier(t.columnOf[i]);
    marks += "?";
    params.push_back(values[i]);
  }
  std::string sql = "INSERT INTO " + b.quoteIdentifier(t.name) +
                    (cols.empty() ? std::string(" DEFAULT VALUES") : " (" + cols + ") VALUES (" + marks + ")");
  // An insert of values adds one row or fails whole, so it needs no
  // savepoint to keep it from changing more (on a server database that is
  // a round trip and a subtransaction saved for every row).
  expectOne(b.executeBound(sql, params));
}

void writeUpdate(Backend& b, const BaseTable& t, const Row& original, const Row& current) {
  std::vector<size_t> changed;
  for (size_t i = 0; i < current.size(); ++i)
    if (!t.columnOf[i].empty() && !sameStoredValue(original[i], current[i])) changed.push_back(i);
  if (changed.empty()) return;
  std::string sql = "UPDATE " + b.quoteIdentifier(t.name) + " SET ";
  std::vector<com::Variant> params;
  for (size_t n = 0; n < changed.size(); ++n) {
    if (n) sql += ", ";
    sql += b.quoteIdentifier(t.columnOf[changed[n]]) + " = ?";
    params.push_back(current[changed[n]]);
  }
  sql += whereClause(b, t, locator(t, changed), original, &params);
  writeOne(b, sql, params);
}

void writeDelete(Backend& b, const BaseTable& t, const Row& original) {
  std::vector<com::Variant> params;
  std::string sql = "DELETE FROM " + b.quoteIdentifier(t.name) + whereClause(b, t, locator(t, {}), original, &params);
  writeOne(b, sql, params);
}

}  // namespace tivel::ado
