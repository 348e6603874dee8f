#include "platform/ado/pq/pq_backend.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/ado/constants.h"
#include "platform/ado/interrupt.h"
#include "platform/ado/odbc/keyword_names.h"
#include "platform/ado/pq/connect_params.h"
#include "platform/ado/pq/placeholders.h"
#include "platform/ado/pq/values.h"
#include "platform/ado/reconnecting_backend.h"
#include "platform/ado/row_budget.h"
#include "platform/ado/without_passwords.h"
#include "platform/com/error.h"

namespace tivel::ado::pq {
namespace {

constexpr const char* kSource = "PostgreSQL";
// Prepared statements one connection keeps before it lets them all go.
constexpr size_t kMostPrepared = 256;

// Owns one result.
struct Result {
  explicit Result(PGresult* r = nullptr) : r(r) {}
  ~Result() { PQclear(r); }
  Result(Result&& o) noexcept : r(o.r) { o.r = nullptr; }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  Result& operator=(Result&&) = delete;
  PGresult* r;
};

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A name quoted as PostgreSQL reads it: letter case kept.
std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

bool startsWith(const char* text, std::string_view prefix) {
  return std::strncmp(text, prefix.data(), prefix.size()) == 0;
}

class PqBackend : public Backend {
 public:
  ~PqBackend() override {
    if (cancel_) PQfreeCancel(cancel_);
    if (conn_) PQfinish(conn_);
  }

  void connect(const ConnectionString& cs, int timeoutSeconds) {
    const auto params = connectParams(cs);
    std::vector<const char*> keys, values;
    for (const auto& [k, v] : params) {
      keys.push_back(k.c_str());
      values.push_back(v.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
    if (!conn_) com::raise(kOpenFailed, kSource, "Cannot connect: out of memory");
    // libpq gives no SQLSTATE for a connection it could not make; callers
    // (/health, the login's message) tell a database that is away by the
    // state an ODBC driver reports for it, so the same one is named here.
    if (PQstatus(conn_) != CONNECTION_OK)
      com::raise(kOpenFailed, kSource,
                 "Cannot connect: " + withoutPasswords(oneLine(PQerrorMessage(conn_))) + " (SQLSTATE 08001)");
    // Notices (a rollback with no transaction, say) are not failures.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    cancel_ = PQgetCancel(conn_);
    setTimeout(timeoutSeconds);
  }

  bool lost() const { return lost_; }

  StatementResult execute(const std::string& sql) override { return executeReading(sql, {}); }

  StatementResult executeReading(const std::string& sql, const std::vector<std::string>& names) override {
    const std::string text = odbc::quoteKeywordNames(sql);
    RunningStatement running(cancelStatement, this);
    if (!PQsendQuery(conn_, text.c_str())) failConnection();
    return collect(names);
  }

  long executeBound(const std::string& sql, const std::vector<com::Variant>& params) override {
    return runBound(sql, params, false);
  }

  // Inside a transaction a savepoint undoes the statement alone; outside
  // one the statement runs in a transaction of its own.
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) override {
    if (inTransaction_) {
      // The savepoint and the statement go in one round trip.
      long changed = 0;
      try {
        changed = runBound(sql, params, true);
      } catch (const SavepointFailed&) {
        throw;
      } catch (...) {
        undoAtMost();
        throw;
      }
      if (changed > limit) {
        undoAtMost();
        return changed;
      }
      run("RELEASE SAVEPOINT tivel_at_most");
      return changed;
    }
    run("BEGIN");
    long changed = 0;
    try {
      changed = executeBound(sql, params);
    } catch (...) {
      quietRollback();
      throw;
    }
    if (changed > limit) {
      quietRollback();
      return changed;
    }
    run("COMMIT");
    return changed;
  }

  std::vector<std::string> primaryKey(const std::string& table) override {
    std::vector<std::string> key = primaryKeyAsGiven(table);
    // An unquoted name in a statement folds to lower case; the catalogue holds the folded name.
    std::string lower = table;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key.empty() && lower != table) key = primaryKeyAsGiven(lower);
    return key;
  }

  std::string quoteIdentifier(const std::string& name) const override { return quoted(name); }

  void lockTable(const std::string& table) override { run("LOCK TABLE " + table + " IN EXCLUSIVE MODE"); }

  void begin() override {
    if (threadInterrupted()) raiseInterrupted();
    run("BEGIN");
    inTransaction_ = true;
  }

  // A transaction a failed statement left failed is rolled back, and the
  // commit fails saying so: PostgreSQL would answer COMMIT with ROLLBACK.
  void commit() override {
    if (threadInterrupted()) {
      quietRollback();
      transactionEnded();
      raiseInterrupted();
    }
    if (PQtransactionStatus(conn_) == PQTRANS_INERROR) {
      quietRollback();
      transactionEnded();
      com::raise(kProviderError, kSource, "The transaction was rolled back: a statement in it failed (SQLSTATE 25P02)");
    }
    try {
      run("COMMIT");
    } catch (...) {
      quietRollback();
      transactionEnded();
      throw;
    }
    transactionEnded(false);
  }

  // Never refused, so that an interrupted transaction can always be undone.
  void rollback() override {
    Result r(PQexec(conn_, "ROLLBACK"));
    transactionEnded(true);
    check(r);
  }

  bool inTransaction() const override { return inTransaction_; }

  std::string dialect() const override { return "postgresql"; }

  // statement_timeout, a session setting. Set inside a transaction, a
  // rollback undoes it; it is set again once the transaction ends.
  void setTimeout(int seconds) override {
    timeout_ = seconds > 0 ? seconds : 0;
    applyTimeout();
  }

  // The value the column's sequence gave this session last, which is this
  // insert's when the insert left the column out. Inside a transaction a
  // savepoint keeps a failure (the sequence not used by this session) from
  // failing the transaction; the three statements go in one round trip.
  com::Variant generatedKey(const std::string& table, const std::string& column) override {
    const std::string select =
        "SELECT currval(pg_get_serial_sequence(" + literal(quoted(table)) + ", " + literal(column) + "))";
    StatementResult r;
    try {
      if (!inTransaction_) {
        r = runText(select);
      } else if (PQtransactionStatus(conn_) == PQTRANS_INTRANS) {
        try {
          r = runText("SAVEPOINT tivel_key; " + select + "; RELEASE SAVEPOINT tivel_key");
        } catch (const com::ComError&) {
          runText("ROLLBACK TO SAVEPOINT tivel_key; RELEASE SAVEPOINT tivel_key");
          throw;
        }
      }
    } catch (const com::ComError&) {
      return {};
    }
    if (r.rows.size() == 1 && r.rows[0].size() == 1 && !r.rows[0][0].isNull()) return r.rows[0][0];
    return {};
  }

 private:
  struct TableColumns {
    std::string table;
    std::vector<std::string> columns;  // by attribute number, from 1
  };

  // A failure of the savepoint itself, before the statement ran: there is
  // nothing to roll back to.
  struct SavepointFailed : com::ComError {
    using com::ComError::ComError;
  };

  // Runs a statement with "?" placeholders, prepared once per connection;
  // with `savepoint`, "SAVEPOINT tivel_at_most" goes before it in the same
  // round trip (libpq's pipeline).
  long runBound(const std::string& sql, const std::vector<com::Variant>& params, bool savepoint) {
    NumberedText numbered = numberPlaceholders(odbc::quoteKeywordNames(sql));
    if (numbered.count != static_cast<int>(params.size()))
      com::raise(kProviderError, kSource,
                 "The statement has " + std::to_string(numbered.count) + " parameters, " +
                     std::to_string(params.size()) + " values were given.");
    if (params.empty() && numbered.text.find(';') != std::string::npos) {
      if (savepoint) run("SAVEPOINT tivel_at_most");
      StatementResult r = execute(sql);
      return r.hasRows ? static_cast<long>(r.rows.size()) : std::max(r.affected, 0L);
    }
    std::vector<Parameter> bound;
    bound.reserve(params.size());
    for (const com::Variant& v : params) bound.push_back(toParameter(v));
    const std::string& name = prepared(numbered.text, bound);
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Parameter& p : bound) {
      values.push_back(p.null ? nullptr : p.data.c_str());
      lengths.push_back(static_cast<int>(p.data.size()));
      formats.push_back(p.binary ? 1 : 0);
    }
    RunningStatement running(cancelStatement, this);
    if (!savepoint) {
      Result r(PQexecPrepared(conn_, name.c_str(), static_cast<int>(bound.size()), values.data(), lengths.data(),
                              formats.data(), 0));
      check(r);
      return std::atol(PQcmdTuples(r.r));
    }
    if (!PQenterPipelineMode(conn_)) failConnection();
    const bool sent = PQsendQueryParams(conn_, "SAVEPOINT tivel_at_most", 0, nullptr, nullptr, nullptr, nullptr, 0) &&
                      PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(bound.size()), values.data(),
                                          lengths.data(), formats.data(), 0) &&
                      PQpipelineSync(conn_);
    // Each query's result, then the sync's; a query after a failed one is
    // reported aborted.
    Result mark(sent ? PQgetResult(conn_) : nullptr);
    if (mark.r) PQclear(PQgetResult(conn_));
    Result statement(mark.r ? PQgetResult(conn_) : nullptr);
    if (statement.r) PQclear(PQgetResult(conn_));
    while (PGresult* rest = PQgetResult(conn_)) {
      const bool synced = PQresultStatus(rest) == PGRES_PIPELINE_SYNC;
      PQclear(rest);
      if (synced) break;
    }
    PQexitPipelineMode(conn_);
    if (!mark.r || !statement.r) failConnection();
    try {
      check(mark);
    } catch (const com::ComError& e) {
      throw SavepointFailed(e.number(), e.source(), e.description());
    }
    check(statement);
    return std::atol(PQcmdTuples(statement.r));
  }

  // Rolls back to the at-most savepoint and drops it; a failure here is not
  // reported: the first failure is the one the caller sees.
  void undoAtMost() noexcept {
    PQclear(PQexec(conn_, "ROLLBACK TO SAVEPOINT tivel_at_most; RELEASE SAVEPOINT tivel_at_most"));
    if (PQstatus(conn_) == CONNECTION_BAD) lost_ = true;
  }

  static void cancelStatement(void* self) {
    char why[256];
    PQcancel(static_cast<PqBackend*>(self)->cancel_, why, sizeof why);
  }

  // Fails with the connection's last message (nothing was sent, or the
  // connection broke before a result came).
  [[noreturn]] void failConnection() {
    std::string message = oneLine(PQerrorMessage(conn_));
    noteLoss("");
    if (threadInterrupted()) raiseInterrupted();
    com::raise(kProviderError, kSource, message.empty() ? "The connection to the server failed." : message);
  }

  void noteLoss(const std::string& sqlState) {
    if (sqlState.rfind("08", 0) == 0 || sqlState == "57P01" || sqlState == "57P02" || sqlState == "57P03" ||
        PQstatus(conn_) == CONNECTION_BAD)
      lost_ = true;
  }

  // Throws the failure a result reports, with the server's message and SQLSTATE.
  void check(const Result& r) {
    if (!r.r) failConnection();
    ExecStatusType status = PQresultStatus(r.r);
    if (status != PGRES_FATAL_ERROR && status != PGRES_BAD_RESPONSE && status != PGRES_NONFATAL_ERROR) return;
    const char* state = PQresultErrorField(r.r, PG_DIAG_SQLSTATE);
    const std::string sqlState = state ? state : "";
    noteLoss(sqlState);
    if (threadInterrupted()) raiseInterrupted();
    const char* severity = PQresultErrorField(r.r, PG_DIAG_SEVERITY);
    const char* primary = PQresultErrorField(r.r, PG_DIAG_MESSAGE_PRIMARY);
    std::string message =
        primary ? std::string(severity ? severity : "ERROR") + ": " + primary : oneLine(PQresultErrorMessage(r.r));
    if (const char* detail = PQresultErrorField(r.r, PG_DIAG_MESSAGE_DETAIL)) message += "; " + std::string(detail);
    if (!sqlState.empty()) message += " (SQLSTATE " + sqlState + ")";
    com::raise(kProviderError, kSource, oneLine(message));
  }

  // A statement of this backend's own, without parameters.
  void run(const std::string& sql) {
    RunningStatement running(cancelStatement, this);
    Result r(PQexec(conn_, sql.c_str()));
    check(r);
  }

  // Texts of this backend's own, perhaps several statements, as execute() runs them.
  StatementResult runText(const std::string& sql) {
    RunningStatement running(cancelStatement, this);
    if (!PQsendQuery(conn_, sql.c_str())) failConnection();
    return collect();
  }

  void quietRollback() noexcept {
    PQclear(PQexec(conn_, "ROLLBACK"));
    if (PQstatus(conn_) == CONNECTION_BAD) lost_ = true;
  }

  void transactionEnded(bool rolledBack = true) {
    inTransaction_ = false;
    if (rolledBack && timeoutSetInTransaction_) applied_ = -1;
    timeoutSetInTransaction_ = false;
    if (applied_ != timeout_) applyTimeout();
  }

  // Sets statement_timeout when it differs from what the session has and
  // the session can take a statement; otherwise when the transaction ends.
  void applyTimeout() noexcept {
    if (!conn_ || applied_ == timeout_ || PQtransactionStatus(conn_) == PQTRANS_INERROR) return;
    Result r(PQexec(conn_, ("SET statement_timeout = " + std::to_string(timeout_ * 1000)).c_str()));
    if (r.r && PQresultStatus(r.r) == PGRES_COMMAND_OK) {
      applied_ = timeout_;
      if (inTransaction_) timeoutSetInTransaction_ = true;
    } else {
      applied_ = -1;
    }
  }

  std::string literal(const std::string& text) {
    char* q = PQescapeLiteral(conn_, text.c_str(), text.size());
    if (!q) failConnection();
    std::string out(q);
    PQfreemem(q);
    return out;
  }

  // Reads every result of what was sent: the first result set is the
  // statement's, the rows the others changed are added up; the first
  // failure is thrown once all results are read.
  StatementResult collect(const std::vector<std::string>& names = {}) {
    StatementResult result;
    long affected = 0;
    std::optional<Result> failed;
    std::exception_ptr refused;
    while (PGresult* raw = PQgetResult(conn_)) {
      Result r(raw);
      switch (PQresultStatus(raw)) {
        case PGRES_TUPLES_OK:
          if (!result.hasRows && !failed && !refused) {
            result.hasRows = true;
            try {
              readResult(raw, &result, names);
            } catch (...) {
              refused = std::current_exception();  // thrown once the connection is free again
            }
          }
          break;
        case PGRES_COMMAND_OK: {
          const char* tag = PQcmdStatus(raw);
          if (startsWith(tag, "CREATE") || startsWith(tag, "ALTER") || startsWith(tag, "DROP")) schemaChanged();
          affected += std::max(std::atol(PQcmdTuples(raw)), 0L);
          break;
        }
        case PGRES_EMPTY_QUERY: break;
        default:
          if (!failed) failed.emplace(std::move(r));
      }
    }
    if (failed) check(*failed);
    if (refused) std::rethrow_exception(refused);
    if (PQstatus(conn_) == CONNECTION_BAD) failConnection();
    if (!result.hasRows) result.affected = affected;
    return result;
  }

  // Tables and columns may have changed: what was learnt of them is let go.
  void schemaChanged() {
    tables_.clear();
    preparedStale_ = true;
  }

  void readResult(const PGresult* r, StatementResult* result, const std::vector<std::string>& names) {
    const int ncol = PQnfields(r), nrow = PQntuples(r);
    std::vector<Kind> kinds;
    for (int i = 0; i < ncol; ++i) {
      ColumnInfo c;
      c.name = PQfname(r, i);
      const Oid table = PQftable(r, i);
      const int column = PQftablecol(r, i);
      if (table != InvalidOid && column > 0) {
        const TableColumns& t = tableColumns(table);
        if (!t.table.empty() && static_cast<size_t>(column) <= t.columns.size() && !t.columns[column - 1].empty()) {
          c.baseTable = t.table;
          c.baseColumn = t.columns[column - 1];
        }
      }
      result->columns.push_back(std::move(c));
      kinds.push_back(kindOf(PQftype(r, i)));
    }
    const std::vector<char> wanted = columnsNamed(result->columns, names);
    PackedRowBuilder row;
    RowBudget budget(kSource);
    result->rows.reserve(static_cast<size_t>(nrow));
    for (int n = 0; n < nrow; ++n) {
      for (int i = 0; i < ncol; ++i) {
        if (!wanted.empty() && !wanted[static_cast<size_t>(i)]) {
          row.addEmpty();
          continue;
        }
        if (PQgetisnull(r, n, i)) {
          budget.count(9);
          row.add(com::Variant::null());
          continue;
        }
        std::string_view text(PQgetvalue(r, n, i), static_cast<size_t>(PQgetlength(r, n, i)));
        if (kinds[i] == Kind::Text) {
          budget.count(text.size());
          row.addText(text);
          continue;
        }
        const com::Variant value = readValue(kinds[i], text);
        budget.count(value);
        row.add(value);
      }
      result->rows.push_back(row.take());
    }
  }

  // The name and columns of a table, looked up once per connection (until a
  // statement changes the schema). A table the lookup cannot find has no name.
  const TableColumns& tableColumns(Oid table) {
    auto it = tables_.find(table);
    if (it != tables_.end()) return it->second;
    const std::string id = std::to_string(table);
    const char* values[] = {id.c_str()};
    Result r(PQexecParams(conn_,
                          "SELECT c.relname, a.attnum, a.attname FROM pg_catalog.pg_class c "
                          "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid "
                          "WHERE c.oid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped",
                          1, nullptr, values, nullptr, nullptr, 0));
    check(r);
    TableColumns t;
    for (int n = 0; n < PQntuples(r.r); ++n) {
      t.table = PQgetvalue(r.r, n, 0);
      const size_t at = static_cast<size_t>(std::atoi(PQgetvalue(r.r, n, 1)));
      if (at > t.columns.size()) t.columns.resize(at);
      t.columns[at - 1] = PQgetvalue(r.r, n, 2);
    }
    return tables_.emplace(table, std::move(t)).first->second;
  }

  // The name of the statement prepared for this text and these parameter
  // types, prepared now when it is not yet.
  const std::string& prepared(const std::string& text, const std::vector<Parameter>& params) {
    std::string key = text;
    key += '\0';
    for (const Parameter& p : params) key += std::to_string(p.type) + ",";
    if (preparedStale_ || statements_.size() >= kMostPrepared) dropPrepared();
    auto it = statements_.find(key);
    if (it != statements_.end()) return it->second;
    std::string name = "tivel_" + std::to_string(++statementCount_);
    std::vector<Oid> types;
    for (const Parameter& p : params) types.push_back(p.type);
    RunningStatement running(cancelStatement, this);
    Result r(PQprepare(conn_, name.c_str(), text.c_str(), static_cast<int>(types.size()), types.data()));
    check(r);
    return statements_.emplace(std::move(key), std::move(name)).first->second;
  }

  // Lets every prepared statement go, when the session can take a statement.
  void dropPrepared() {
    if (PQtransactionStatus(conn_) == PQTRANS_INERROR) return;
    Result r(PQexec(conn_, "DEALLOCATE ALL"));
    check(r);
    statements_.clear();
    preparedStale_ = false;
  }

  std::vector<std::string> primaryKeyAsGiven(const std::string& table) {
    const char* values[] = {table.c_str()};
    Result r(PQexecParams(conn_,
                          "SELECT a.attname FROM pg_catalog.pg_index i "
                          "JOIN pg_catalog.pg_class c ON c.oid = i.indrelid "
                          "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum = ANY (i.indkey) "
                          "WHERE i.indisprimary AND c.relname = $1 AND pg_catalog.pg_table_is_visible(c.oid) "
                          "ORDER BY array_position(i.indkey::int2[], a.attnum)",
                          1, nullptr, values, nullptr, nullptr, 0));
    check(r);
    std::vector<std::string> key;
    for (int n = 0; n < PQntuples(r.r); ++n) key.emplace_back(PQgetvalue(r.r, n, 0));
    return key;
  }

  PGconn* conn_ = nullptr;
  PGcancel* cancel_ = nullptr;
  bool lost_ = false;  // a failure said the connection is gone
  bool inTransaction_ = false;
  int timeout_ = 0;
  int applied_ = 0;  // the session's statement_timeout in seconds, -1 when unknown
  bool timeoutSetInTransaction_ = false;
  std::unordered_map<Oid, TableColumns> tables_;
  std::unordered_map<std::string, std::string> statements_;  // text and types -> prepared name
  unsigned long statementCount_ = 0;
  bool preparedStale_ = false;
};

std::unique_ptr<Backend> fromConnectionString(const ConnectionString& cs, int timeoutSeconds) {
  if (!servesConnectionString(cs)) return nullptr;
  return open(cs, timeoutSeconds);
}

[[maybe_unused]] const bool registered = (registerBackend("pq", fromConnectionString), true);

}  // namespace

// A server connection can be lost; the next operation after a loss opens a
// new one (reconnecting_backend.h).
std::unique_ptr<Backend> open(const ConnectionString& cs, int timeoutSeconds) {
  return reconnecting([cs, timeoutSeconds] {
    auto backend = std::make_unique<PqBackend>();
    backend->connect(cs, timeoutSeconds);
    const PqBackend* raw = backend.get();
    return OpenedBackend{std::move(backend), [raw] { return raw->lost(); }};
  });
}

}  // namespace tivel::ado::pq
