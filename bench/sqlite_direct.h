// The benchmarks' side of "the same statements direct through the SQLite
// API": a connection of the engine's own, opened as the data-access layer
// opens one, and rows put straight into a database file.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace tivel::bench {

class DirectDb {
 public:
  // Opens an existing database file in WAL mode, waiting up to
  // busyMilliseconds for a lock; without the engine's per-call lock, as the
  // data-access layer opens its connections.
  explicit DirectDb(const std::string& file, int busyMilliseconds = 10000) {
    if (sqlite3_open_v2(file.c_str(), &h_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + file);
    sqlite3_busy_timeout(h_, busyMilliseconds);
    sqlite3_exec(h_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  }
  ~DirectDb() { sqlite3_close(h_); }
  DirectDb(const DirectDb&) = delete;
  DirectDb& operator=(const DirectDb&) = delete;

  sqlite3* handle() { return h_; }
  // A prepared statement of one text; the caller finalises it.
  sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(h_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(h_));
    return st;
  }
  // Runs one statement, reading every column of every row as a recordset
  // does; answers the number of rows.
  int run(const std::string& sql) {
    sqlite3_stmt* st = prepare(sql);
    int rows = 0, rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      readRow(st);
      ++rows;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(h_));
    return rows;
  }
  // The first field of the first row as text ("" when none).
  std::string first(const std::string& sql) {
    sqlite3_stmt* st = prepare(sql);
    std::string v;
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
      v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return v;
  }
  // Reads every column of the statement's current row as text.
  static void readRow(sqlite3_stmt* st) {
    for (int i = 0; i < sqlite3_column_count(st); ++i) benchmark::DoNotOptimize(sqlite3_column_text(st, i));
  }

 private:
  sqlite3* h_ = nullptr;
};

// Inserts `rows` rows into the database file in one transaction: `insert`
// is prepared once and bind(statement, i) binds the values of row i.
inline void insertRows(const std::string& file, const char* insert, int rows,
                       const std::function<void(sqlite3_stmt*, int)>& bind) {
  DirectDb d(file);
  sqlite3_exec(d.handle(), "begin", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = d.prepare(insert);
  for (int i = 0; i < rows; ++i) {
    bind(st, i);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(d.handle(), "commit", nullptr, nullptr, nullptr);
}

}  // namespace tivel::bench
