// Restore of a backup archive (backup.h).
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>

#include "mgt/init/archive_format.h"
#include "mgt/init/archive_reader.h"
#include "mgt/init/backup.h"
#include "mgt/init/schema.h"
#include "platform/ado/connection.h"
#include "platform/ado/script.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

[[noreturn]] void refuse(const std::string& what) { com::raise(com::kInvalidArgument, "tivel restore", what); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One database being restored: its connection and its tables by lower-case name.
struct Target {
  std::string name;
  ado::ConnectionPtr conn;
  std::map<std::string, std::string> tables;  // lower case -> the script's spelling
};

// The columns of a table as the engine names them, lower case.
std::vector<std::string> tableColumns(ado::Connection& conn, const std::string& table) {
  ado::StatementResult r = conn.backend().execute("select * from " + table + " where 1 = 0");
  std::vector<std::string> names;
  for (const auto& c : r.columns) names.push_back(lower(c.name));
  return names;
}

long rowCount(ado::Connection& conn, const std::string& table) {
  ado::StatementResult r = conn.backend().execute("select count(*) from " + table);
  return r.rows.empty() ? 0 : static_cast<long>(r.rows[0].at(0).toDouble());
}

std::string columnList(ado::Backend& backend, const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& c : columns) list += (list.empty() ? "" : ", ") + backend.quoteIdentifier(c);
  return list;
}

// The table as now stored, read back the way a backup reads it: its row
// count and checksum over the archived columns.
std::pair<long, std::string> readBack(ado::Connection& conn, const std::string& table,
                                      const std::vector<std::string>& columns) {
  ado::StatementResult r = conn.backend().execute("select " + columnList(conn.backend(), columns) + " from " + table);
  TableDigest digest;
  std::vector<com::Variant> values(columns.size());
  for (const ado::PackedRow& row : r.rows) {
    for (size_t i = 0; i < columns.size(); ++i) values[i] = row.at(i);
    digest.add(encodeRow(values));
  }
  return {digest.rows(), digest.hex()};
}

}  // namespace

ArchiveFigures restoreBackup(const std::string& archive, const std::vector<ArchivedDatabase>& databases,
                             const RestoreOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  // Nothing is written before the whole archive has been read and found sound.
  std::vector<std::pair<std::string, std::string>> archived;  // database, table
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> archivedColumns;
  walkArchive(archive,
              {.table = [&](const std::string& db, const std::string& table, const std::vector<std::string>& columns) {
                archived.emplace_back(db, table);
                archivedColumns[{db, table}] = columns;
              }});

  std::set<std::string> inArchive;
  for (const auto& entry : archived) inArchive.insert(entry.first);
  std::map<std::string, Target> targets;
  for (const ArchivedDatabase& db : databases) {
    if (!inArchive.count(db.name)) continue;  // left as it is
    Target t{db.name, std::make_shared<ado::Connection>(), {}};
    t.conn->commandTimeout = 0;
    t.conn->open(db.connectionString);
    applySchema(*t.conn, db.name);
    for (const std::string& table : scriptTables(t.conn->backend().dialect(), db.name)) t.tables[lower(table)] = table;
    targets.emplace(db.name, std::move(t));
  }
  // Every archived table must have a home with every archived column.
  for (const auto& [db, table] : archived) {
    auto t = targets.find(db);
    if (t == targets.end()) refuse("the archive holds a database \"" + db + "\" this root does not name");
    auto home = t->second.tables.find(lower(table));
    if (home == t->second.tables.end())
      refuse("the archive's table " + table + " is not in this release's " + db + " schema");
    std::vector<std::string> have = tableColumns(*t->second.conn, home->second);
    for (const std::string& c : archivedColumns[{db, table}])
      if (std::find(have.begin(), have.end(), c) == have.end())
        refuse("the archive's column " + table + "." + c + " is not in this release's " + db + " schema");
  }
  if (!options.replace) {
    std::string held;
    for (auto& [name, t] : targets)
      for (const auto& [key, table] : t.tables)
        if (long n = rowCount(*t.conn, table); n > 0)
          held += (held.empty() ? "" : ", ") + name + "." + table + " (" + std::to_string(n) + " rows)";
    if (!held.empty())
      refuse("the database holds data: " + held +
             ". Restore into an empty database, or give --replace to replace what it holds. Nothing was changed.");
  }

  for (auto& [name, t] : targets) {
    t.conn->beginTrans();
    if (options.replace)
      for (const auto& [key, table] : t.tables) t.conn->execute("delete from " + table);
  }
  ArchiveFigures figures;
  try {
    Target* current = nullptr;
    std::string table;
    std::vector<std::string> columns;
    std::string insert, marks;
    // Rows go in a hundred to a statement: one round trip to a server per
    // hundred rows instead of one per row.
    constexpr int kRowsPerInsert = 100;
    std::vector<com::Variant> pending;
    int pendingRows = 0;
    auto flush = [&] {
      if (pendingRows == 0) return;
      std::string sql = insert;
      for (int i = 0; i < pendingRows; ++i) sql += (i ? "," : "") + marks;
      current->conn->backend().executeBound(sql, pending);
      pending.clear();
      pendingRows = 0;
    };
    walkArchive(archive,
                {.table =
                     [&](const std::string& db, const std::string& name, const std::vector<std::string>& cols) {
                       current = &targets.at(db);
                       table = current->tables.at(lower(name));
                       columns = cols;
                       marks = "(";
                       for (size_t i = 0; i < cols.size(); ++i) marks += i ? ",?" : "?";
                       marks += ")";
                       insert =
                           "insert into " + table + " (" + columnList(current->conn->backend(), cols) + ") values ";
                     },
                 .row =
                     [&](const std::string& line) {
                       for (com::Variant& v : decodeRow(line)) pending.push_back(std::move(v));
                       if (++pendingRows == kRowsPerInsert) flush();
                     },
                 .tableEnd =
                     [&](long rows, const std::string& checksum) {
                       flush();
                       auto [stored, sum] = readBack(*current->conn, table, columns);
                       if (stored != rows || sum != checksum)
                         refuse("table " + table + " reads back " + std::to_string(stored) + " rows" +
                                (sum != checksum ? " with another checksum" : "") + " where the archive has " +
                                std::to_string(rows) + "; nothing was restored");
                       ++figures.tables;
                       figures.rows += rows;
                       figures.values += rows * static_cast<long>(columns.size());
                       if (options.progress) options.progress(current->name, table, rows);
                     }});
    for (auto& [name, t] : targets)
      if (const char* after = findScript(t.conn->backend().dialect(), name + "-restored"))
        for (const std::string& stmt : ado::scriptStatements(after)) t.conn->execute(stmt);
    for (auto& [name, t] : targets) t.conn->commitTrans();
  } catch (...) {
    for (auto& [name, t] : targets)
      if (t.conn->transactionOpen()) {
        try {
          t.conn->rollbackTrans();
        } catch (...) {
        }
      }
    throw;
  }
  for (auto& [name, t] : targets) t.conn->close();
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return figures;
}

}  // namespace tivel::mgt
