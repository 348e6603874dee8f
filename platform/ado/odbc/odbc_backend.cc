#include "platform/ado/odbc/odbc_backend.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/ado/constants.h"
#include "platform/ado/interrupt.h"
#include "platform/ado/odbc/connect_keys.h"
#include "platform/ado/odbc/dialect.h"
#include "platform/ado/odbc/driver_loading.h"
#include "platform/ado/odbc/odbc_connection_string.h"
#include "platform/ado/odbc/wide_text.h"
#include "platform/ado/reconnecting_backend.h"
#include "platform/ado/row_budget.h"
#include "platform/ado/without_passwords.h"
#include "platform/com/error.h"

namespace tivel::ado::odbc {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters must be UTF-16");

constexpr const char* kSource = "ODBC";
// ADO's default ConnectionTimeout: how long an open waits for the server
// when the connection string sets no "Connect Timeout".
constexpr SQLULEN kLoginTimeoutSeconds = 15;

// The first diagnostic record of a handle: its SQLSTATE and native error.
std::pair<std::string, long> firstDiagnostic(SQLSMALLINT type, SQLHANDLE handle) {
  SQLWCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  SQLWCHAR msg[2];
  SQLRETURN rc = SQLGetDiagRecW(type, handle, 1, state, &native, msg, 2, &len);
  if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc)) return {"", 0};
  std::string text;
  for (int i = 0; i < 5; ++i) text += static_cast<char>(state[i]);
  return {text, static_cast<long>(native)};
}

// The login time-out a connection string asks for ("Connect Timeout",
// seconds, 0: wait as long as the driver does), else the default.
SQLULEN loginTimeout(const ConnectionString& cs) {
  std::string v = cs.get("Connect Timeout");
  if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos) return kLoginTimeoutSeconds;
  return static_cast<SQLULEN>(std::stoul(v));
}

SQLWCHAR* wide(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The diagnostics of a handle as one text: each record's message followed by
// its SQLSTATE, records joined by "; ".
std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  for (SQLSMALLINT rec = 1; rec <= 16; ++rec) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    std::u16string msg(1024, u'\0');
    SQLRETURN rc =
        SQLGetDiagRecW(type, handle, rec, state, &native, wide(msg), static_cast<SQLSMALLINT>(msg.size()), &len);
    if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc)) break;
    if (len >= static_cast<SQLSMALLINT>(msg.size())) {
      msg.assign(static_cast<size_t>(len) + 1, u'\0');
      SQLGetDiagRecW(type, handle, rec, state, &native, wide(msg), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    msg.resize(std::min<size_t>(static_cast<size_t>(len), msg.size()));
    std::string text = toUtf8(msg);
    for (char& c : text)
      if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!out.empty()) out += "; ";
    out += text + " (SQLSTATE " + toUtf8(std::u16string(reinterpret_cast<const char16_t*>(state), 5)) + ")";
  }
  return out.empty() ? std::string("The ODBC driver reported a failure without diagnostics.") : out;
}

// Owns one ODBC handle.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &h_))) {
      h_ = SQL_NULL_HANDLE;
      std::string why = parent ? diagnostics(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent)
                               : std::string("out of memory");
      com::raise(kProviderError, kSource, "Cannot allocate an ODBC handle: " + why);
    }
  }
  ~Handle() {
    if (h_) SQLFreeHandle(type_, h_);
  }
  Handle(Handle&& other) noexcept : type_(other.type_), h_(other.h_) { other.h_ = SQL_NULL_HANDLE; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&&) = delete;
  SQLHANDLE get() const { return h_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// The SQLSTATE of the first diagnostic in a failure's description, as
// diagnostics() writes it; "" when there is none.
std::string sqlStateOf(const std::string& description) {
  const std::string mark = "(SQLSTATE ";
  size_t at = description.find(mark);
  return at == std::string::npos ? std::string() : description.substr(at + mark.size(), 5);
}

// A statement stopped by an interrupt of its thread (SQLCancel) fails as timed out.
void check(SQLRETURN rc, const Handle& h) {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
  if (h.type() == SQL_HANDLE_STMT && threadInterrupted()) raiseInterrupted();
  com::raise(kProviderError, kSource, diagnostics(h.type(), h.get()));
}

// How a watchdog stops a running statement (interrupt.h).
void cancelStatement(void* stmt) { SQLCancel(static_cast<SQLHSTMT>(stmt)); }

// Storage of one bound value; it must stay put until the statement ran.
struct BoundValue {
  std::u16string text;
  std::string utf8;
  std::vector<uint8_t> bytes;
  SQLINTEGER integer = 0;
  double real = 0;
  SQL_TIMESTAMP_STRUCT stamp{};
  SQLLEN indicator = 0;
};

// Column kinds, by how their values are read.
enum class Kind { Text, Bit, Integer, Real, Date, Time, Binary };

Kind kindOf(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT: return Kind::Bit;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return Kind::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return Kind::Real;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP: return Kind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME: return Kind::Time;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return Kind::Binary;
    default: return Kind::Text;
  }
}

class OdbcBackend : public Backend, private DialectSession {
 public:
  OdbcBackend() : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    dbc_ = std::make_unique<Handle>(SQL_HANDLE_DBC, env_.get());
  }

  ~OdbcBackend() override {
    if (connected_) {
      if (inTransaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
      SQLDisconnect(dbc_->get());
    }
  }

  void connect(const ConnectionString& cs, int timeoutSeconds) {
    OdbcTarget target = toOdbc(cs, [this](const std::string& name) { return isInstalledDriver(name); });
    std::string driverName = target.driver.empty() ? driverOfDataSource(target.dsn) : target.driver;
    std::string connectString = target.connectString;
    ConnectionString given = ConnectionString::parse(connectString);
    for (const auto& [key, value] : driverDefaults(driverName))
      if (!given.has(key)) connectString += connectPair(key, value);
    // MariaDB Connector/ODBC leaves the ODBC login time-out unused; its own
    // CONN_TIMEOUT bounds the connect and the wait for the server's greeting.
    const SQLULEN loginSeconds = loginTimeout(cs);
    if (loginSeconds > 0 && lower(driverName).find("mariadb") != std::string::npos && !given.has("CONN_TIMEOUT"))
      connectString += connectPair("CONN_TIMEOUT", std::to_string(loginSeconds));
    connectString = guardConnectKeys(connectString, driverName, allowedConnectKeys);
    refuseLoadingCode(
        connectString, [this](const std::string& name) { return isInstalledDriver(name); }, allowedDriverFiles);

    SQLSetConnectAttr(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(loginSeconds), 0);
    std::u16string in = toUtf16(connectString);
    std::u16string out(1024, u'\0');
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc_->get(), nullptr, wide(in), static_cast<SQLSMALLINT>(in.size()), wide(out),
                                     static_cast<SQLSMALLINT>(out.size()), &outLen, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc))
      com::raise(kOpenFailed, kSource, "Cannot connect: " + withoutPasswords(diagnostics(SQL_HANDLE_DBC, dbc_->get())));
    connected_ = true;
    std::string quote = infoText(SQL_IDENTIFIER_QUOTE_CHAR);
    dialect_ = dialectFor(infoText(SQL_DBMS_NAME));
    quote_ = dialect_->identifierQuote(quote.size() == 1 && quote != " " ? quote[0] : '"');
    utf8Text_ = dialect_->bindsTextAsUtf8();
    dialect_->start(*this);
    setTimeout(timeoutSeconds);
  }

  StatementResult execute(const std::string& sql) override { return executeReading(sql, {}); }

  StatementResult executeReading(const std::string& sql, const std::vector<std::string>& names) override {
    return adapted(sql, [&](const std::string& text) { return executeText(text, names); });
  }

  long executeBound(const std::string& sql, const std::vector<com::Variant>& params) override {
    return adapted(sql, [&](const std::string& text) { return executeBoundText(text, params); });
  }

  // Inside a transaction a savepoint undoes the statement alone; outside
  // one the statement runs in a transaction of its own.
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) override {
    if (inTransaction_) return executeInSavepoint(sql, params, limit);
    setAutocommit(false);
    long changed = 0;
    try {
      changed = executeBound(sql, params);
    } catch (...) {
      endTransaction(SQL_ROLLBACK, false);
      throw;
    }
    endTransaction(changed > limit ? SQL_ROLLBACK : SQL_COMMIT, true);
    return changed;
  }

  std::vector<std::string> primaryKey(const std::string& table) override {
    const std::string name = dialect_->catalogueName(*this, table);
    std::vector<std::string> key = primaryKeyAsGiven(name);
    // An unquoted name in a statement folds to lower case (PostgreSQL) or
    // upper case (the standard); the catalogue holds the folded name.
    if (key.empty() && lower(name) != name) key = primaryKeyAsGiven(lower(name));
    return key;
  }

  com::Variant generatedKey(const std::string& table, const std::string& column) override {
    return dialect_->generatedKey(*this, table, column);
  }

  std::string quoteIdentifier(const std::string& name) const override {
    std::string out(1, quote_);
    for (char c : name) {
      if (c == quote_) out += quote_;
      out += c;
    }
    return out + quote_;
  }

  void lockTable(const std::string& table) override { dialect_->lockTable(*this, table, timeout_); }

  void begin() override {
    if (threadInterrupted()) raiseInterrupted();
    setAutocommit(false);
    inTransaction_ = true;
  }
  void commit() override {
    if (threadInterrupted()) {
      endTransaction(SQL_ROLLBACK, false);
      raiseInterrupted();
    }
    endTransaction(SQL_COMMIT, true);
  }
  void rollback() override { endTransaction(SQL_ROLLBACK, true); }
  bool inTransaction() const override { return inTransaction_; }

  std::string dialect() const override { return dialect_ ? dialect_->name() : std::string(); }

  // True once a failure showed the connection gone (noteLoss).
  bool lost() const { return lost_; }

  void setTimeout(int seconds) override {
    timeout_ = seconds > 0 ? seconds : 0;
    queryTimeout_ = !(connected_ && dialect_ && dialect_->applyTimeout(*this, timeout_));
  }

 private:
  // Runs `sql` as the dialect adapts it. When it fails in a way the dialect
  // learns from (a table another connection made meanwhile), a single
  // statement whose adapted text now differs runs once more.
  template <class Run>
  std::invoke_result_t<Run, const std::string&> adapted(const std::string& sql, Run run) {
    struct Told {
      Dialect& dialect;
      const std::string& sql;
      ~Told() { dialect.ran(sql); }
    } told{*dialect_, sql};
    std::string text = dialect_->adapt(*this, sql);
    try {
      return run(text);
    } catch (const com::ComError& e) {
      if (text.find(';') != std::string::npos || !dialect_->learnFrom(*this, sqlStateOf(e.description()))) throw;
      std::string again = dialect_->adapt(*this, sql);
      if (again == text) throw;
      return run(again);
    }
  }

  // The free check() of this file, noting first whether the failure means
  // the connection is gone.
  void check(SQLRETURN rc, const Handle& h) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
    noteLoss(h.type(), h.get());
    ::tivel::ado::odbc::check(rc, h);
  }

  // Marks the connection lost when the failure on the handle says so in the
  // dialect's terms, or the driver reports the connection dead.
  void noteLoss(SQLSMALLINT type, SQLHANDLE handle) {
    if (lost_ || !connected_) return;
    auto [state, native] = firstDiagnostic(type, handle);
    if (dialect_ && dialect_->connectionGone(state, native)) {
      lost_ = true;
      return;
    }
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (SQL_SUCCEEDED(SQLGetConnectAttr(dbc_->get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE)
      lost_ = true;
  }

  StatementResult executeText(const std::string& sql, const std::vector<std::string>& names) {
    Handle st = statement();
    RunningStatement running(cancelStatement, st.get());
    std::u16string text = toUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(st.get(), wide(text), static_cast<SQLINTEGER>(text.size()));
    check(rc, st);
    StatementResult result;
    long affected = 0;
    // SQL_NO_DATA is a statement that changed no row; the ones after it
    // still have results of their own.
    for (;;) {
      SQLSMALLINT ncol = 0;
      check(SQLNumResultCols(st.get(), &ncol), st);
      if (ncol > 0 && !result.hasRows) {
        result.hasRows = true;
        readResult(st, ncol, &result, names);
      } else if (ncol == 0) {
        SQLLEN n = 0;
        if (SQL_SUCCEEDED(SQLRowCount(st.get(), &n)) && n > 0) affected += static_cast<long>(n);
      }
      rc = SQLMoreResults(st.get());
      if (rc == SQL_NO_DATA) break;
      check(rc, st);
    }
    if (!result.hasRows) result.affected = affected;
    return result;
  }

  long executeBoundText(const std::string& sql, const std::vector<com::Variant>& params) {
    Handle st = statement();
    std::u16string text = toUtf16(sql);
    check(SQLPrepareW(st.get(), wide(text), static_cast<SQLINTEGER>(text.size())), st);
    SQLSMALLINT expected = 0;
    check(SQLNumParams(st.get(), &expected), st);
    if (expected != static_cast<SQLSMALLINT>(params.size()))
      com::raise(kProviderError, kSource,
                 "The statement has " + std::to_string(expected) + " parameters, " + std::to_string(params.size()) +
                     " values were given.");
    std::vector<BoundValue> store(params.size());
    for (size_t i = 0; i < params.size(); ++i) bind(st, static_cast<SQLUSMALLINT>(i + 1), params[i], &store[i]);
    RunningStatement running(cancelStatement, st.get());
    SQLRETURN rc = SQLExecute(st.get());
    check(rc, st);
    if (rc == SQL_NO_DATA) return 0;
    SQLLEN n = 0;
    check(SQLRowCount(st.get(), &n), st);
    return n > 0 ? static_cast<long>(n) : 0;
  }

  Handle statement() {
    Handle st(SQL_HANDLE_STMT, dbc_->get());
    if (timeout_ > 0 && queryTimeout_)
      SQLSetStmtAttr(st.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_)), 0);
    return st;
  }

  void setAutocommit(bool on) {
    SQLRETURN rc = SQLSetConnectAttr(
        dbc_->get(), SQL_ATTR_AUTOCOMMIT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)), 0);
    if (SQL_SUCCEEDED(rc)) return;
    std::string failure = diagnostics(SQL_HANDLE_DBC, dbc_->get());
    noteLoss(SQL_HANDLE_DBC, dbc_->get());
    com::raise(kProviderError, kSource, failure);
  }

  // Ends the transaction and returns to autocommit. A commit that fails is
  // rolled back, so the connection never stays inside a transaction nobody
  // holds.
  void endTransaction(SQLSMALLINT how, bool report) {
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), how);
    std::string failure;
    if (!SQL_SUCCEEDED(rc)) {
      failure = diagnostics(SQL_HANDLE_DBC, dbc_->get());
      noteLoss(SQL_HANDLE_DBC, dbc_->get());
      if (how == SQL_COMMIT) SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
    }
    inTransaction_ = false;
    SQLSetConnectAttr(dbc_->get(), SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)), 0);
    dialect_->transactionEnded(*this);
    if (report && !failure.empty()) com::raise(kProviderError, kSource, failure);
  }

  std::string infoText(SQLUSMALLINT what) {
    std::u16string buf(256, u'\0');
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_->get(), what, wide(buf), static_cast<SQLSMALLINT>(buf.size() * 2), &len)))
      return "";
    buf.resize(std::min<size_t>(static_cast<size_t>(len) / 2, buf.size()));
    return toUtf8(buf);
  }

  // DialectSession: a statement of the layer's own, run as it stands.
  StatementResult run(const std::string& sql, const std::vector<com::Variant>& params) override {
    Handle st = statement();
    std::u16string text = toUtf16(sql);
    if (params.empty()) {
      check(SQLExecDirectW(st.get(), wide(text), static_cast<SQLINTEGER>(text.size())), st);
    } else {
      check(SQLPrepareW(st.get(), wide(text), static_cast<SQLINTEGER>(text.size())), st);
      std::vector<BoundValue> store(params.size());
      for (size_t i = 0; i < params.size(); ++i) bind(st, static_cast<SQLUSMALLINT>(i + 1), params[i], &store[i]);
      check(SQLExecute(st.get()), st);
    }
    StatementResult result;
    SQLSMALLINT ncol = 0;
    check(SQLNumResultCols(st.get(), &ncol), st);
    if (ncol > 0) {
      result.hasRows = true;
      readResult(st, ncol, &result, {});
    }
    return result;
  }

  std::vector<std::string> primaryKeyAsGiven(const std::string& table) {
    Handle st = statement();
    std::u16string name = toUtf16(table);
    check(SQLPrimaryKeysW(st.get(), nullptr, 0, nullptr, 0, wide(name), static_cast<SQLSMALLINT>(name.size())), st);
    std::vector<std::pair<long, std::string>> found;
    for (;;) {
      SQLRETURN rc = SQLFetch(st.get());
      if (rc == SQL_NO_DATA) break;
      check(rc, st);
      bool isNull = false;
      std::string column = toUtf8(readWide(st, 4, &isNull));
      SQLSMALLINT seq = 0;
      SQLLEN ind = 0;
      check(SQLGetData(st.get(), 5, SQL_C_SSHORT, &seq, 0, &ind), st);
      found.emplace_back(seq, column);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> key;
    for (auto& [seq, column] : found) key.push_back(std::move(column));
    return key;
  }

  std::string columnText(const Handle& st, SQLUSMALLINT col, SQLUSMALLINT field) {
    std::u16string buf(256, u'\0');
    SQLSMALLINT len = 0;
    SQLRETURN rc =
        SQLColAttributeW(st.get(), col, field, wide(buf), static_cast<SQLSMALLINT>(buf.size() * 2), &len, nullptr);
    if (!SQL_SUCCEEDED(rc)) return "";
    buf.resize(std::min<size_t>(static_cast<size_t>(len) / 2, buf.size()));
    return toUtf8(buf);
  }

  void readResult(const Handle& st, SQLSMALLINT ncol, StatementResult* result, const std::vector<std::string>& names) {
    std::vector<Kind> kinds;
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(ncol); ++i) {
      std::u16string name(256, u'\0');
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      check(SQLDescribeColW(st.get(), i, wide(name), static_cast<SQLSMALLINT>(name.size()), &nameLen, &type, &size,
                            &digits, &nullable),
            st);
      name.resize(std::min<size_t>(static_cast<size_t>(nameLen), name.size()));
      ColumnInfo c;
      c.name = toUtf8(name);
      c.baseTable = columnText(st, i, SQL_DESC_BASE_TABLE_NAME);
      c.baseColumn = c.baseTable.empty() ? "" : columnText(st, i, SQL_DESC_BASE_COLUMN_NAME);
      result->columns.push_back(std::move(c));
      kinds.push_back(kindOf(type));
    }
    const std::vector<char> wanted = columnsNamed(result->columns, names);
    PackedRowBuilder row;
    RowBudget budget(kSource);
    for (;;) {
      SQLRETURN rc = SQLFetch(st.get());
      if (rc == SQL_NO_DATA) break;
      check(rc, st);
      for (size_t i = 0; i < kinds.size(); ++i) {
        if (!wanted.empty() && !wanted[i]) {
          row.addEmpty();
          continue;
        }
        const com::Variant value = readValue(st, static_cast<SQLUSMALLINT>(i + 1), kinds[i]);
        budget.count(value);
        row.add(value);
      }
      result->rows.push_back(row.take());
    }
  }

  std::u16string readWide(const Handle& st, SQLUSMALLINT col, bool* isNull) {
    std::u16string out;
    char16_t buf[2048];
    *isNull = false;
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(st.get(), col, SQL_C_WCHAR, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) break;
      check(rc, st);
      if (ind == SQL_NULL_DATA) {
        *isNull = true;
        return out;
      }
      constexpr size_t kMost = sizeof buf / sizeof buf[0] - 1;  // one place for the NUL
      bool more = rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) / 2 > kMost);
      out.append(buf, more ? kMost : static_cast<size_t>(ind) / 2);
      if (!more) break;
    }
    return out;
  }

  com::Variant readValue(const Handle& st, SQLUSMALLINT col, Kind kind) {
    SQLLEN ind = 0;
    switch (kind) {
      case Kind::Bit: {
        unsigned char b = 0;
        check(SQLGetData(st.get(), col, SQL_C_BIT, &b, 0, &ind), st);
        if (ind == SQL_NULL_DATA) return com::Variant::null();
        return com::Variant(b != 0);
      }
      case Kind::Integer: {
        SQLBIGINT n = 0;
        check(SQLGetData(st.get(), col, SQL_C_SBIGINT, &n, 0, &ind), st);
        if (ind == SQL_NULL_DATA) return com::Variant::null();
        return com::Variant::fromInt64(n);
      }
      case Kind::Real: {
        double d = 0;
        check(SQLGetData(st.get(), col, SQL_C_DOUBLE, &d, 0, &ind), st);
        if (ind == SQL_NULL_DATA) return com::Variant::null();
        return com::Variant(d);
      }
      case Kind::Date: {
        SQL_TIMESTAMP_STRUCT t{};
        check(SQLGetData(st.get(), col, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind), st);
        if (ind == SQL_NULL_DATA) return com::Variant::null();
        return com::Variant(com::DateTime{t.year, t.month, t.day, t.hour, t.minute, t.second});
      }
      case Kind::Time: {
        SQL_TIME_STRUCT t{};
        check(SQLGetData(st.get(), col, SQL_C_TYPE_TIME, &t, sizeof t, &ind), st);
        if (ind == SQL_NULL_DATA) return com::Variant::null();
        com::DateTime d;  // a time of day stands on the zero date, as a date value holds it
        d.hour = t.hour, d.minute = t.minute, d.second = t.second;
        return com::Variant(d);
      }
      case Kind::Binary: {
        com::Variant::Bytes out;
        uint8_t buf[4096];
        for (;;) {
          SQLRETURN rc = SQLGetData(st.get(), col, SQL_C_BINARY, buf, sizeof buf, &ind);
          if (rc == SQL_NO_DATA) break;
          check(rc, st);
          if (ind == SQL_NULL_DATA) return com::Variant::null();
          bool more = rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > sizeof buf);
          size_t n = more ? sizeof buf : static_cast<size_t>(ind);
          out.insert(out.end(), buf, buf + n);
          if (!more) break;
        }
        return com::Variant(std::move(out));
      }
      case Kind::Text: break;
    }
    bool isNull = false;
    std::u16string text = readWide(st, col, &isNull);
    if (isNull) return com::Variant::null();
    return com::Variant(toUtf8(text));
  }

  void bind(const Handle& st, SQLUSMALLINT at, const com::Variant& v, BoundValue* b) {
    SQLSMALLINT cType = SQL_C_WCHAR, sqlType = SQL_WVARCHAR, digits = 0;
    SQLULEN size = 1;
    SQLPOINTER data = nullptr;
    SQLLEN length = 0;
    // A run of `count` units of `unit` bytes at p, of the long SQL type past `longFrom` units.
    auto buffer = [&](void* p, size_t count, size_t unit, SQLSMALLINT c, SQLSMALLINT shortType, SQLSMALLINT longType,
                      size_t longFrom) {
      cType = c;
      sqlType = count > longFrom ? longType : shortType;
      size = std::max<SQLULEN>(count, 1);
      length = static_cast<SQLLEN>(count * unit);
      b->indicator = length;
      data = p;
    };
    switch (v.type()) {
      case com::VarType::Empty:
      case com::VarType::Null:
      case com::VarType::Missing:
        b->indicator = SQL_NULL_DATA;
        data = b->text.data();
        break;
      case com::VarType::Boolean:
        // As the text "1" or "0", which an integer, a boolean and a text
        // column all take (an integer parameter does not go into a boolean).
        b->text = *v.get<bool>() ? u"1" : u"0";
        length = 2;
        b->indicator = length;
        data = b->text.data();
        break;
      case com::VarType::Integer:
        b->integer = *v.get<int16_t>();
        cType = SQL_C_SLONG, sqlType = SQL_INTEGER, size = 10, data = &b->integer;
        break;
      case com::VarType::Long:
        b->integer = *v.get<int32_t>();
        cType = SQL_C_SLONG, sqlType = SQL_INTEGER, size = 10, data = &b->integer;
        break;
      case com::VarType::Double:
        b->real = *v.get<double>();
        cType = SQL_C_DOUBLE, sqlType = SQL_DOUBLE, size = 15, data = &b->real;
        break;
      case com::VarType::Date: {
        const com::DateTime& d = *v.get<com::DateTime>();
        b->stamp.year = static_cast<SQLSMALLINT>(d.year);
        b->stamp.month = static_cast<SQLUSMALLINT>(d.month);
        b->stamp.day = static_cast<SQLUSMALLINT>(d.day);
        b->stamp.hour = static_cast<SQLUSMALLINT>(d.hour);
        b->stamp.minute = static_cast<SQLUSMALLINT>(d.minute);
        b->stamp.second = static_cast<SQLUSMALLINT>(d.second);
        cType = SQL_C_TYPE_TIMESTAMP, sqlType = SQL_TYPE_TIMESTAMP, size = 19, data = &b->stamp;
        length = sizeof b->stamp;
        break;
      }
      case com::VarType::String:
        if (utf8Text_) {
          b->utf8 = *v.get<std::string>();
          buffer(b->utf8.data(), b->utf8.size(), 1, SQL_C_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR, 8000);
        } else {
          b->text = toUtf16(*v.get<std::string>());
          buffer(b->text.data(), b->text.size(), 2, SQL_C_WCHAR, SQL_WVARCHAR, SQL_WLONGVARCHAR, 4000);
        }
        break;
      case com::VarType::Bytes:
        b->bytes = v.bytes();
        buffer(b->bytes.data(), b->bytes.size(), 1, SQL_C_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY, 8000);
        break;
      default:
        com::raise(com::kTypeMismatch, kSource,
                   std::string("Type mismatch: a value of kind ") + com::typeName(v.type()) + " cannot be stored.");
    }
    check(SQLBindParameter(st.get(), at, SQL_PARAM_INPUT, cType, sqlType, size, digits, data, length, &b->indicator),
          st);
  }

  bool isInstalledDriver(const std::string& name) { return findListed(SQLDriversW, name).has_value(); }

  // The driver a data source of odbc.ini names, "" when it is not found.
  std::string driverOfDataSource(const std::string& dsn) { return findListed(SQLDataSourcesW, dsn).value_or(""); }

  // A list the driver manager keeps of (name, text) entries: installed drivers, data sources.
  using ListFunction = SQLRETURN (*)(SQLHENV, SQLUSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLSMALLINT*, SQLWCHAR*,
                                     SQLSMALLINT, SQLSMALLINT*);

  // The text of the list's first entry named `name` (letter case ignored); none when no entry is.
  std::optional<std::string> findListed(ListFunction list, const std::string& name) {
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
      std::u16string entry(512, u'\0'), text(2048, u'\0');
      SQLSMALLINT entryLen = 0, textLen = 0;
      SQLRETURN rc = list(env_.get(), direction, wide(entry), static_cast<SQLSMALLINT>(entry.size()), &entryLen,
                          wide(text), static_cast<SQLSMALLINT>(text.size()), &textLen);
      if (!SQL_SUCCEEDED(rc)) return std::nullopt;
      direction = SQL_FETCH_NEXT;
      entry.resize(std::min<size_t>(static_cast<size_t>(entryLen), entry.size()));
      text.resize(std::min<size_t>(static_cast<size_t>(textLen), text.size()));
      if (strcasecmp(toUtf8(entry).c_str(), name.c_str()) == 0) return toUtf8(text);
    }
  }

  Handle env_;
  std::unique_ptr<Handle> dbc_;
  bool connected_ = false;
  bool lost_ = false;  // a failure said the connection is gone
  bool inTransaction_ = false;
  int timeout_ = 0;
  bool queryTimeout_ = true;
  bool utf8Text_ = false;  // text values bound as UTF-8  // the time-out goes on each statement, not into the session
  std::unique_ptr<Dialect> dialect_;
  char quote_ = '"';
};

std::unique_ptr<Backend> fromConnectionString(const ConnectionString& cs, int timeoutSeconds) {
  if (strcasecmp(cs.get("Provider").c_str(), "SQLite") == 0) return nullptr;
  if (cs.get("Provider").empty() && !cs.has("dsn") && !cs.has("DRIVER")) return nullptr;
  return open(cs, timeoutSeconds);
}

[[maybe_unused]] const bool registered = (registerBackend("odbc", fromConnectionString), true);

}  // namespace

// A server connection can be lost; the next operation after a loss opens a
// new one (reconnecting_backend.h).
std::unique_ptr<Backend> open(const ConnectionString& cs, int timeoutSeconds) {
  return reconnecting([cs, timeoutSeconds] {
    auto backend = std::make_unique<OdbcBackend>();
    backend->connect(cs, timeoutSeconds);
    const OdbcBackend* raw = backend.get();
    return OpenedBackend{std::move(backend), [raw] { return raw->lost(); }};
  });
}

}  // namespace tivel::ado::odbc
