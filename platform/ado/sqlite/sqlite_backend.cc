#include "platform/ado/sqlite/sqlite_backend.h"

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>

#include "platform/ado/constants.h"
#include "platform/ado/interrupt.h"
#include "platform/ado/row_budget.h"
#include "platform/ado/sqlite/defences.h"
#include "platform/ado/sqlite/keyword_columns.h"
#include "platform/com/error.h"

namespace tivel::ado::sqlite {
namespace {

constexpr const char* kSource = "SQLite";

// How a watchdog stops a statement of this connection (interrupt.h).
void interruptConnection(void* db) { sqlite3_interrupt(static_cast<sqlite3*>(db)); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool onlyBlanks(const char* s) {
  for (; s && *s; ++s)
    if (!isBlank(*s)) return false;
  return true;
}

// Declared types whose text values read as dates.
bool isDateType(const char* decl) {
  if (!decl) return false;
  for (const char* t : {"DATETIME", "TIMESTAMP", "DATE"})
    if (strncasecmp(decl, t, strlen(t)) == 0) return true;
  return false;
}

class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* st) : stmt_(st) {}
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt** out() { return &stmt_; }
  sqlite3_stmt* get() const { return stmt_; }
  // Hands the statement over; this one then holds none.
  sqlite3_stmt* release() { return std::exchange(stmt_, nullptr); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Prepared statements of this connection, keyed by the statement text as the
// caller gave it, so a text run again skips the keyword scan and the engine's
// parse and plan. Only texts that are exactly one statement are kept, only
// after they ran without error, and always reset, so a kept statement holds
// no lock and no read snapshot. A statement in use is lent out, never
// shared: a nested run of the same text prepares its own. The engine
// prepares a kept statement again by itself when the schema changed. The
// statement least recently run goes first.
class StatementCache {
 public:
  static constexpr size_t kCapacity = 64;

  // A kept statement, and its result's columns as last read (so a run does
  // not ask the engine for them again while it has not prepared the
  // statement anew).
  struct Kept {
    sqlite3_stmt* st = nullptr;  // nullptr while lent out
    std::vector<ColumnInfo> columns;
    std::vector<char> dates;  // per column: its text values read as dates
    int prepared = -1;        // the engine's count of new preparations when they were read; -1: never
    const std::string* text = nullptr;
    std::list<Kept*>::iterator age;
  };

  StatementCache() = default;
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;
  ~StatementCache() { clear(); }

  // The kept statement for the text, lent out (its statement is now the
  // caller's, for giveBack or forget), or nullptr when none is free.
  Kept* lend(const std::string& text) {
    auto it = index_.find(text);
    if (it == index_.end() || !it->second.st) return nullptr;
    Kept* k = &it->second;
    order_.splice(order_.begin(), order_, k->age);
    return k;
  }
  // The lent statement ran to its end: kept again, reset.
  void giveBack(Kept* k) {
    sqlite3_reset(k->st);
    sqlite3_clear_bindings(k->st);
  }
  // The lent statement failed (and is finalised by the caller): no longer kept.
  void forget(Kept* k) {
    order_.erase(k->age);
    index_.erase(index_.find(*k->text));
  }

  // Keeps a new statement that ran to its end for the text.
  void keep(const std::string& text, sqlite3_stmt* st) {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    auto [it, added] = index_.try_emplace(text);
    if (!added) {  // the same text ran nested and was kept meanwhile
      sqlite3_finalize(st);
      return;
    }
    Kept& k = it->second;
    k.st = st;
    k.text = &it->first;
    order_.push_front(&k);
    k.age = order_.begin();
    if (order_.size() > kCapacity)
      for (auto old = std::prev(order_.end()); old != order_.begin(); --old)
        if ((*old)->st) {
          sqlite3_finalize((*old)->st);
          forget(*old);
          break;
        }
  }

  void clear() {
    for (Kept* k : order_) sqlite3_finalize(k->st);
    order_.clear();
    index_.clear();
  }

 private:
  std::unordered_map<std::string, Kept> index_;  // an element stays where it is while others come and go
  std::list<Kept*> order_;                       // most recently run first
};

class SqliteBackend : public Backend {
 public:
  explicit SqliteBackend(sqlite3* db) : db_(db) {}
  ~SqliteBackend() override {
    cache_.clear();
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }

  StatementResult execute(const std::string& statement) override { return executeReading(statement, {}); }

  StatementResult executeReading(const std::string& statement, const std::vector<std::string>& names) override {
    RunningStatement running(interruptConnection, db_);
    // The result's rows share one block, which no later result adds to.
    struct EndBlock {
      PackedRowBuilder& rows;
      ~EndBlock() { rows.endBlock(); }
    } endBlock{rowBuilder_};
    StatementResult result;
    if (StatementCache::Kept* kept = cache_.lend(statement)) {
      Statement st(std::exchange(kept->st, nullptr));
      try {
        run(st, result, kept, names);
      } catch (...) {
        cache_.forget(kept);
        throw;
      }
      kept->st = st.release();
      cache_.giveBack(kept);
      return result;
    }
    const std::string sql = quoteKeywordColumns(statement);
    long affected = 0;
    bool any = false;
    const char* tail = sql.c_str();
    while (!onlyBlanks(tail)) {
      Statement st;
      const char* next = nullptr;
      check(sqlite3_prepare_v2(db_, tail, -1, st.out(), &next));
      const bool whole = tail == sql.c_str() && onlyBlanks(next);
      tail = next;
      if (!st.get()) continue;  // a comment or a lone ";"
      any = true;
      if (whole) {
        run(st, result, nullptr, names);
        cache_.keep(statement, st.release());
        return result;
      }
      int ncol = sqlite3_column_count(st.get());
      bool collect = ncol > 0 && !result.hasRows;
      if (collect) readColumns(st.get(), ncol, result);
      int64_t before = sqlite3_total_changes64(db_);
      const std::vector<char> dates = collect ? dateColumns(st.get(), ncol) : std::vector<char>();
      const std::vector<char> wanted = collect ? columnsNamed(result.columns, names) : std::vector<char>();
      RowBudget budget(kSource);
      for (;;) {
        int rc = sqlite3_step(st.get());
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) fail();
        if (collect) {
          size_t bytes = 0;
          result.rows.push_back(readRow(st.get(), dates, wanted, bytes));
          budget.count(bytes);
        }
      }
      if (ncol == 0) affected += changesSince(before);
    }
    if (!any) com::raise(kProviderError, kSource, "The statement text holds no statement.");
    if (!result.hasRows) result.affected = affected;
    return result;
  }

  // The statement's columns become the result's: it has rows now.
  static void readColumns(sqlite3_stmt* st, int ncol, StatementResult& result) {
    result.hasRows = true;
    result.columns.reserve(static_cast<size_t>(ncol));
    for (int i = 0; i < ncol; ++i) {
      ColumnInfo c;
      c.name = text(sqlite3_column_name(st, i));
      c.baseTable = text(sqlite3_column_table_name(st, i));
      c.baseColumn = text(sqlite3_column_origin_name(st, i));
      result.columns.push_back(std::move(c));
    }
  }

  // Runs a text that is one statement: its rows, or the rows it changed. The
  // columns are read after the first step: a kept statement is prepared
  // again by its first step when the schema changed meanwhile, and only then
  // names the columns it now has ("select *" after a column was added). A
  // kept statement remembers them until the engine prepares it anew.
  void run(Statement& st, StatementResult& result, StatementCache::Kept* kept, const std::vector<std::string>& names) {
    int64_t before = sqlite3_total_changes64(db_);
    int rc = sqlite3_step(st.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail();
    int ncol = sqlite3_column_count(st.get());
    const int prepared = kept ? sqlite3_stmt_status(st.get(), SQLITE_STMTSTATUS_REPREPARE, 0) : -1;
    std::vector<char> read;
    const std::vector<char>* dates = &read;
    if (kept && kept->prepared == prepared) {
      result.hasRows = ncol > 0;
      result.columns = kept->columns;
      dates = &kept->dates;
    } else {
      if (ncol > 0) readColumns(st.get(), ncol, result);
      read = dateColumns(st.get(), ncol);
      if (kept) {
        kept->columns = result.columns;
        kept->dates = read;
        kept->prepared = prepared;
      }
    }
    const std::vector<char> wanted = columnsNamed(result.columns, names);
    RowBudget budget(kSource);
    for (; rc == SQLITE_ROW; rc = sqlite3_step(st.get()))
      if (ncol > 0) {
        size_t bytes = 0;
        result.rows.push_back(readRow(st.get(), *dates, wanted, bytes));
        budget.count(bytes);
      }
    if (rc != SQLITE_DONE) fail();
    if (ncol == 0) result.affected = changesSince(before);
  }

  long executeBound(const std::string& statement, const std::vector<com::Variant>& params) override {
    RunningStatement running(interruptConnection, db_);
    if (StatementCache::Kept* kept = cache_.lend(statement)) {
      Statement st(std::exchange(kept->st, nullptr));
      try {
        const long changed = runBound(st, params);
        kept->st = st.release();
        cache_.giveBack(kept);
        return changed;
      } catch (...) {
        cache_.forget(kept);
        throw;
      }
    }
    Statement st;
    const std::string sql = quoteKeywordColumns(statement);
    const char* tail = nullptr;
    check(sqlite3_prepare_v2(db_, sql.c_str(), -1, st.out(), &tail));
    if (!st.get() || !onlyBlanks(tail))
      com::raise(kProviderError, kSource, "A bound statement must be exactly one statement.");
    const long changed = runBound(st, params);
    cache_.keep(statement, st.release());
    return changed;
  }

  // Binds the values to a statement with "?" placeholders and runs it to its end: the rows it changed.
  long runBound(Statement& st, const std::vector<com::Variant>& params) {
    int expected = sqlite3_bind_parameter_count(st.get());
    if (expected != static_cast<int>(params.size()))
      com::raise(kProviderError, kSource,
                 "The statement has " + std::to_string(expected) + " parameters, " + std::to_string(params.size()) +
                     " values were given.");
    for (size_t i = 0; i < params.size(); ++i) bind(st.get(), static_cast<int>(i) + 1, params[i]);
    int64_t before = sqlite3_total_changes64(db_);
    for (;;) {
      int rc = sqlite3_step(st.get());
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) fail();
    }
    return changesSince(before);
  }

  // A savepoint around the statement: it nests inside a transaction of the
  // connection and is its own transaction outside one.
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) override {
    return executeInSavepoint(sql, params, limit);
  }

  std::vector<std::string> primaryKey(const std::string& table) override {
    Statement st;
    check(sqlite3_prepare_v2(db_, "SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk", -1, st.out(),
                             nullptr));
    sqlite3_bind_text(st.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    std::vector<std::string> key;
    for (;;) {
      int rc = sqlite3_step(st.get());
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) fail();
      key.push_back(text(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))));
    }
    return key;
  }

  // Only a single-column INTEGER PRIMARY KEY is the row number, which the
  // engine assigns when an insert leaves it out.
  com::Variant generatedKey(const std::string& table, const std::string& column) override {
    std::vector<std::string> key = primaryKey(table);
    if (key.size() != 1 || strcasecmp(key[0].c_str(), column.c_str()) != 0) return {};
    Statement st;
    check(sqlite3_prepare_v2(db_, "SELECT type FROM pragma_table_info(?) WHERE pk = 1", -1, st.out(), nullptr));
    sqlite3_bind_text(st.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st.get()) != SQLITE_ROW) return {};
    if (strcasecmp(text(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))).c_str(), "INTEGER") != 0)
      return {};
    return com::Variant::fromInt64(sqlite3_last_insert_rowid(db_));
  }

  std::string quoteIdentifier(const std::string& name) const override {
    std::string out = "\"";
    for (char c : name) {
      if (c == '"') out += '"';
      out += c;
    }
    return out + "\"";
  }

  // A transaction begins IMMEDIATE: it is already the only writer.
  void lockTable(const std::string&) override {}
  // IMMEDIATE takes the write lock now, so two connections that both mean to
  // write wait for each other (up to the busy time-out) instead of failing
  // when the second one first writes.
  void begin() override {
    RunningStatement running(interruptConnection, db_);
    run("BEGIN IMMEDIATE");
  }
  void commit() override {
    RunningStatement running(interruptConnection, db_);
    run("COMMIT");
  }
  // The engine may already have ended the transaction itself (after some
  // errors it rolls back on its own); that is a rollback too.
  void rollback() override {
    if (!sqlite3_get_autocommit(db_)) run("ROLLBACK");
  }
  bool inTransaction() const override { return !sqlite3_get_autocommit(db_); }

  std::string dialect() const override { return "sqlite"; }

  void setTimeout(int seconds) override {
    int ms = seconds <= 0 || seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
    sqlite3_busy_timeout(db_, ms);
  }

  void run(const char* sql) { check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

  // From now on the connection refuses what reaches beyond its database.
  void defend() { makeDefensive(db_, &refusal_); }

 private:
  static std::string text(const char* s) { return s ? std::string(s) : std::string(); }

  // The rows the statement just run changed itself. sqlite3_changes keeps
  // the count of the last INSERT, UPDATE or DELETE, so a statement of another
  // kind (which leaves the running total alone) counts 0, not that.
  long changesSince(int64_t totalBefore) const {
    return sqlite3_total_changes64(db_) == totalBefore ? 0 : static_cast<long>(sqlite3_changes64(db_));
  }

  void check(int rc) {
    if (rc != SQLITE_OK) fail();
  }

  // A statement stopped by an interrupt of its thread fails as timed out;
  // one the defences refused says why.
  [[noreturn]] void fail() {
    if (sqlite3_errcode(db_) == SQLITE_INTERRUPT && threadInterrupted()) raiseInterrupted();
    std::string message = sqlite3_errmsg(db_);
    if ((sqlite3_errcode(db_) & 0xff) == SQLITE_AUTH && !refusal_.empty()) message += ": " + refusal_;
    com::raise(kProviderError, kSource, message);
  }

  // Per column: whether its declared type makes its text values dates.
  static std::vector<char> dateColumns(sqlite3_stmt* st, int ncol) {
    std::vector<char> dates(static_cast<size_t>(std::max(ncol, 0)));
    for (int i = 0; i < ncol; ++i) dates[static_cast<size_t>(i)] = isDateType(sqlite3_column_decltype(st, i));
    return dates;
  }

  // Appends the value of column i of the current row. A text goes from the
  // engine's buffer straight into the row; a date column's text that reads
  // back as the same date becomes a Date. The column's value is read through
  // the engine's value object: one lookup of the column instead of one per
  // call, and no per-call error bookkeeping (the connection serves one
  // thread, so the value needs no lock). Answers the bytes the value counts
  // against the result's budget: a text's or blob's length, 9 for any other
  // value, known here so the column is not looked up again to count it.
  static size_t readValue(sqlite3_stmt* st, int i, bool dateColumn, PackedRowBuilder& row) {
    constexpr size_t kOther = 9;
    sqlite3_value* v = sqlite3_column_value(st, i);
    switch (sqlite3_value_type(v)) {
      case SQLITE_NULL: row.add(com::Variant::null()); return kOther;
      case SQLITE_INTEGER: row.add(com::Variant::fromInt64(sqlite3_value_int64(v))); return kOther;
      case SQLITE_FLOAT: row.add(com::Variant(sqlite3_value_double(v))); return kOther;
      case SQLITE_BLOB: {
        auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
        int n = sqlite3_value_bytes(v);
        row.add(com::Variant(com::Variant::Bytes(p, p + n)));
        return static_cast<size_t>(n);
      }
      default: {
        auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        std::string_view s(p ? p : "", p ? static_cast<size_t>(sqlite3_value_bytes(v)) : 0);
        com::DateTime d;
        if (dateColumn && com::DateTime::parse(std::string(s), &d) && d.text() == s)
          row.add(com::Variant(d));
        else
          row.addText(s);
        return s.size();
      }
    }
  }

  // The current row, packed, the columns not `wanted` (when it is not
  // empty) left Empty; adds its values' budget bytes to `bytes`.
  PackedRow readRow(sqlite3_stmt* st, const std::vector<char>& dates, const std::vector<char>& wanted, size_t& bytes) {
    for (size_t i = 0; i < dates.size(); ++i) {
      if (!wanted.empty() && !wanted[i])
        rowBuilder_.addEmpty();
      else
        bytes += readValue(st, static_cast<int>(i), dates[i], rowBuilder_);
    }
    return rowBuilder_.take();
  }

  void bind(sqlite3_stmt* st, int at, const com::Variant& v) {
    int rc = SQLITE_OK;
    switch (v.type()) {
      case com::VarType::Empty:
      case com::VarType::Null:
      case com::VarType::Missing: rc = sqlite3_bind_null(st, at); break;
      case com::VarType::Boolean: rc = sqlite3_bind_int(st, at, *v.get<bool>() ? 1 : 0); break;
      case com::VarType::Integer: rc = sqlite3_bind_int(st, at, *v.get<int16_t>()); break;
      case com::VarType::Long: rc = sqlite3_bind_int(st, at, *v.get<int32_t>()); break;
      case com::VarType::Double: rc = sqlite3_bind_double(st, at, *v.get<double>()); break;
      case com::VarType::Date: {
        std::string s = v.get<com::DateTime>()->text();
        rc = sqlite3_bind_text(st, at, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        break;
      }
      case com::VarType::String: {
        const std::string& s = *v.get<std::string>();
        rc = sqlite3_bind_text(st, at, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        break;
      }
      case com::VarType::Bytes: {
        const auto& b = v.bytes();
        rc = sqlite3_bind_blob(st, at, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        break;
      }
      default:
        com::raise(com::kTypeMismatch, kSource,
                   std::string("Type mismatch: a value of kind ") + com::typeName(v.type()) + " cannot be stored.");
    }
    check(rc);
  }

  sqlite3* db_;
  std::string refusal_;  // why the defences last refused a statement
  StatementCache cache_;
  PackedRowBuilder rowBuilder_;  // its buffer serves every row read
};

std::unique_ptr<Backend> fromConnectionString(const ConnectionString& cs, int timeoutSeconds) {
  if (strcasecmp(cs.get("Provider").c_str(), "SQLite") != 0) return nullptr;
  // The components write R/bin/../db/FILE; a root copied or restored without
  // its empty bin/ still has R/db/FILE, which the path names read lexically.
  std::string path = cs.get("Data Source");
  struct stat st {};
  if (!path.empty() && ::stat(path.c_str(), &st) != 0) path = std::filesystem::path(path).lexically_normal().string();
  return open(path, timeoutSeconds);
}

[[maybe_unused]] const bool registered = (registerBackend("sqlite", fromConnectionString), true);

}  // namespace

std::unique_ptr<Backend> open(const std::string& path, int timeoutSeconds) {
  if (path.empty()) com::raise(kOpenFailed, kSource, "The connection string names no Data Source file.");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    com::raise(kOpenFailed, kSource, "The database file does not exist: " + path);
  sqlite3* db = nullptr;
  // A connection, like the statements it keeps, serves one thread at a time
  // (its owner's apartment), so the engine need not lock it on every call.
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    com::raise(kOpenFailed, kSource, "Cannot open the database file " + path + ": " + msg);
  }
  auto backend = std::make_unique<SqliteBackend>(db);
  backend->setTimeout(timeoutSeconds);
  sqlite3_extended_result_codes(db, 1);
  try {
    // Also proves the file is a database: the first read of a file that is
    // not one fails here, not at some later statement.
    backend->run("PRAGMA journal_mode=WAL");
  } catch (const com::ComError& e) {
    com::raise(kOpenFailed, kSource, "Cannot open the database file " + path + ": " + e.description());
  }
  backend->defend();
  return backend;
}

}  // namespace tivel::ado::sqlite
