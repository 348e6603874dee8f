// Backup and restore of a portal's databases through the portable archive
// (archive_format.h): a consistent copy taken while the portal runs, and
// its restore into an empty database of any engine.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tivel::mgt {

// A database of the portal.
struct ArchivedDatabase {
  std::string name;              // "mgt" or "fee": the schema script that makes its tables
  std::string connectionString;  // where it lives
};

// A text file of the root carried in the archive, by its path in the root.
struct ArchivedFile {
  std::string path;  // "ini/SysTivel.ini"
  std::string text;
};

// What a backup or a restore went through.
struct ArchiveFigures {
  int tables = 0;
  long rows = 0;
  long values = 0;
  double seconds = 0;
};

// Told after each table: the database, the table and its row count.
using ArchiveProgress = std::function<void(const std::string& database, const std::string& table, long rows)>;

// Writes every table of the databases into a new archive at `output` (its
// owner's alone; written beside it and renamed into place when whole). Each
// database is read as of one moment: the embedded engine through SQLite's
// online backup of the file, a server in one repeatable-read transaction,
// so writers go on and none of their transactions is half in the copy.
// Fails with a call error; then no file is left at `output`.
ArchiveFigures writeBackup(const std::vector<ArchivedDatabase>& databases, const std::vector<ArchivedFile>& files,
                           const std::string& output, const ArchiveProgress& progress = {});

// Reads the whole archive and checks its form, each table's row count and
// checksum and its end; fails with a call error naming the first fault.
ArchiveFigures verifyArchive(const std::string& archive);

// The files an archive carries.
std::vector<ArchivedFile> archivedFiles(const std::string& archive);

struct RestoreOptions {
  bool replace = false;  // empty the tables first instead of refusing a database that holds rows
  ArchiveProgress progress = {};
};

// Restores the archive into the databases of the same names: verifies it
// whole first, creates the tables that are missing, refuses a database that
// holds rows (unless options.replace), then writes every table in one
// transaction per database and checks each table's count and checksum as
// read back before committing. Fails with a call error; a failure after
// verification rolls back what that transaction wrote.
ArchiveFigures restoreBackup(const std::string& archive, const std::vector<ArchivedDatabase>& databases,
                             const RestoreOptions& options = {});

}  // namespace tivel::mgt
