#include "mgt/init/backup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include "mgt/init/archive_format.h"
#include "mgt/init/archive_reader.h"
#include "mgt/init/schema.h"
#include "platform/ado/connection.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/script.h"
#include "platform/com/error.h"
#include "platform/files/private_files.h"

namespace tivel::mgt {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

[[noreturn]] void fail(const std::string& what) { com::raise(com::kInvalidArgument, "tivel backup", what); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The archive being written: a private file beside the output, renamed
// into place by finish(), removed when the backup fails.
class ArchiveFile {
 public:
  explicit ArchiveFile(const std::string& output) : output_(output), partial_(output + ".partial") {
    ::unlink(partial_.c_str());
    int fd = files::createPrivateFile(partial_, O_WRONLY);
    if (fd < 0) fail("cannot create " + partial_ + ": " + std::strerror(errno));
    out_ = ::fdopen(fd, "w");
    if (!out_) {
      ::close(fd);
      fail("cannot write " + partial_);
    }
  }
  ~ArchiveFile() {
    if (out_) {
      std::fclose(out_);
      ::unlink(partial_.c_str());
    }
  }
  void line(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fputc('\n', out_) == EOF)
      fail("cannot write " + partial_ + ": " + std::strerror(errno));
  }
  void finish() {
    const bool ok = std::fflush(out_) == 0 && ::fsync(::fileno(out_)) == 0;
    std::fclose(out_);
    out_ = nullptr;
    if (!ok || std::rename(partial_.c_str(), output_.c_str()) != 0) {
      ::unlink(partial_.c_str());
      fail("cannot write " + output_ + ": " + std::strerror(errno));
    }
  }

 private:
  std::string output_, partial_;
  std::FILE* out_ = nullptr;
};

bool embedded(const ado::ConnectionString& cs) { return lower(cs.get("provider")) == "sqlite"; }

// A copy of an embedded database made by SQLite's online backup in one step:
// the copy is the database as of one read transaction, which in WAL mode
// does not hold writers up. The copy is removed with this object.
class EmbeddedSnapshot {
 public:
  EmbeddedSnapshot(const std::string& source, const std::string& dir) {
    path_ = (fs::path(dir) / (".backup-" + std::to_string(::getpid()) + "-" +
                              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".db"))
                .string();
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    auto closeBoth = [&] {
      sqlite3_close(from);
      sqlite3_close(to);
    };
    const std::string& src = source;
    int fd = files::createPrivateFile(path_, O_WRONLY);
    if (fd < 0) fail("cannot create " + path_ + ": " + std::strerror(errno));
    ::close(fd);
    if (sqlite3_open_v2(src.c_str(), &from, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_open_v2(path_.c_str(), &to, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      std::string why = from ? sqlite3_errmsg(from) : "out of memory";
      closeBoth();
      fail("cannot open " + src + " for its backup: " + why);
    }
    sqlite3_busy_timeout(from, 30000);
    sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
    int rc = b ? sqlite3_backup_step(b, -1) : SQLITE_ERROR;
    if (b) sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE) {
      std::string why = b ? sqlite3_errstr(rc) : sqlite3_errmsg(to);
      closeBoth();
      fail("the online backup of " + src + " failed: " + why);
    }
    closeBoth();
  }
  ~EmbeddedSnapshot() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path_ + suffix).c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Rows read a statement from a table keyed by one column: a large table
// (the system log) is never held in memory whole.
constexpr int kPageRows = 1000;

// The key value as a literal of a statement: numbers bare, texts quoted.
std::string literal(const com::Variant& v) {
  if (v.type() == com::VarType::Long || v.type() == com::VarType::Integer) return std::to_string(v.toLong());
  std::string text = v.toString(), quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// Reads a table page by page in the order of its one-column key (every
// page in the same snapshot), or whole when its key has other than one
// column; `page` is told each page.
void readTable(ado::Connection& conn, const std::string& table,
               const std::function<void(const ado::StatementResult&)>& page) {
  std::vector<std::string> key = conn.backend().primaryKey(table);
  if (key.empty()) key = conn.backend().primaryKey(lower(table));  // a catalogue that folds names
  if (key.size() != 1) {
    page(conn.backend().execute("select * from " + table));
    return;
  }
  const std::string column = conn.backend().quoteIdentifier(key[0]);
  std::string after;
  for (;;) {
    ado::StatementResult r =
        conn.backend().execute("select * from " + table + (after.empty() ? "" : " where " + column + " > " + after) +
                               " order by " + column + " limit " + std::to_string(kPageRows));
    page(r);
    if (r.rows.size() < static_cast<size_t>(kPageRows)) return;
    size_t at = 0;
    for (; at < r.columns.size() && lower(r.columns[at].name) != lower(key[0]); ++at) {
    }
    if (at == r.columns.size()) fail("the key column " + key[0] + " of " + table + " is not in its rows");
    after = literal(r.rows.back().at(at));
  }
}

// Writes one table of an open connection into the archive.
void archiveTable(ado::Connection& conn, const std::string& database, const std::string& table, ArchiveFile& out,
                  ArchiveFigures& figures) {
  std::vector<size_t> order;
  std::vector<std::string> names;
  TableDigest digest;
  bool first = true;
  readTable(conn, table, [&](const ado::StatementResult& r) {
    if (first) {
      first = false;
      order.resize(r.columns.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      for (const auto& c : r.columns) names.push_back(lower(c.name));
      std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return names[a] < names[b]; });
      json columns = json::array();
      for (size_t i : order) columns.push_back(names[i]);
      out.line(json{{"database", database}, {"table", table}, {"columns", columns}}.dump());
    }
    std::vector<com::Variant> values(order.size());
    for (const ado::PackedRow& row : r.rows) {
      for (size_t i = 0; i < order.size(); ++i) values[i] = row.at(order[i]);
      std::string line = encodeRow(values);
      digest.add(line);
      out.line(line);
    }
  });
  out.line(json{{"end", table}, {"rows", digest.rows()}, {"sha256", digest.hex()}}.dump());
  ++figures.tables;
  figures.rows += digest.rows();
  figures.values += digest.rows() * static_cast<long>(order.size());
}

void archiveDatabase(ado::Connection& conn, const std::string& name, ArchiveFile& out, ArchiveFigures& figures,
                     const ArchiveProgress& progress) {
  // A database made before versions were recorded holds version 1.
  out.line(json{{"database", name}, {"schema", std::max(1, schemaVersion(conn, name))}}.dump());
  for (const std::string& table : scriptTables(conn.backend().dialect(), name)) {
    const long before = figures.rows;
    archiveTable(conn, name, table, out, figures);
    if (progress) progress(name, table, figures.rows - before);
  }
}

std::string nowText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace

ArchiveFigures writeBackup(const std::vector<ArchivedDatabase>& databases, const std::vector<ArchivedFile>& files,
                           const std::string& output, const ArchiveProgress& progress) {
  const auto started = std::chrono::steady_clock::now();
  ArchiveFigures figures;
  ArchiveFile out(output);
  json header{{"format", "tivel-backup"}, {"version", kArchiveVersion}, {"created", nowText()}};
  json names = json::array();
  for (const ArchivedDatabase& db : databases) names.push_back(db.name);
  header["databases"] = names;
  out.line(header.dump());
  for (const ArchivedDatabase& db : databases) {
    const ado::ConnectionString cs = ado::ConnectionString::parse(db.connectionString);
    auto conn = std::make_shared<ado::Connection>();
    conn->commandTimeout = 0;
    if (embedded(cs)) {
      // As the engine opens it: the path as written, or read lexically when
      // a directory on the way (an empty bin/ not copied) is missing.
      std::string source = cs.get("data source");
      std::error_code ec;
      if (!fs::exists(source, ec)) source = fs::path(source).lexically_normal().string();
      EmbeddedSnapshot copy(source, fs::path(source).parent_path().string());
      conn->open("Provider=SQLite;Data Source=" + copy.path() + ";");
      archiveDatabase(*conn, db.name, out, figures, progress);
      conn->close();
    } else {
      conn->open(db.connectionString);
      if (const char* snapshot = findScript(conn->backend().dialect(), "snapshot"))
        for (const std::string& stmt : ado::scriptStatements(snapshot)) conn->execute(stmt);
      conn->beginTrans();
      try {
        archiveDatabase(*conn, db.name, out, figures, progress);
      } catch (...) {
        conn->rollbackTrans();
        throw;
      }
      conn->rollbackTrans();  // it only read
      conn->close();
    }
  }
  for (const ArchivedFile& f : files) out.line(json{{"file", f.path}, {"text", f.text}}.dump());
  out.line(json{{"end-archive", true}, {"tables", figures.tables}, {"rows", figures.rows}}.dump());
  out.finish();
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return figures;
}

ArchiveFigures verifyArchive(const std::string& archive) { return walkArchive(archive, {}); }

std::vector<ArchivedFile> archivedFiles(const std::string& archive) {
  std::vector<ArchivedFile> files;
  walkArchive(archive, {.file = [&](const ArchivedFile& f) { files.push_back(f); }});
  return files;
}

}  // namespace tivel::mgt
