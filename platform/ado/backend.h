// The boundary between the data-access classes and a database engine. A
// backend runs statements and answers metadata; cursor behaviour, editing and
// write-back live above it, in Recordset, and are the same for every engine.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/connection_string.h"
#include "platform/ado/packed_row.h"
#include "platform/com/variant.h"

namespace tivel::ado {

struct ColumnInfo {
  std::string name;        // the column's name in the result
  std::string baseTable;   // the table it comes from, "" when computed
  std::string baseColumn;  // its name in that table
};

struct StatementResult {
  bool hasRows = false;             // the statement produced a result set (even an empty one)
  std::vector<ColumnInfo> columns;  // when hasRows
  std::vector<PackedRow> rows;      // all rows, fetched at once
  long affected = -1;               // rows changed, for statements without a result set
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs one statement text as it stands. Engine failures throw com::ComError
  // (kProviderError) with the engine's message as description.
  virtual StatementResult execute(const std::string& sql) = 0;
  // Runs execute, but may leave Empty, unread, the values of the columns
  // `columns` does not name (compared without case), so that a reader of a
  // few columns of a wide result pays for those only; empty reads them all.
  virtual StatementResult executeReading(const std::string& sql, const std::vector<std::string>& columns) {
    return execute(sql);
  }
  // Runs a statement with "?" placeholders bound to the values, in order
  // (Empty and Null bind as NULL). Returns the rows changed.
  virtual long executeBound(const std::string& sql, const std::vector<com::Variant>& params) = 0;
  // Runs executeBound but guarantees that at most `limit` rows change: when
  // more would, nothing is changed and the count that would have changed is returned.
  virtual long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) = 0;
  // The primary-key columns of a table, in key order; empty when it has none.
  virtual std::vector<std::string> primaryKey(const std::string& table) = 0;
  // Quotes a table or column name for this engine.
  virtual std::string quoteIdentifier(const std::string& name) const = 0;

  // Until this connection's transaction ends, keeps every other connection
  // that locks the same table waiting (on PostgreSQL, every other writer of
  // it); readers go on. For a value that is read and then written back. The
  // embedded engine's transactions already shut out other writers, so there
  // it does nothing; a server database fails it outside a transaction.
  virtual void lockTable(const std::string& table) = 0;

  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  virtual bool inTransaction() const = 0;

  // The SQL dialect of the engine: "sqlite" or "postgresql" (others by DBMS name, lower case).
  virtual std::string dialect() const = 0;

  // Statement time-out in seconds (0: none).
  virtual void setTimeout(int seconds) = 0;

  // The value the database assigned to `column` of `table` by the last insert
  // on this connection, when that column is a database-numbered key
  // (INTEGER PRIMARY KEY, identity, serial); Empty when it is not or the
  // engine cannot tell.
  virtual com::Variant generatedKey(const std::string& table, const std::string& column) { return {}; }

 protected:
  // executeBoundAtMost by a savepoint around the statement (a savepoint nests
  // inside a transaction of the connection): more than `limit` rows changed,
  // or a failure, rolls back to it. Savepoint statements run through execute().
  long executeInSavepoint(const std::string& sql, const std::vector<com::Variant>& params, long limit);
};

// Per column of a result: whether `names` names it (without case); empty,
// every column read, when `names` is empty.
std::vector<char> columnsNamed(const std::vector<ColumnInfo>& columns, const std::vector<std::string>& names);

// Makes a backend from a parsed connection string, or returns nullptr when
// this factory does not serve it. Throws ComError when it serves it but the
// open fails.
using BackendFactory = std::function<std::unique_ptr<Backend>(const ConnectionString&, int timeoutSeconds)>;

// Backends register under a name ("sqlite", "odbc", "pq") when their code loads.
void registerBackend(const std::string& name, BackendFactory factory);
// Opens the backend a connection string names: Provider=SQLite goes to
// "sqlite"; Provider=PostgreSQL, or DRIVER=PostgreSQL without dsn=, to "pq";
// dsn=, DRIVER= or any other Provider= to "odbc"; anything else,
// the empty string included, fails with kOpenFailed.
std::unique_ptr<Backend> openBackend(const std::string& connectionString, int timeoutSeconds);

}  // namespace tivel::ado
