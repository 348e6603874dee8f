#include "platform/ado/odbc/dialect.h"

#include <cctype>

#include "platform/ado/odbc/mariadb_dialect.h"
#include "platform/ado/odbc/postgresql_dialect.h"

namespace tivel::ado::odbc {
namespace {

// An engine this layer has no particular knowledge of: statements go as
// they are.
class GenericDialect final : public Dialect {
 public:
  explicit GenericDialect(std::string name) : name_(std::move(name)) {}
  std::string name() const override { return name_; }

 private:
  std::string name_;
};

}  // namespace

void Dialect::lockTable(DialectSession& s, const std::string& table, int) {
  s.run("LOCK TABLE " + table + " IN EXCLUSIVE MODE", {});
}

std::unique_ptr<Dialect> dialectFor(const std::string& dbmsName) {
  std::string name;
  for (char c : dbmsName) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name == "postgresql") return postgresqlDialect();
  if (name == "mariadb") return mariadbDialect();
  return std::make_unique<GenericDialect>(name);
}

}  // namespace tivel::ado::odbc
