#include "platform/ado/odbc/postgresql_dialect.h"

#include "platform/ado/odbc/keyword_names.h"
#include "platform/com/error.h"

namespace tivel::ado::odbc {
namespace {

// A name quoted as PostgreSQL reads it: letter case kept.
std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

class PostgresqlDialect final : public Dialect {
 public:
  std::string name() const override { return "postgresql"; }

  std::string adapt(DialectSession&, const std::string& sql) override { return quoteKeywordNames(sql); }

  // Besides class 08: the server shutting down or ending the session
  // (57P01 admin_shutdown, also pg_terminate_backend; 57P02
  // crash_shutdown; 57P03 cannot_connect_now, a server still starting).
  bool connectionGone(const std::string& sqlState, long nativeError) const override {
    return Dialect::connectionGone(sqlState, nativeError) || sqlState == "57P01" || sqlState == "57P02" ||
           sqlState == "57P03";
  }

  // The value the column's sequence gave this session last, which is this
  // insert's when the insert left the column out.
  com::Variant generatedKey(DialectSession& s, const std::string& table, const std::string& column) override {
    try {
      StatementResult r = s.run("SELECT currval(pg_get_serial_sequence(?, ?))", {com::Variant(quoted(table)), column});
      if (r.rows.size() == 1 && r.rows[0].size() == 1 && !r.rows[0][0].isNull()) return r.rows[0][0];
    } catch (const com::ComError&) {
    }
    return {};
  }
};

}  // namespace

std::unique_ptr<Dialect> postgresqlDialect() { return std::make_unique<PostgresqlDialect>(); }

}  // namespace tivel::ado::odbc
