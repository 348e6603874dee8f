#include "platform/ado/odbc/mariadb_dialect.h"

#include <cctype>

#include "platform/ado/constants.h"
#include "platform/ado/key_cache.h"
#include "platform/ado/keyword_words.h"
#include "platform/ado/odbc/table_spellings.h"
#include "platform/com/error.h"

namespace tivel::ado::odbc {
namespace {

constexpr const char* kSource = "ODBC";

// NO_BACKSLASH_ESCAPES matters most: the system quotes a text by doubling
// its quotes, and with backslash escapes a value ending in "\" would end the
// quoted text early and change the statement.
constexpr const char* kSessionSettings =
    "SET SESSION sql_mode = 'STRICT_ALL_TABLES,NO_BACKSLASH_ESCAPES,ANSI_QUOTES,PIPES_AS_CONCAT,"
    "NO_ZERO_IN_DATE,NO_ZERO_DATE,ERROR_FOR_DIVISION_BY_ZERO,NO_AUTO_VALUE_ON_ZERO,NO_ENGINE_SUBSTITUTION', "
    "SESSION tx_isolation = 'READ-COMMITTED'";

// The tables of the connection's database, when the server tells table
// names apart by letter case (lower_case_table_names 0); none otherwise.
constexpr const char* kCaseSensitiveTables =
    "SELECT table_name FROM information_schema.tables "
    "WHERE table_schema = DATABASE() AND @@lower_case_table_names = 0";

bool sameWord(std::string_view word, std::string_view lower) {
  if (word.size() != lower.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(word[i])) != lower[i]) return false;
  return true;
}

// CAST(x AS BIGINT) as MariaDB reads it: its CAST has no BIGINT, and SIGNED
// is its 64-bit integer. Anything else stays as written.
std::string castTargets(const std::string& sql) {
  bool mentioned = false;
  for (size_t i = 0; !mentioned && i + 6 <= sql.size(); ++i)
    mentioned = sameWord(std::string_view(sql).substr(i, 6), "bigint");
  if (!mentioned) return sql;
  size_t afterAs = std::string::npos;  // where the text after a bare AS begins
  return rewriteWords(sql, {.dollarInWords = true, .bracketsAndBackticks = true},
                      [&](std::string& out, std::string_view word, bool) {
                        const bool cast = afterAs != std::string::npos && sameWord(word, "bigint") &&
                                          out.find_first_not_of(" \t\r\n", afterAs) == std::string::npos;
                        out += cast ? std::string_view("SIGNED") : word;
                        afterAs = sameWord(word, "as") ? out.size() : std::string::npos;
                      });
}

class MariadbDialect final : public Dialect {
 public:
  std::string name() const override { return "mariadb"; }

  // The session reads "..." as a name (ANSI_QUOTES), so the statements the
  // layer writes are the same as on the other engines.
  char identifierQuote(char) const override { return '"'; }

  // The driver (3.1) converting a wide text parameter to the connection's
  // character set appends a NUL to some values that hold Chinese ("李四"
  // arrives as "李四\0"), so a written value gains a character and a
  // compared one finds nothing. The session's character set is utf8mb4, so
  // UTF-8 goes as it is.
  bool bindsTextAsUtf8() const override { return true; }

  void start(DialectSession& s) override {
    s.run(kSessionSettings, {});
    readTables(s);
  }

  std::string adapt(DialectSession& s, const std::string& sql) override {
    if (stale_) readTables(s);
    return castTargets(tables_.adapt(sql));
  }

  void ran(const std::string& sql) override { stale_ = stale_ || mayChangeSchema(sql); }

  // A table another connection made after this one read the catalogue.
  bool learnFrom(DialectSession& s, const std::string& sqlState) override {
    if (sqlState != "42S02") return false;
    try {
      readTables(s);
    } catch (const com::ComError&) {
      return false;  // the statement's own failure is the one to report
    }
    return true;
  }

  std::string catalogueName(DialectSession& s, const std::string& table) override {
    if (stale_) readTables(s);
    return tables_.spelling(table);
  }

  // LAST_INSERT_ID() is the first number this session's last insert into
  // any AUTO_INCREMENT column got; it is this insert's only when the column
  // is one, which the catalogue tells in the same question. The insert
  // stands either way: a failure here only leaves the key unread.
  com::Variant generatedKey(DialectSession& s, const std::string& table, const std::string& column) override {
    try {
      StatementResult r = s.run(
          "SELECT LAST_INSERT_ID() FROM information_schema.columns WHERE table_schema = DATABASE() "
          "AND table_name = ? AND column_name = ? AND extra LIKE '%auto_increment%'",
          {com::Variant(catalogueName(s, table)), com::Variant(column)});
      if (r.rows.size() == 1 && !r.rows[0][0].isNull()) return r.rows[0][0];
    } catch (const com::ComError&) {
    }
    return {};
  }

  // LOCK TABLES would commit the transaction, so the lock is a named lock of
  // the database and table (in any letter case), taken inside the
  // transaction and given back when it ends. Every writer of the counters
  // takes it first; readers are not held up.
  void lockTable(DialectSession& s, const std::string& table, int timeoutSeconds) override {
    if (!s.inTransaction()) com::raise(kProviderError, kSource, "A table lock is held by a transaction; none is open.");
    held_ = true;
    StatementResult r = s.run("SELECT GET_LOCK(CONCAT('tivel:', MD5(CONCAT(DATABASE(), '.', LOWER(?)))), ?)",
                              {com::Variant(table), com::Variant(int32_t(timeoutSeconds > 0 ? timeoutSeconds : -1))});
    if (r.rows.size() != 1 || r.rows[0][0].toLong() != 1)
      com::raise(kProviderError, kSource,
                 "The lock on table " + table + " was not granted in time: another transaction holds it.");
  }

  void transactionEnded(DialectSession& s) noexcept override {
    if (!held_) return;
    held_ = false;
    try {
      s.run("SELECT RELEASE_ALL_LOCKS()", {});
    } catch (const com::ComError&) {
      // The session is gone with its locks.
    }
  }

  // Besides class 08, the client library's and the server's numbers: 2006
  // server gone away, 2013 lost during a query, 2055 lost at a system
  // error, 1927 the session was killed (KILL), 1053 server shutdown in
  // progress, 4031 disconnected for being idle too long.
  bool connectionGone(const std::string& sqlState, long nativeError) const override {
    switch (nativeError) {
      case 2006:
      case 2013:
      case 2055:
      case 1927:
      case 1053:
      case 4031: return true;
      default: return Dialect::connectionGone(sqlState, nativeError);
    }
  }

  bool applyTimeout(DialectSession& s, int seconds) override {
    if (seconds != timeout_) {
      s.run("SET SESSION max_statement_time = " + std::to_string(seconds), {});
      timeout_ = seconds;
    }
    return true;
  }

 private:
  void readTables(DialectSession& s) {
    StatementResult r = s.run(kCaseSensitiveTables, {});
    std::vector<std::string> names;
    for (const PackedRow& row : r.rows) names.push_back(row[0].toString());
    tables_.assign(names);
    stale_ = false;
  }

  TableSpellings tables_;
  bool stale_ = false;
  bool held_ = false;  // a named lock may be held
  int timeout_ = 0;
};

}  // namespace

std::unique_ptr<Dialect> mariadbDialect() { return std::make_unique<MariadbDialect>(); }

std::string mariadbSessionSettings() { return kSessionSettings; }

}  // namespace tivel::ado::odbc
