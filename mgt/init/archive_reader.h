// Walks a backup archive line by line, checking its form and each table's
// row count and checksum as it goes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mgt/init/backup.h"

namespace tivel::mgt {

// What the walk tells its caller; any member may be left empty.
struct ArchiveVisitor {
  // A table's columns (lower case, in archive order) before its rows.
  std::function<void(const std::string& database, const std::string& table, const std::vector<std::string>& columns)>
      table = {};
  std::function<void(const std::string& rowLine)> row = {};
  // After a table's rows, once its count and checksum are found right.
  std::function<void(long rows, const std::string& checksum)> tableEnd = {};
  std::function<void(const ArchivedFile& file)> file = {};
};

// Reads the archive from start to end; fails with a call error naming the
// line of the first fault (an unknown format, a damaged line, a count or
// checksum that differs, a missing end).
ArchiveFigures walkArchive(const std::string& archive, const ArchiveVisitor& visitor);

}  // namespace tivel::mgt
