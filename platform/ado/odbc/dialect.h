// What differs between the server databases the ODBC backend reaches: how a
// statement text must be put to the engine, how a database-numbered key is
// read back, how a table is locked for writing, how the statement time-out
// is set, and what a session needs once connected. The backend picks one by
// the DBMS name the driver reports; the layers above see only its name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ado/backend.h"

namespace tivel::ado::odbc {

// What a dialect may ask of the connection it serves.
class DialectSession {
 public:
  virtual ~DialectSession() = default;
  // Runs one statement text as it stands, "?" bound to the values in order;
  // failures throw ComError(kProviderError).
  virtual StatementResult run(const std::string& sql, const std::vector<com::Variant>& params) = 0;
  // True inside a transaction begun by Backend::begin.
  virtual bool inTransaction() const = 0;
};

class Dialect {
 public:
  virtual ~Dialect() = default;

  // The name Backend::dialect() reports: "postgresql", "mariadb", or the
  // driver's DBMS name in lower case.
  virtual std::string name() const = 0;
  // The character that quotes a table or column name, given the one the
  // driver reports.
  virtual char identifierQuote(char reported) const { return reported; }
  // True when text values are to be bound as UTF-8 (SQL_C_CHAR) rather than
  // as wide text.
  virtual bool bindsTextAsUtf8() const { return false; }
  // Settles the session once the connection is made.
  virtual void start(DialectSession& s) {}
  // The statement text as this engine must read it.
  virtual std::string adapt(DialectSession& s, const std::string& sql) { return sql; }
  // Told of every statement text after it ran or failed.
  virtual void ran(const std::string& sql) {}
  // A statement failed with this SQLSTATE: true when the dialect learnt
  // something from it, so that adapting the text again may give another one.
  virtual bool learnFrom(DialectSession& s, const std::string& sqlState) { return false; }
  // The name the catalogue functions know a table by.
  virtual std::string catalogueName(DialectSession& s, const std::string& table) { return table; }
  // Backend::generatedKey.
  virtual com::Variant generatedKey(DialectSession& s, const std::string& table, const std::string& column) {
    return {};
  }
  // Backend::lockTable, waiting at most `timeoutSeconds` (0: as long as it
  // takes). This one runs the standard LOCK TABLE ... IN EXCLUSIVE MODE.
  virtual void lockTable(DialectSession& s, const std::string& table, int timeoutSeconds);
  // Called after every commit or rollback; must not throw.
  virtual void transactionEnded(DialectSession& s) noexcept {}
  // True when a failure with this SQLSTATE and native error number means the
  // connection is gone (the server went away, ended the session, or cannot
  // be reached): the backend then reports the connection lost. This one
  // knows the standard's class 08, connection exceptions.
  virtual bool connectionGone(const std::string& sqlState, long nativeError) const {
    return sqlState.rfind("08", 0) == 0;
  }
  // Applies the statement time-out (0: none) by a session setting and
  // returns true, or returns false for the backend to set
  // SQL_ATTR_QUERY_TIMEOUT on every statement.
  virtual bool applyTimeout(DialectSession& s, int seconds) { return false; }
};

// The dialect for a DBMS name as SQL_DBMS_NAME gives it.
std::unique_ptr<Dialect> dialectFor(const std::string& dbmsName);

}  // namespace tivel::ado::odbc
